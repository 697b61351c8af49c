// A small Windows program the platform tests start with a command line of their choosing. It
// reports the command line the platform layer sees, or plays a program that keeps a file open for
// writing. Its own command line carries nothing for it, so that a test can choose every character
// of it; it is steered by environment variables instead:
//
//   VESPERLINE_PROBE_OUT    file to write the command line to, as UTF-8
//   VESPERLINE_PROBE_HOLD   file to create and keep open for writing the way a log writer does:
//                           "first\n" is written, "<file>.ready" is created, and once
//                           "<file>.release" exists "second\n" is written and the file is closed
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <string>

#include "platform/Platform.h"

namespace {

std::wstring Variable(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  const DWORD length =
      GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  value.resize(length < value.size() ? length : 0);
  return value;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool Touch(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

int Report(const std::wstring& out) {
  const HANDLE file = CreateFileW(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  const bool ok = WriteAll(file, vesperline::platform::ProcessCommandLine());
  CloseHandle(file);
  return ok ? 0 : 5;
}

int Hold(const std::wstring& path) {
  // A log writer lets others read the file while it writes, and nothing more.
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 6;
  int status = WriteAll(file, "first\n") && Touch(path + L".ready") ? 0 : 7;
  // Bounded, so that a test that fails before releasing the file cannot leave the probe behind.
  for (int waited = 0; status == 0; waited += 10) {
    if (GetFileAttributesW((path + L".release").c_str()) != INVALID_FILE_ATTRIBUTES) break;
    if (waited >= 60000) status = 8;
    Sleep(10);
  }
  if (status == 0 && !WriteAll(file, "second\n")) status = 9;
  CloseHandle(file);
  return status;
}

}  // namespace

int main() {
  const std::wstring hold = Variable(L"VESPERLINE_PROBE_HOLD");
  if (!hold.empty()) return Hold(hold);
  const std::wstring out = Variable(L"VESPERLINE_PROBE_OUT");
  if (!out.empty()) return Report(out);
  return 2;
}
