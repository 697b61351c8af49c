// The development host: runs the built plugin in a simulated dedicated server on this machine and
// lets its heartbeats travel over real HTTPS to the local heartbeat receiver.
//
//   vesperline-devhost --ca FILE [--root DIR] [--plugin FILE] [--receiver 127.0.0.1:PORT]
//                      [--duration SECONDS] [--version-after SECONDS] [--event-every SECONDS]
//                      [--day-every SECONDS] [--all-players] [--report FILE]
//   vesperline-devhost --heartbeat-url
//
// It lays out a server's directory tree under --root with the plugin installed, then starts
// itself again with the command line of a real server, so that the plugin reads a true process
// command line; the options travel to that second start in the environment. It loads the plugin
// as the host does, runs a small world around it and unloads it on Ctrl-C or after --duration,
// which sends the "offline" heartbeat; it waits for that request before it exits.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <curl/curl.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/CommandLine.h"
#include "common/Text.h"
#include "simhost/SimHost.h"
#include "tools/devhost/HttpsTransport.h"
#include "tools/devhost/ServerTree.h"
#include "tools/devhost/WorldScript.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using EntryPoint = void (*)();

constexpr const char* kOptionsVariable = "VESPERLINE_DEVHOST_OPTIONS";
constexpr milliseconds kHeartbeatPeriod{60000};
// Longer than any request may take (the transport's own time-outs end every request sooner).
constexpr milliseconds kLastRequestWait{20000};

struct Options {
  std::filesystem::path root = "vesperline-server";
  std::filesystem::path plugin = VESPERLINE_PLUGIN_FILE;
  std::string receiverAddress = "127.0.0.1";
  int receiverPort = 8443;
  std::string caFile;
  double durationSeconds = 0;  // 0: until Ctrl-C
  double versionAfterSeconds = 3;
  double eventEverySeconds = 8;
  double dayEverySeconds = 20;
  bool allPlayers = false;  // everyone is on from the start
  std::string report;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "vesperline-devhost: " << problem
            << "\nusage: vesperline-devhost --ca FILE [--root DIR] [--plugin FILE]"
               " [--receiver 127.0.0.1:PORT] [--duration SECONDS] [--version-after SECONDS]"
               " [--event-every SECONDS] [--day-every SECONDS] [--all-players] [--report FILE]\n";
  std::exit(2);
}

double Seconds(const std::string& option, const std::string& text) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  Usage(option + " needs a number of seconds, not \"" + text + "\"");
}

Options Parse(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) Usage(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--root") {
      options.root = value();
    } else if (arg == "--plugin") {
      options.plugin = value();
    } else if (arg == "--receiver") {
      const std::string receiver = value();
      const std::size_t colon = receiver.rfind(':');
      if (colon == std::string::npos) Usage("--receiver needs ADDRESS:PORT");
      options.receiverAddress = receiver.substr(0, colon);
      const double port = Seconds("--receiver port", receiver.substr(colon + 1));
      if (port < 1 || port > 65535 || port != static_cast<int>(port)) Usage("bad receiver port");
      options.receiverPort = static_cast<int>(port);
    } else if (arg == "--ca") {
      options.caFile = value();
    } else if (arg == "--duration") {
      options.durationSeconds = Seconds(arg, value());
    } else if (arg == "--version-after") {
      options.versionAfterSeconds = Seconds(arg, value());
    } else if (arg == "--event-every") {
      options.eventEverySeconds = Seconds(arg, value());
    } else if (arg == "--day-every") {
      options.dayEverySeconds = Seconds(arg, value());
    } else if (arg == "--all-players") {
      options.allPlayers = true;
    } else if (arg == "--report") {
      options.report = value();
    } else {
      Usage("unknown option " + arg);
    }
  }
  // The demo must never reach out beyond this machine.
  if (options.receiverAddress != "127.0.0.1") Usage("the receiver must be on 127.0.0.1");
  if (options.caFile.empty()) Usage("--ca is required");
  if (options.eventEverySeconds <= 0 || options.dayEverySeconds <= 0) {
    Usage("--event-every and --day-every must be above 0");
  }
  return options;
}

milliseconds Millis(double seconds) {
  return milliseconds(static_cast<long long>(seconds * 1000));
}

long long Since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// A JSON string of UTF-8 text.
std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The terminal: event lines, and on a terminal one status line kept below them.
class Console {
 public:
  Console() : terminal_(isatty(STDOUT_FILENO) == 1) {}

  bool Terminal() const { return terminal_; }

  void Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (terminal_ && !status_.empty()) std::fputs("\r\033[K", stdout);
    std::fputs((text + "\n").c_str(), stdout);
    if (terminal_ && !status_.empty()) std::fputs(status_.c_str(), stdout);
    std::fflush(stdout);
  }

  void Status(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!terminal_ || text == status_) return;
    status_ = text;
    std::fputs(("\r\033[K" + status_).c_str(), stdout);
    std::fflush(stdout);
  }

  void ClearStatus() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (terminal_ && !status_.empty()) std::fputs("\r\033[K", stdout);
    status_.clear();
    std::fflush(stdout);
  }

 private:
  const bool terminal_;
  std::mutex mutex_;
  std::string status_;
};

// The JSON-lines record of a run, for tests.
class Report {
 public:
  explicit Report(const std::string& path) {
    if (!path.empty()) out_.open(path, std::ios::binary | std::ios::trunc);
  }
  void Write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (out_.is_open()) out_ << line << '\n' << std::flush;
  }

 private:
  std::mutex mutex_;
  std::ofstream out_;
};

std::string StatusOf(const std::string& body) {
  const std::string key = "\"status\":\"";
  const std::size_t at = body.find(key);
  if (at == std::string::npos) return "?";
  const std::size_t end = body.find('"', at + key.size());
  return body.substr(at + key.size(), end - at - key.size());
}

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
  stopRequested = 1;
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// First start: lay out the server and start again as that server.
int Prepare(const std::vector<std::string>& args) {
  const Options options = Parse(args);
  const devhost::ServerTree tree(options.root);
  const devhost::ServerSetup setup;
  try {
    tree.LayOut(options.plugin, setup);
  } catch (const std::exception& error) {
    std::cerr << "vesperline-devhost: cannot lay out the server tree: " << error.what() << "\n";
    return 1;
  }

  std::string joined;
  for (const std::string& arg : args) {
    if (arg.find('\n') != std::string::npos) Usage("options may not hold line breaks");
    joined += arg + "\n";
  }
  setenv(kOptionsVariable, joined.c_str(), 1);

  const std::vector<std::string> launch = tree.LaunchArguments(setup);
  std::vector<char*> argv;
  for (const std::string& arg : launch) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::cout.flush();
  execv("/proc/self/exe", argv.data());
  std::cerr << "vesperline-devhost: cannot start the server process: " << std::strerror(errno)
            << "\n";
  return 1;
}

// Second start: the server process itself.
int Serve(const Options& options) {
  const devhost::ServerTree tree(options.root);
  const devhost::ServerSetup setup;
  Console console;
  Report report(options.report);
  const auto start = Clock::now();
  std::atomic<long long> lastRequestMs{0};
  std::atomic<int> requests{0};

  {
    std::ostringstream line;
    line << "{\"event\":\"start\",\"command_line\":[";
    const auto launch = tree.LaunchArguments(setup);
    for (std::size_t i = 0; i < launch.size(); ++i) line << (i ? "," : "") << Quote(launch[i]);
    line << "],\"regulars\":[";
    const auto& regulars = devhost::WorldScript::Regulars();
    for (std::size_t i = 0; i < regulars.size(); ++i) {
      line << (i ? "," : "") << "{\"name\":" << Quote(vesperline::Utf16ToUtf8(regulars[i].Name))
           << ",\"char_name\":" << Quote(vesperline::Utf16ToUtf8(regulars[i].CharacterName))
           << ",\"eos_id\":" << Quote(vesperline::Utf16ToUtf8(regulars[i].NetId))
           << ",\"player_data_id\":" << regulars[i].PlayerDataId << "}";
    }
    line << "]}";
    report.Write(line.str());
  }

  // The command line as the plugin reads it: the arguments joined as Wine would join them.
  std::string arguments;
  for (const std::string& arg : tree.LaunchArguments(setup)) arguments += arg + '\0';
  const std::string commandLine = vesperline::JoinProcessArguments(arguments);
  console.Line("Vesperline development host");
  console.Line("  server tree:   " + tree.Root().string());
  console.Line("  command line:  " + commandLine);
  console.Line("  heartbeats:    " + std::string(VESPERLINE_HEARTBEAT_URL) + " (answered by " +
               options.receiverAddress + ":" + std::to_string(options.receiverPort) + ")");

  devhost::TransportSettings settings;
  settings.receiverAddress = options.receiverAddress;
  settings.receiverPort = options.receiverPort;
  settings.caFile = options.caFile;
  devhost::HttpsTransport transport(settings, [&](const simhost::RecordedRequest& request,
                                                  const devhost::RequestOutcome& out) {
    const std::string status = StatusOf(request.body);
    const long long at = std::chrono::duration_cast<milliseconds>(request.at - start).count();
    std::ostringstream line;
    line << "{\"event\":\"request\",\"status\":" << Quote(status) << ",\"at_ms\":" << at
         << ",\"url\":" << Quote(request.url) << ",\"content_type\":" << Quote(request.contentType)
         << ",\"headers\":" << request.headers.size()
         << ",\"ok\":" << (out.success ? "true" : "false") << ",\"http_status\":" << out.httpStatus
         << ",\"error\":" << Quote(out.error) << ",\"took_ms\":" << out.took.count()
         << ",\"body\":" << Quote(request.body) << "}";
    report.Write(line.str());
    std::string shown =
        "heartbeat \"" + status + "\" (" + std::to_string(request.body.size()) + " bytes) -> ";
    if (out.httpStatus != 0) {
      shown += "HTTP " + std::to_string(out.httpStatus);
    } else {
      shown += "failed: " + out.error;
    }
    console.Line(shown + " in " + std::to_string(out.took.count()) + " ms");
  });
  devhost::WorldScript world(Millis(options.eventEverySeconds), Millis(options.dayEverySeconds),
                             20250601u);
  world.Start(options.allPlayers);

  void* module = dlopen(tree.PluginFile().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::cerr << "vesperline-devhost: cannot load the plugin: " << dlerror() << "\n";
    return 3;
  }
  auto init = reinterpret_cast<EntryPoint>(dlsym(module, "Plugin_Init"));
  auto unload = reinterpret_cast<EntryPoint>(dlsym(module, "Plugin_Unload"));
  if (init == nullptr || unload == nullptr) {
    std::cerr << "vesperline-devhost: the plugin lacks Plugin_Init or Plugin_Unload\n";
    return 3;
  }

  simhost::SetRequestTransport(
      [&](const simhost::RecordedRequest& request, std::function<void(bool, std::string)> done) {
        lastRequestMs = Since(start);
        ++requests;
        return transport.Submit(request, std::move(done));
      });
  CatchStopSignals();
  const auto initStart = Clock::now();
  init();
  console.Line("plugin loaded: Plugin_Init returned after " + std::to_string(Since(initStart)) +
               " ms; the first heartbeat follows in a minute. Ctrl-C stops the server.");

  bool versionWritten = options.versionAfterSeconds < 0;
  long long lastPlainMs = 0;
  while (stopRequested == 0) {
    const long long now = Since(start);
    if (options.durationSeconds > 0 && now >= Millis(options.durationSeconds).count()) break;
    if (!versionWritten && now >= Millis(options.versionAfterSeconds).count()) {
      tree.AppendVersionLine(setup);
      versionWritten = true;
      console.Line("server log: ARK Version: " + setup.version);
    }
    for (const std::string& change : world.Advance(milliseconds(now))) {
      console.Line("world: " + change);
    }

    const long long due = lastRequestMs.load() + kHeartbeatPeriod.count();
    const long long left = std::max(0LL, (due - now + 999) / 1000);
    if (console.Terminal()) {
      console.Status("next heartbeat in " + std::to_string(left) + " s ... (Ctrl-C to stop)");
    } else if (now - lastPlainMs >= 15000) {
      lastPlainMs = now;
      console.Line("next heartbeat in about " + std::to_string(left) + " s");
    }
    std::this_thread::sleep_for(milliseconds(100));
  }

  console.ClearStatus();
  console.Line("stopping: Plugin_Unload sends the \"offline\" heartbeat");
  const auto unloadStart = Clock::now();
  unload();
  const long long unloadMs = Since(unloadStart);
  report.Write("{\"event\":\"unload\",\"ms\":" + std::to_string(unloadMs) + "}");
  console.Line("Plugin_Unload returned after " + std::to_string(unloadMs) + " ms");

  // The plugin's code must stay loaded while a request still holds its callback.
  const bool idle = transport.WaitUntilIdle(kLastRequestWait);
  simhost::SetRequestTransport(nullptr);
  if (idle) dlclose(module);
  report.Write("{\"event\":\"exit\",\"requests\":" + std::to_string(requests.load()) +
               ",\"idle\":" + (idle ? "true" : "false") + "}");
  console.Line("stopped after " + std::to_string(requests.load()) + " heartbeat request(s)");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--heartbeat-url") {
    std::cout << VESPERLINE_HEARTBEAT_URL << "\n";
    return 0;
  }
  const char* forwarded = std::getenv(kOptionsVariable);
  if (forwarded == nullptr) return Prepare(args);

  const Options options = Parse(SplitLines(forwarded));
  unsetenv(kOptionsVariable);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const int status = Serve(options);
  curl_global_cleanup();
  return status;
}
