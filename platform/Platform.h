// The operating-system calls the plugin makes. One implementation file per system, chosen by the
// build: Linux.cpp and Windows.cpp define the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vesperline::platform {

// The separator the system writes between directories of a path.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The process command line as UTF-8: the executable path first (in double quotes when it holds a
// space), then the arguments separated by spaces, as the process was started.
std::string ProcessCommandLine();

// The full path of the module file that holds the plugin's code, as UTF-8; empty when the system
// cannot tell. Works for paths of any length.
std::string PluginModulePath();

// Keeps the module that holds the plugin's code mapped until the process ends, whatever the host
// does with it afterwards; a later load of the same file gets this module back. True when the
// system did so.
bool PinPluginModule();

// Suspends the calling thread for about the given number of milliseconds.
void SleepMilliseconds(std::uint32_t milliseconds);

// A file opened for reading in binary mode, shared so that other processes may go on writing,
// renaming or deleting it meanwhile. Closed when the object goes.
class InputFile {
 public:
  // Opens the file at the UTF-8 path; IsOpen tells whether that worked.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const;

  // The file's size now, or 0 when the system cannot tell; the file may still grow while it is
  // read, so this is a hint for the reader's buffer, not a limit.
  std::uint64_t SizeHint() const;

  // Reads up to size bytes into buffer; returns how many were read, 0 at the end or on an error.
  std::size_t Read(char* buffer, std::size_t size);

 private:
  std::intptr_t handle_;
};

}  // namespace vesperline::platform
