#include "tests/support/TestSupport.h"

#include "tests/support/JsonCheck.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include "common/CommandLine.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vesperline::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    std::ostringstream name;
    name << "vesperline-test-" << std::hex << seed() << '-' << stamp << '-' << counter++;
    path_ = fs::temp_directory_path() / name.str();
    if (fs::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::DirText() const {
  std::string text = Utf8FromPath(path_);
  text.push_back(static_cast<char>(fs::path::preferred_separator));
  return text;
}

std::string Utf16LeBytes(const std::u16string& units) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Utf16LeFile(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  bytes.append(Utf16LeBytes(std::u16string(text)));
  return bytes;
}

fs::path PathFromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8FromPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + Utf8FromPath(path));
}

void ExpectGolden(const std::string& name, const std::string& text) {
  const fs::path golden =
      PathFromUtf8(VESPERLINE_SOURCE_DIR) / "tests" / "golden" / ("checker-" + name + ".txt");
  if (std::getenv("VESPERLINE_UPDATE_GOLDEN") != nullptr) WriteFile(golden, text);
  EXPECT_EQ(text, ReadFile(golden)) << "against " << Utf8FromPath(golden);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void ResetPlugin() {
  Profile.Running.store(false);
  if (Profile.HeartbeatThread.joinable()) Profile.HeartbeatThread.join();
  ResetProfile();
  simhost::Reset();
}

void PluginTest::TearDown() {
  // The heartbeat thread is stopped first, so that the requests are all there.
  Profile.Running.store(false);
  if (Profile.HeartbeatThread.joinable()) Profile.HeartbeatThread.join();
  for (const simhost::RecordedRequest& request : simhost::Requests()) {
    Json document;
    EXPECT_TRUE(CheckHeartbeatDocument(request.body, document));
  }
  ResetPlugin();
}

ServerTree::ServerTree() : ServerTree("") {}

ServerTree::ServerTree(const std::string& folder)
    : rootPath_(folder.empty() ? root_.Path() : root_.Path() / PathFromUtf8(folder)),
      pluginDir_(rootPath_ / "ShooterGame" / "Binaries" / "Win64" / "ArkApi" / "Plugins" /
                 "Vesperline") {
  InstallPlugin(pluginDir_);
}

std::string ServerTree::PluginDirText() const {
  return Utf8FromPath(pluginDir_) + static_cast<char>(fs::path::preferred_separator);
}

fs::path ServerTree::SettingsFile() const {
  return rootPath_ / "ShooterGame" / "Saved" / "Config" / "WindowsServer" / "GameUserSettings.ini";
}

fs::path ServerTree::Log() const {
  return rootPath_ / "ShooterGame" / "Saved" / "Logs" / "ShooterGame.log";
}

void ServerTree::WriteConfig(const std::string& bytes) const {
  WriteFile(pluginDir_ / "config.json", bytes);
}

void InstallPlugin(const fs::path& dir) {
  fs::create_directories(dir);
  const fs::path plugin(VESPERLINE_PLUGIN_FILE);
  fs::copy_file(plugin, dir / plugin.filename(), fs::copy_options::overwrite_existing);
}

namespace {

// Far longer than any program a test starts takes, so that only a hung one meets it.
constexpr std::chrono::seconds kProgramTimeout{120};

// Runs program with the arguments and waits for its exit status; when output is not empty, the
// program's standard output goes to the file of that name, and its standard error to errors.
// On Windows, typed, when given, is the rest of the command line as it stands, instead of the
// arguments. A program still running after kProgramTimeout is killed and gives -1. Where the
// system tells, peakKilobytes receives the program's peak resident memory.
int Spawn(const std::string& program, const std::vector<std::string>& arguments,
          const std::string& output = "", const std::string& errors = "",
          [[maybe_unused]] const std::string* typed = nullptr,
          [[maybe_unused]] long* peakKilobytes = nullptr,
          [[maybe_unused]] bool everyPower = false) {
#if defined(_WIN32)
  // The command line Wine would build from these arguments, which is how a launcher that starts
  // a server from a list of arguments writes it too: an argument is quoted only when it is empty
  // or holds a blank, and a quote inside it is written \". The Linux plugin joins its arguments
  // the same way, so both builds see one line.
  std::wstring line;
  auto append = [&](const std::string& argument) {
    const std::string joined = JoinProcessArguments(argument + '\0');
    if (!line.empty()) line += L' ';
    line += PathFromUtf8(joined).wstring();
  };
  append(program);
  if (typed != nullptr) {
    line += L' ';
    line += PathFromUtf8(*typed).wstring();
  } else {
    for (const std::string& argument : arguments) append(argument);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const auto create = [&](const std::string& name) {
    return CreateFileW(PathFromUtf8(name).wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                       &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE outputFile = INVALID_HANDLE_VALUE;
  HANDLE errorFile = INVALID_HANDLE_VALUE;
  if (!output.empty()) {
    outputFile = create(output);
    errorFile = errors.empty() ? GetStdHandle(STD_ERROR_HANDLE) : create(errors);
    if (outputFile == INVALID_HANDLE_VALUE || errorFile == INVALID_HANDLE_VALUE) {
      ADD_FAILURE() << "cannot create " << output << " or " << errors << ": error "
                    << GetLastError();
      return -1;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputFile;
    startup.hStdError = errorFile;
  }
  PROCESS_INFORMATION process{};
  // A start that fails, as one may for want of the system's resources on a loaded machine, is no
  // fault of the program under test, so it is tried twice more. A program that started and then
  // failed is never run again: that failure is the test's to see.
  BOOL started = FALSE;
  DWORD startError = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, !output.empty(), 0, nullptr,
                             nullptr, &startup, &process);
    if (!started) startError = GetLastError();
  }
  if (outputFile != INVALID_HANDLE_VALUE) CloseHandle(outputFile);
  if (!errors.empty() && errorFile != INVALID_HANDLE_VALUE) CloseHandle(errorFile);
  if (!started) {
    ADD_FAILURE() << "cannot start " << program << ": error " << startError;
    return -1;
  }
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(kProgramTimeout.count() * 1000)) !=
      WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    ADD_FAILURE() << program << " did not end within " << kProgramTimeout.count() << " s";
    code = static_cast<DWORD>(-1);
  } else {
    GetExitCodeProcess(process.hProcess, &code);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
#else
  std::vector<std::string> all{program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const auto redirect = [](const std::string& name, int stream) {
      if (name.empty()) return;
      const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (file < 0 || dup2(file, stream) < 0) _exit(127);
      close(file);
    };
    redirect(output, STDOUT_FILENO);
    redirect(errors, STDERR_FILENO);
    // Root keeps the power to trace any process only while it is in the bounding set, which a
    // process without it cannot take back: the program then looks into processes as an admin's
    // does without elevated rights. Elsewhere this fails, and nothing needs dropping.
    if (!everyPower) prctl(PR_CAPBSET_DROP, CAP_SYS_PTRACE, 0, 0, 0);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (child < 0) return -1;
  int status = 0;
  rusage usage{};
  const auto deadline = std::chrono::steady_clock::now() + kProgramTimeout;
  pid_t ended = 0;
  while ((ended = wait4(child, &status, WNOHANG, &usage)) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      wait4(child, &status, 0, &usage);
      ADD_FAILURE() << program << " did not end within " << kProgramTimeout.count() << " s";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (ended < 0) return -1;
  if (peakKilobytes != nullptr) *peakKilobytes = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace

HostRun RunHost(const std::vector<std::string>& arguments) {
  TempDir scratch;
  const std::string report = Utf8FromPath(scratch.Path() / "report.jsonl");
  // The launch arguments come first, right behind the executable path, as on a game server's
  // command line; the host program's own options follow its marker.
  const auto separator = std::find(arguments.begin(), arguments.end(), std::string("--"));
  std::vector<std::string> all(separator == arguments.end() ? separator : separator + 1,
                               arguments.end());
  all.push_back("--host-options");
  all.insert(all.end(), arguments.begin(), separator);
  all.push_back("--out");
  all.push_back(report);
  HostRun run;
  run.exitCode = Spawn(VESPERLINE_HOST_PROGRAM, all, "", "", nullptr, &run.peakKilobytes);
  run.output = ReadFile(PathFromUtf8(report));
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("{\"kind\":\"request\"", 0) == 0) {
      Json request;
      Json document;
      EXPECT_TRUE(ParseStrictJson(line, request));
      EXPECT_TRUE(CheckHeartbeatDocument(request.value("body", std::string()), document));
      run.requests.push_back(line);
    }
    if (line.rfind("{\"kind\":\"summary\"", 0) == 0) run.summary = line;
  }
  return run;
}

namespace {

ProgramRun SpawnChecker(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string* typed, bool everyPower = false) {
  TempDir scratch;
  const std::string output = Utf8FromPath(scratch.Path() / "stdout.txt");
  const std::string errors = Utf8FromPath(scratch.Path() / "stderr.txt");
  ProgramRun run;
  run.exitCode = Spawn(program, arguments, output, errors, typed, nullptr, everyPower);
  run.output = ReadFile(PathFromUtf8(output));
  run.errors = ReadFile(PathFromUtf8(errors));
  return run;
}

}  // namespace

ProgramRun RunChecker(const std::vector<std::string>& arguments, const std::string& program) {
  return SpawnChecker(program, arguments, nullptr);
}

ProgramRun RunCheckerWithSudo(const std::vector<std::string>& arguments,
                              const std::string& program) {
  return SpawnChecker(program, arguments, nullptr, true);
}

#if defined(_WIN32)
ProgramRun RunCheckerAsTyped(const std::string& typed) {
  return SpawnChecker(VESPERLINE_CHECK_PROGRAM, {}, &typed);
}
#endif

RunningProgram::RunningProgram(const fs::path& program, const std::vector<std::string>& arguments,
                               [[maybe_unused]] Account account,
                               [[maybe_unused]] const Launch& launch) {
  const fs::path ready = scratch_.Path() / "ready";
  const std::string readyText = Utf8FromPath(ready);
  std::error_code ignored;
  fs::permissions(scratch_.Path(), fs::perms::all | fs::perms::sticky_bit, ignored);
#if defined(_WIN32)
  std::string nulSeparated = Utf8FromPath(program) + '\0';
  for (const std::string& argument : arguments) nulSeparated += argument + '\0';
  std::wstring line = PathFromUtf8(JoinProcessArguments(nulSeparated)).wstring();
  // The child inherits the variable; it is taken away again once the child has started.
  SetEnvironmentVariableW(L"VESPERLINE_STANDIN_READY", ready.wstring().c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr,
                                      FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(L"VESPERLINE_STANDIN_READY", nullptr);
  if (!started) {
    ADD_FAILURE() << "cannot start " << Utf8FromPath(program);
    return;
  }
  CloseHandle(process.hThread);
  handle_ = reinterpret_cast<std::intptr_t>(process.hProcess);
  id_ = process.dwProcessId;
#else
  // Everything the child needs is made before the fork: after it, only exec.
  const std::string programText = Utf8FromPath(program);
  std::vector<std::string> all{programText};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment{"VESPERLINE_STANDIN_READY=" + launch.ReadyPrefix +
                                       readyText};
  if (account == Account::Other) environment.emplace_back("VESPERLINE_STANDIN_OTHER_ACCOUNT=1");
  environment.insert(environment.end(), launch.Environment.begin(), launch.Environment.end());
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view name(*variable, std::strcspn(*variable, "="));
    const auto given = [&](const std::string& set) {
      return set.size() > name.size() && set.compare(0, name.size(), name) == 0 &&
             set[name.size()] == '=';
    };
    if (std::none_of(environment.begin(), environment.end(), given)) {
      environment.emplace_back(*variable);
    }
  }
  const std::string executable =
      launch.Executable.empty() ? programText : Utf8FromPath(launch.Executable);
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    // With the same powers as the checker (see Spawn): a process may look only into those whose
    // powers it holds all of.
    prctl(PR_CAPBSET_DROP, CAP_SYS_PTRACE, 0, 0, 0);
    execve(executable.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (child < 0) {
    ADD_FAILURE() << "cannot start " << programText;
    return;
  }
  id_ = static_cast<std::uint32_t>(child);
#endif
  const auto deadline = std::chrono::steady_clock::now() + kProgramTimeout;
  std::error_code error;
  while (!fs::exists(ready, error)) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << Utf8FromPath(program) << " did not start within " << kProgramTimeout.count()
                    << " s";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string RunningProgram::ReadyText() const {
  return ReadFile(scratch_.Path() / "ready");
}

RunningProgram::~RunningProgram() {
#if defined(_WIN32)
  if (handle_ == 0) return;
  const auto process = reinterpret_cast<HANDLE>(handle_);
  TerminateProcess(process, 1);
  WaitForSingleObject(process, static_cast<DWORD>(kProgramTimeout.count() * 1000));
  CloseHandle(process);
#else
  if (id_ == 0) return;
  kill(static_cast<pid_t>(id_), SIGKILL);
  int status = 0;
  waitpid(static_cast<pid_t>(id_), &status, 0);
#endif
}

}  // namespace vesperline::test
