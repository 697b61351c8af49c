#include "tools/check/text/Files.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "common/Text.h"
#include "discovery/ConfigFile.h"
#include "discovery/Discovery.h"
#include "platform/Platform.h"
#include "tools/check/text/Paths.h"

namespace vesperline::check {

namespace fs = std::filesystem;

namespace {

thread_local FileReader currentReader;

// The name a file of the system's user or group database (name:password:id:...) gives the id;
// empty when it gives none. The file is read as a plain file, never through the C library's
// name services, which could load code from the system the thread sees (a container's).
std::string NameInDatabase(const std::string& file, std::uint32_t id) {
  constexpr std::uint64_t kMaxBytes = 4 << 20;
  platform::InputFile input(file);
  const std::optional<std::string> bytes = ReadFileBytes(input, kMaxBytes);
  if (!bytes) return {};
  const std::string wanted = std::to_string(id);
  for (std::size_t start = 0; start < bytes->size();) {
    std::size_t end = bytes->find('\n', start);
    if (end == std::string::npos) end = bytes->size();
    const std::string_view line(bytes->data() + start, end - start);
    start = end + 1;
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    const std::size_t third =
        second == std::string_view::npos ? second : line.find(':', second + 1);
    if (third == std::string_view::npos) continue;
    if (line.substr(second + 1, third - second - 1) == wanted) {
      return std::string(line.substr(0, first));
    }
  }
  return {};
}

bool IsOwnStream(const std::string& target) {
  constexpr std::string_view kPrefixes[] = {"/dev/stdout",    "/dev/stderr",
                                            "/dev/stdin",     "/dev/fd/",
                                            "/proc/self/fd/", "/proc/thread-self/fd/"};
  for (const std::string_view prefix : kPrefixes) {
    if (target.starts_with(prefix)) return true;
  }
  // The controlling terminal of whichever program opens it.
  return target == "/dev/tty";
}

}  // namespace

std::optional<Link> LinkAt(const std::string& path) {
  std::error_code error;
  fs::path at = PathFromUtf8(path);
  if (!fs::is_symlink(at, error)) return std::nullopt;
  Link link;
  for (int step = 0; step < 8 && fs::is_symlink(at, error); ++step) {
    const fs::path target = fs::read_symlink(at, error);
    if (error) break;
    const std::string text = Utf8FromPath(target);
    if (step == 0) link.Target = text;
    if (IsOwnStream(text)) {
      link.ToOwnStream = true;
      break;
    }
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  return link;
}

const FileReader& Reader() {
  return currentReader;
}

ReadingFor::ReadingFor(FileReader reader)
    : before_(std::exchange(currentReader, std::move(reader))) {}

ReadingFor::~ReadingFor() {
  currentReader = std::move(before_);
}

std::string AsFound(const std::string& path) {
  if (!Reader().AnyCase || path.empty()) return path;
  const bool separatorAtEnd = path.back() == '/' || path.back() == platform::kPathSeparator;
  const fs::path normal = PathFromUtf8(path).lexically_normal();
  fs::path found = normal.root_path();
  bool lost = false;  // a name was found in no case: the rest stays as written
  for (const fs::path& part : normal.relative_path()) {
    if (part.empty()) continue;
    fs::path next = found / part;
    std::error_code error;
    if (!lost && !fs::exists(fs::symlink_status(next, error))) {
      const std::string wanted = LowerAscii(Utf8FromPath(part));
      std::optional<std::string> other;
      for (fs::directory_iterator entry(found.empty() ? fs::path(".") : found, error), end;
           !error && entry != end; entry.increment(error)) {
        const std::string name = Utf8FromPath(entry->path().filename());
        if (LowerAscii(name) == wanted && (!other || name < *other)) other = name;
      }
      if (other) {
        next = found / PathFromUtf8(*other);
      } else {
        lost = true;
      }
    }
    found = std::move(next);
  }
  std::string text = Utf8FromPath(found);
  if (separatorAtEnd && !text.empty() && text.back() != '/' &&
      text.back() != platform::kPathSeparator) {
    text += platform::kPathSeparator;
  }
  return text;
}

std::string ConfigFileFound(const std::string& pluginDir) {
  return AsFound(ConfigFilePath(pluginDir));
}

std::string SettingsFileFound(const std::string& pluginDir) {
  return AsFound(SettingsFilePath(pluginDir));
}

std::string ServerLogFound(const std::string& pluginDir) {
  return AsFound(ServerLogPath(pluginDir));
}

std::string UserName(std::uint32_t uid) {
  return NameInDatabase("/etc/passwd", uid);
}

std::string GroupName(std::uint32_t gid) {
  return NameInDatabase("/etc/group", gid);
}

#if defined(_WIN32)
std::optional<Refusal> RefusalOn(const std::string&) {
  // Windows' access lists say more than an owner and a mode; its own words are reported.
  return std::nullopt;
}

std::string RefusedMessage() {
  constexpr std::uint32_t kAccessDenied = 5;
  return platform::SystemMessage(kAccessDenied);
}

bool AccessRefused(const FileRead& read) {
  return read.Failure == platform::OpenFailure::Other && !read.FailureMessage.empty() &&
         read.FailureMessage == RefusedMessage();
}
#else
std::optional<Refusal> RefusalOn(const std::string& path) {
  const auto refusal = [](const std::string& at, bool folder) -> std::optional<Refusal> {
    struct stat status {};
    if (::stat(at.c_str(), &status) != 0) return std::nullopt;
    return Refusal{at, folder, static_cast<std::uint32_t>(status.st_uid),
                   static_cast<std::uint32_t>(status.st_gid),
                   static_cast<std::uint32_t>(status.st_mode & 0777)};
  };
  // Each folder on the way as the path names it, ".." included, as the system walks it: the first
  // whose names the user may not look up is the one it may not enter.
  std::string reached = path.starts_with('/') ? "/" : ".";
  for (std::size_t start = 0; start < path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view part(path.data() + start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    std::string next = reached;
    if (!next.ends_with('/')) next += '/';
    next += part;
    struct stat status {};
    if (::stat(next.c_str(), &status) != 0) {
      return errno == EACCES ? refusal(reached, true) : std::nullopt;
    }
    reached = std::move(next);
  }
  struct stat status {};
  if (::stat(reached.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  const int handle = ::open(reached.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (handle >= 0) {
    ::close(handle);
    return std::nullopt;
  }
  return errno == EACCES ? refusal(reached, false) : std::nullopt;
}

std::string RefusedMessage() {
  return std::strerror(EACCES);
}

bool AccessRefused(const FileRead& read) {
  return read.Failure == platform::OpenFailure::Other && read.FailureMessage == RefusedMessage();
}
#endif

std::optional<DeadLink> DeadLinkAt(const std::string& path) {
  const std::optional<Link> link = LinkAt(path);
  if (!link || link->ToOwnStream) return std::nullopt;
  std::error_code error;
  const bool there = fs::exists(PathFromUtf8(path), error);
  // A refusal on the way says nothing of where the link leads.
  if (there || error == std::errc::permission_denied) return std::nullopt;
  DeadLink dead{link->Target, DeadEnd::Nowhere};
  const FileReader& reader = Reader();
  if (reader.Root.empty() || reader.OwnMounts) return dead;
  const fs::path target = PathFromUtf8(link->Target);
  if (target.has_root_directory()) {
    dead.End = DeadEnd::FromTheRoot;
    return dead;
  }
  // How deep the link's folder lies below the root, and whether the target's ".." climb higher.
  const fs::path folder = fs::canonical(PathFromUtf8(path).parent_path(), error);
  if (error) return dead;
  int depth = 0;
  for (const fs::path& part : folder.relative_path()) depth += part.empty() ? 0 : 1;
  for (const fs::path& part : target) {
    if (part == "..") {
      if (--depth < 0) {
        dead.End = DeadEnd::AboveTheRoot;
        return dead;
      }
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
  }
  return dead;
}

bool HeldOpen(const FileRead& read) {
#if defined(_WIN32)
  // ERROR_SHARING_VIOLATION. The platform gives only the system's words for a refused open, and
  // those differ with the system's language, so they are compared with the words for this error.
  constexpr std::uint32_t kSharingViolation = 32;
  return read.Failure == platform::OpenFailure::Other && !read.FailureMessage.empty() &&
         read.FailureMessage == platform::SystemMessage(kSharingViolation);
#else
  (void)read;
  return false;
#endif
}

std::string Utf16WithoutMarkWarning(std::string_view role, std::string_view lost) {
  // The plugin reads UTF-16 only behind its mark; without one, every character of a key has a
  // zero byte beside it, and no key matches.
  return std::string(role) +
         " looks like UTF-16 saved without a byte-order mark (every other byte is zero): the "
         "plugin reads such a file byte for byte, finds none of its keys and takes " +
         std::string(lost) + ". Save it as UTF-8 (in Notepad: File, Save As, Encoding UTF-8).";
}

std::string FileState(const FileRead& read) {
  if (read.TooLarge) {
    return "found, but " + std::to_string(*read.TooLarge) +
           " bytes long, more than the plugin reads (" + std::to_string(kMaxConfigFileBytes) +
           " bytes)";
  }
  if (read.Opened) {
    if (read.Encoding == TextEncoding::Utf16Be) {
      return "found, but saved as UTF-16BE, which the plugin does not read";
    }
    return "found, read as " + std::string(TextEncodingName(read.Encoding));
  }
  if (HeldOpen(read)) return "held open by another program, which lets no other program read it";
  switch (read.Failure) {
    case platform::OpenFailure::Directory:
      return "a directory, not a file";
    case platform::OpenFailure::Device:
      return "a device, not a file";
    case platform::OpenFailure::Pipe:
      return "a pipe or FIFO, not a file";
    case platform::OpenFailure::Other:
      return read.FailureMessage.empty() ? "not a file the plugin can read"
                                         : "cannot be read: " + read.FailureMessage;
    case platform::OpenFailure::None:
    case platform::OpenFailure::Missing:
      break;
  }
  return "not found";
}

bool IsOwnStreamLink(const std::string& path) {
  const std::optional<Link> link = LinkAt(path);
  return link && link->ToOwnStream;
}

// Built by appending: g++ 12 at -O3 warns falsely of overlapping
// copies in a literal added to a temporary string.
}  // namespace vesperline::check
