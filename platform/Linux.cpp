#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <iterator>

#include "platform/Platform.h"

namespace vesperline::platform {

namespace {
// Any address inside this module identifies it to dladdr.
void ModuleAnchor() {}
}  // namespace

std::string ProcessCommandLine() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The arguments are separated (and ended) by NUL bytes; rebuild the single line a Windows
  // process would see, quoting the executable path when it holds a space.
  std::string line;
  std::size_t start = 0;
  bool first = true;
  while (start < raw.size()) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    const std::string_view argument(raw.data() + start, end - start);
    if (!first) line.push_back(' ');
    if (first && argument.find(' ') != std::string_view::npos) {
      line.push_back('"');
      line.append(argument);
      line.push_back('"');
    } else {
      line.append(argument);
    }
    first = false;
    start = end + 1;
  }
  return line;
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
    : handle_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
  // A directory opens for reading here but not on Windows; it is no file to read on either.
  struct stat status {};
  if (handle_ >= 0 &&
      (::fstat(static_cast<int>(handle_), &status) != 0 || S_ISDIR(status.st_mode))) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::uint64_t InputFile::SizeHint() const {
  struct stat status {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &status) != 0) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

bool InputFile::IsOpen() const {
  return handle_ >= 0;
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
