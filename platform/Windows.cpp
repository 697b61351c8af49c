#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline::platform {

namespace {

// Any address inside this module identifies it to the module lookup.
void ModuleAnchor() {}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// Paths of 260 characters or more open only in their extended form, which takes no relative parts,
// so such a path is made absolute first.
std::wstring OpenablePath(const std::string& path) {
  std::wstring wide = Utf8ToWide(path);
  if (wide.size() < MAX_PATH || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return wide;
  full.resize(written);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// What tells a file apart on Windows: the volume's serial number and the file's index there.
FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return FileIdentity{
      information.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

}  // namespace

std::string SystemMessage(std::uint32_t error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string message = length == 0 ? std::string() : WideToUtf8(text, length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  if (message.empty()) message = "error " + std::to_string(error);
  return message;
}

std::string ProcessCommandLine() {
  const wchar_t* line = GetCommandLineW();
  if (line == nullptr) return {};
  return WideToUtf8(line, wcslen(line));
}

std::string PluginModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModuleAnchor), &module)) {
    return {};
  }
  // The path may be longer than MAX_PATH; grow the buffer until the whole path fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::wstring_view path(buffer.data(), length);
      // The extended-length prefix is not part of the path an admin would recognise.
      if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        return "\\\\" + WideToUtf8(path.data() + 8, path.size() - 8);
      }
      if (path.rfind(L"\\\\?\\", 0) == 0) path.remove_prefix(4);
      return WideToUtf8(path.data(), path.size());
    }
    if (buffer.size() >= 32768 * 2) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool PinPluginModule() {
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&ModuleAnchor), &module) != 0;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

InputFile::InputFile(const std::string& path) : handle_(0) {
  const std::wstring openable = OpenablePath(path);
  handle_ = reinterpret_cast<std::intptr_t>(CreateFileW(
      openable.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!IsOpen()) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(openable.c_str());
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      Refuse(OpenFailure::Missing);
    } else if (attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // A directory does not open without backup semantics; the system says "access denied".
      Refuse(OpenFailure::Directory);
    } else {
      Refuse(OpenFailure::Other, SystemMessage(error));
    }
    return;
  }
  // Names such as NUL, CON or COM1 and \\.\pipe\ paths open devices and pipes, whose reads may
  // wait for ever or never end.
  switch (GetFileType(reinterpret_cast<HANDLE>(handle_))) {
    case FILE_TYPE_DISK:
      break;
    case FILE_TYPE_CHAR:
      Refuse(OpenFailure::Device);
      break;
    case FILE_TYPE_PIPE:
      Refuse(OpenFailure::Pipe);
      break;
    default:
      Refuse(OpenFailure::Other);
      break;
  }
}

void InputFile::Refuse(OpenFailure failure, std::string message) {
  if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
  failure_ = failure;
  failureMessage_ = std::move(message);
}

InputFile::~InputFile() {
  if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::uint64_t InputFile::SizeHint() const {
  LARGE_INTEGER size{};
  if (!IsOpen() || !GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<FileIdentity> InputFile::Identity() const {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!IsOpen() || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &information)) {
    return std::nullopt;
  }
  return IdentityOf(information);
}

std::optional<FileIdentity> PathIdentity(const std::string& path) {
  // Backup semantics open a folder as well as a file; reading attributes is all the query needs,
  // and it is granted where reading the contents is not.
  const HANDLE handle = CreateFileW(OpenablePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const BOOL known = GetFileInformationByHandle(handle, &information);
  CloseHandle(handle);
  if (!known) return std::nullopt;
  return IdentityOf(information);
}

bool InputFile::IsOpen() const {
  return reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE &&
         reinterpret_cast<HANDLE>(handle_) != nullptr;
}

bool InputFile::Seek(std::uint64_t offset) {
  if (!IsOpen() || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER target{};
  target.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), target, nullptr, FILE_BEGIN) != 0;
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  if (!IsOpen()) return 0;
  // ReadFile takes a 32-bit count.
  const DWORD wanted = static_cast<DWORD>(size > 0x40000000u ? 0x40000000u : size);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, wanted, &got, nullptr)) return 0;
  return got;
}

}  // namespace vesperline::platform
