// The operating-system calls the plugin makes. One implementation file per system, chosen by the
// build: Linux.cpp and Windows.cpp define the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

#if defined(_WIN32)
// The system's description of a Windows error code, in UTF-8, without the line break it ends
// with; "error N" when the system has none.
std::string SystemMessage(std::uint32_t error);
#endif

// Why an InputFile is not open.
enum class OpenFailure {
  None,       // it is open
  Missing,    // nothing at the path, or a folder on the way is missing
  Directory,  // a directory
  Device,     // a device or character file (NUL, CON, /dev/zero)
  Pipe,       // a pipe or FIFO
  Other,      // anything else: the system refused, or the path names another kind of file
};

// What tells one file from another on the system, however it is named: the device (volume) that
// holds it and its number there. A file replaced by another under the same name has another
// identity; one rewritten in place keeps its own.
struct FileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file or folder at the UTF-8 path, symbolic links followed; nothing when
// nothing is there or the system cannot tell. Two paths name the same folder exactly when their
// identities are equal, whatever drive letter, mapped drive or link each goes through.
std::optional<FileIdentity> PathIdentity(const std::string& path);

// A regular file opened for reading in binary mode, shared so that other processes may go on
// writing, renaming or deleting it meanwhile. Closed when the object goes. Anything that is not a
// regular file on a disk (a FIFO, a pipe, a device) is not opened, as if it were missing: reading
// one could wait for ever, or never end.
class InputFile {
 public:
  // Opens the file at the UTF-8 path; IsOpen tells whether that worked, Failure why not.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const;

  // Why the file is not open (None when it is). For Other, FailureMessage gives the system's own
  // words (UTF-8) when the system refused the open, and is empty otherwise.
  OpenFailure Failure() const { return failure_; }
  const std::string& FailureMessage() const { return failureMessage_; }

  // The file's size now, or 0 when the system cannot tell; the file may still grow while it is
  // read, so this is a hint for the reader's buffer, not a limit.
  std::uint64_t SizeHint() const;

  // The open file's identity; nothing when it is not open or the system cannot tell.
  std::optional<FileIdentity> Identity() const;

  // Moves the read position to offset bytes from the file's start; false when that failed.
  bool Seek(std::uint64_t offset);

  // Reads up to size bytes into buffer; returns how many were read, 0 at the end or on an error.
  std::size_t Read(char* buffer, std::size_t size);

 private:
  void Refuse(OpenFailure failure, std::string message = {});

  std::intptr_t handle_;
  OpenFailure failure_ = OpenFailure::None;
  std::string failureMessage_;
};

}  // namespace vesperline::platform
