// The game version as the server writes it into its own log.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/ServerFile.h"

namespace vesperline {

// The text that precedes the version on the log line that announces it.
inline constexpr std::string_view kVersionMarker = "ARK Version: ";

// The longest version kept, in bytes: the first bytes of a longer value, cut before the UTF-8
// character the limit would split.
inline constexpr std::size_t kMaxVersionBytes = 256;

// Finds the version in a log fed to it piece by piece, in any split: the bytes after the first
// marker of the last line that holds the marker (at most kMaxVersionBytes of them), without
// trailing carriage returns, line feeds and spaces. Only that value is kept, so memory does not
// grow with the log or its lines.
class VersionScanner {
 public:
  // Scans the next piece of the log.
  void Feed(const char* data, std::size_t size);

  // Ends the log: a marker line without a final line feed counts as well.
  void Finish();

  // The value of the last marker line seen so far (possibly empty), or nothing when no line held
  // the marker.
  const std::optional<std::string>& Version() const { return version_; }

 private:
  void EndCapture();
  void Capture(const char* data, std::size_t size);

  // Bytes at the end of the previous piece that begin the marker.
  std::size_t partialMarker_ = 0;
  // Inside a marker line: its value is being collected until the line ends. Outside one, value_
  // is empty and cut_ false, so that a capture always starts afresh.
  bool capturing_ = false;
  std::string value_;
  // The value went on past the limit with something else than the bytes trimmed at its end.
  bool cut_ = false;
  std::optional<std::string> version_;
};

// The version in a whole log text, as VersionScanner finds it.
std::optional<std::string> FindVersionInLog(std::string_view text);

// Reads the version out of a log that grows, a little at a time: each scan reads only what was
// appended to the log since the previous one, and gives what a scan of the whole log would give.
// A log that is not the one read before is a new log, read from its beginning (its encoding
// decided afresh): one that has gone, one shorter than what was read, another file under the same
// name, or one whose first bytes have changed (rewritten in place). Its memory does not depend on
// the log.
class VersionLogReader {
 public:
  // Scans the log file at path on from where the previous scan stopped. Nothing when the file
  // cannot be read or holds no marker line. When read is given, it receives how the file was read.
  std::optional<std::string> Scan(const std::string& path, FileRead* read = nullptr);

  // Forgets what was read: the next scan reads the log from its beginning.
  void Reset();

  // How many of the log's first bytes are remembered to tell a rewritten log from a grown one.
  static constexpr std::size_t kHeadBytes = 64;

 private:
  // True when the open file is the log read so far, grown or not; remembers its identity and
  // first bytes for the next scan either way.
  bool IsSameLog(platform::InputFile& file);

  ServerTextReader text_;
  VersionScanner scanner_;
  std::optional<platform::FileIdentity> identity_;
  std::string head_;  // the log's first bytes as read, at most kHeadBytes
};

// Scans the whole log file at path once, as a fresh VersionLogReader does.
std::optional<std::string> ScanVersionLog(const std::string& path, FileRead* read = nullptr);

}  // namespace vesperline
