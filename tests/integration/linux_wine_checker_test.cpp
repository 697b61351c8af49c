// The Linux checker beside the Windows build run by Wine: the Windows stand-in server is started by
// Wine as container scripts start the game server, from a folder with blanks, by its Unix path,
// its Z: path and a C: path of a Proton prefix. The checker finds it, reads the very command line
// Wine gives it (which the stand-in writes down), and predicts the document the Windows plugin
// posts in the host program under Wine with the same arguments, and the Windows plugin file's
// version.
//
// It needs the Windows build, whose tests run it: VESPERLINE_WINDOWS_BIN names the folder of that
// build's programs, WINEPREFIX the Wine prefix its tests run in, whose Wine server runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "common/Version.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr char kWine[] = "/usr/lib/wine/wine64";

// A Unix path as a program under Wine names it: on drive Z:, which Wine maps to the root.
std::string OnDriveZ(const fs::path& path) {
  std::string windows = "Z:" + test::Utf8FromPath(path);
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

// The document the Windows plugin posts when the host program, under Wine, unloads it; null when
// it posts none, as when it stays idle.
json PostedUnderWine(const fs::path& windowsBin, const fs::path& pluginDir,
                     const std::vector<std::string>& launch) {
  const test::TempDir scratch;
  std::vector<std::string> arguments{OnDriveZ(windowsBin / "vesperline-host.exe")};
  arguments.insert(arguments.end(), launch.begin(), launch.end());
  for (const std::string& option :
       {std::string("--host-options"), std::string("--plugin-dir"), OnDriveZ(pluginDir),
        std::string("--run-ms"), std::string("200"), std::string("--out"),
        OnDriveZ(scratch.Path() / "report.jsonl")}) {
    arguments.push_back(option);
  }
  const test::ProgramRun run = test::RunChecker(arguments, kWine);
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  const std::string report = test::ReadFile(scratch.Path() / "report.jsonl");
  const json first = json::parse(report.substr(0, report.find('\n')));
  if (!first.contains("body")) return nullptr;
  return json::parse(first.at("body").get<std::string>());
}

TEST(LinuxWineCheckerTest, ReadsTheServerAsThePluginReadsItUnderWine) {
  const char* bin = std::getenv("VESPERLINE_WINDOWS_BIN");
  const char* prefixText = std::getenv("WINEPREFIX");
  if (bin == nullptr || prefixText == nullptr) GTEST_SKIP() << "run by the Windows build's tests";
  const fs::path windowsBin = bin;
  const fs::path prefix = fs::canonical(prefixText);
  enum class Path { Unix, DriveZ, DriveC };
  const struct {
    const char* what;
    Path path;
    std::vector<std::string> launch;
    bool proton = false;
    // The settings file's folder and name in small letters, as guides copy them: Wine finds it
    // for the plugin in any case, and so does the checker.
    bool lowercase = false;
  } cases[] = {
      {"Wine's \\\" from a container script, the program by its Unix path",
       Path::Unix,
       {"TheIsland_WP?listen?SessionName=\"Rex\"?Port=7779?MaxPlayers=20",
        "-mods=\"928102,931877\"", "-WinLiveMaxPlayers=40"}},
      {"a whole-quoted first argument, the program on drive Z:, the settings file in small "
       "letters",
       Path::DriveZ,
       {"TheIsland_WP?listen?SessionName=My ARK Server?Port=7780", "-NoBattlEye"},
       false,
       true},
      // The server, and the plugin, take no port from it: both stay idle, and the checker says so.
      {"quotes inside a whole-quoted first argument, a folder ending in a backslash, the program "
       "on drive C: of Proton's prefix",
       Path::DriveC,
       {"TheIsland_WP?listen?SessionName=\"My ARK Server\"?Port=7781",
        "-ClusterDirOverride=C:\\ARK Cluster\\", "-NoBattlEye"},
       true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const test::ServerTree tree("ARK Server");
    tree.WriteConfig("{\"token\": \"SECRETtoken-4711\", \"ip\": \"1.2.3.4\", \"port\": 0}\n");
    const fs::path settings =
        test.lowercase ? tree.Root() / "ShooterGame/Saved/Config/windowsserver/gameusersettings.ini"
                       : tree.SettingsFile();
    test::WriteFile(
        settings, "[ServerSettings]\r\nActiveMods=111\r\n[SessionSettings]\r\nSessionName=Ini\r\n");
    test::WriteFile(tree.Log(), "LogInit: ARK Version: 74.24\r\n");
    fs::copy_file(windowsBin / "Vesperline.dll", tree.PluginDir() / "Vesperline.dll");
    const fs::path win64 = tree.Root() / "ShooterGame" / "Binaries" / "Win64";
    fs::copy_file(windowsBin / "server_standin.exe", win64 / "ArkAscendedServer.exe");

    // The test's folder on drive C: too, by a link in the prefix's drive_c.
    const std::string name = tree.Root().parent_path().filename().string();
    fs::create_directory_symlink(tree.Root().parent_path(), prefix / "drive_c" / name);
    const std::string program =
        test.path == Path::Unix     ? test::Utf8FromPath(win64 / "ArkAscendedServer.exe")
        : test.path == Path::DriveZ ? OnDriveZ(win64 / "ArkAscendedServer.exe")
                                    : "C:\\" + name +
                                          "\\ARK Server\\ShooterGame\\Binaries\\Win64\\"
                                          "ArkAscendedServer.exe";
    // Proton sets WINEPREFIX to the pfx folder of STEAM_COMPAT_DATA_PATH.
    const test::TempDir compatData;
    fs::create_directory_symlink(prefix, compatData.Path() / "pfx");
    test::Launch launch;
    launch.ReadyPrefix = "Z:";
    launch.Environment = {"WINEPREFIX=" + test::Utf8FromPath(prefix)};
    if (test.proton) {
      launch.Environment = {"STEAM_COMPAT_DATA_PATH=" + test::Utf8FromPath(compatData.Path()),
                            "WINEPREFIX=" + test::Utf8FromPath(compatData.Path() / "pfx")};
    }
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), test.launch.begin(), test.launch.end());
    const test::RunningProgram server(kWine, arguments, test::Account::Own, launch);

    const test::ProgramRun run = test::RunChecker(
        {"--plugin-dir", test::Utf8FromPath(tree.PluginDir()), "--json", "--show-token"});
    const json report = json::parse(run.output);
    const json& source = report.at("command_line_source");
    EXPECT_EQ(source.at("source"), "running server");
    EXPECT_EQ(source.at("process_id"), server.Id());
    // The very line Wine gives the program, and with it the plugin.
    EXPECT_EQ(report.at("command_line"), server.ReadyText());
    EXPECT_EQ(source.at("wine_prefix"), test::Utf8FromPath(prefix));
    // The Windows plugin file, built here with the version resource of this checker's version,
    // read without loading it.
    EXPECT_EQ(report.at("plugin_file").at("compared"), "same");
    EXPECT_EQ(report.at("plugin_file").at("version"), kVersion);
    EXPECT_NE(source.at("note").get<std::string>().find(test.proton ? "which Proton runs as"
                                                                    : "which Wine runs as"),
              std::string::npos);

    json predicted = report.at("document");
    json posted = PostedUnderWine(windowsBin, tree.PluginDir(), test.launch);
    // Both null when the plugin stays idle, as it does where the launch line gives no port.
    for (json* document : {&predicted, &posted}) {
      if (!document->is_object()) continue;
      for (const char* live : {"status", "player_current", "day", "players"}) document->erase(live);
    }
    EXPECT_EQ(predicted, posted);
    if (test.lowercase) {
      EXPECT_EQ(report.at("facts").at("mods").at("value"), "111")
          << "the plugin under Wine reads it";
      EXPECT_EQ(report.at("files").at("settings").at("path"), test::Utf8FromPath(settings));
    }
    fs::remove(prefix / "drive_c" / name);
  }
}

}  // namespace
}  // namespace vesperline
