#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <limits>
#include <utility>

#include "common/CommandLine.h"
#include "platform/Platform.h"

namespace vesperline::platform {

namespace {
// Any address inside this module identifies it to dladdr.
void ModuleAnchor() {}
}  // namespace

std::string ProcessCommandLine() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return JoinProcessArguments(raw);
}

std::string PluginModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleAnchor), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  return info.dli_fname;
}

bool PinPluginModule() {
  const std::string path = PluginModulePath();
  if (path.empty()) return false;
  // Opening the loaded module again with RTLD_NODELETE marks it never to be unmapped; the
  // reference this takes is not what keeps it, so it is given back at once.
  void* handle = dlopen(path.c_str(), RTLD_NOLOAD | RTLD_NODELETE | RTLD_NOW);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

InputFile::InputFile(const std::string& path)
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer; it is
    // then refused below. Reads of a regular file are not affected.
    : handle_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
  if (handle_ < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) {
      Refuse(OpenFailure::Missing);
    } else {
      Refuse(OpenFailure::Other, std::strerror(error));
    }
    return;
  }
  struct stat status {};
  if (::fstat(static_cast<int>(handle_), &status) != 0) {
    Refuse(OpenFailure::Other, std::strerror(errno));
  } else if (S_ISDIR(status.st_mode)) {
    Refuse(OpenFailure::Directory);
  } else if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
    Refuse(OpenFailure::Device);
  } else if (S_ISFIFO(status.st_mode)) {
    Refuse(OpenFailure::Pipe);
  } else if (!S_ISREG(status.st_mode)) {
    Refuse(OpenFailure::Other);
  } else {
    // A regular file is read as usual: some file systems would answer a non-blocking read of
    // one that is not ready with "try again", which the reader would take for its end.
    const int flags = ::fcntl(static_cast<int>(handle_), F_GETFL);
    if (flags >= 0) ::fcntl(static_cast<int>(handle_), F_SETFL, flags & ~O_NONBLOCK);
  }
}

void InputFile::Refuse(OpenFailure failure, std::string message) {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  failure_ = failure;
  failureMessage_ = std::move(message);
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::uint64_t InputFile::SizeHint() const {
  struct stat status {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &status) != 0) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

std::optional<FileIdentity> InputFile::Identity() const {
  struct stat status {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &status) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
}

std::optional<FileIdentity> PathIdentity(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
}

bool InputFile::IsOpen() const {
  return handle_ >= 0;
}

bool InputFile::Seek(std::uint64_t offset) {
  if (handle_ < 0 || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return false;
  }
  const off_t target = static_cast<off_t>(offset);
  return ::lseek(static_cast<int>(handle_), target, SEEK_SET) == target;
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  if (handle_ < 0) return 0;
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

}  // namespace vesperline::platform
