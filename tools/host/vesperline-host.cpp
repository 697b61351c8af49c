// A small stand-in for the plugin host: loads the plugin file from a directory by name, runs its
// entry points and writes out every request the plugin made, one JSON object per line.
//
//   vesperline-host [LAUNCH ARGUMENTS... --host-options]
//                   --plugin-dir DIR [--run-ms N] [--out FILE] [--unloads N]
//                   [--post-result true|false] [--post-throw] [--post-delay-ms N]
//                   [--callback never|now|later] [--callback-delay-ms N]
//                   [--keep-callback-ms N] (negative: forever)
//
// Launch arguments before "--host-options" are not read: they stand right behind the executable
// path, where a game server's launch arguments stand, for the plugin to find.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "simhost/SimHost.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>
#else
#include <dlfcn.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using EntryPoint = void (*)();

struct Options {
  std::string pluginDir;
  std::string out;
  long runMs = 0;
  int unloads = 1;
  simhost::RequestBehaviour behaviour;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "vesperline-host: " << problem << "\n";
  std::exit(2);
}

Options Parse(const std::vector<std::string>& argv) {
  Options options;
  std::size_t first = 1;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] == "--host-options") first = i + 1;
  }
  for (std::size_t i = first; i < argv.size(); ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argv.size()) Usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--plugin-dir") {
      options.pluginDir = value();
    } else if (arg == "--out") {
      options.out = value();
    } else if (arg == "--run-ms") {
      options.runMs = std::stol(value());
    } else if (arg == "--unloads") {
      options.unloads = std::stoi(value());
    } else if (arg == "--post-result") {
      options.behaviour.result = value() == "true";
    } else if (arg == "--post-throw") {
      options.behaviour.throws = true;
    } else if (arg == "--post-delay-ms") {
      options.behaviour.postDelay = std::chrono::milliseconds(std::stol(value()));
    } else if (arg == "--callback") {
      const std::string mode = value();
      if (mode == "never") {
        options.behaviour.callback = simhost::CallbackMode::kNever;
      } else if (mode == "now") {
        options.behaviour.callback = simhost::CallbackMode::kImmediately;
      } else if (mode == "later") {
        options.behaviour.callback = simhost::CallbackMode::kLater;
      } else {
        Usage("unknown callback mode " + mode);
      }
    } else if (arg == "--callback-delay-ms") {
      options.behaviour.callbackDelay = std::chrono::milliseconds(std::stol(value()));
    } else if (arg == "--keep-callback-ms") {
      options.behaviour.keepCallback = std::chrono::milliseconds(std::stol(value()));
    } else {
      Usage("unknown option " + arg);
    }
  }
  if (options.pluginDir.empty()) Usage("--plugin-dir is required");
  return options;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

long Since(Clock::time_point start, Clock::time_point at) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(at - start).count());
}

#if defined(_WIN32)
std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(wide.size() - 1);
  return wide;
}

std::string Narrow(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
  text.resize(text.size() - 1);
  return text;
}

// The full path of the plugin file, in the extended form when it is too long for the plain one
// (which also takes no forward slashes, so the full path is made first).
std::wstring PluginPath(const std::string& dir) {
  const std::wstring path = Wide(dir + "\\Vesperline.dll");
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  if (full.size() < MAX_PATH || full.rfind(L"\\\\", 0) == 0) return full;
  return L"\\\\?\\" + full;
}
#endif

// The arguments as UTF-8. On Windows the C runtime gives them in the system's code page, which
// loses every character outside it, so they are taken from the wide command line instead.
std::vector<std::string> Arguments(int argc, char** argv) {
#if defined(_WIN32)
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; wide != nullptr && i < count; ++i) arguments.push_back(Narrow(wide[i]));
  LocalFree(wide);
  if (!arguments.empty()) return arguments;
#endif
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(Arguments(argc, argv));
  simhost::SetRequestBehaviour(options.behaviour);

#if defined(_WIN32)
  HMODULE module = LoadLibraryW(PluginPath(options.pluginDir).c_str());
  if (module == nullptr) {
    const DWORD error = GetLastError();
    std::cerr << "vesperline-host: cannot load the plugin (error " << error << ")\n";
    return 3;
  }
  auto init =
      reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, "Plugin_Init")));
  auto unload = reinterpret_cast<EntryPoint>(
      reinterpret_cast<void*>(GetProcAddress(module, "Plugin_Unload")));
#else
  const std::string path = options.pluginDir + "/Vesperline.so";
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::cerr << "vesperline-host: cannot load the plugin: " << dlerror() << "\n";
    return 3;
  }
  auto init = reinterpret_cast<EntryPoint>(dlsym(module, "Plugin_Init"));
  auto unload = reinterpret_cast<EntryPoint>(dlsym(module, "Plugin_Unload"));
#endif
  if (init == nullptr || unload == nullptr) {
    std::cerr << "vesperline-host: the plugin lacks Plugin_Init or Plugin_Unload\n";
    return 3;
  }

  const auto start = Clock::now();
  const auto hostThread = std::this_thread::get_id();
  init();
  const long initMs = Since(start, Clock::now());
  std::this_thread::sleep_for(std::chrono::milliseconds(options.runMs));
  std::ostringstream unloadTimes;
  for (int i = 0; i < options.unloads; ++i) {
    const auto before = Clock::now();
    unload();
    unloadTimes << (i == 0 ? "" : ",") << Since(before, Clock::now());
  }
  const long unloadedAtMs = Since(start, Clock::now());

  std::ostringstream report;
  for (const simhost::RecordedRequest& request : simhost::Requests()) {
    report << "{\"kind\":\"request\",\"url\":" << Quote(request.url)
           << ",\"content_type\":" << Quote(request.contentType) << ",\"headers\":[";
    for (std::size_t i = 0; i < request.headers.size(); ++i) {
      report << (i == 0 ? "" : ",") << Quote(request.headers[i]);
    }
    report << "],\"has_callback\":" << (request.hasCallback ? "true" : "false")
           << ",\"host_thread\":" << (request.thread == hostThread ? "true" : "false")
           << ",\"ms\":" << Since(start, request.at) << ",\"body\":" << Quote(request.body)
           << "}\n";
  }
  report << "{\"kind\":\"summary\",\"init_ms\":" << initMs << ",\"unload_ms\":["
         << unloadTimes.str() << "],\"unloaded_at_ms\":" << unloadedAtMs << "}\n";

  // The module is released only now, as the real host releases it after Plugin_Unload.
#if defined(_WIN32)
  FreeLibrary(module);
#else
  dlclose(module);
#endif

  if (options.out.empty()) {
    std::cout << report.str();
  } else {
    const std::u8string out(options.out.begin(), options.out.end());
    std::ofstream(std::filesystem::path(out), std::ios::binary) << report.str();
  }
  return 0;
}
