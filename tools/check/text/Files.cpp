#include "tools/check/text/Files.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "discovery/ConfigFile.h"
#include "platform/Platform.h"
#include "tools/check/text/Paths.h"

namespace vesperline::check {

namespace fs = std::filesystem;

namespace {

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
