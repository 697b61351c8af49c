// The running servers on Linux (the development build): the processes are the numbered folders of
// /proc, each with the link exe to its executable and the file cmdline with its arguments.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#include "common/CommandLine.h"
#include "tools/check/ServerProcess.h"

namespace vesperline::check {

namespace fs = std::filesystem;

namespace {

// The whole of a /proc file, or the errno of the failure.
struct ProcFile {
  std::string Bytes;
  int Error = 0;
};

ProcFile ReadProcFile(const std::string& path) {
  ProcFile file;
  const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) {
    file.Error = errno;
    return file;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(handle, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) file.Error = errno;
    if (count <= 0) break;
    file.Bytes.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(handle);
  return file;
}

bool IsRefusal(int error) {
  return error == EACCES || error == EPERM;
}

// The file name at the end of a path written with either separator: a program started under
// Wine names itself by its Windows path.
std::string FileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

std::vector<ServerProcess> FindServerProcesses(const std::vector<fs::path>& folders) {
  std::vector<ServerProcess> found;
  const std::vector<std::optional<platform::FileIdentity>> identities = FolderIdentities(folders);
  if (std::none_of(identities.begin(), identities.end(),
                   [](const auto& identity) { return identity.has_value(); })) {
    return found;
  }
  const std::string self = std::to_string(getpid());
  std::error_code error;
  for (fs::directory_iterator entry("/proc", error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.empty() || name.size() > 9 || name == self ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const auto id = static_cast<std::uint32_t>(std::stoul(name));
    std::error_code linkError;
    const fs::path executable = fs::read_symlink(entry->path() / "exe", linkError);
    if (!linkError) {
      // An executable replaced on disk while it runs (a server updated) reads "<path> (deleted)";
      // its folder is still the one it runs from.
      std::string program = executable.filename().string();
      if (program.ends_with(" (deleted)")) program.resize(program.size() - 10);
      if (!IsServerProgram(program)) continue;
      if (const std::optional<std::size_t> folder =
              WhichFolder(executable.parent_path(), identities)) {
        found.push_back({id, *folder, {}});
      }
      continue;
    }
    if (!IsRefusal(linkError.value())) continue;  // ended meanwhile, or a kernel thread
    // Another user's process: its first argument still names its program.
    const ProcFile arguments = ReadProcFile(entry->path().string() + "/cmdline");
    if (IsServerProgram(FileNameOf(arguments.Bytes.c_str()))) {
      found.push_back({id, 0, linkError.message()});
    }
  }
  std::sort(found.begin(), found.end(),
            [](const ServerProcess& a, const ServerProcess& b) { return a.Id < b.Id; });
  return found;
}

CommandLineRead ReadProcessCommandLine(std::uint32_t id) {
  const ProcFile arguments = ReadProcFile("/proc/" + std::to_string(id) + "/cmdline");
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
  read.Text = JoinProcessArguments(arguments.Bytes);
  return read;
}

}  // namespace vesperline::check
