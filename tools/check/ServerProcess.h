// The running server of an install, found by the checker so that it can read the server's own
// command line instead of one an admin pastes. The server of an install is a process whose
// executable lies in the install's server folder (...\ShooterGame\Binaries\Win64), three levels
// above the plugin folder. The calls to the system are in one file per system
// (ServerProcessLinux.cpp, ServerProcessWindows.cpp); the choice among what they find is here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesperline::check {

// One process that may be a server of the install.
struct ServerProcess {
  std::uint32_t Id = 0;
  // Empty when the process's executable lies in the server folder. Otherwise the system refused
  // to tell where its executable lies, and this holds the system's words for that: the process is
  // counted because its name is the name of a program in the server folder.
  std::string Refused;
};

// What reading one process's command line gave.
struct CommandLineRead {
  // The command line as the plugin inside that process reads it (UTF-8); nothing on a failure.
  std::optional<std::string> Text;
  // The system refused access to the process (a server running under another account).
  bool Refused = false;
  // Why the command line could not be read, in the system's words.
  std::string Error;
};

// The system's part. The processes whose executable lies in folder, and those whose executable
// the system would not show but whose name is that of a program in folder; the checker's own
// process is never among them. Ordered by id.
std::vector<ServerProcess> FindProcessesIn(const std::filesystem::path& folder);
// The command line of the process with the id, as the plugin inside it would read it.
CommandLineRead ReadProcessCommandLine(std::uint32_t id);

// Where the command line the checker uses came from.
enum class CommandLineSource {
  Option,          // --command-line
  File,            // --command-line-file
  RunningServer,   // read from the one running server of the install
  NotRunning,      // no server of the install runs
  Several,         // more than one does, and none was picked with --server-pid
  Refused,         // the system refused to show the server's command line
  Unreadable,      // reading it failed otherwise (the process ended meanwhile, say)
  NotThisInstall,  // --server-pid names a process that is no server of the install
};

struct CommandLineOrigin {
  CommandLineSource Source = CommandLineSource::NotRunning;
  std::string File;                  // for File: the file named
  std::string ServerFolder;          // where the servers of the install run from, as UTF-8
  std::vector<std::uint32_t> Found;  // the ids of the servers of the install that were found
  // The process looked at: the one server found, or the one named with --server-pid.
  std::optional<std::uint32_t> Id;
  std::string Reason;  // for Refused and Unreadable: the system's words
};

// The command line of the running server and where it came from.
struct ServerLookup {
  CommandLineOrigin Origin;
  std::optional<std::string> CommandLine;
};

// The server folder of a plugin folder: three levels above it. Nothing when the plugin folder
// does not lie that deep.
std::optional<std::filesystem::path> ServerFolderOf(const std::string& pluginDir);

// Looks for the running server of the install the plugin folder belongs to and reads its command
// line; pickedId is --server-pid.
ServerLookup LookUpRunningServer(const std::string& pluginDir,
                                 std::optional<std::uint32_t> pickedId);

// The choice LookUpRunningServer makes among the processes found in serverFolder, reading a
// command line with read: the one server found, or the one picked; none when there is none, when
// there are several and none is picked, or when the one picked is not among them.
ServerLookup ChooseRunningServer(const std::string& serverFolder,
                                 const std::vector<ServerProcess>& found,
                                 std::optional<std::uint32_t> pickedId,
                                 const std::function<CommandLineRead(std::uint32_t)>& read);

// The origin's name in the --json report, and the sentence the reports give for it.
std::string_view SourceName(CommandLineSource source);
std::string OriginNote(const CommandLineOrigin& origin);

}  // namespace vesperline::check
