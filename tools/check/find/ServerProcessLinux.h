// How the checker finds the server among the processes of a Linux host. A process's folder under
// /proc holds the link exe to its executable, cmdline with its arguments, environ with its
// environment, cwd and root, the links to its current and root folders, and cgroup, the control
// groups it belongs to.
//
// The game server is a Windows program, run on Linux by Wine or Proton: the process's executable
// is then Wine's loader, which moves the Windows program's arguments over its own, so that they
// begin with the program as it was started: a Unix path, a path relative to the current folder,
// or a Windows path (C:\..., Z:\...) that the process's own Wine prefix maps to a folder through
// the links of its dosdevices folder. A process in a container sees another root folder, which the
// checker reaches through /proc/<id>/root; every path the process names, and every link on the
// way, is then read from there as the process itself would read it.
//
// The folder that stands for /proc is a parameter throughout, so that tests can lay out processes
// of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/check/find/ServerProcess.h"

namespace vesperline::check {

// The arguments in the bytes of a cmdline file, which ends each one with a NUL. The NULs at the
// end give no empty arguments: Wine leaves them where its own name stood before it moved the
// program's arguments to the front, so an empty argument at the very end is lost to the checker.
std::vector<std::string> ProcessArguments(std::string_view cmdline);

// True for the file name of Wine's loader, in the forms distributions and Proton ship it (wine,
// wine64, wine-preloader, wine64-preloader); Wine's other programs (wineserver) are none.
bool IsWineLoader(std::string_view fileName);

// The absolute path, as a process whose root folder is root sees it, resolved there: every link
// on the way is followed as that process would follow it, one with an absolute target from root
// again, never from the checker's own root. With anyCase, a name not found as written is looked
// for in any case (ASCII letters), as Wine finds the parts of a Windows path. The result is the
// resolved path as the process sees it; nothing when a part is missing or the links loop. An
// empty root is the checker's own.
std::optional<std::string> ResolveInRoot(const std::string& root, std::string_view path,
                                         bool anyCase = false);

// The container that the lines of a cgroup file name, for a reader ("Docker container
// 3f2a1b9c8d7e"); empty when they name none.
std::string ContainerOf(std::string_view cgroup);

// What the checker makes of one process.
struct ProcessLook {
  // The process bears the server's name: it is kServerProgram itself, or Wine runs it, or the
  // system would not show its executable and its first argument names kServerProgram.
  bool Server = false;
  // For a server: its Id, Refused, Executable and Place (its Folder is not yet known).
  ServerProcess Process;
};

// The user a process opens files as, from the lines of its status file: the file-system ids of
// its Uid: and Gid: lines (the fourth) and its Groups:; nothing when they lack one.
std::optional<ProcessUser> ProcessUserOf(std::string_view status);

// The checker's own mount namespace, as procRoot/self/ns/mnt names it ("mnt:[4026531841]"); empty
// when procRoot shows none (a proc folder laid out by a test).
std::string OwnMountsIn(const std::string& procRoot);

// Looks at the process with the id, whose folder is procDir (/proc/<id>). ownMounts is the
// checker's mount namespace (OwnMountsIn); a process in another counts as seeing other files even
// where its root folder is the checker's. Empty compares none.
ProcessLook LookAtProcess(const std::string& procDir, std::uint32_t id,
                          const std::string& ownMounts = {});

// Every process in procRoot (/proc) that bears the server's name, but the one with the id self,
// ordered by id.
std::vector<ServerProcess> ListServerProcessesIn(const std::string& procRoot, std::uint32_t self);

// /proc, as the lines of a mountinfo file show its mount, hides the processes of other users
// (hidepid=1, 2, invisible or noaccess).
bool ProcHidesProcesses(std::string_view mountinfo);

// The command line of the process with the id as the plugin inside it reads it: for a Windows
// program run by Wine, the one Wine gives that program (its Windows path in double quotes, then
// the arguments joined as Wine joins them); otherwise the arguments joined the same way.
CommandLineRead CommandLineIn(const std::string& procRoot, std::uint32_t id);

}  // namespace vesperline::check
