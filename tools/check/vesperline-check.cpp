// vesperline-check: shows a server admin what the Vesperline plugin will report, and why it stays
// silent when it does. See Usage() below for the options.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "discovery/ServerFile.h"
#include "tools/check/Check.h"
#include "tools/check/Console.h"

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

Run it in the plugin's folder, or name that folder with --plugin-dir. Give it the server's launch
command line, as the server is started, so that the launch arguments are checked too.

Options:
  --plugin-dir DIR          The plugin's folder (where Vesperline.dll and config.json lie).
                            Default: the current folder.
  --command-line TEXT       The server's whole launch command line, executable path first.
  --command-line-file FILE  Read the command line from FILE (one line; UTF-8, or UTF-16 as
                            Notepad saves "Unicode"). Without either option no command line is
                            used and every launch argument counts as absent.
  --show-token              Show the token in full. By default only its first two and last two
                            characters are shown (all masked when it is shorter than 8).
  --raw                     Print the heartbeat exactly as sent, on one line, instead of laid out.
  --json                    Print the whole report as one JSON object, for scripts and support
                            requests (the structure is below).
  -h, --help                Print this help.

Example (on the server, in a command prompt, all on one line):
  vesperline-check.exe --plugin-dir "C:\ARK\ShooterGame\Binaries\Win64\ArkApi\Plugins\Vesperline"
    --command-line "\"C:\ARK\ShooterGame\Binaries\Win64\ArkAscendedServer.exe\"
    TheIsland_WP?listen?SessionName=My Server?Port=7777 -WinLiveMaxPlayers=50"

Exit status: 0 the plugin would report, 1 it would stay idle, 2 a usage error (unknown option,
missing value, unreadable --command-line-file), 3 an internal error.

The --json object:
  plugin_dir         the plugin's folder, absolute
  plugin_dir_exists  true when that folder exists
  command_line       the command line used, or null
  files              {"config", "settings", "log"}: each {"path", "found", "encoding"}, the
                     encoding being null when the file was not found
  facts              {"token", "ip", "port", "session_name", "map", "player_limit", "mods",
                     "pve", "version"}: each {"value", "sources"}; a text value is null when
                     empty; "sources" lists {"source", "used", "detail"} in the order looked at
  verdict            "report" or "idle"
  idle_reasons       why it would stay idle (empty when it would report)
  document           the heartbeat it would send now without the live world part, or null
The token is masked in the facts and the document unless --show-token is given.
)";

struct Options {
  std::optional<std::string> pluginDir;
  std::optional<std::string> commandLine;
  std::optional<std::string> commandLineFile;
  bool showToken = false;
  bool raw = false;
  bool json = false;
  bool help = false;
};

// A usage error, with its message.
struct UsageError {
  std::string message;
};

Options Parse(const std::vector<std::string>& arguments) {
  Options options;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= arguments.size()) throw UsageError{argument + " needs a value"};
      return arguments[++i];
    };
    if (argument == "--plugin-dir") {
      options.pluginDir = value();
    } else if (argument == "--command-line") {
      options.commandLine = value();
    } else if (argument == "--command-line-file") {
      options.commandLineFile = value();
    } else if (argument == "--show-token") {
      options.showToken = true;
    } else if (argument == "--raw") {
      options.raw = true;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else {
      throw UsageError{"unknown option " + argument};
    }
  }
  if (options.commandLine && options.commandLineFile) {
    throw UsageError{"give --command-line or --command-line-file, not both"};
  }
  if (options.pluginDir && options.pluginDir->empty()) {
    throw UsageError{"--plugin-dir needs a folder"};
  }
  return options;
}

// The command line held in a file: its text without the line break at its end, which an editor
// adds but a process's command line never has.
std::string CommandLineFromFile(const std::string& path) {
  std::optional<std::string> text = vesperline::ReadServerFile(path);
  if (!text) throw UsageError{"cannot read the command-line file " + path};
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
  return *text;
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
    if (options.commandLine) inputs.CommandLine = options.commandLine;
    if (options.commandLineFile) inputs.CommandLine = CommandLineFromFile(*options.commandLineFile);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "vesperline-check: %s\nTry vesperline-check --help.\n",
                 error.message.c_str());
    return kUsageError;
  }
  inputs.PluginDir =
      vesperline::check::PluginDirFrom(options.pluginDir.value_or(CurrentDirectory()));

  const vesperline::check::CheckReport report = vesperline::check::RunCheck(inputs);
  WriteOut(options.json ? vesperline::check::JsonReport(report, options.showToken) + "\n"
                        : vesperline::check::HumanReport(report, options.showToken, options.raw));
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
