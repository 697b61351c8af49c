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

Shows what the Vesperline plugin would do in this server: where it looks for config.json, the
server's settings file and log, which facts it finds and where each came from, whether it would
report the server, stay idle or not run at all (and why), and the heartbeat it would send now.

Run it while the server runs: it checks the plugin folder it lies in (where the release ZIP puts
it), from wherever it is started, or the folder named with --plugin-dir; kept anywhere else, it
checks the plugin folder of the one server running on this machine, and when it sees none or
several, it lists what it sees and checks nothing. On Linux it reads every file as the server
process itself opens it: inside the server's root folder and mounts (a container's), as the
server's user, and for a server under Wine each name in any case. It reads the launch command
line of the running server of this install (ArkAscendedServer.exe started from the folder three
levels above the plugin folder, ...\ShooterGame\Binaries\Win64, however that folder is reached;
on Linux, run by Wine or Proton, in a container too when run with sudo), so that the launch
arguments are checked too; when several servers of this install run, each is reported in turn.
The line the server's engine rebuilt from that command line at the server's start, which the
server's log states (ShooterGame.log, its "Commandline:" line), is shown beside it and compared
with the checker's own reading; a difference is a warning. When no command line can be read (no
server runs, or it runs under another account), that line from the server's last start is read
in its place. To check another line, or a server whose log states none, give its command line
with --command-line or --command-line-file.

Started by a double-click, in a console window of its own, the checker waits for Enter before
the window closes. It never waits in a command prompt or terminal, under Wine, on Linux, or when
its output or input is a file or a pipe (--json or --raw into a file, say).

Options:
  --plugin-dir DIR          The plugin's folder (where Vesperline.dll and config.json lie).
                            Default: the folder that holds vesperline-check itself when it lies
                            in a server's Binaries\Win64 folder; otherwise, when exactly one
                            server runs on this machine (or --server-pid names one), that
                            server's ArkApi\Plugins\Vesperline; otherwise none, and the
                            checker lists the servers it sees. On Linux, a folder of a server in
                            a container may be named as this machine holds it (a volume's
                            folder) or as the server sees it (/srv/ark/...); either way it is
                            read as the server sees it.
  --command-line TEXT       The server's whole launch command line, executable path first.
  --command-line-file FILE  Read the command line from FILE, UTF-8 or UTF-16 as Notepad saves
                            "Unicode": its one line, or, of several (PowerShell's line per
                            server, wmic's output with its heading or "CommandLine=" before each
                            line), the one whose executable is this install's server. Without
                            either option the command line of each running server is read; when
                            none runs, or it cannot be read, the line the server's log states is
                            read instead, and without one every launch argument counts as absent.
  --server-pid N            When several servers of this install run, check only the one with
                            process id N (Task Manager shows it, under Details; on Linux,
                            pgrep -a ArkAscended).
  --show-token              Show the token in full. By default only its first two and last two
                            characters are shown (all masked when it is shorter than 8). Server
                            passwords in the command line (?ServerPassword=, -ServerAdminPassword=
                            and every other key holding "Password", all the server would take as
                            the value, words a blank split off included; the next argument after
                            a dash key followed by a blank instead of '=') are always masked
                            wholly, as ********, in fixes, --json and error messages too, and so
                            is every KEY=value whose key holds "password" in any text quoted.
  --raw                     Print only the heartbeat, on one line, exactly as the plugin would
                            send it, and nothing else; nothing at all when it would send none.
                            With several servers, one line for each that would send one.
  --json                    Print the whole report as one JSON object, for scripts and support
                            requests (the structure is below).
  --post                    After the report, send one heartbeat to the service and show its
                            answer: whether this machine reaches the service, and whether the
                            service takes the token. Use it when the report is clean but the
                            server is not listed. It sends the token over the network, to the
                            endpoint built into this package and nowhere else, and only when the
                            plugin would report; nothing else in the checker sends anything. The
                            heartbeat is the one the report shows, with the status "online" when
                            the checker read the command line from this install's running server
                            and "offline" otherwise, so that a check never lists a server that
                            is down. One attempt of at most 15 s, no redirect followed, the
                            certificate always checked against the system's root certificates
                            (on Linux, or those SSL_CERT_FILE and SSL_CERT_DIR name), through the
                            system's proxy settings (on Linux https_proxy and all_proxy, with
                            no_proxy; on Windows WinHTTP's proxy setting, else the system's).
                            With several servers of this install running, name one with
                            --server-pid.
  --version                 Print the checker's version and the commit it was built from.
  -h, --help                Print this help.

In a command prompt, end a quoted folder without a backslash: "C:\ARK\Plugins\Vesperline", not
"C:\ARK\Plugins\Vesperline\". A backslash right before the closing quote escapes the quote.

The server reads ?SessionName=, ?Port= and ?ServerPVE= from its first argument only (the map
and what is written onto it), which ends at the first space outside double quotes. For a name
with spaces, put that whole argument in double quotes, with no quotes inside it:
  "TheIsland_WP?listen?SessionName=My Server?Port=7777" -NoBattlEye
or, in a Linux start script, leave it unquoted and write SessionName=\"My Server\" - never both:
the server quotes an argument holding spaces as a whole again, so inner quotes end it. Write the
map first, before any dash option. The player limit is -WinLiveMaxPlayers= when given, else the
game's 70; the mods -mods= when given; PvE ?ServerPVE= when given; each ahead of the settings
file.

Example, for a server that is not running (on the server, in a command prompt, all on one line):
  vesperline-check.exe --plugin-dir "C:\ARK\ShooterGame\Binaries\Win64\ArkApi\Plugins\Vesperline"
    --command-line "\"C:\ARK\ShooterGame\Binaries\Win64\ArkAscendedServer.exe\"
    \"TheIsland_WP?listen?SessionName=My Server?Port=7777\" -WinLiveMaxPlayers=50"

Exit status: 0 the plugin would report (with --post: and the service accepted the heartbeat), 1
it would stay idle or not run at all (no Vesperline.dll in the plugin folder; with several
servers: any of them would; with --post nothing was sent), or the checker could not tell (it may
not read the server's files without sudo, or it was named no server and sees none or several), 2 a
usage error (an unknown option, one not beginning with '-' or right after a password
being most often a command line come apart at a space; a missing value; --raw with --json;
--server-pid with a command line given; a --command-line-file that cannot be read, or whose lines
hold no line or several lines of this install's server; a double quote in a folder or file name;
--post with --raw, or with several servers and no --server-pid), 3 an internal error; with
--post, once the heartbeat was sent: 4 refused (the service, or what answers at the endpoint,
answered and did not take it: 401 or 403, the token; 404, a package for another service; 429, too
many requests; 5xx, the service's own trouble; a redirect), 5 not reached (no answer: the name
does not resolve, the connection is refused or times out, the certificate is not trusted or is for
another name, a proxy in the way, libcurl missing on Linux, no answer within 15 s).

What --post answers mean, and the next step for each, are in the report's "Result" and "Next
step" lines: accepted (the machine reaches the service and the token is taken); refused, with the
token named as the likely cause; not the service's endpoint; too many requests; the service's own
trouble, try later; and for no answer at all, which one: DNS, a firewall or no route for outgoing
HTTPS, this machine's root certificates (Windows Update; under Wine or Proton, the Linux system's
ca-certificates), a proxy. The answer's body is shown up to 4 KiB, control characters escaped and
the token masked wherever it is echoed.

The --json object, for one server:
  plugin_dir         the plugin's folder, absolute
  plugin_dir_source  "--plugin-dir", or when it was not named "checker's folder" or "running
                     server" (the plugin folder of the one server running)
  plugin_dir_exists  true when that folder exists
  plugin_file        {"name", "found", "version", "checker_version", "compared"}: the plugin
                     file, the version its version resource names (null without one), this
                     checker's, and how they compare: "same", "older", "newer", "no version"
                     (a build older than any that carries one), "no dll" (the file is no
                     Windows DLL, or one cut short), "not found", "not read", or "linux build"
  command_line       the command line used, its passwords masked, or null (the line the
                     server's log states may then stand in for it: server_log_command_line)
  command_line_source  {"source", "process_id", "servers_found", "refused_processes", "note"}:
                     where the command line came from, "source" being "running server",
                     "--command-line", "--command-line-file", or why there is none: "no server
                     running", "access refused", "unreadable" or "not a server of this install";
                     "process_id" the server process read or named (or null), "servers_found"
                     the ids of the servers of this install found running, "refused_processes"
                     the ids of processes bearing the server's name that the system would not
                     show (not taken: run as administrator, or with sudo), "note" the
                     report's sentence; and where the server runs, each null where it does not
                     apply: "container" (named from its control group), "root" (the folder the
                     checker reads its files through, /proc/<id>/root), "path_inside" (its
                     executable's path inside the container), "windows_path" and "wine_prefix"
                     (a server run by Wine or Proton)
  server_log_command_line  the line the server's log states, or null when it was not read or
                     holds none: {"line", "cut", "taken", "differs", "note"}, "line" its
                     passwords masked, "cut" true when it was longer than the checker keeps
                     (8192 bytes), "taken" true when it was read in place of a command line,
                     "differs" whether it differs from the running server's command line as
                     the checker reads it (null when not compared), "note" the report's sentence
  files              {"config", "settings", "log"}: each {"path", "found", "encoding", "state"},
                     the encoding being null when the file was not found, the state saying
                     how it was found ("not found", "a directory, not a file", ...)
  facts              {"token", "ip", "port", "session_name", "map", "player_limit", "mods",
                     "pve", "version"}: each {"value", "sources"}; a text value is null when
                     empty; "sources" lists {"source", "used", "detail"} in the order looked at
  verdict            "report", "idle", "not loaded" when Vesperline.dll is not in the plugin
                     folder, so that the plugin host loads nothing, or "unknown" when the
                     checker may not read the server's files
  not_read           why the checker did not read the server's files, and what to do; null when
                     it read them
  idle_reasons       why it would not report (empty when it would): without Vesperline.dll,
                     first why it does not run, then why it would stay idle once it runs
  warnings           what would make the plugin do otherwise than you meant, or keep it from
                     running (a plugin folder at the wrong depth, an "ip" that is no public
                     address, a token holding a character no editor shows, a key given twice, a
                     settings value a '|' cuts...), whatever the verdict
  document           the heartbeat it would send now without the live world part, or null
  post               with --post only: {"sent", "not_sent", "endpoint", and once sent "proxy",
                     "proxy_source", "status", "status_reason", "document" (the body sent),
                     "took_ms", "http_status", "reason", "location", "body" (at most 4 KiB),
                     "body_bytes", "body_cut", "system_words", "outcome" ("accepted",
                     "refused" or "not reached"), "kind", "meaning", "next_step",
                     "exit_status"}
When several servers of this install run, one object {"verdict", "servers_found", "servers"}:
"verdict" the worst of theirs ("not loaded", "idle", then "unknown"), "servers_found" their ids,
and "servers" the object above for each, in the order of their ids. A script reads both forms
alike as r.get("servers", [r]). When no plugin folder is named, the checker's own is none and it
sees not exactly one server, one object {"verdict": "no server chosen", "checker_folder",
"servers_seen", "refused_processes", "processes_hidden", "note"}: "servers_seen" each server it
sees, {"process_id", "executable", "plugin_dir" (as the server sees it), "container", "root",
"path_inside", "windows_path", "wine_prefix"}; "processes_hidden" true when /proc hides other
users' processes (hidepid).
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
