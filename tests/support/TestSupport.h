// Helpers shared by the tests: temporary directories, files, a clean plugin state per test and
// running the plugin file in a host process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vesperline::test {

// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The directory as UTF-8 text with a trailing separator, the way the plugin keeps directories.
  std::string DirText() const;

 private:
  std::filesystem::path path_;
};

// A game server's folders with the built plugin file installed where admins install it, five
// levels below the server's root, so that the plugin finds the server's settings file and log.
class ServerTree {
 public:
  ServerTree();
  // The tree in a folder of that name (UTF-8) inside the temporary directory, as a server
  // installed in "C:\ARK Servers\..." is.
  explicit ServerTree(const std::string& folder);
  const std::filesystem::path& Root() const { return rootPath_; }
  const std::filesystem::path& PluginDir() const { return pluginDir_; }
  // The plugin's folder as UTF-8 text with a trailing separator, as the plugin keeps it.
  std::string PluginDirText() const;
  std::filesystem::path SettingsFile() const;
  std::filesystem::path Log() const;
  void WriteConfig(const std::string& bytes) const;

 private:
  TempDir root_;
  std::filesystem::path rootPath_;
  std::filesystem::path pluginDir_;
};

// Compares text with the golden file tests/golden/checker-<name>.txt; with VESPERLINE_UPDATE_GOLDEN
// set, writes the text there instead, for a change of the report that is meant.
void ExpectGolden(const std::string& name, const std::string& text);

// Writes bytes to a file, creating the directories above it.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// The bytes of a file saved as "Unicode" by a Windows editor: the UTF-16LE byte-order mark, then
// the units, low byte first.
std::string Utf16LeFile(std::u16string_view text);
// The UTF-16LE bytes of the units alone, without a byte-order mark.
std::string Utf16LeBytes(const std::u16string& units);

// A path from UTF-8 text, and back.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

// Puts the plugin's profile and the simulated host back to their state at load: stops a heartbeat
// thread a test left running, resets every profile field and the simulated host.
void ResetPlugin();

// A test whose plugin state and simulated host start fresh and are left clean. Every request the
// plugin posted during the test must carry a valid heartbeat document (see CheckHeartbeatDocument).
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetPlugin(); }
  void TearDown() override;
};

// What one run of the host program gave.
struct HostRun {
  int exitCode = -1;
  // One JSON line per request, in order; each request's body has been checked to be a valid
  // heartbeat document.
  std::vector<std::string> requests;
  std::string summary;  // the closing JSON line
  std::string output;   // everything the program wrote to its report
  // The most memory the process held at once (its peak resident set), in KiB; 0 where the system
  // does not tell (Windows). A started program begins as a copy of the test process, so this is
  // never below what the test process itself held when it started the program.
  long peakKilobytes = 0;
};

// Runs the host program and waits. The arguments are the host program's options, then "--" and
// the server's launch arguments; the launch arguments stand first on the process's command line.
// A program that has not ended after two minutes is killed, and the test fails.
HostRun RunHost(const std::vector<std::string>& arguments);

// What one run of the checker program gave.
struct ProgramRun {
  int exitCode = -1;
  std::string output;  // everything it wrote to standard output
  std::string errors;  // everything it wrote to standard error
};

// Runs the checker program (vesperline-check), or a copy of it at program, with the arguments and
// waits. It runs as an admin's checker does without administrator rights: on Linux, a test run as
// root gives it no power to look into processes that hide themselves (see RunningProgram).
ProgramRun RunChecker(const std::vector<std::string>& arguments,
                      const std::string& program = VESPERLINE_CHECK_PROGRAM);

// The same, with every power root has, as sudo runs it: the checker may then look into every
// process, and read a server's files as that server does.
ProgramRun RunCheckerWithSudo(const std::vector<std::string>& arguments,
                              const std::string& program = VESPERLINE_CHECK_PROGRAM);

#if defined(_WIN32)
// Runs the checker with its arguments exactly as typed in a command prompt, unquoted by nobody
// but the checker's own reading of its command line.
ProgramRun RunCheckerAsTyped(const std::string& typed);
#endif

// Whose a RunningProgram stands for. Another account's stand-in server hides where its executable
// lies from the checker, as the system hides another user's process; on Linux only, where the
// stand-in makes itself undumpable (VESPERLINE_STANDIN_OTHER_ACCOUNT).
enum class Account { Own, Other };

// How a RunningProgram is started beyond its program and arguments.
struct Launch {
  // Linux: the file executed, when it is not the program; the program's path then stands only
  // first among the arguments, as Wine's loader leaves a Windows program's path.
  std::filesystem::path Executable;
  // More environment variables (NAME=value) beside the test's own.
  std::vector<std::string> Environment;
  // Put before the ready file's path in VESPERLINE_STANDIN_READY: "Z:" for a Windows program
  // started under Wine from Linux.
  std::string ReadyPrefix;
};

// A program left running while the test goes on, ended when the object goes. It is started with
// the arguments: on Linux as they are, on Windows in the command line Wine would build from them
// (which the Linux plugin's join gives too), as a launcher that starts a server from a list of
// arguments writes it. The program may run under another user (started by setpriv, say): the
// folder of its ready file lets every user write there. It must
// create the file named by the environment variable VESPERLINE_STANDIN_READY once it runs (the
// stand-in server of VESPERLINE_STANDIN_PROGRAM does); the constructor waits for that file.
class RunningProgram {
 public:
  RunningProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 Account account = Account::Own, const Launch& launch = {});
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  std::uint32_t Id() const { return id_; }
  // What the program wrote into its ready file.
  std::string ReadyText() const;

 private:
  std::uint32_t id_ = 0;
  std::intptr_t handle_ = 0;  // Windows: the process handle
  TempDir scratch_;
};

// Copies the built plugin file into dir.
void InstallPlugin(const std::filesystem::path& dir);

}  // namespace vesperline::test
