#include "tools/check/Console.h"

#include <cstdio>

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

#else

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void WriteOut(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

#endif

}  // namespace vesperline::check
