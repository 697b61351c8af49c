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
#include <system_error>
#include <vector>

#include "common/Version.h"
#include "tools/check/BuildCommit.h"
#include "tools/check/Console.h"
#include "tools/check/launch/CommandLineFile.h"
#include "tools/check/launch/PastedLine.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/model/Check.h"
#include "tools/check/post/Post.h"
#include "tools/check/report/Report.h"
#include "tools/check/text/Paths.h"
#include "tools/check/text/Printable.h"

namespace {

using vesperline::check::WriteOut;

// Exit statuses.
constexpr int kWouldReport = 0;
constexpr int kWouldStayIdle = 1;
constexpr int kUsageError = 2;
constexpr int kInternalError = 3;
// With --post, when the heartbeat was sent: 0 accepted, 4 refused, 5 not reached (PostExitStatus).

constexpr char kUsage[] = R"(Usage: vesperline-check [options]

Shows what the Vesperline plugin would do in this server: the files it reads, the facts it finds
and where each came from, the mistakes it sees with their fixes, and its verdict: it would
report, stay idle, or not run at all. Run it while the server runs: it reads the running server's
launch line itself (on Linux, with sudo, in a container too).

Options:
  --plugin-dir DIR          The plugin's folder. Default: the checker's own folder when it lies
                            in a server's folder, else that of the one server running (with
                            none or several, it lists what it sees).
  --command-line TEXT       The server's whole launch command line, executable path first.
  --command-line-file FILE  Read it from FILE (UTF-8 or UTF-16); of several lines, the one of
                            this install's server.
  --server-pid N            With several servers of this install running, check only process N.
  --show-token              Show the token in full. Passwords are always masked.
  --raw                     Print only the heartbeat it would send, on one line.
  --json                    Print the whole report as one JSON object.
  --post                    After the report, send one heartbeat to the service and show its
                            answer: does this machine reach the service, does it take the token?
  --version                 Print the checker's version and the commit it was built from.
  -h, --help                Print this help.

Exit status:
  0  the plugin would report (with --post: and the service accepted the heartbeat)
  1  it would stay idle or not run at all, or the checker cannot tell (with --post: nothing was
     sent)
  2  a usage error                    3  an internal error
  4  with --post: the heartbeat was sent and refused
  5  with --post: the service was not reached

Example, for a server that is not running (in a command prompt, on one line):
  vesperline-check.exe --plugin-dir "C:\ARK\ShooterGame\Binaries\Win64\ArkApi\Plugins\Vesperline"
    --command-line "\"C:\ARK\ShooterGame\Binaries\Win64\ArkAscendedServer.exe\"
    \"TheIsland_WP?listen?SessionName=My Server?Port=7777\" -WinLiveMaxPlayers=50"
(end a quoted folder without a backslash: a backslash before the closing quote escapes it).

Each part of the report, every verdict and warning, the --json members and --post's answers are
explained in Troubleshooting, docs/troubleshooting.md in Vesperline's source.
)";

struct Options {
  std::optional<std::string> pluginDir;
  std::optional<std::string> commandLine;
  std::optional<std::string> commandLineFile;
  std::optional<std::uint32_t> serverPid;
  bool showToken = false;
  bool raw = false;
  bool json = false;
  bool post = false;
  bool help = false;
  bool version = false;
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
      "the value of " + option +
      " holds a double quote: " + vesperline::check::Printable(vesperline::check::MaskText(value)) +
      "\nA backslash right before a closing quote escapes the quote, so the rest of the line, "
      "other options included, ran into the value. End the name without a backslash "
      "(\"C:\\dir\") or double it (\"C:\\dir\\\\\")."};
}

// An argument as a message shows it: its passwords masked, its control characters escaped.
std::string Shown(const std::string& argument) {
  return vesperline::check::Printable(vesperline::check::MaskText(argument));
}

// An argument that is no option and no option's value. Almost always a server's command line
// given with --command-line came apart at a space: a value with a space that is not in quotes, or
// a quote inside the quoted line not written \". The argument before it then ends where the
// command line was cut; when that was inside a password, this argument is the password's rest,
// and is not shown at all, whether or not it begins with '-' as an option would.
std::string StrayArgument(const std::string& argument, const std::string& before) {
  const bool password = vesperline::check::EndsInsidePassword(before);
  const std::string shown =
      password ? "(not shown: it may be the rest of a password)" : Shown(argument);
  return "unknown option " + shown +
         (password ? "\nIt stands right after a password" : "\nIt does not begin with '-'") +
         ", so it is most likely a piece of the server's command line "
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
    } else if (argument == "--post") {
      options.post = true;
    } else if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument.starts_with('-') &&
               !vesperline::check::EndsInsidePassword(arguments[i - 1])) {
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
  if (options.raw && options.post) {
    throw UsageError{"--post shows what the service answered in the report: give it without --raw"};
  }
  if (options.pluginDir && options.pluginDir->empty()) {
    throw UsageError{"--plugin-dir needs a folder"};
  }
  return options;
}

// The current folder; "." when the system cannot name it, which the paths then start from.
std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  return error ? std::string(".") : vesperline::check::Utf8FromPath(folder);
}

// The usage error's message. Every text of the admin's in it was masked where it was quoted.
int ReportUsageError(const UsageError& error) {
  std::fprintf(stderr, "vesperline-check: %s\nTry vesperline-check --help.\n",
               error.message.c_str());
  return kUsageError;
}

// What to check: the command line given, or that of each running server of the install; or,
// when no plugin folder is named, the checker's own is none and it does not see exactly one
// server, what it sees, for the admin to pick one.
struct Plan {
  std::vector<vesperline::check::CheckInputs> Inputs;
  std::optional<vesperline::check::ServersSeen> Survey;
};

Plan PlanChecks(const Options& options) {
  namespace check = vesperline::check;
  check::CheckInputs given;
  // The running servers, wherever they lie, are looked for once: for the plugin folder and for
  // the command line.
  const bool lookForServers =
      !options.pluginDir || (!options.commandLine && !options.commandLineFile);
  std::error_code error;
  const bool namedHere =
      options.pluginDir &&
      std::filesystem::is_directory(vesperline::check::PathFromUtf8(*options.pluginDir), error);
  std::vector<check::ServerProcess> running;
  if (lookForServers || (options.pluginDir && !namedHere)) running = check::ListServerProcesses();
  // Without --plugin-dir the folder of the checker itself, where the release ZIP puts it beside
  // the plugin, whatever folder the admin started it from; a checker kept elsewhere takes the
  // plugin folder of the one server running, and tells what it sees when there is not one.
  std::string programFolder;
  std::optional<std::string> serversFolder;
  if (!options.pluginDir) {
    programFolder = check::ProgramFolder();
    if (!check::IsPluginFolder(programFolder)) {
      serversFolder = check::DefaultPluginFolder(running, options.serverPid);
      if (!serversFolder)
        return {{}, check::SurveyServers(programFolder, running, options.serverPid)};
    }
  }
  // A folder named as the server in a container sees it, which this machine does not have, is
  // taken where that server sees it.
  std::string named = options.pluginDir.value_or("");
  const check::ServerProcess* inside = nullptr;
  if (options.pluginDir && !namedHere) {
    if (const std::optional<check::FolderInside> folder =
            check::FolderInsideAServer(named, running)) {
      named = folder->Path;
      for (const check::ServerProcess& process : running) {
        if (process.Id == folder->Id) inside = &process;
      }
    }
  }
  given.PluginDirOfRunningServer = serversFolder.has_value();
  given.PluginDirIsOwnFolder = !options.pluginDir && !serversFolder && !programFolder.empty();
  given.PluginDir = check::PluginDirFrom(options.pluginDir        ? named
                                         : serversFolder          ? *serversFolder
                                         : !programFolder.empty() ? programFolder
                                                                  : CurrentDirectory());
  // A line pasted from a .bat file may begin with cmd's start, which the server never gets.
  const auto pasted = [&given](std::string_view line) {
    check::PastedLine read = check::WithoutStart(line);
    given.CommandLine = std::move(read.Line);
    given.DroppedLauncher = std::move(read.Dropped);
  };
  // With a line given, a folder named inside a container is still read as its server sees it.
  const auto insideTheContainer = [&] {
    if (inside == nullptr) return;
    given.AsTheServerSees = true;
    given.Origin.Place = inside->Place;
    given.PluginDir = check::PluginDirFrom(*options.pluginDir);
  };
  if (options.commandLine) {
    pasted(*options.commandLine);
    given.Origin.Source = check::CommandLineSource::Option;
    insideTheContainer();
    return {{given}, std::nullopt};
  }
  if (options.commandLineFile) {
    check::FileCommandLine read = check::CommandLineFromFile(
        *options.commandLineFile, check::ServerFoldersOf(given.PluginDir));
    if (!read.Error.empty()) throw UsageError{read.Error};
    if (read.Line) pasted(*read.Line);
    given.Origin.Source = check::CommandLineSource::File;
    given.Origin.File = *options.commandLineFile;
    given.Origin.FileLine = std::move(read.Which);
    insideTheContainer();
    return {{given}, std::nullopt};
  }
  // Without a command line given, the running servers' own are read, exactly as the plugin
  // inside each reads it, which spares the admin quoting them by hand; and each server's files
  // are read as that server sees them.
  Plan plan;
  for (check::ServerLookup& lookup :
       check::LookUpRunningServers(given.PluginDir, options.serverPid, std::move(running))) {
    check::CheckInputs one = given;
    one.CommandLine = std::move(lookup.CommandLine);
    one.Origin = std::move(lookup.Origin);
    const check::ServerPlace& place = one.Origin.Place;
    if (one.Origin.Id && one.Origin.Source != check::CommandLineSource::NotThisInstall &&
        (place.User || !place.Root.empty() || !place.WindowsPath.empty())) {
      one.AsTheServerSees = true;
      one.PluginDir = check::PluginDirAsSeen(given.PluginDir, one.Origin);
      if (options.pluginDir) one.NamedPluginDir = given.PluginDir;
    }
    plan.Inputs.push_back(std::move(one));
  }
  return plan;
}

// The usage error for --post while several servers of the install run and none is named: the
// heartbeat speaks for one server, and each server may send other facts, even another token, so
// the checker does not choose one, nor sends one for each.
std::string SeveralServersToPost(const std::vector<vesperline::check::CheckInputs>& inputs) {
  std::string ids;
  for (const vesperline::check::CheckInputs& input : inputs) {
    if (!input.Origin.Id) continue;
    ids += ids.empty() ? "" : ", ";
    ids += std::to_string(*input.Origin.Id);
  }
  return "--post sends one heartbeat, for one server, and " + std::to_string(inputs.size()) +
         " servers of this install are running (processes " + ids +
         "): name the one to send for with --server-pid N";
}

// The report of one server, then the heartbeat sent for it and what the service answered. The
// text report is written before the heartbeat goes, so that the admin reads it while the answer
// is awaited; the JSON report holds both in one object.
int ReportAndPost(vesperline::check::CheckReport& report, const Options& options) {
  namespace check = vesperline::check;
  check::PostRecord post = check::PreparePost(report, VESPERLINE_HEARTBEAT_URL);
  // The report shows the heartbeat the checker sends, status and all.
  if (post.NotSent.empty()) report.DocumentStatus = post.Status;
  if (!options.json) WriteOut(check::HumanReport(report, options.showToken));
  if (post.NotSent.empty()) {
    if (!options.json) {
      WriteOut("\nSending one heartbeat to " + post.Url + " (--post); the answer takes at most " +
               std::to_string(check::kPostTimeLimit.count()) + " s...\n");
    }
    post.Exchange = check::SendPost(post.Url, post.Document);
  }
  const int status = post.NotSent.empty()
                         ? check::PostExitStatus(check::JudgePost(post.Exchange, post.Url).Outcome)
                         : kWouldStayIdle;
  if (options.json) {
    WriteOut(check::JsonReport(report, options.showToken, &post) + "\n");
  } else {
    WriteOut(check::PostText(post, options.showToken));
  }
  return status;
}

int Run(int argc, char** argv) {
  Options options;
  Plan plan;
  try {
    options = Parse(vesperline::check::Utf8Arguments(argc, argv));
    if (options.help) {
      WriteOut(kUsage);
      return kWouldReport;
    }
    if (options.version) {
      WriteOut(std::string("vesperline-check ") + vesperline::kVersion + "\ncommit " +
               vesperline::kBuildCommit + "\n");
      return kWouldReport;
    }
    plan = PlanChecks(options);
    if (options.post && plan.Inputs.size() > 1) {
      throw UsageError{SeveralServersToPost(plan.Inputs)};
    }
  } catch (const UsageError& error) {
    return ReportUsageError(error);
  }
  if (plan.Survey) {
    // Nothing is checked, so --raw has no heartbeat to print and --post none to send.
    if (!options.raw) {
      WriteOut(options.json ? vesperline::check::JsonSurvey(*plan.Survey) + "\n"
                            : vesperline::check::HumanSurvey(*plan.Survey));
    }
    return kWouldStayIdle;
  }
  const std::vector<vesperline::check::CheckInputs>& inputs = plan.Inputs;

  std::vector<vesperline::check::CheckReport> reports = vesperline::check::RunChecks(inputs);
  if (options.post && !reports.empty()) return ReportAndPost(reports.front(), options);
  if (options.raw) {
    // One line per server that would send a heartbeat, in the order of the reports.
    for (const vesperline::check::CheckReport& report : reports) {
      const std::optional<std::string> document =
          vesperline::check::WouldSendDocument(report, options.showToken);
      if (document) WriteOut(*document + "\n");
    }
  } else {
    WriteOut(options.json ? vesperline::check::JsonReports(reports, options.showToken) + "\n"
                          : vesperline::check::HumanReports(reports, options.showToken));
  }
  // The worst verdict: idle when any server checked would stay idle, or would not run at all.
  for (const vesperline::check::CheckReport& report : reports) {
    if (!report.WouldReport) return kWouldStayIdle;
  }
  return kWouldReport;
}

int RunAndCatch(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vesperline-check: internal error: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "vesperline-check: internal error\n");
  }
  return kInternalError;
}

}  // namespace

int main(int argc, char** argv) {
  const int status = RunAndCatch(argc, argv);
  // Started by a double-click, the checker has a window of its own, which would close with the
  // report unread.
  try {
    if (vesperline::check::InAConsoleOfItsOwn()) vesperline::check::WaitForEnter();
  } catch (...) {
    // Writing the prompt failed; the status stands.
  }
  return status;
}
