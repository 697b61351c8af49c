// The running servers of an install, found by the checker so that it can read a server's own
// command line instead of one an admin pastes. A server of an install is a process whose
// executable is ArkAscendedServer.exe (in any case) in the install's server folder
// (...\ShooterGame\Binaries\Win64), three levels above the plugin folder, or on Linux one in which
// Wine or Proton runs that program, in a container too (see ServerProcessLinux.h); a helper
// program beside it is none. Folders are compared by their identity on the system, so that a server
// started through another drive letter (SUBST, a mapped drive) or a linked folder is still found.
// The calls to the system are in one file per system (ServerProcessLinux.cpp,
// ServerProcessWindows.cpp); the choice among what they find is here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace vesperline::check {

// The file name of the server's executable.
inline constexpr std::string_view kServerProgram = "ArkAscendedServer.exe";

// True when the file name is kServerProgram, in any case.
bool IsServerProgram(std::string_view fileName);

// The user a process opens files as: the ids the system checks every access with (its file-system
// user and group, which are its effective ones unless it changed them) and its supplementary
// groups.
struct ProcessUser {
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
  std::vector<std::uint32_t> Groups;
  bool operator==(const ProcessUser&) const = default;
};

// Where a server process runs, as far as that differs from what the checker itself sees.
struct ServerPlace {
  // The folder through which the checker reaches the process's files, /proc/<id>/root, when the
  // process sees another root folder than the checker (it runs in a container or a chroot), or
  // the same root with other mounts (a mount namespace of its own: systemd's BindPaths=,
  // unshare -m); empty when it sees the checker's own files.
  std::string Root;
  // Root is set for other mounts alone: the process's root folder is the checker's.
  bool OwnMounts = false;
  // The container, as its control group names it ("Docker container 3f2a1b9c8d7e"); empty when
  // Root is, or when the group names none.
  std::string Container;
  // When Root is set: the server's executable as the process sees it, inside its root folder.
  std::string PathInside;
  // For a Windows program run by Wine or Proton: its Windows path, as Wine gives it to the
  // program, and the Wine prefix, as the process sees it.
  std::string WindowsPath;
  std::string WinePrefix;
  bool Proton = false;  // Proton's variables are in its environment
  // The user the process opens its files as; nothing when the checker could not tell.
  std::optional<ProcessUser> User;
};

// One process that bears the server's file name.
struct ServerProcess {
  std::uint32_t Id = 0;
  // Which of the folders looked in its executable lies in.
  std::size_t Folder = 0;
  // Empty when the checker saw where its executable lies. Otherwise the system refused to tell,
  // and this holds the system's words for that: the process may as well be a server of another
  // install running under another account, so it is named apart and never taken.
  std::string Refused;
  // The server's executable, as the checker reaches it (UTF-8); empty when refused.
  std::string Executable;
  ServerPlace Place;
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

// The system's part. Every process running kServerProgram, wherever it lies, with Executable
// and Place, and those that bear its name but whose executable the system would not show; the
// checker's own process is never among them. Ordered by id.
std::vector<ServerProcess> ListServerProcesses();
// The command line of the process with the id, as the plugin inside it would read it.
CommandLineRead ReadProcessCommandLine(std::uint32_t id);

// Runs work as the server process sees the files: in a thread of its own that takes the process's
// root folder and mounts (place.Root) for its own and opens files as the process's user
// (place.User), so that the system itself resolves every path and every link inside that root,
// never above it, and checks every access as it checks the server's. Where the checker sees the
// files as the server does already, work runs at once, on the calling thread. False, with the
// system's words in error, when the checker may not take the server's view (it runs without
// root's powers); work has then not run. An exception work throws is thrown on.
bool RunAsServerSees(const ServerPlace& place, const std::function<void()>& work,
                     std::string& error);
// The error RunAsServerSees gives when the server process ended before its view was taken.
inline constexpr std::string_view kServerEnded = "the server process has ended";

// The system hides the processes of other users from the checker (Linux: /proc mounted with
// hidepid), so that a server of another user is not even seen as refused.
bool OthersProcessesHidden();

// The checker runs under Wine, which shows it only the processes of its own Wine prefix; and the
// sentences that say so, with the ways to see a server another prefix runs.
bool RunsUnderWine();
std::string OtherWinePrefixes();

// Of the processes listed, those running kServerProgram from one of the folders, each with the
// folder it runs from, and those the system would not show. Nothing when the system can tell the
// identity of none of the folders.
std::vector<ServerProcess> ServersRunningFrom(const std::vector<std::filesystem::path>& folders,
                                              std::vector<ServerProcess> listed);

// The identities of the folders, in their order; nothing for one the system cannot tell.
std::vector<std::optional<platform::FileIdentity>> FolderIdentities(
    const std::vector<std::filesystem::path>& folders);
// Which of the folders with those identities the folder is, however its path is written.
std::optional<std::size_t> WhichFolder(
    const std::filesystem::path& folder,
    const std::vector<std::optional<platform::FileIdentity>>& identities);

// Where the command line the checker uses came from.
enum class CommandLineSource {
  Option,          // --command-line
  File,            // --command-line-file
  RunningServer,   // read from a running server of the install
  NotRunning,      // no server of the install runs
  Refused,         // the system refused to show the server's command line, or its executable
  Unreadable,      // reading it failed otherwise (the process ended meanwhile, say)
  NotThisInstall,  // --server-pid names a process that is no server of the install
};

struct CommandLineOrigin {
  CommandLineSource Source = CommandLineSource::NotRunning;
  std::string File;      // for File: the file named
  std::string FileLine;  // for File: which line was taken, when the file held several
  // Where the servers of the install run from, as UTF-8: the folder three levels above the plugin
  // folder, and the folder where a plugin folder at the wrong depth belongs, when there is one.
  std::string ServerFolder;
  std::string BelongingFolder;
  std::vector<std::uint32_t> Found;    // the ids of the servers of the install found running
  std::vector<std::uint32_t> Refused;  // the ids of the processes refused, as ServerProcess says
  std::string RefusedReason;           // the system's words for the first of them
  // The process looked at: a server found, or the one named with --server-pid.
  std::optional<std::uint32_t> Id;
  ServerPlace Place;               // where the server found runs
  bool Picked = false;             // Id was named with --server-pid
  bool InBelongingFolder = false;  // Id runs from BelongingFolder
  std::string Reason;              // for Refused and Unreadable: the system's words
  // There is no command line, so the checker reads the line the server's log states instead.
  bool FromServerLog = false;
};

// One command line the checker uses and where it came from.
struct ServerLookup {
  CommandLineOrigin Origin;
  std::optional<std::string> CommandLine;
};

// The server folder of a plugin folder: three levels above it. Nothing when the plugin folder
// does not lie that deep.
std::optional<std::filesystem::path> ServerFolderOf(const std::string& pluginDir);

// The server folder where the plugin folder belongs when it does not lie three levels below one:
// the nearest folder above it named Win64 in a folder named Binaries (as the ZIP unpacked into a
// folder of its own leaves it). Nothing when the plugin folder lies where it belongs, or nowhere
// near a server.
std::optional<std::filesystem::path> BelongingServerFolder(const std::string& pluginDir);

// Where the servers of the install the plugin folder belongs to run from: ServerFolderOf, then
// BelongingServerFolder, an empty path standing for either when there is none.
std::vector<std::filesystem::path> ServerFoldersOf(const std::string& pluginDir);

// Looks for the running servers of the install the plugin folder belongs to among the processes
// listed (ListServerProcesses) and reads their command lines; pickedId is --server-pid. One
// lookup per server to report: several when several servers of the install run and none is
// picked, otherwise one, which says why there is no command line when there is none.
std::vector<ServerLookup> LookUpRunningServers(const std::string& pluginDir,
                                               std::optional<std::uint32_t> pickedId,
                                               std::vector<ServerProcess> listed);

// The choice LookUpRunningServers makes among the processes found, reading command lines with read.
// base holds the folders looked in (found in folder 1 means the belonging folder). Every server
// confirmed, each in a lookup of its own, or the one picked; none when there is none, or when the
// one picked is not among them.
std::vector<ServerLookup> ChooseRunningServers(
    CommandLineOrigin base, const std::vector<ServerProcess>& found,
    std::optional<std::uint32_t> pickedId,
    const std::function<CommandLineRead(std::uint32_t)>& read);

// The checker's own folder is a plugin folder, which it checks when it is named none: the folder
// lies inside a server's Binaries\Win64 folder (where the release ZIP puts it), or at the wrong
// depth below one, or holds the plugin file or config.json.
bool IsPluginFolder(const std::string& folder);

// The plugin folder the checker takes when it is named none and its own folder is none: when
// exactly one server is seen running (refused processes aside), or --server-pid picks one, that
// server's ShooterGame\Binaries\Win64\ArkApi\Plugins\Vesperline as this machine reaches it
// (through /proc/<id>/root where the server sees other files), so that a checker kept anywhere
// finds it. Nothing otherwise.
std::optional<std::string> DefaultPluginFolder(const std::vector<ServerProcess>& running,
                                               std::optional<std::uint32_t> pickedId);

// The plugin folder as the server the origin names sees it: where the server sees other files
// than the checker, the folder's path below the folder the server was found running from, put
// below the server's own path to that folder; the folder unchanged otherwise. It ends with a
// separator.
std::string PluginDirAsSeen(const std::string& pluginDir, const CommandLineOrigin& origin);

// A folder named by the path inside the root folder of one of the servers running, which sees
// other files than the checker: the path as this machine reaches it (through /proc/<id>/root,
// every link on the way followed inside that root), and the server's id. Nothing when no server,
// or more than one, has such a folder.
struct FolderInside {
  std::string Path;
  std::uint32_t Id = 0;
};
std::optional<FolderInside> FolderInsideAServer(const std::string& path,
                                                const std::vector<ServerProcess>& running);

// What the checker sees when it is named no plugin folder, its own folder is none, and it sees
// not exactly one server: each server it sees and each process it may not look at, for the
// admin to pick one.
struct ServersSeen {
  std::string OwnFolder;
  std::vector<ServerProcess> Servers;  // those it sees, refused ones aside
  std::vector<ServerProcess> Refused;
  bool Hidden = false;                  // OthersProcessesHidden
  bool UnderWine = false;               // RunsUnderWine
  std::optional<std::uint32_t> Picked;  // --server-pid, which names none of the servers
};
ServersSeen SurveyServers(const std::string& ownFolder, const std::vector<ServerProcess>& running,
                          std::optional<std::uint32_t> pickedId);

// Where the server runs when it sees other files than the checker, for a sentence: "the Docker
// container 3f2a1b9c8d7e", "the server's container or chroot", "the server's own mounts"; empty
// when it sees the checker's own.
std::string PlaceName(const ServerPlace& place);

// The origin's name in the --json report, and the sentence the reports give for it.
std::string_view SourceName(CommandLineSource source);
std::string OriginNote(const CommandLineOrigin& origin);

}  // namespace vesperline::check
