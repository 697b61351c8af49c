// The server's own word on its launch line: at each start the server writes into its log the line
// its engine rebuilt from its arguments ("Commandline:  TheIsland_WP?listen?..."). The checker
// compares it with its own reading of a running server's command line, and reads it in place of a
// command line when it has none (a server of another account, the files of another machine). The
// plugin itself never reads it: it reads its own process's command line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/LaunchArguments.h"
#include "tools/check/find/ServerProcess.h"

namespace vesperline::check {

// What precedes the engine's line on the log line that states it. The engine's line follows at
// once and begins with the blank the engine writes before each argument, so the log shows two.
inline constexpr std::string_view kCommandLineMarker = "Commandline: ";

// The most of the engine's line kept from the log, in bytes: room for a line with about a thousand
// mod ids of six or seven digits, and little enough that no log can make the checker hold much
// memory.
inline constexpr std::size_t kMaxLogCommandLineBytes = 8192;

// The engine's line as the log states it, and what the checker made of it.
struct LogCommandLine {
  // What follows the marker on the last line that holds it, without the line's end: at most
  // kMaxLogCommandLineBytes, cut before a UTF-8 character the limit would split.
  std::string Line;
  // The same as the report shows it: without the white space at its ends, its passwords masked
  // as they are in the server's command line (see Mask.h).
  std::string Shown;
  bool Cut = false;  // the line went on past the limit
  // The checker reads it as the server's launch line, having no command line of its own.
  bool Taken = false;
  // Compared with the engine's line of the running server's command line as the checker reads it:
  // whether the two differ. Nothing when not compared. Compared is that line with its passwords
  // marked, as the report's messages quote the command line.
  std::optional<bool> Differs;
  std::string Compared;
};

// Finds the last line holding kCommandLineMarker in a log fed to it piece by piece, in any split,
// and keeps what follows the marker's first occurrence on it. Only that line is kept, so memory
// does not grow with the log or its lines.
class LogCommandLineScanner {
 public:
  void Feed(std::string_view text);
  // Ends the log: a marker line without a final line feed counts as well.
  void Finish();
  const std::optional<LogCommandLine>& Last() const { return last_; }

 private:
  void Keep(std::string_view bytes);
  void EndLine();

  std::size_t matched_ = 0;  // bytes of the marker at the end of what was fed, outside a line
  bool inLine_ = false;      // after a marker, before its line's end
  std::string value_;
  bool cut_ = false;
  std::optional<LogCommandLine> last_;
};

// The last engine line of the log at the UTF-8 path, read and decoded as the plugin reads the log
// (a block at a time, UTF-16LE behind its mark converted), with Shown made. Nothing when no line
// states it, or when the path is no file the plugin reads, or a link to the output of whichever
// program opens it.
std::optional<LogCommandLine> ReadLogCommandLine(const std::string& path);

// A command line, the server's program first, whose engine line (ReadLaunchLine's EngineLine) is
// exactly the given one, with a blank put in front when it has none. Where the engine line reads
// back as it stands, its arguments are those Windows splits from it, as the server's would be;
// otherwise they are its pieces between blanks, which the engine writes back unchanged.
std::string CommandLineForEngineLine(std::string_view engineLine);

// Compares the log's line with the engine's line of the launch line the checker read (real), and
// keeps the same line with its passwords marked (marked) for a message.
void CompareWithTheLog(LogCommandLine& log, const LaunchLine& real, const LaunchLine& marked);

// What the report says of the log's line beside the command line, in a sentence.
std::string LogCommandLineNote(const LogCommandLine& log, const CommandLineOrigin& origin);

// The log's line differs from the running server's, as CompareWithTheLog found: a warning that
// names both. Nothing when several servers of the install run, since the log is then only one
// server's.
void WarnOfADifferentLogLine(const LogCommandLine& log, const CommandLineOrigin& origin,
                             std::vector<std::string>& warnings);

}  // namespace vesperline::check
