// The Windows calls of the platform layer, run for real (under Wine when cross-built): the command
// line as the server was started, the plugin's own path from a deep folder with non-ASCII names,
// and files read while other programs hold, rename or delete them.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// CommandLineToArgvW, after windows.h.
#include <shellapi.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/CommandLine.h"
#include "common/Text.h"
#include "platform/Platform.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The probe, copied under the server executable's name wherever a test needs it.
constexpr const char* kServerProgram = "ShooterGameServer.exe";

fs::path ProbeProgram() {
  return fs::path(VESPERLINE_PLUGIN_FILE).parent_path() / "platform_probe.exe";
}

// A folder the way an admin's server might be installed: names with spaces and characters from
// several scripts, nested until the whole path is well beyond the old 260-character limit.
fs::path DeepServerFolder(const fs::path& base) {
  fs::path dir = base;
  const std::string level =
      "Ark Survival Ascended Сервер Ägypten 中文服务器 🦖 Dedicated Server Files";
  while (dir.native().size() <= 300) dir /= test::PathFromUtf8(level);
  dir /= "ShooterGame";
  fs::create_directories(dir);
  return dir;
}

// Sets an environment variable for the programs this process starts, until the object goes.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_, nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
};

// A program started with exactly the given command line; ended if still running when it goes.
class Process {
 public:
  Process(const fs::path& program, std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &info)) {
      CloseHandle(info.hThread);
      process_ = info.hProcess;
    }
  }
  ~Process() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 1);
    CloseHandle(process_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return process_ != nullptr; }

  // The exit code, or -1 when the program has not ended within the time.
  int Wait(std::chrono::milliseconds timeout) {
    if (process_ == nullptr ||
        WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
      return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
  }

 private:
  HANDLE process_ = nullptr;
};

bool WaitForFile(const fs::path& path) {
  for (auto waited = 0ms; waited < 30s; waited += 10ms) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

std::string ReadAll(platform::InputFile& file) {
  std::string text;
  char buffer[7];  // small, so that a read continues where the previous one stopped
  for (std::size_t got; (got = file.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  return text;
}

// What the probe reported.
struct ProbeReport {
  int exitCode = -1;
  std::string commandLine;
};

ProbeReport RunProbe(const fs::path& program, const std::wstring& commandLine) {
  test::TempDir scratch;
  const fs::path out = scratch.Path() / "report.txt";
  ScopedVariable variable(L"VESPERLINE_PROBE_OUT", out.native());
  Process probe(program, commandLine);
  ProbeReport report;
  report.exitCode = probe.Wait(30s);
  report.commandLine = test::ReadFile(out);
  return report;
}

// ---- The command line ------------------------------------------------------------------------

TEST(WindowsCommandLineTest, TheServerCommandLineComesBackAsUtf8ExactlyAsStarted) {
  test::TempDir root;
  const fs::path dir = root.Path() / test::PathFromUtf8("ARK Server Ägypten") / "Win64";
  fs::create_directories(dir);
  const fs::path server = dir / kServerProgram;
  fs::copy_file(ProbeProgram(), server);
  const std::string path = test::Utf8FromPath(server);

  struct Variant {
    const char* name;
    std::wstring line;     // after the executable path
    std::string expected;  // the same, as UTF-8
  };
  const Variant variants[] = {
      {"session name in non-ASCII with spaces",
       L" TheIsland_WP?listen?SessionName=\"Ägypten 中文 🦖 PvE\"?Port=7777 -mods=928,1210 "
       L"-NoBattlEye",
       " TheIsland_WP?listen?SessionName=\"Ägypten 中文 🦖 PvE\"?Port=7777 -mods=928,1210 "
       "-NoBattlEye"},
      {"unpaired surrogates", std::wstring(L" -name=a") + wchar_t(0xD83E) + L"b" + wchar_t(0xDD96),
       " -name=a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},
      {"nothing after the path", L"", ""},
  };
  for (const Variant& variant : variants) {
    SCOPED_TRACE(variant.name);
    const ProbeReport quoted = RunProbe(server, L"\"" + server.native() + L"\"" + variant.line);
    ASSERT_EQ(quoted.exitCode, 0);
    EXPECT_EQ(quoted.commandLine, "\"" + path + "\"" + variant.expected);
    // Some launchers leave the path unquoted even with spaces in it.
    const ProbeReport bare = RunProbe(server, server.native() + variant.line);
    ASSERT_EQ(bare.exitCode, 0);
    EXPECT_EQ(bare.commandLine, path + variant.expected);
  }
}

// Wine builds the command line of a program started from Linux out of its arguments, as it does
// for a server in a Linux container; ctest starts this test under Wine with launch arguments of
// the shapes such start scripts pass (see tests/CMakeLists.txt). The Linux plugin joins the
// arguments in /proc/self/cmdline the same way, so that both builds read one line.
TEST(WindowsCommandLineTest, WineWritesTheArgumentsAsTheLinuxJoinDoes) {
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
    GTEST_SKIP() << "only Wine builds the command line from a Linux process's arguments";
  }
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  ASSERT_NE(arguments, nullptr);
  std::string nulSeparated;
  for (int i = 1; i < count; ++i) {
    nulSeparated += WideToUtf8(arguments[i], wcslen(arguments[i]));
    nulSeparated += '\0';
  }
  LocalFree(arguments);
  ASSERT_GT(count, 6) << "ctest starts this test with launch arguments";
  // Behind the executable path, which Wine writes in quotes.
  const std::string line = platform::ProcessCommandLine();
  ASSERT_TRUE(line.starts_with('"'));
  const std::size_t behindPath = line.find("\" ", 1);
  ASSERT_NE(behindPath, std::string::npos);
  EXPECT_EQ(line.substr(behindPath + 2), JoinProcessArguments(nulSeparated));
}

// The plugin's own split of a command line gives exactly the arguments the system's
// CommandLineToArgvW gives, on generated lines of quotes, backslashes, blanks, tabs and UTF-8:
// the server's arguments are what the system split, so the plugin must split them alike.
TEST(WindowsCommandLineTest, TheSplitAgreesWithTheSystemsOwnOnGeneratedLines) {
  constexpr std::string_view kPieces[] = {
      "\"", "\"\"", "\\", "\\\\", " ", "\t", "a", "?S=", "-k=", "\xC3\x84", "\xF0\x9F\xA6\x96"};
  std::uint32_t state = 2026;
  const auto next = [&state](std::uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  };
  for (int round = 0; round < 10000; ++round) {
    std::string line;
    const std::uint32_t length = 1 + next(14);
    for (std::uint32_t i = 0; i < length; ++i) line += kPieces[next(std::size(kPieces))];
    std::wstring wide(line.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    int count = 0;
    LPWSTR* system = CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(system, nullptr);
    std::vector<std::string> expected;
    for (int i = 0; i < count; ++i) expected.push_back(WideToUtf8(system[i], wcslen(system[i])));
    LocalFree(system);
    std::vector<std::string> split;
    for (const CommandLineArgument& argument : SplitCommandLine(line).Arguments) {
      split.push_back(argument.Value);
    }
    ASSERT_EQ(split, expected) << line;
  }
}

// ---- The module path -------------------------------------------------------------------------

// The plugin finds config.json beside itself only through its own module's path, which the
// system gives in full, however long and whatever its characters.
TEST(WindowsModulePathTest, TheHostRunsThePluginFromADeepNonAsciiFolder) {
  test::TempDir root;
  const fs::path dir =
      DeepServerFolder(root.Path()) / "Binaries" / "Win64" / "ArkApi" / "Plugins" / "Vesperline";
  test::InstallPlugin(dir);
  test::WriteFile(dir / "config.json",
                  R"({ "token": "deep-folder-token", "ip": "203.0.113.7", "port": 7777 })");

  const test::HostRun run =
      test::RunHost({"--plugin-dir", test::Utf8FromPath(dir), "--run-ms", "200"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_FALSE(run.summary.empty()) << run.output;
  // The configuration beside the plugin was found, so unloading reports the server offline.
  ASSERT_EQ(run.requests.size(), 1u) << run.output;
  EXPECT_NE(run.requests[0].find("deep-folder-token"), std::string::npos) << run.requests[0];
  EXPECT_NE(run.requests[0].find("offline"), std::string::npos) << run.requests[0];
}

// ---- Input files -----------------------------------------------------------------------------

TEST(WindowsInputFileTest, ReadsALogThatAnotherProgramIsWriting) {
  test::TempDir root;
  const fs::path log = root.Path() / test::PathFromUtf8("ShooterGame Ägypten.log");
  ScopedVariable variable(L"VESPERLINE_PROBE_HOLD", log.native());
  Process writer(ProbeProgram(), L"platform_probe.exe");
  ASSERT_TRUE(writer.Started());
  ASSERT_TRUE(WaitForFile(fs::path(log.native() + L".ready")));

  {
    platform::InputFile file(test::Utf8FromPath(log));
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadAll(file), "first\n");
  }
  test::WriteFile(fs::path(log.native() + L".release"), "");
  ASSERT_EQ(writer.Wait(30s), 0);
  platform::InputFile file(test::Utf8FromPath(log));
  EXPECT_EQ(ReadAll(file), "first\nsecond\n");
}

TEST(WindowsInputFileTest, AFileRenamedOrDeletedWhileOpenIsStillReadToTheEnd) {
  const std::string content(5000, 'x');
  for (const bool rename : {true, false}) {
    SCOPED_TRACE(rename ? "renamed" : "deleted");
    test::TempDir root;
    const fs::path log = root.Path() / "ShooterGame.log";
    test::WriteFile(log, content);
    platform::InputFile file(test::Utf8FromPath(log));
    ASSERT_TRUE(file.IsOpen());
    char first[10];
    ASSERT_EQ(file.Read(first, sizeof first), sizeof first);
    // What a server does when it rotates its log, or an admin when cleaning up.
    if (rename) {
      EXPECT_TRUE(MoveFileExW(log.c_str(), (root.Path() / "ShooterGame-backup.log").c_str(), 0));
    } else {
      EXPECT_TRUE(DeleteFileW(log.c_str()));
    }
    EXPECT_EQ(std::string(first, sizeof first) + ReadAll(file), content);
  }
}

TEST(WindowsInputFileTest, OnlyADiskFileOpensAndAnythingElseSaysWhatItIs) {
  // A named pipe whose server end waits for a client, as any program may make one: reading it
  // would wait for that program. So would reading many devices.
  const std::wstring pipe =
      L"\\\\.\\pipe\\vesperline-test-" + std::to_wstring(GetCurrentProcessId());
  HANDLE server = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                   1, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  test::TempDir root;
  const std::pair<fs::path, platform::OpenFailure> cases[] = {
      {fs::path(pipe), platform::OpenFailure::Pipe},
      {fs::path(L"NUL"), platform::OpenFailure::Device},
      {root.Path(), platform::OpenFailure::Directory},
      {root.Path() / "ShooterGame.log", platform::OpenFailure::Missing},
  };
  for (const auto& [path, failure] : cases) {
    platform::InputFile file(test::Utf8FromPath(path));
    EXPECT_FALSE(file.IsOpen()) << path;
    EXPECT_EQ(file.Failure(), failure) << path;
  }
  CloseHandle(server);
}

TEST(WindowsInputFileTest, OpensAFileInADeepNonAsciiFolderByAnyPathForm) {
  test::TempDir root;
  const fs::path dir = DeepServerFolder(root.Path());
  test::WriteFile(dir / "config.json", "{}");
  const std::string path = test::Utf8FromPath(dir / "config.json");
  std::string forward = path;
  for (char& c : forward) c = c == '\\' ? '/' : c;
  for (const std::string& form : {path, forward}) {
    SCOPED_TRACE(form);
    platform::InputFile file(form);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadAll(file), "{}");
  }
}

}  // namespace
}  // namespace vesperline
