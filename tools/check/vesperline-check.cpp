// vesperline-check: shows a server admin what the Vesperline plugin will report, and why it stays
// silent when it does. See Usage() below for the options.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/ServerFile.h"
#include "platform/Platform.h"
#include "tools/check/Check.h"
#include "tools/check/Console.h"
#include "tools/check/Warnings.h"

namespace {

using vesperline::check::WriteOut;

// Exit statuses.
constexpr int kWouldReport = 0;
constexpr int kWouldStayIdle = 1;
constexpr int kUsageError = 2;
constexpr int kInternalError = 3;

constexpr char kUsage[] = R"(Usage: vesperline-check [options]

Shows what the Vesperline plugin would do in this server: where it looks for config.json, the
server's settings file and log, which facts it finds and where each came from, whether it would
report the server or stay idle (and why), and the heartbeat it would send now.

Run it in the plugin's folder while the server runs, or name that folder with --plugin-dir. It
reads the launch command line of the running server of this install (the process started from
the folder three levels above the plugin folder, ...\ShooterGame\Binaries\Win64), so that the
launch arguments are checked too. For a server that is not running, give its command line with
--command-line or --command-line-file.

Options:
  --plugin-dir DIR          The plugin's folder (where Vesperline.dll and config.json lie).
                            Default: the current folder.
  --command-line TEXT       The server's whole launch command line, executable path first.
  --command-line-file FILE  Read the command line from FILE: one line, UTF-8 or UTF-16 as
                            Notepad saves "Unicode". Without either option the command line of
                            the running server is read; when none runs, or it cannot be read,
                            every launch argument counts as absent.
  --server-pid N            When several servers of this install run, read the command line of
                            the one with process id N (Task Manager shows it, under Details).
  --show-token              Show the token in full. By default only its first two and last two
                            characters are shown (all masked when it is shorter than 8). Server
                            passwords in the command line (?ServerPassword=, -ServerAdminPassword=
                            and every other key holding "Password") are always masked wholly, as
                            ********, in error messages too.
  --raw                     Print only the heartbeat, on one line, exactly as the plugin would
                            send it, and nothing else; nothing at all when it would send none.
  --json                    Print the whole report as one JSON object, for scripts and support
                            requests (the structure is below).
  -h, --help                Print this help.

In a command prompt, end a quoted folder without a backslash: "C:\ARK\Plugins\Vesperline", not
"C:\ARK\Plugins\Vesperline\". A backslash right before the closing quote escapes the quote.

The server reads ?SessionName=, ?Port=, ?MaxPlayers= and ?ServerPVE= from its first argument
only (the map and what is written onto it), which ends at the first space outside double quotes.
For a name with spaces, put that whole argument in double quotes:
  "TheIsland_WP?listen?SessionName=My Server?Port=7777" -NoBattlEye
or, in a Linux start script, write SessionName=\"My Server\". The player limit is
-WinLiveMaxPlayers= when given, the mods -mods= when given, PvE ?ServerPVE= when given, each
ahead of the settings file.

Example, for a server that is not running (on the server, in a command prompt, all on one line):
  vesperline-check.exe --plugin-dir "C:\ARK\ShooterGame\Binaries\Win64\ArkApi\Plugins\Vesperline"
    --command-line "\"C:\ARK\ShooterGame\Binaries\Win64\ArkAscendedServer.exe\"
    \"TheIsland_WP?listen?SessionName=My Server?Port=7777\" -WinLiveMaxPlayers=50"

Exit status: 0 the plugin would report, 1 it would stay idle, 2 a usage error (an unknown option,
one not beginning with '-' being most often a command line come apart at a space; a missing
value; --raw with --json; --server-pid with a command line given; a --command-line-file that
cannot be read or holds more than one line; a double quote in a folder or file name), 3 an
internal error.

The --json object:
  plugin_dir         the plugin's folder, absolute
  plugin_dir_exists  true when that folder exists
  command_line       the command line used, its passwords masked, or null
  command_line_source  {"source", "process_id", "servers_found", "note"}: where the command line
                     came from, "source" being "running server", "--command-line",
                     "--command-line-file", or why there is none: "no server running", "several
                     servers running", "access refused", "unreadable" or "not a server of this
                     install"; "process_id" the server process read or named (or null),
                     "servers_found" the ids of the servers of this install found running, "note"
                     the report's sentence
  files              {"config", "settings", "log"}: each {"path", "found", "encoding", "state"},
                     the encoding being null when the file was not found, the state saying
                     how it was found ("not found", "a directory, not a file", ...)
  facts              {"token", "ip", "port", "session_name", "map", "player_limit", "mods",
                     "pve", "version"}: each {"value", "sources"}; a text value is null when
                     empty; "sources" lists {"source", "used", "detail"} in the order looked at
  verdict            "report" or "idle"
  idle_reasons       why it would stay idle (empty when it would report)
  warnings           what would make the plugin do otherwise than you meant, or not run at all
                     (a missing plugin file, a plugin folder at the wrong depth, an "ip" that is
                     no public address, a key given twice, a settings line the plugin passes
                     over...), whatever the verdict
  document           the heartbeat it would send now without the live world part, or null
The token is masked in the facts and the document unless --show-token is given; launch
passwords are masked wherever they appear.
)";

struct Options {
  std::optional<std::string> pluginDir;
  std::optional<std::string> commandLine;
  std::optional<std::string> commandLineFile;
  std::optional<std::uint32_t> serverPid;
  bool showToken = false;
  bool raw = false;
  bool json = false;
  bool help = false;
};

// A usage error, with its message.
struct UsageError {
  std::string message;
};

// A folder or file name given in quotes and ending in a backslash, as in
//   --plugin-dir "C:\dir\" --command-line "..."
// reaches the program as one value holding a double quote and the rest of the line: the Windows
// rules (and a POSIX shell's) read the backslash as escaping the quote. No Windows path holds a
// double quote, so the value is refused with the explanation instead of being looked for, or
// instead of the options it swallowed being missed.
std::string PathValue(const std::string& option, std::string value) {
  if (value.find('"') == std::string::npos) return value;
  throw UsageError{
      "the value of " + option + " holds a double quote: " +
      vesperline::check::Printable(vesperline::check::MaskLaunchPasswords(value)) +
      "\nA backslash right before a closing quote escapes the quote, so the rest of the line, "
      "other options included, ran into the value. End the name without a backslash "
      "(\"C:\\dir\") or double it (\"C:\\dir\\\\\")."};
}

// An argument as a message shows it: its passwords masked, its control characters escaped.
std::string Shown(const std::string& argument) {
  return vesperline::check::Printable(vesperline::check::MaskLaunchPasswords(argument));
}

// An argument that is no option and no option's value. Almost always a server's command line
// given with --command-line came apart at a space: a value with a space that is not in quotes, or
// a quote inside the quoted line not written \". The argument before it then ends where the
// command line was cut; when that was inside a password, this argument is the password's rest,
// and is not shown at all.
std::string StrayArgument(const std::string& argument, const std::string& before) {
  const std::string shown = vesperline::check::EndsInsidePassword(before)
                                ? "(not shown: it may be the rest of a password)"
                                : Shown(argument);
  return "unknown option " + shown +
         "\nIt does not begin with '-', so it is most likely a piece of the server's command line "
         "that came apart at a space: a value with a space in it (a session name, say) that is "
         "not in quotes, or a double quote inside the quoted command line not written as \\\". "
         "The simplest way round it: run the checker without --command-line while the server "
         "runs, and it reads the server's command line itself. Or save the command line in a "
         "file and give it with --command-line-file FILE.";
}

// A process id as Windows and Linux give them: a whole number from 1 to 4294967295.
std::uint32_t ProcessId(const std::string& text) {
  std::uint64_t id = 0;
  const bool digits = !text.empty() && text.size() <= 10 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  if (digits) id = std::stoull(text);
  if (!digits || id == 0 || id > 0xFFFFFFFFu) {
    throw UsageError{"--server-pid needs a process id, a whole number such as 4242, not " +
                     Shown(text)};
  }
  return static_cast<std::uint32_t>(id);
}

Options Parse(const std::vector<std::string>& arguments) {
  Options options;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= arguments.size()) throw UsageError{argument + " needs a value"};
      return arguments[++i];
    };
    if (argument == "--plugin-dir") {
      options.pluginDir = PathValue(argument, value());
    } else if (argument == "--command-line") {
      options.commandLine = value();
    } else if (argument == "--command-line-file") {
      options.commandLineFile = PathValue(argument, value());
    } else if (argument == "--server-pid") {
      options.serverPid = ProcessId(value());
    } else if (argument == "--show-token") {
      options.showToken = true;
    } else if (argument == "--raw") {
      options.raw = true;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if (argument.starts_with('-')) {
      throw UsageError{"unknown option " + Shown(argument)};
    } else {
      throw UsageError{StrayArgument(argument, arguments[i - 1])};
    }
  }
  if (options.commandLine && options.commandLineFile) {
    throw UsageError{"give --command-line or --command-line-file, not both"};
  }
  if (options.serverPid && (options.commandLine || options.commandLineFile)) {
    throw UsageError{
        "give --server-pid or a command line (--command-line, --command-line-file), not both"};
  }
  if (options.raw && options.json) throw UsageError{"give --raw or --json, not both"};
  if (options.pluginDir && options.pluginDir->empty()) {
    throw UsageError{"--plugin-dir needs a folder"};
  }
  return options;
}

// The largest command-line file read. A Windows command line holds at most 32,767 UTF-16 units,
// so a larger file is no command line (a log, say) and is not read into memory.
constexpr std::uint64_t kMaxCommandLineFileBytes = 1 << 20;

// The command line held in a file: its one line that is not blank, without the line break an
// editor adds but a process's command line never has. Every carriage return at a line's end
// belongs to the line end: wmic writes "\r\r\n". A file with more lines is most likely the
// server's start script, whose other lines would be read as launch arguments.
std::string CommandLineFromFile(const std::string& path) {
  const std::string cannot = "cannot read the command-line file " + Shown(path) + ": ";
  vesperline::platform::InputFile file(path);
  if (!file.IsOpen()) {
    throw UsageError{cannot + vesperline::check::FileState(vesperline::FileReadOf(file))};
  }
  // The file is open, so only its size can make the read give nothing.
  const std::optional<std::string> bytes =
      vesperline::ReadFileBytes(file, kMaxCommandLineFileBytes);
  if (!bytes) throw UsageError{cannot + "it is larger than 1 MiB, far more than any command line"};
  const std::string text = vesperline::DecodeServerText(*bytes).Text;
  std::string line;
  std::size_t lines = 0;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view candidate(text.data() + start, end - start);
    while (!candidate.empty() && candidate.back() == '\r') candidate.remove_suffix(1);
    if (candidate.find_first_not_of(" \t\r") != std::string_view::npos) {
      ++lines;
      line = candidate;
    }
    start = end + 1;
  }
  if (lines > 1) {
    throw UsageError{"the command-line file " + Shown(path) + " holds " + std::to_string(lines) +
                     " lines that are not blank, but a command line is one line (is it a start "
                     "script?): put the server's launch command line alone in the file"};
  }
  return line;
}

std::string CurrentDirectory() {
  const std::u8string text = std::filesystem::current_path().u8string();
  return std::string(text.begin(), text.end());
}

int Run(int argc, char** argv) {
  Options options;
  vesperline::check::CheckInputs inputs;
  try {
    options = Parse(vesperline::check::Utf8Arguments(argc, argv));
    if (options.help) {
      WriteOut(kUsage);
      return kWouldReport;
    }
    if (options.commandLine) {
      inputs.CommandLine = options.commandLine;
      inputs.Origin.Source = vesperline::check::CommandLineSource::Option;
    }
    if (options.commandLineFile) {
      inputs.CommandLine = CommandLineFromFile(*options.commandLineFile);
      inputs.Origin.Source = vesperline::check::CommandLineSource::File;
      inputs.Origin.File = *options.commandLineFile;
    }
  } catch (const UsageError& error) {
    // Masked once more, line by line: no message may show a password, whatever it quotes, and a
    // password's mask must not swallow the next line.
    std::string message;
    for (std::size_t start = 0; start <= error.message.size();) {
      const std::size_t end = std::min(error.message.find('\n', start), error.message.size());
      message += vesperline::check::MaskLaunchPasswords(
          std::string_view(error.message).substr(start, end - start));
      if (end < error.message.size()) message += '\n';
      start = end + 1;
    }
    std::fprintf(stderr, "vesperline-check: %s\nTry vesperline-check --help.\n", message.c_str());
    return kUsageError;
  }
  inputs.PluginDir =
      vesperline::check::PluginDirFrom(options.pluginDir.value_or(CurrentDirectory()));
  // A command line given wins; without one, the running server's own is read, exactly as the
  // plugin inside it reads it, which spares the admin quoting it by hand.
  if (!inputs.CommandLine) {
    vesperline::check::ServerLookup lookup =
        vesperline::check::LookUpRunningServer(inputs.PluginDir, options.serverPid);
    inputs.CommandLine = std::move(lookup.CommandLine);
    inputs.Origin = std::move(lookup.Origin);
  }

  const vesperline::check::CheckReport report = vesperline::check::RunCheck(inputs);
  if (options.raw) {
    const std::optional<std::string> document =
        vesperline::check::WouldSendDocument(report, options.showToken);
    if (document) WriteOut(*document + "\n");
  } else {
    WriteOut(options.json ? vesperline::check::JsonReport(report, options.showToken) + "\n"
                          : vesperline::check::HumanReport(report, options.showToken));
  }
  return report.WouldReport ? kWouldReport : kWouldStayIdle;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vesperline-check: internal error: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "vesperline-check: internal error\n");
  }
  return kInternalError;
}
