// Reading values out of the server's INI-style settings file.
//
// The rules: a line beginning with '[' is a section header, naming the section by the bytes after
// the '[' up to the first ']' (or the end of the line when it has none). A key line is one that
// begins with the key, compared without regard to ASCII case, directly followed by '='; its value
// is the rest of the line as written. One carriage return at the end of a line is not part of it.
// The answer to a lookup is the last value of the key inside the requested section (sections
// match exactly) when that is not empty, otherwise the first non-empty value of the key anywhere
// else (anywhere at all when no section is requested); empty text when neither exists.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/ServerFile.h"

namespace vesperline {

// The longest section name and value kept, in bytes. A longer one is cut there, before the
// UTF-8 character the limit would split, so that a hostile file cannot make the reader hold more.
inline constexpr std::size_t kMaxIniTextBytes = 4096;

struct IniLookup {
  std::string Key;
  std::string Section;  // exactly as written between the brackets; empty for any section
};

// Answers several lookups in one pass over settings text fed to it in pieces of any size. It holds
// only the current section, the beginning of the current line and, per lookup, the values the
// rules keep, each at most kMaxIniTextBytes long: its memory depends neither on the size of the
// text nor on the length of its lines.
class IniScanner {
 public:
  explicit IniScanner(std::vector<IniLookup> lookups);

  // Scans the next piece of the text.
  void Feed(std::string_view text);

  // Ends the text: a last line without a line feed counts as well.
  void Finish();

  // The answer to the lookup at that index in the constructor's list.
  const std::string& Value(std::size_t lookup) const;

 private:
  // A section name or value being gathered, of which only the first kMaxIniTextBytes are kept.
  class BoundedText {
   public:
    void Clear();
    void Append(std::string_view bytes);
    // The text when it ended with its line (then one carriage return at its end is not part of
    // it), or at a ']' that is not the end of the line.
    std::string TakeAtLineEnd();
    std::string TakeAtBracket();

   private:
    std::string text_;
    std::size_t dropped_ = 0;  // bytes beyond the limit, counted up to 2
    char lastDropped_ = 0;
  };

  struct Slot {
    IniLookup Lookup;
    std::string LowerKey;
    std::string SectionValue;
    std::string FallbackValue;
    bool Gathering = false;  // the current line is a key line of this lookup
    BoundedText Candidate;   // its value so far
  };

  // Where the scan stands in a line that a piece ended inside: at its start, gathering its first
  // bytes, inside a section header, gathering the values of a key line, or skipping the rest.
  enum class State { LineStart, Prefix, Header, Value, Skip };

  bool InRequestedSection(const Slot& slot) const;
  void Keep(Slot& slot, std::string value);
  // Takes a whole line, without its line feed.
  void Line(std::string_view line);
  void StartValues();
  void EndValues();

  std::vector<Slot> slots_;
  std::size_t prefixLimit_ = 1;  // the longest key and its '='
  State state_ = State::LineStart;
  std::string prefix_;  // the first bytes of the current line, at most prefixLimit_
  BoundedText header_;
  std::string currentSection_;
};

// The answer to one lookup in a whole settings text, as IniScanner gives it.
std::string FindIniValue(std::string_view text, std::string_view key, std::string_view section);

// The answers to the lookups, in their order, from one pass over the file at path, read in fixed
// blocks (a UTF-8 byte-order mark is skipped, a UTF-16LE file converted first); empty texts when
// the file cannot be read.
// When read is given, it receives how the file was read.
std::vector<std::string> ReadIniValues(const std::string& path,
                                       const std::vector<IniLookup>& lookups,
                                       FileRead* read = nullptr);

// ReadIniValues for one lookup.
std::string ReadIniValue(const std::string& path, const std::string& key,
                         const std::string& section);

}  // namespace vesperline
