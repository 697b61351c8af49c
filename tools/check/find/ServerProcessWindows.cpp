// The running servers on Windows: the processes from a Toolhelp snapshot, each one's executable
// from QueryFullProcessImageNameW, and the command line through ntdll's
// NtQueryInformationProcess. Windows 8.1 and later tell the command line directly
// (ProcessCommandLineInformation) to a caller with the least rights to query a process; older
// systems and Wine do not, so it is then read where the process keeps it, in the parameters its
// environment block (PEB) points to, which needs the right to read the process's memory.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <vector>

#include "common/Text.h"
#include "platform/Platform.h"
#include "tools/check/find/ServerProcess.h"
#include "tools/check/text/Paths.h"

namespace vesperline::check {

namespace fs = std::filesystem;

namespace {

// The NTSTATUS values the lookup tells apart.
constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);
constexpr LONG kStatusInvalidInfoClass = static_cast<LONG>(0xC0000003);
constexpr LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);
constexpr LONG kStatusNotSupported = static_cast<LONG>(0xC00000BB);
constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessCommandLineInformation = 60;

using QueryInformationProcess = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using StatusToError = ULONG(NTAPI*)(LONG);

// ntdll's functions, looked up rather than linked: the import library of ntdll is not part of
// every toolchain's default set.
template <typename Function>
Function FromNtdll(const char* name) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  // Through void (*)(), which every function pointer converts to and from without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)));
}

// The system's words for an error, without the full stop they end with, since a report goes on
// after them.
std::string SystemMessage(DWORD error) {
  std::string message = platform::SystemMessage(error);
  while (message.ends_with('.')) message.pop_back();
  return message;
}

// A process handle, closed when the object goes.
class Process {
 public:
  Process(std::uint32_t id, DWORD access)
      : handle_(OpenProcess(access, FALSE, id)), error_(handle_ ? 0 : GetLastError()) {}
  ~Process() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  HANDLE Handle() const { return handle_; }
  DWORD Error() const { return error_; }

 private:
  HANDLE handle_;
  DWORD error_;
};

CommandLineRead Failure(DWORD error) {
  CommandLineRead read;
  read.Refused = error == ERROR_ACCESS_DENIED;
  // A process that has ended meanwhile has no id any more, so opening it fails as with a wrong
  // parameter.
  read.Error = error == ERROR_INVALID_PARAMETER ? "the process has ended" : SystemMessage(error);
  return read;
}

CommandLineRead StatusFailure(LONG status) {
  const auto toError = FromNtdll<StatusToError>("RtlNtStatusToDosError");
  return Failure(toError != nullptr ? static_cast<DWORD>(toError(status)) : ERROR_GEN_FAILURE);
}

// The full path of the process's executable, or nothing with the error in error.
std::optional<std::wstring> ImagePath(HANDLE process, DWORD& error) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(path.size());
    if (QueryFullProcessImageNameW(process, 0, path.data(), &size)) {
      path.resize(size);
      return path;
    }
    error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) return std::nullopt;
    path.resize(path.size() * 2);
  }
}

// The command line through ProcessCommandLineInformation; nothing, with status, when the system
// does not have it or it failed.
std::optional<std::string> QueryCommandLine(QueryInformationProcess query, HANDLE process,
                                            LONG& status) {
  // A UNICODE_STRING followed by its characters; ULONGLONG units keep it aligned.
  std::vector<ULONGLONG> buffer(512);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ULONG needed = 0;
    const auto size = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
    status = query(process, kProcessCommandLineInformation, buffer.data(), size, &needed);
    if (status == kStatusSuccess) {
      const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
      return WideToUtf8(text->Buffer, text->Length / sizeof(wchar_t));
    }
    if (status != kStatusInfoLengthMismatch && status != kStatusBufferTooSmall) break;
    buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed / sizeof(ULONGLONG) + 1));
  }
  return std::nullopt;
}

// Reads count bytes at address in the process into out; the error in error on a failure.
bool ReadMemory(HANDLE process, const void* address, void* out, std::size_t count, DWORD& error) {
  SIZE_T read = 0;
  if (ReadProcessMemory(process, address, out, count, &read) && read == count) return true;
  error = GetLastError();
  if (error == ERROR_SUCCESS) error = ERROR_PARTIAL_COPY;
  return false;
}

// The command line from the process's parameters, which its environment block points to.
CommandLineRead ParametersCommandLine(QueryInformationProcess query, std::uint32_t id) {
  const Process process(id, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
  if (process.Handle() == nullptr) return Failure(process.Error());
  PROCESS_BASIC_INFORMATION basic{};
  const LONG status =
      query(process.Handle(), kProcessBasicInformation, &basic, sizeof basic, nullptr);
  if (status != kStatusSuccess) return StatusFailure(status);
  DWORD error = 0;
  const char* peb = reinterpret_cast<const char*>(basic.PebBaseAddress);
  const char* parameters = nullptr;
  UNICODE_STRING line{};
  if (!ReadMemory(process.Handle(), peb + offsetof(PEB, ProcessParameters), &parameters,
                  sizeof parameters, error) ||
      !ReadMemory(process.Handle(), parameters + offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine),
                  &line, sizeof line, error)) {
    return Failure(error);
  }
  std::wstring text(line.Length / sizeof(wchar_t), L'\0');
  if (!text.empty() && !ReadMemory(process.Handle(), line.Buffer, text.data(),
                                   text.size() * sizeof(wchar_t), error)) {
    return Failure(error);
  }
  CommandLineRead read;
  read.Text = WideToUtf8(text.data(), text.size());
  return read;
}

}  // namespace

std::vector<ServerProcess> ListServerProcesses() {
  std::vector<ServerProcess> found;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    const DWORD id = entry.th32ProcessID;
    // The snapshot names each process's executable, which spares opening every other process.
    if (id == 0 || id == self ||
        !IsServerProgram(WideToUtf8(entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH)))) {
      continue;
    }
    const Process process(id, PROCESS_QUERY_LIMITED_INFORMATION);
    DWORD failure = process.Error();
    std::optional<std::wstring> image;
    if (process.Handle() != nullptr) image = ImagePath(process.Handle(), failure);
    if (image) {
      const fs::path executable(*image);
      if (IsServerProgram(Utf8FromPath(executable.filename()))) {
        ServerProcess server;
        server.Id = id;
        server.Executable = Utf8FromPath(executable);
        found.push_back(std::move(server));
      }
      continue;
    }
    // A server the system will not show, as one running as a service under another account: told
    // apart, so that the admin learns to look as administrator, but not taken.
    if (failure == ERROR_ACCESS_DENIED) {
      ServerProcess refused;
      refused.Id = id;
      refused.Refused = SystemMessage(failure);
      found.push_back(std::move(refused));
    }
  }
  CloseHandle(snapshot);
  std::sort(found.begin(), found.end(),
            [](const ServerProcess& a, const ServerProcess& b) { return a.Id < b.Id; });
  return found;
}

CommandLineRead ReadProcessCommandLine(std::uint32_t id) {
  const auto query = FromNtdll<QueryInformationProcess>("NtQueryInformationProcess");
  if (query == nullptr) return Failure(ERROR_PROC_NOT_FOUND);
  {
    const Process process(id, PROCESS_QUERY_LIMITED_INFORMATION);
    if (process.Handle() == nullptr) return Failure(process.Error());
    LONG status = kStatusSuccess;
    if (std::optional<std::string> line = QueryCommandLine(query, process.Handle(), status)) {
      CommandLineRead read;
      read.Text = std::move(line);
      return read;
    }
    if (status != kStatusInvalidInfoClass && status != kStatusNotImplemented &&
        status != kStatusNotSupported) {
      return StatusFailure(status);
    }
  }
  return ParametersCommandLine(query, id);
}

bool RunAsServerSees(const ServerPlace&, const std::function<void()>& work, std::string&) {
  // Windows shows every process the same files; a server of another account stays refused.
  work();
  return true;
}

std::optional<FolderInside> FolderInsideAServer(const std::string&,
                                                const std::vector<ServerProcess>&) {
  // Every process on Windows sees the same files.
  return std::nullopt;
}

bool OthersProcessesHidden() {
  return false;
}

bool RunsUnderWine() {
  // Wine's ntdll names its version; Windows' has no such function.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace vesperline::check
