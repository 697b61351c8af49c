// Looks the checker takes at the files an admin writes and installs, beyond what the plugin
// itself reads out of them: lines of the settings file the plugin passes over or reads twice,
// and bytes that are no UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/ServerInfo.h"

namespace vesperline::check {

// Watches bytes for ill-formed UTF-8 (overlong forms, surrogates, code points above U+10FFFF
// included), one byte at a time, so that a file can be fed in pieces of any size.
class Utf8Watch {
 public:
  void Feed(char byte);
  // Ends the text: a sequence cut off at its end is ill-formed too.
  void Finish();
  bool Valid() const { return valid_; }

 private:
  bool valid_ = true;
  int pending_ = 0;  // continuation bytes still expected
  unsigned char low_ = 0x80;
  unsigned char high_ = 0xBF;
};

// The beginning of a file looks like UTF-16 without a byte-order mark: in one half of its bytes
// (every other byte) at least every second is zero, in the other half nearly none is. Letters of
// the Latin scripts have a zero high byte in UTF-16, and 8-bit text has no zero bytes at all.
// Looks at the first kUtf16LookBytes bytes.
inline constexpr std::size_t kUtf16LookBytes = 4096;
bool LooksLikeUtf16WithoutMark(std::string_view firstBytes);

// The number of the first line (from 1) of text that holds bytes that are no UTF-8; nothing when
// it is all UTF-8.
std::optional<std::size_t> FirstNonUtf8Line(std::string_view text);

// One line of the settings file that the plugin reads as a line of one of its keys.
struct SettingsKeyLine {
  std::size_t Line = 0;  // the line of the file it starts on
  std::string Section;
  std::string Value;    // as the server takes it, at most the plugin's 4,096 bytes
  std::string Written;  // what follows its '=', comments dropped
  std::string Text;     // the whole line of the file, as written
  bool EndsAtBar = false;
  bool Comment = false;
};

struct SettingsScan {
  bool Read = false;  // the file could be opened
  // For each of kSettingsKeys, in its order, every line the plugin reads as that key's.
  std::vector<std::vector<SettingsKeyLine>> KeyLines;
  // The first line with bytes that are no UTF-8, in a file not saved as UTF-16.
  std::optional<std::size_t> FirstNonUtf8Line;
  // The file looks like UTF-16 without a byte-order mark (see LooksLikeUtf16WithoutMark).
  bool Utf16WithoutMark = false;
};

// Scans the settings file at the UTF-8 path, read and decoded as the plugin reads it, a block at
// a time: only the beginning of each line is kept, so no file can make it hold much memory.
SettingsScan ScanSettingsFile(const std::string& path);

// The line, of lines, that gives the plugin the key's value by the settings file's rules: the last
// one in the requested section when its value is not empty, else the first one elsewhere (or
// anywhere, without a section) with a value; nothing when none gives one.
const SettingsKeyLine* LineThePluginUses(const SettingsKey& key,
                                         const std::vector<SettingsKeyLine>& lines);

}  // namespace vesperline::check
