// The running servers on Linux: see ServerProcessLinux.h.
#include "tools/check/find/ServerProcessLinux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <thread>

#include "common/CommandLine.h"
#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline::check {

namespace {

// The most links followed in one path, as the kernel allows before it gives up on a loop.
constexpr int kMaxLinks = 40;

// The whole of a small file (those under /proc, a passwd file), or the errno of the failure.
struct SmallFile {
  std::string Bytes;
  int Error = 0;
};

SmallFile ReadSmallFile(const std::string& path) {
  // None of the files read here is larger; a passwd file that is, is read no further.
  constexpr std::size_t kMaxBytes = 4 << 20;
  SmallFile file;
  const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (handle < 0) {
    file.Error = errno;
    return file;
  }
  struct stat status {};
  // Anything but a regular file under /proc (where every file says it is one) could block.
  if (::fstat(handle, &status) != 0 || !S_ISREG(status.st_mode)) {
    file.Error = EINVAL;
    ::close(handle);
    return file;
  }
  char buffer[4096];
  while (file.Bytes.size() < kMaxBytes) {
    const ssize_t count = ::read(handle, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) file.Error = errno;
    if (count <= 0) break;
    file.Bytes.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(handle);
  return file;
}

// The target of a link, or nothing with the errno in error.
std::optional<std::string> ReadLink(const std::string& path, int& error) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) {
      error = errno;
      return std::nullopt;
    }
    if (static_cast<std::size_t>(length) < target.size()) {
      target.resize(static_cast<std::size_t>(length));
      return target;
    }
    if (target.size() >= 65536) {
      error = ENAMETOOLONG;
      return std::nullopt;
    }
    target.resize(target.size() * 2);
  }
}

bool IsRefusal(int error) {
  return error == EACCES || error == EPERM;
}

// The file name at the end of a path written with either separator: a program started under
// Wine names itself by its Windows path.
std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The parts of a path between its separators, empty ones left out.
std::vector<std::string> PartsOf(std::string_view path) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start < path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts) path += "/" + part;
  return path;
}

// The entry of the folder whose name is name in any case (ASCII letters); the first by byte
// order when several are, so that the answer does not depend on the order the folder lists them.
std::optional<std::string> NameInAnyCase(const std::string& folder, const std::string& name) {
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return std::nullopt;
  const std::string wanted = LowerAscii(name);
  std::optional<std::string> found;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string entryName = entry->d_name;
    if (LowerAscii(entryName) == wanted && (!found || entryName < *found)) found = entryName;
  }
  ::closedir(listing);
  return found;
}

// The variables of an environ file: NAME=value, each ended by a NUL; the first of a name counts,
// as the C library's getenv takes it.
std::map<std::string, std::string> Environment(std::string_view environ) {
  std::map<std::string, std::string> variables;
  for (const std::string& entry : ProcessArguments(environ)) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    variables.emplace(entry.substr(0, equals), entry.substr(equals + 1));
  }
  return variables;
}

std::string Variable(const std::map<std::string, std::string>& variables, const char* name) {
  const auto found = variables.find(name);
  return found == variables.end() ? std::string() : found->second;
}

// The numbers on the line of a status file that begins with key ("Uid:\t1000\t1000\t1000\t1000",
// "Groups:\t27 1000 "); nothing when there is no such line or it holds something else.
std::optional<std::vector<std::uint32_t>> StatusNumbers(std::string_view status,
                                                        std::string_view key) {
  for (std::size_t start = 0; start < status.size();) {
    std::size_t end = status.find('\n', start);
    if (end == std::string_view::npos) end = status.size();
    std::string_view line = status.substr(start, end - start);
    start = end + 1;
    if (!line.starts_with(key)) continue;
    line.remove_prefix(key.size());
    std::vector<std::uint32_t> numbers;
    for (std::size_t at = 0; at < line.size();) {
      if (line[at] == ' ' || line[at] == '\t') {
        ++at;
        continue;
      }
      const std::size_t digits =
          std::min(line.find_first_not_of("0123456789", at), line.size()) - at;
      if (digits == 0 || digits > 10) return std::nullopt;
      const unsigned long long number = std::stoull(std::string(line.substr(at, digits)));
      if (number > 0xFFFFFFFFull) return std::nullopt;
      numbers.push_back(static_cast<std::uint32_t>(number));
      at += digits;
    }
    return numbers;
  }
  return std::nullopt;
}

// The real user id from the lines of a status file; nothing when they name none.
std::optional<std::string> RealUserId(std::string_view status) {
  const std::optional<std::vector<std::uint32_t>> ids = StatusNumbers(status, "Uid:");
  if (!ids || ids->empty()) return std::nullopt;
  return std::to_string(ids->front());
}

// The home folder of the user with the id, from the passwd file as the process sees it.
std::string HomeOfUser(const std::string& root, const std::string& userId) {
  const std::optional<std::string> passwd = ResolveInRoot(root, "/etc/passwd");
  if (!passwd) return {};
  const SmallFile file = ReadSmallFile(root + *passwd);
  for (std::size_t start = 0; start < file.Bytes.size();) {
    std::size_t end = file.Bytes.find('\n', start);
    if (end == std::string::npos) end = file.Bytes.size();
    // name:password:uid:gid:comment:home:shell
    std::vector<std::string> fields;
    std::string_view line(file.Bytes.data() + start, end - start);
    for (std::size_t from = 0;;) {
      const std::size_t colon = line.find(':', from);
      fields.emplace_back(
          line.substr(from, colon == std::string_view::npos ? colon : colon - from));
      if (colon == std::string_view::npos) break;
      from = colon + 1;
    }
    if (fields.size() >= 6 && fields[2] == userId) return fields[5];
    start = end + 1;
  }
  return {};
}

// The path a process names, relative to its current folder when it is not absolute.
std::string FromFolder(const std::string& folder, std::string_view path) {
  if (path.starts_with('/')) return std::string(path);
  return folder + "/" + std::string(path);
}

// A path the links of a process's folder name (exe, cwd) as the process sees it. A link names its
// target from the checker's root, so for a process in a chroot the target begins with the
// process's root folder, which its link (rootLink) names the same way.
std::string Inside(const std::string& path, const std::string& rootLink) {
  if (rootLink == "/" || !path.starts_with(rootLink)) return path;
  if (path.size() == rootLink.size()) return "/";
  return path[rootLink.size()] == '/' ? path.substr(rootLink.size()) : path;
}

// A Wine prefix's drives, each the folder it maps to as the process sees it.
struct Drive {
  char Letter = 'c';
  std::string Folder;
};

std::vector<Drive> DrivesOf(const std::string& root, const std::string& prefix) {
  std::vector<Drive> drives;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    const std::string link = prefix + "/dosdevices/" + letter + ":";
    if (std::optional<std::string> folder = ResolveInRoot(root, link)) {
      drives.push_back({letter, std::move(*folder)});
    }
  }
  return drives;
}

// The path without "." and with each ".." taking away the part before it, as Wine reads the path
// it is given, before it follows any link.
std::vector<std::string> LexicalParts(std::string_view path) {
  std::vector<std::string> parts;
  for (std::string& part : PartsOf(path)) {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (part != ".") {
      parts.push_back(std::move(part));
    }
  }
  return parts;
}

// The Windows path Wine gives a file it is given by a Unix path: it looks at the path's folders
// from the deepest up, as written, and the first that is a drive's folder (the first letter among
// equals) gives the drive; the rest of the path follows as written, with backslashes. Nothing when
// no drive holds it.
std::optional<std::string> WindowsPathOf(const std::string& root, const std::vector<Drive>& drives,
                                         std::string_view path) {
  const std::vector<std::string> parts = LexicalParts(path);
  for (std::size_t count = parts.size() + 1; count-- > 0;) {
    const std::vector<std::string> folderParts(parts.begin(),
                                               parts.begin() + static_cast<std::ptrdiff_t>(count));
    const std::optional<std::string> folder = ResolveInRoot(root, Joined(folderParts));
    if (!folder) continue;
    for (const Drive& drive : drives) {
      if (drive.Folder != *folder) continue;
      std::string windows(1, static_cast<char>(drive.Letter - 'a' + 'A'));
      windows += ":";
      for (std::size_t i = count; i < parts.size(); ++i) windows += "\\" + parts[i];
      if (count == parts.size()) windows += "\\";
      return windows;
    }
  }
  return std::nullopt;
}

// A Windows path that begins with a drive letter (C:\..., c:/...), after the prefix Windows gives
// such a path at length (\\?\C:\...) or in the kernel's form (\??\C:\...).
std::optional<std::string_view> DrivePath(std::string_view path) {
  for (const std::string_view prefix : {"\\\\?\\", "\\??\\"}) {
    if (path.starts_with(prefix)) path.remove_prefix(prefix.size());
  }
  const bool letter =
      !path.empty() && ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
  if (letter && path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) {
    return path;
  }
  return std::nullopt;
}

// Where a Windows program run by Wine lies, found from the process's folder under /proc.
struct WineProgram {
  std::string Inside;   // its path as the process sees it, resolved
  std::string Windows;  // its path as Wine writes it at the front of its command line
  std::string Prefix;   // the Wine prefix, as the process sees it
  bool Proton = false;
};

std::optional<WineProgram> FindWineProgram(const std::string& procDir, const std::string& root,
                                           const std::string& rootLink, const std::string& named) {
  int error = 0;
  const std::map<std::string, std::string> variables =
      Environment(ReadSmallFile(procDir + "/environ").Bytes);
  // The current folder as the process sees it; Wine takes it as the shell names it (PWD), through
  // a link too, when that is the same folder.
  std::string folder = Inside(ReadLink(procDir + "/cwd", error).value_or("/"), rootLink);
  const std::string shellFolder = Variable(variables, "PWD");
  if (shellFolder.starts_with('/') && shellFolder != folder &&
      ResolveInRoot(root, shellFolder) == ResolveInRoot(root, folder)) {
    folder = shellFolder;
  }

  // The prefix, where Wine itself looks for it: WINEPREFIX, which Proton sets too; Proton's own
  // variable; then ~/.wine, with the home folder Wine takes (HOME, else the user's own).
  WineProgram program;
  const std::string compatData = Variable(variables, "STEAM_COMPAT_DATA_PATH");
  program.Proton = !compatData.empty();
  std::string prefix = Variable(variables, "WINEPREFIX");
  if (prefix.empty() && !compatData.empty()) prefix = compatData + "/pfx";
  if (prefix.empty()) {
    std::string home = Variable(variables, "HOME");
    if (home.empty()) {
      const std::optional<std::string> user = RealUserId(ReadSmallFile(procDir + "/status").Bytes);
      if (user) home = HomeOfUser(root, *user);
    }
    if (!home.empty()) prefix = home + "/.wine";
  }
  std::vector<Drive> drives;
  if (!prefix.empty()) {
    if (std::optional<std::string> resolved = ResolveInRoot(root, FromFolder(folder, prefix))) {
      program.Prefix = std::move(*resolved);
      drives = DrivesOf(root, program.Prefix);
    }
  }

  std::optional<std::string> inside;
  if (const std::optional<std::string_view> windows = DrivePath(named)) {
    const char letter = LowerAsciiByte((*windows)[0]);
    const auto drive = std::find_if(drives.begin(), drives.end(),
                                    [&](const Drive& one) { return one.Letter == letter; });
    if (drive == drives.end()) return std::nullopt;
    std::string rest(windows->substr(3));
    std::replace(rest.begin(), rest.end(), '\\', '/');
    inside = ResolveInRoot(root, drive->Folder + "/" + rest, true);
    // As Wine writes it: the drive letter in capitals, the rest as written, backslashes only.
    program.Windows = std::string(1, static_cast<char>(letter - 'a' + 'A')) + ":";
    for (const std::string& part : LexicalParts(rest)) program.Windows += "\\" + part;
  } else if (!named.starts_with('\\')) {
    // A Unix path, or one relative to the current folder, which Wine reads as a Windows path too.
    std::string path = named;
    const bool relative = !path.starts_with('/');
    if (relative) std::replace(path.begin(), path.end(), '\\', '/');
    path = FromFolder(folder, path);
    inside = ResolveInRoot(root, path, relative);
    if (inside) program.Windows = WindowsPathOf(root, drives, path).value_or(named);
  }
  if (!inside) return std::nullopt;
  program.Inside = std::move(*inside);
  return program;
}

// A cgroup path's part that names a container the way its runtime names the groups it makes:
// the part begins with Prefix and ends with Suffix, and between them stands the container's id
// (or, for Id false, its name).
struct GroupPattern {
  std::string_view Prefix;
  std::string_view Suffix;
  std::string_view Runtime;
  bool Id;
};

constexpr std::array kGroupPatterns{
    GroupPattern{"docker-", ".scope", "Docker container", true},
    GroupPattern{"libpod-", ".scope", "Podman container", true},
    GroupPattern{"libpod-", "", "Podman container", true},
    GroupPattern{"cri-containerd-", ".scope", "containerd container", true},
    GroupPattern{"crio-", ".scope", "CRI-O container", true},
    GroupPattern{"lxc.payload.", "", "LXC container", false},
    GroupPattern{"systemd-nspawn@", ".service", "systemd-nspawn container", false},
    GroupPattern{"machine-", ".scope", "systemd machine", false},
};

bool IsContainerId(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// A name as systemd writes it in a unit's name: \xHH for each byte it escapes ('-' among them).
std::string UnescapeUnitName(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 2) == "\\x" && i + 3 < text.size() && std::isxdigit(text[i + 2]) != 0 &&
        std::isxdigit(text[i + 3]) != 0) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The container a cgroup path's part names, given the part before it; empty when none.
std::string ContainerOfPart(std::string_view part, std::string_view parent) {
  for (const GroupPattern& pattern : kGroupPatterns) {
    if (part.size() <= pattern.Prefix.size() + pattern.Suffix.size() ||
        !part.starts_with(pattern.Prefix) || !part.ends_with(pattern.Suffix)) {
      continue;
    }
    const std::string_view between = part.substr(
        pattern.Prefix.size(), part.size() - pattern.Prefix.size() - pattern.Suffix.size());
    if (!pattern.Id) return std::string(pattern.Runtime) + " " + UnescapeUnitName(between);
    // Docker and its kin show the first 12 characters of an id.
    if (IsContainerId(between)) {
      return std::string(pattern.Runtime) + " " + std::string(between.substr(0, 12));
    }
  }
  // Groups made without systemd: docker/<id>, lxc/<name>, and a bare id (Kubernetes' pods).
  if (parent == "docker" && IsContainerId(part)) {
    return "Docker container " + std::string(part.substr(0, 12));
  }
  if (parent == "lxc") return "LXC container " + std::string(part);
  if (IsContainerId(part)) return "container " + std::string(part.substr(0, 12));
  return {};
}

// The checker's own user, as the system checks its access to files.
ProcessUser OwnUser() {
  ProcessUser user;
  user.Uid = static_cast<std::uint32_t>(::geteuid());
  user.Gid = static_cast<std::uint32_t>(::getegid());
  const int count = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
  const int got = groups.empty() ? 0 : ::getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) user.Groups.push_back(static_cast<std::uint32_t>(groups[i]));
  std::sort(user.Groups.begin(), user.Groups.end());
  return user;
}

std::string Failed(const char* step) {
  return std::string(step) + ": " + std::strerror(errno);
}

// Makes the calling thread see the files as the server does: the process's root folder and its
// mounts for the thread's own, and the process's user for every access. Each call changes this
// thread alone: unshare(CLONE_FS) gives it a root and a current folder of its own, and the
// system calls for the file-system ids and the groups are made directly, since the C library's
// setgroups would change every thread of the process. Empty when it worked, else the step that
// failed, in the system's words.
std::string TakeTheServersView(const ServerPlace& place, bool changeUser) {
  if (!place.Root.empty()) {
    if (::unshare(CLONE_FS) != 0) return Failed("unshare");
    if (::chroot(place.Root.c_str()) != 0) {
      return errno == ENOENT || errno == ESRCH ? std::string(kServerEnded) : Failed("chroot");
    }
    if (::chdir("/") != 0) return Failed("chdir");
  }
  if (!changeUser) return {};
  const ProcessUser& user = *place.User;
  const std::vector<gid_t> groups(user.Groups.begin(), user.Groups.end());
  if (::syscall(SYS_setgroups, groups.size(), groups.data()) != 0) return Failed("setgroups");
  // setfsgid and setfsuid answer with the id in force before; -1 changes nothing and so tells
  // whether the change took.
  ::syscall(SYS_setfsgid, static_cast<gid_t>(user.Gid));
  if (static_cast<std::uint32_t>(::syscall(SYS_setfsgid, static_cast<gid_t>(-1))) != user.Gid) {
    return "setfsgid: " + std::string(std::strerror(EPERM));
  }
  ::syscall(SYS_setfsuid, static_cast<uid_t>(user.Uid));
  if (static_cast<std::uint32_t>(::syscall(SYS_setfsuid, static_cast<uid_t>(-1))) != user.Uid) {
    return "setfsuid: " + std::string(std::strerror(EPERM));
  }
  return {};
}

}  // namespace

std::vector<std::string> ProcessArguments(std::string_view cmdline) {
  while (cmdline.ends_with('\0')) cmdline.remove_suffix(1);
  std::vector<std::string> arguments;
  if (cmdline.empty()) return arguments;
  for (std::size_t start = 0;;) {
    const std::size_t end = cmdline.find('\0', start);
    arguments.emplace_back(
        cmdline.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return arguments;
}

bool IsWineLoader(std::string_view fileName) {
  for (const std::string_view loader : {"wine", "wine64", "wine-preloader", "wine64-preloader"}) {
    if (fileName == loader) return true;
  }
  return false;
}

std::optional<std::string> ResolveInRoot(const std::string& root, std::string_view path,
                                         bool anyCase) {
  std::vector<std::string> done;
  const std::vector<std::string> parts = PartsOf(path);
  std::deque<std::string> left(parts.begin(), parts.end());
  int links = 0;
  while (!left.empty()) {
    std::string part = std::move(left.front());
    left.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      // Never above the root, as for the process itself.
      if (!done.empty()) done.pop_back();
      continue;
    }
    const std::string folder = root + Joined(done);
    std::string path = folder + "/" + part;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
      const std::optional<std::string> found =
          anyCase ? NameInAnyCase(folder.empty() ? "/" : folder, part) : std::nullopt;
      if (!found) return std::nullopt;
      part = *found;
      path = folder + "/" + part;
      if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
    }
    if (!S_ISLNK(status.st_mode)) {
      done.push_back(std::move(part));
      continue;
    }
    int error = 0;
    const std::optional<std::string> target = ReadLink(path, error);
    if (!target || ++links > kMaxLinks) return std::nullopt;
    if (target->starts_with('/')) done.clear();
    const std::vector<std::string> targetParts = PartsOf(*target);
    left.insert(left.begin(), targetParts.begin(), targetParts.end());
  }
  return done.empty() ? std::string("/") : Joined(done);
}

std::string ContainerOf(std::string_view cgroup) {
  // Each line is id:controllers:path; the deepest part that names a container counts.
  for (std::size_t start = 0; start < cgroup.size();) {
    std::size_t end = cgroup.find('\n', start);
    if (end == std::string_view::npos) end = cgroup.size();
    const std::string_view line = cgroup.substr(start, end - start);
    start = end + 1;
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::vector<std::string> parts = PartsOf(line.substr(second + 1));
    for (std::size_t i = parts.size(); i-- > 0;) {
      std::string container = ContainerOfPart(parts[i], i > 0 ? parts[i - 1] : "");
      if (!container.empty()) return container;
    }
  }
  return {};
}

ProcessLook LookAtProcess(const std::string& procDir, std::uint32_t id,
                          const std::string& ownMounts) {
  ProcessLook look;
  look.Process.Id = id;
  int error = 0;
  const std::optional<std::string> executable = ReadLink(procDir + "/exe", error);
  if (!executable) {
    if (!IsRefusal(error)) return look;  // ended meanwhile, or a kernel thread
    // Another user's process: its first argument still names its program, under Wine as well.
    const std::vector<std::string> arguments =
        ProcessArguments(ReadSmallFile(procDir + "/cmdline").Bytes);
    if (!arguments.empty() && IsServerProgram(FileNameOf(arguments[0]))) {
      look.Server = true;
      look.Process.Refused = std::strerror(error);
    }
    return look;
  }
  // An executable replaced on disk while it runs (a server updated) reads "<path> (deleted)"; its
  // folder is still the one it runs from.
  std::string_view program = FileNameOf(*executable);
  if (program.ends_with(" (deleted)")) program.remove_suffix(10);
  const bool wine = IsWineLoader(program);
  if (!wine && !IsServerProgram(program)) return look;
  // Wine runs other Windows programs too (its own services among them).
  std::vector<std::string> arguments;
  if (wine) {
    arguments = ProcessArguments(ReadSmallFile(procDir + "/cmdline").Bytes);
    if (arguments.empty() || !IsServerProgram(FileNameOf(arguments[0]))) return look;
  }

  // The process's root folder, when it is another than the checker's (a container's), or when the
  // process sees other mounts below the same root: through /proc/<id>/root the checker reaches the
  // files the process sees, in its mounts.
  std::string root;
  const std::optional<platform::FileIdentity> rootIdentity =
      platform::PathIdentity(procDir + "/root");
  if (!rootIdentity) return look;
  const std::string rootLink = ReadLink(procDir + "/root", error).value_or("/");
  ServerPlace& place = look.Process.Place;
  const bool otherRoot = rootIdentity != platform::PathIdentity("/");
  const std::string mounts = ReadLink(procDir + "/ns/mnt", error).value_or("");
  const bool otherMounts = !ownMounts.empty() && !mounts.empty() && mounts != ownMounts;
  if (otherRoot || otherMounts) {
    root = procDir + "/root";
    place.Root = root;
    place.OwnMounts = !otherRoot;
    place.Container = ContainerOf(ReadSmallFile(procDir + "/cgroup").Bytes);
  }
  place.User = ProcessUserOf(ReadSmallFile(procDir + "/status").Bytes);
  if (!wine) {
    // Linux's own server, which only the development build knows.
    look.Server = true;
    const std::string inside = Inside(*executable, rootLink);
    look.Process.Executable = root + inside;
    if (!root.empty()) place.PathInside = inside;
    return look;
  }
  const std::optional<WineProgram> found = FindWineProgram(procDir, root, rootLink, arguments[0]);
  // A program the checker cannot find through the process's prefix is taken for none: the
  // checker could tell neither which install it is, nor read its files.
  if (!found) return look;
  look.Server = true;
  look.Process.Executable = root + found->Inside;
  if (!root.empty()) place.PathInside = found->Inside;
  place.WindowsPath = found->Windows;
  place.WinePrefix = found->Prefix;
  place.Proton = found->Proton;
  return look;
}

std::optional<ProcessUser> ProcessUserOf(std::string_view status) {
  const std::optional<std::vector<std::uint32_t>> uids = StatusNumbers(status, "Uid:");
  const std::optional<std::vector<std::uint32_t>> gids = StatusNumbers(status, "Gid:");
  if (!uids || !gids || uids->size() < 4 || gids->size() < 4) return std::nullopt;
  ProcessUser user;
  user.Uid = (*uids)[3];
  user.Gid = (*gids)[3];
  user.Groups = StatusNumbers(status, "Groups:").value_or(std::vector<std::uint32_t>());
  std::sort(user.Groups.begin(), user.Groups.end());
  return user;
}

std::string OwnMountsIn(const std::string& procRoot) {
  int error = 0;
  return ReadLink(procRoot + "/self/ns/mnt", error).value_or("");
}

std::vector<ServerProcess> ListServerProcessesIn(const std::string& procRoot, std::uint32_t self) {
  std::vector<ServerProcess> found;
  const std::string ownMounts = OwnMountsIn(procRoot);
  DIR* listing = ::opendir(procRoot.c_str());
  if (listing == nullptr) return found;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.empty() || name.size() > 9 ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const auto id = static_cast<std::uint32_t>(std::stoul(std::string(name)));
    if (id == self) continue;
    ProcessLook look = LookAtProcess(procRoot + "/" + std::string(name), id, ownMounts);
    if (look.Server) found.push_back(std::move(look.Process));
  }
  ::closedir(listing);
  std::sort(found.begin(), found.end(),
            [](const ServerProcess& a, const ServerProcess& b) { return a.Id < b.Id; });
  return found;
}

CommandLineRead CommandLineIn(const std::string& procRoot, std::uint32_t id) {
  const std::string procDir = procRoot + "/" + std::to_string(id);
  const SmallFile arguments = ReadSmallFile(procDir + "/cmdline");
  CommandLineRead read;
  if (arguments.Error != 0) {
    read.Refused = IsRefusal(arguments.Error);
    read.Error = arguments.Error == ENOENT || arguments.Error == ESRCH
                     ? std::string("the process has ended")
                     : std::strerror(arguments.Error);
    return read;
  }
  // A process that has ended but not yet been waited for shows no arguments at all.
  if (arguments.Bytes.empty()) {
    read.Error = "the process has ended";
    return read;
  }
  const ProcessLook look = LookAtProcess(procDir, id, OwnMountsIn(procRoot));
  const std::string& program = look.Process.Place.WindowsPath;
  if (program.empty()) {
    read.Text = JoinProcessArguments(arguments.Bytes);
    return read;
  }
  // Wine writes the program's path in quotes whatever it holds, then joins the arguments.
  std::string rest;
  const std::vector<std::string> split = ProcessArguments(arguments.Bytes);
  for (std::size_t i = 1; i < split.size(); ++i) rest += split[i] + '\0';
  read.Text = "\"" + program + "\"";
  if (!rest.empty()) read.Text->append(" ").append(JoinProcessArguments(rest));
  return read;
}

std::vector<ServerProcess> ListServerProcesses() {
  return ListServerProcessesIn("/proc", static_cast<std::uint32_t>(::getpid()));
}

CommandLineRead ReadProcessCommandLine(std::uint32_t id) {
  return CommandLineIn("/proc", id);
}

bool RunAsServerSees(const ServerPlace& place, const std::function<void()>& work,
                     std::string& error) {
  const ProcessUser own = OwnUser();
  // Without root's powers the checker reads as itself: the server it sees as its own is its own
  // user's, whose groups may differ a little from its login's.
  const bool changeUser =
      place.User && !(*place.User == own) && (own.Uid == 0 || place.User->Uid != own.Uid);
  if (place.Root.empty() && !changeUser) {
    work();
    return true;
  }
  std::exception_ptr failure;
  std::string refused;
  // The thread ends with the view it took; the checker's other threads never see it.
  std::thread reader([&] {
    try {
      refused = TakeTheServersView(place, changeUser);
      if (refused.empty()) work();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  reader.join();
  if (failure) std::rethrow_exception(failure);
  error = refused;
  return refused.empty();
}

std::optional<FolderInside> FolderInsideAServer(const std::string& path,
                                                const std::vector<ServerProcess>& running) {
  if (!path.starts_with('/')) return std::nullopt;
  std::optional<FolderInside> found;
  for (const ServerProcess& process : running) {
    const std::string& root = process.Place.Root;
    if (!process.Refused.empty() || root.empty()) continue;
    const std::optional<std::string> inside = ResolveInRoot(root, path);
    struct stat status {};
    if (!inside || ::lstat((root + *inside).c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
      continue;
    }
    const std::string reached = root + *inside;
    // Servers of one container see the same folder; servers of two see two, and neither is taken.
    if (found && platform::PathIdentity(found->Path) != platform::PathIdentity(reached)) {
      return std::nullopt;
    }
    if (!found) found = FolderInside{reached, process.Id};
  }
  return found;
}

bool ProcHidesProcesses(std::string_view mountinfo) {
  // Each line: id parent major:minor root mount-point options [optional fields] - type source
  // super-options.
  for (std::size_t start = 0; start < mountinfo.size();) {
    std::size_t end = mountinfo.find('\n', start);
    if (end == std::string_view::npos) end = mountinfo.size();
    const std::string_view line = mountinfo.substr(start, end - start);
    start = end + 1;
    std::vector<std::string_view> fields;
    for (std::size_t at = 0; at < line.size();) {
      const std::size_t blank = std::min(line.find(' ', at), line.size());
      fields.push_back(line.substr(at, blank - at));
      at = blank + 1;
    }
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || fields[4] != "/proc" || fields.end() - dash < 4 || dash[1] != "proc") {
      continue;
    }
    for (std::string_view options = dash[3]; !options.empty();) {
      const std::size_t comma = std::min(options.find(','), options.size());
      const std::string_view option = options.substr(0, comma);
      options.remove_prefix(std::min(comma + 1, options.size()));
      if (option.starts_with("hidepid=") && option != "hidepid=0" && option != "hidepid=off") {
        return true;
      }
    }
  }
  return false;
}

bool OthersProcessesHidden() {
  // A process with root's powers sees every process whatever the mount says.
  return ::geteuid() != 0 && ProcHidesProcesses(ReadSmallFile("/proc/self/mountinfo").Bytes);
}

bool RunsUnderWine() {
  return false;
}

}  // namespace vesperline::check
