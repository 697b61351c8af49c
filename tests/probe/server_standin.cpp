// A stand-in for a running game server, which the checker's tests start from a server's folder
// with a command line of their choosing so that the checker finds it and reads that command line.
// It does nothing but wait to be ended. Its command line carries nothing for it; the file named by
// the environment variable VESPERLINE_STANDIN_READY is made once it runs, so that the test knows
// its command line is in place, and holds the command line the system gives it on Windows (under
// Wine, the one the plugin reads in a server). It ends by itself after five minutes should the
// test not end it. With VESPERLINE_STANDIN_OTHER_ACCOUNT set, it stands for a server running
// under another account: on Linux it makes itself undumpable, so that the system refuses to show
// where its executable lies to a process without the power to trace others, as it refuses one of
// another user. With VESPERLINE_STANDIN_ROOT set (Linux), it stands for a server in a container:
// it makes that folder its root, and its ready file then says whether the system let it.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace {

// What the ready file holds.
std::string ReadyText() {
#if defined(_WIN32)
  const wchar_t* line = GetCommandLineW();
  const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), size, nullptr, nullptr);
  text.resize(text.size() - 1);
  return text;
#else
  return "ready";
#endif
}

}  // namespace

int main() {
  const char* ready = std::getenv("VESPERLINE_STANDIN_READY");
  std::string text = ReadyText();
#if !defined(_WIN32)
  if (std::getenv("VESPERLINE_STANDIN_OTHER_ACCOUNT") != nullptr) prctl(PR_SET_DUMPABLE, 0);
  if (const char* root = std::getenv("VESPERLINE_STANDIN_ROOT")) {
    // The ready file's folder is reached through a handle taken before the root changes.
    const std::filesystem::path readyPath = ready != nullptr ? ready : "";
    const int folder = ::open(readyPath.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool changed = ::chroot(root) == 0 && ::chdir("/") == 0;
    if (!changed) text = "no chroot";
    if (folder >= 0) {
      const int file =
          ::openat(folder, "ready.part", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (file >= 0 && ::write(file, text.data(), text.size()) >= 0) ::close(file);
      ::renameat(folder, "ready.part", folder, readyPath.filename().c_str());
    }
    std::this_thread::sleep_for(std::chrono::minutes(5));
    return 0;
  }
#endif
  if (ready != nullptr) {
    // Written whole before it takes its name, so that whoever sees the file reads all of it.
    const std::filesystem::path path = ready;
    const std::filesystem::path part = path.string() + ".part";
    std::ofstream(part, std::ios::binary) << text;
    std::error_code error;
    std::filesystem::rename(part, path, error);
  }
  std::this_thread::sleep_for(std::chrono::minutes(5));
  return 0;
}
