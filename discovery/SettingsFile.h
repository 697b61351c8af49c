// Reading values out of the server's INI-style settings file, the way the game's engine reads it.
//
// Lines: a line ends at a line feed, a carriage return or both, and, outside double quotes, at
// '|' (what follows is the next line). Outside quotes, "//" starts a comment that runs to the
// line's end; '{' and '}' are dropped, and a line break between them does not end the line; a
// backslash right before a line break joins the next line with a blank. A line that, without the
// blanks at its end, starts with '[' and ends with ']' is a section header naming the section
// between them. A line starting with ';' is skipped. A key line is key '=' value: the key is the
// text before the first '=' without the blanks around it (and without a leading '+', '-', '.' or
// '!'), compared without regard to ASCII case; the value loses the blanks at both ends, and one
// starting with a double quote is read to its closing quote, with \", \\, \', \n, \r and \t read
// as escapes (a backslash before anything else stays with it) and the quotes dropped.
//
// The answer to a lookup is the last value of the key inside the requested section (sections
// match without regard to ASCII case) when that is not empty, otherwise the first non-empty value
// of the key anywhere else (anywhere at all when no section is requested); empty text when neither
// exists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
  std::string Section;  // as written between the brackets, in any case; empty for any section
};

// One key line of a key looked up, as the scanner read it, for a reader that wants to tell the
// admin how the server reads the file.
struct IniKeyLine {
  std::size_t Lookup = 0;  // the first lookup of this key, as an index into the lookups
  std::size_t Line = 0;    // the line of the file it starts on, from 1
  std::string Section;     // the section it stands in
  std::string Written;     // what follows the '=', comments dropped (at most kMaxIniTextBytes)
  std::string Value;       // the value as the server takes it
  bool EndsAtBar = false;  // a '|' outside quotes ended the line
  bool Comment = false;    // a "//" outside quotes started a comment in the line
};

// Answers several lookups in one pass over settings text fed to it in pieces of any size. It holds
// only the current section, the key of the current line and one value, each at most
// kMaxIniTextBytes long: its memory depends neither on the size of the text nor on the length of
// its lines.
class IniScanner {
 public:
  using KeyLineSink = std::function<void(const IniKeyLine&)>;

  // keyLines, when given, is told of every key line of a key looked up.
  explicit IniScanner(std::vector<IniLookup> lookups, KeyLineSink keyLines = {});

  // Scans the next piece of the text.
  void Feed(std::string_view text);

  // Ends the text: a last line without a line break counts as well.
  void Finish();

  // The answer to the lookup at that index in the constructor's list.
  const std::string& Value(std::size_t lookup) const;

 private:
  // A section name or value being gathered, of which only the first kMaxIniTextBytes are kept.
  class BoundedText {
   public:
    void Clear();
    void Append(char byte);
    bool Empty() const { return text_.empty(); }
    // The text, cut before a character the limit split.
    std::string Take();

   private:
    std::string text_;
    bool cut_ = false;
  };

  struct Slot {
    IniLookup Lookup;
    std::string LowerKey;
    std::string LowerSection;
    std::string SectionValue;
    std::string FallbackValue;
  };

  // Where the current line stands: at its start, in a section header, in the key of a key line,
  // in its value (before it, unquoted, quoted, or right after a backslash inside quotes, or past
  // its closing quote), or in a line of no interest.
  enum class State {
    LineStart,
    Header,
    KeyStart,
    Key,
    ValueStart,
    Value,
    Quoted,
    QuotedEscape,
    ValueEnd,
    Skip
  };

  // The engine's line reading: each byte of the text, then the bytes of the line it makes.
  void Put(char byte);
  void Ordinary(char byte);
  void EndLine(bool atBar);
  void Take(char byte);
  void TakeKey(char byte);
  void TakeValue(char byte);
  void MatchKey();
  void EndValue(bool atBar, bool comment);

  std::vector<Slot> slots_;
  KeyLineSink keyLines_;

  // The engine's line reading.
  bool inQuotes_ = false;
  bool comment_ = false;
  std::size_t braces_ = 0;
  bool pendingBackslash_ = false;
  bool pendingSlash_ = false;
  bool skipLineBreak_ = false;  // a joined line break: one CR or LF right after it belongs to it
  bool afterCarriageReturn_ = false;
  std::size_t physicalLine_ = 1;
  std::size_t lineStart_ = 1;

  // The current line.
  State state_ = State::LineStart;
  BoundedText header_;
  std::size_t headerLength_ = 0;      // bytes after the '['
  std::size_t headerContentEnd_ = 0;  // the length up to its last byte that is no blank
  bool headerEndsWithBracket_ = false;
  std::string key_;                   // the key so far, lowered, without the blanks after it
  bool keyEnded_ = false;             // a blank followed the key
  std::uint64_t candidates_ = 0;      // the slots whose key begins with it, one bit each
  std::vector<std::size_t> matched_;  // the slots whose key the line has
  BoundedText value_;
  std::string valueBlanks_;  // blanks in a value, kept until more value follows
  BoundedText written_;
  std::string currentSection_;
  std::string lowerSection_;
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
