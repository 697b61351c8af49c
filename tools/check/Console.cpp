#include "tools/check/Console.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "tools/check/text/Paths.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>

#include "common/Text.h"
#endif

namespace vesperline::check {

#if defined(_WIN32)

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    arguments.push_back(WideToUtf8(wide[i], wcslen(wide[i])));
  }
  LocalFree(wide);
  return arguments;
}

void WriteOut(const std::string& text) {
  // A console shows the bytes in its output code page; UTF-8 then shows every character.
  SetConsoleOutputCP(CP_UTF8);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string ProgramFolder() {
  // The path may be longer than MAX_PATH; the buffer grows until the whole path fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768 * 2) return {};
    path.resize(path.size() * 2);
  }
  // The extended-length prefix is not part of the path an admin would recognise.
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    path = L"\\\\" + path.substr(8);
  } else if (path.rfind(L"\\\\?\\", 0) == 0) {
    path.erase(0, 4);
  }
  return Utf8FromPath(std::filesystem::path(path).parent_path());
}

bool InAConsoleOfItsOwn() {
  // Wine runs the checker in the terminal of the shell that started it, which no Windows program
  // shares, so the count below would be 1 there too.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) return false;
  DWORD ids[2];
  if (GetConsoleProcessList(ids, 2) != 1) return false;
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 &&
         GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void WaitForEnter() {
  WriteOut("\nPress Enter to close this window.");
  for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
  }
}

#else

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void WriteOut(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return Utf8FromPath(program.parent_path());
}

bool InAConsoleOfItsOwn() {
  // A terminal outlives the programs run in it.
  return false;
}

void WaitForEnter() {}

#endif

}  // namespace vesperline::check
