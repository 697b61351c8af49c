// A small stand-in for the plugin host: loads the plugin file from a directory by name, runs its
// entry points and writes out every request the plugin made, one JSON object per line.
//
//   vesperline-host [LAUNCH ARGUMENTS... --host-options]
//                   --plugin-dir DIR [--run-ms N] [--out FILE] [--inits N] [--unloads N]
//                   [--no-unload] [--reload [--reload-rename FROM=TO]...] [--linger-ms N]
//                   [--post-result true|false] [--post-throw] [--post-throw-after-keeping]
//                   [--post-delay-ms N] [--callback never|now|later] [--callback-delay-ms N]
//                   [--keep-callback-ms N] (negative: forever)
//
// Launch arguments before "--host-options" are not read: they stand right behind the executable
// path, where a game server's launch arguments stand, for the plugin to find.
//
// It plays the hosts a plugin meets in the field: one that calls Plugin_Init more than once
// (--inits), one that ends the process without unloading the plugin (--no-unload), one that
// releases the plugin and loads it again after files changed (--reload, renaming files of the
// plugin's folder first), and one that lives on after releasing it while its requests still hold
// the plugin's callback (--linger-ms). An error that leaves Plugin_Unload is caught and reported.
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
  long lingerMs = 0;
  int inits = 1;
  int unloads = 1;
  bool noUnload = false;
  bool reload = false;
  // Renames in the plugin's folder before the reload, each a pair of paths relative to it.
  std::vector<std::pair<std::string, std::string>> reloadRenames;
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
    } else if (arg == "--linger-ms") {
      options.lingerMs = std::stol(value());
    } else if (arg == "--inits") {
      options.inits = std::stoi(value());
    } else if (arg == "--unloads") {
      options.unloads = std::stoi(value());
    } else if (arg == "--no-unload") {
      options.noUnload = true;
    } else if (arg == "--reload") {
      options.reload = true;
    } else if (arg == "--reload-rename") {
      const std::string pair = value();
      const std::size_t equals = pair.find('=');
      if (equals == std::string::npos) Usage("--reload-rename needs FROM=TO");
      options.reloadRenames.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    } else if (arg == "--post-result") {
      options.behaviour.result = value() == "true";
    } else if (arg == "--post-throw") {
      options.behaviour.throws = true;
    } else if (arg == "--post-throw-after-keeping") {
      options.behaviour.throwsAfterKeeping = true;
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

// The plugin file, loaded as the host loads it.
struct Plugin {
#if defined(_WIN32)
  HMODULE module = nullptr;
#else
  void* module = nullptr;
#endif
  EntryPoint init = nullptr;
  EntryPoint unload = nullptr;
};

// Loads the plugin file from dir; exits with status 3 when that fails.
Plugin Load(const std::string& dir) {
  Plugin plugin;
#if defined(_WIN32)
  plugin.module = LoadLibraryW(PluginPath(dir).c_str());
  if (plugin.module == nullptr) {
    const DWORD error = GetLastError();
    std::cerr << "vesperline-host: cannot load the plugin (error " << error << ")\n";
    std::exit(3);
  }
  plugin.init = reinterpret_cast<EntryPoint>(
      reinterpret_cast<void*>(GetProcAddress(plugin.module, "Plugin_Init")));
  plugin.unload = reinterpret_cast<EntryPoint>(
      reinterpret_cast<void*>(GetProcAddress(plugin.module, "Plugin_Unload")));
#else
  const std::string path = dir + "/Vesperline.so";
  plugin.module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin.module == nullptr) {
    std::cerr << "vesperline-host: cannot load the plugin: " << dlerror() << "\n";
    std::exit(3);
  }
  plugin.init = reinterpret_cast<EntryPoint>(dlsym(plugin.module, "Plugin_Init"));
  plugin.unload = reinterpret_cast<EntryPoint>(dlsym(plugin.module, "Plugin_Unload"));
#endif
  if (plugin.init == nullptr || plugin.unload == nullptr) {
    std::cerr << "vesperline-host: the plugin lacks Plugin_Init or Plugin_Unload\n";
    std::exit(3);
  }
  return plugin;
}

// Releases the plugin file, as the real host does after Plugin_Unload, and tells whether its code
// is still mapped afterwards (it is when the plugin asked to stay loaded).
bool Release(const Plugin& plugin) {
#if defined(_WIN32)
  FreeLibrary(plugin.module);
  HMODULE still = nullptr;
  return GetModuleHandleExW(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(plugin.init)), &still) != 0;
#else
  dlclose(plugin.module);
  Dl_info info{};
  return dladdr(reinterpret_cast<void*>(plugin.init), &info) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(Arguments(argc, argv));
  simhost::SetRequestBehaviour(options.behaviour);

  const auto start = Clock::now();
  const auto hostThread = std::this_thread::get_id();
  long initMs = 0;
  std::ostringstream unloadTimes;
  std::string unloadError;
  bool mappedAfterRelease = false;
  const int loads = options.reload ? 2 : 1;
  for (int load = 0; load < loads; ++load) {
    if (load > 0) {
      const std::filesystem::path dir(
          std::u8string(options.pluginDir.begin(), options.pluginDir.end()));
      for (const auto& [from, to] : options.reloadRenames) {
        std::filesystem::rename(
            dir / std::filesystem::path(std::u8string(from.begin(), from.end())),
            dir / std::filesystem::path(std::u8string(to.begin(), to.end())));
      }
    }
    const Plugin plugin = Load(options.pluginDir);
    const auto initStart = Clock::now();
    for (int i = 0; i < options.inits; ++i) plugin.init();
    initMs = Since(initStart, Clock::now());
    std::this_thread::sleep_for(std::chrono::milliseconds(options.runMs));
    // A host that ends the process without unloading leaves the plugin loaded and running.
    if (options.noUnload) break;
    for (int i = 0; i < options.unloads; ++i) {
      const auto before = Clock::now();
      try {
        plugin.unload();
      } catch (const std::exception& error) {
        unloadError = error.what();
      } catch (...) {
        unloadError = "an error that is no std::exception";
      }
      unloadTimes << (unloadTimes.tellp() > 0 ? "," : "") << Since(before, Clock::now());
    }
    mappedAfterRelease = Release(plugin);
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
         << unloadTimes.str() << "],\"unloaded_at_ms\":" << unloadedAtMs
         << ",\"unload_error\":" << Quote(unloadError)
         << ",\"mapped_after_release\":" << (mappedAfterRelease ? "true" : "false") << "}\n";

  if (options.out.empty()) {
    std::cout << report.str() << std::flush;
  } else {
    const std::u8string out(options.out.begin(), options.out.end());
    std::ofstream(std::filesystem::path(out), std::ios::binary) << report.str();
  }
  // The host's requests may still hold the plugin's callback; their release runs now, after the
  // plugin file was released, as it does in a server that keeps running.
  std::this_thread::sleep_for(std::chrono::milliseconds(options.lingerMs));
  return 0;
}
