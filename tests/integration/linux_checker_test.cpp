// The Linux checker run as an admin runs it on a container's host: it finds a server that Wine
// runs in a container, reads it through the process's root folder, and takes its plugin folder
// when it is the one server running; and it reads its files when started, as from cron, with
// standard input closed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr char kConfig[] = "{\"token\": \"SECRETtoken-4711\", \"ip\": \"1.2.3.4\", \"port\": 0}\n";
constexpr char kInNamespace[] = "VESPERLINE_TEST_IN_PID_NAMESPACE";
constexpr char kThisTest[] = "LinuxCheckerTest.FindsAServerWineRunsInAContainer";

// A server as a container image runs it: Wine's loader (the stand-in server under Wine's name)
// runs C:\ark\...\ArkAscendedServer.exe, drive C: of the prefix in the home of the user steam
// holding a link to the server in /srv/ARK Server; the process's root is the container's root
// folder. Alone in a process namespace of its own (where the system allows one), it is the one
// server running, so the checker kept elsewhere takes its plugin folder; otherwise the folder is
// named as the container's path seen from the host.
TEST(LinuxCheckerTest, FindsAServerWineRunsInAContainer) {
  const bool inNamespace = std::getenv(kInNamespace) != nullptr;
  if (!inNamespace) {
    // The test runs again in a namespace with a /proc of its own, where no other server runs.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    setenv(kInNamespace, "1", 1);
    const test::ProgramRun run = test::RunChecker(
        {"--pid", "--fork", "--mount-proc", self, std::string("--gtest_filter=") + kThisTest},
        "/usr/bin/unshare");
    unsetenv(kInNamespace);
    if (run.output.find("[  SKIPPED ]") != std::string::npos) GTEST_SKIP() << run.output;
    if (run.output.find("Running main()") != std::string::npos) {
      EXPECT_EQ(run.exitCode, 0) << run.output;
      EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
      return;
    }
    // No namespace here (unshare refused): the same, with the plugin folder named.
  }
  const test::ServerTree tree("rootfs/srv/ARK Server");
  const fs::path root = tree.Root().parent_path().parent_path();
  const fs::path win64 = tree.Root() / "ShooterGame/Binaries/Win64";
  test::WriteFile(win64 / "ArkAscendedServer.exe", "");
  tree.WriteConfig(kConfig);
  test::WriteFile(tree.SettingsFile(), "[SessionSettings]\r\nSessionName=From the settings\r\n");
  const fs::path prefix = root / "home/steam/.wine";
  fs::create_directories(prefix / "dosdevices");
  fs::create_directories(prefix / "drive_c");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
  fs::create_directory_symlink("/", prefix / "dosdevices/z:");
  fs::create_directory_symlink("/srv/ARK Server", prefix / "drive_c/ark");
  const test::TempDir elsewhere;
  fs::copy_file(VESPERLINE_STANDIN_PROGRAM, elsewhere.Path() / "wine64");
  const fs::path checker = elsewhere.Path() / "vesperline-check";
  fs::copy_file(VESPERLINE_CHECK_PROGRAM, checker);

  test::Launch launch;
  launch.Executable = elsewhere.Path() / "wine64";
  launch.Environment = {"WINEPREFIX=/home/steam/.wine",
                        "VESPERLINE_STANDIN_ROOT=" + test::Utf8FromPath(root)};
  const std::string program = "C:\\ark\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe";
  const test::RunningProgram server(
      program, {"TheIsland_WP?listen?SessionName=\"Rex\"?Port=7779", "-WinLiveMaxPlayers=40"},
      test::Account::Own, launch);
  if (server.ReadyText() != "ready") GTEST_SKIP() << "the system lets no process change its root";

  const std::string rootSeen = "/proc/" + std::to_string(server.Id()) + "/root";
  const std::string pluginDir = rootSeen +
                                "/srv/ARK Server/ShooterGame/Binaries/Win64/ArkApi/"
                                "Plugins/Vesperline";
  std::vector<std::string> arguments{"--json"};
  if (!inNamespace) arguments = {"--json", "--plugin-dir", pluginDir};
  const test::ProgramRun run = test::RunChecker(arguments, test::Utf8FromPath(checker));
  ASSERT_EQ(run.exitCode, 0) << run.output << run.errors;
  const json report = json::parse(run.output);
  EXPECT_EQ(report.at("plugin_dir"), pluginDir + "/");
  EXPECT_EQ(report.at("plugin_dir_source"), inNamespace ? "running server" : "--plugin-dir");
  EXPECT_EQ(report.at("command_line"),
            "\"" + program +
                "\" TheIsland_WP?listen?SessionName=\\\"Rex\\\"?Port=7779"
                " -WinLiveMaxPlayers=40");
  const json& source = report.at("command_line_source");
  EXPECT_EQ(source.at("process_id"), server.Id());
  EXPECT_EQ(source.at("root"), rootSeen);
  EXPECT_EQ(source.at("path_inside"),
            "/srv/ARK Server/ShooterGame/Binaries/Win64/ArkAscendedServer.exe");
  EXPECT_EQ(source.at("windows_path"), program);
  EXPECT_EQ(source.at("wine_prefix"), "/home/steam/.wine");
  const std::string note = source.at("note");
  EXPECT_NE(note.find("which Wine runs as " + program + " in the prefix /home/steam/.wine, in "),
            std::string::npos)
      << note;
  EXPECT_NE(note.find("reads the container's files through " + rootSeen), std::string::npos)
      << note;
  // The files as the server reads them, inside the container.
  EXPECT_EQ(report.at("files").at("settings").at("path"),
            rootSeen +
                "/srv/ARK Server/ShooterGame/Saved/Config/WindowsServer/"
                "GameUserSettings.ini");
  EXPECT_EQ(report.at("facts").at("session_name").at("value"), "Rex");
  EXPECT_EQ(report.at("facts").at("port").at("value"), 7779);
  EXPECT_EQ(report.at("facts").at("player_limit").at("value"), 40);
}

// Started from cron or a service, the checker may have no standard input: the first file it
// opens then gets descriptor 0, and is read like any other.
TEST(LinuxCheckerTest, ReadsItsFilesWithStandardInputClosed) {
  const test::ServerTree tree;
  tree.WriteConfig(kConfig);
  test::WriteFile(tree.SettingsFile(), "[SessionSettings]\r\nSessionName=Rex\r\n");
  test::WriteFile(tree.Log(), "LogInit: ARK Version: 74.24\r\n");
  const test::ProgramRun run =
      test::RunChecker({"-c", "exec \"$0\" \"$@\" <&-", VESPERLINE_CHECK_PROGRAM, "--plugin-dir",
                        test::Utf8FromPath(tree.PluginDir()), "--command-line",
                        "S.exe TheIsland_WP?Port=7777", "--json"},
                       "/bin/sh");
  const json report = json::parse(run.output);
  for (const char* file : {"config", "settings", "log"}) {
    EXPECT_EQ(report.at("files").at(file).at("found"), true) << file;
  }
  EXPECT_EQ(report.at("verdict"), "report");
}

}  // namespace
}  // namespace vesperline
