// The Linux checker run as an admin runs it on a server's host, against stand-in servers named
// ArkAscendedServer.exe set up as Linux hosts run the game server: under another user, in a
// chroot whose links lead out of it, with mounts of its own, under Wine (the stand-in under Wine's
// name) in a container; and run from its unpacked folder with no server, several, and one it may
// not look at. It reads the files as the server process opens them, and never a file of this
// machine that the server cannot reach.
//
// The test runs in a process namespace of its own (tests/support/alone.sh), so that the servers
// it starts are the only ones; set-ups that need root's powers, or that namespace, are skipped
// without them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <regex>

#include <nlohmann/json.hpp>

#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr char kConfig[] = "{\"token\": \"SECRETtoken-4711\", \"ip\": \"1.2.3.4\", \"port\": 0}\n";
constexpr char kLaunch[] = "TheIsland_WP?listen?SessionName=Rex?Port=7779";
constexpr char kWin64[] = "ShooterGame/Binaries/Win64";
constexpr char kPluginPath[] = "ShooterGame/Binaries/Win64/ArkApi/Plugins/Vesperline";

// The test process is the first of a process namespace of its own: no other server runs there.
bool Alone() {
  return ::getpid() == 1;
}

bool AsRoot() {
  return ::geteuid() == 0;
}

std::string Text(const fs::path& path) {
  return test::Utf8FromPath(path);
}

// A server tree as a server that has run leaves it, its program the stand-in server.
fs::path Install(const test::ServerTree& tree, const std::string& config = kConfig) {
  tree.WriteConfig(config);
  test::WriteFile(tree.SettingsFile(), "[SessionSettings]\r\nSessionName=Ini\r\n");
  test::WriteFile(tree.Log(), "LogInit: ARK Version: 74.24\r\n");
  const fs::path program = tree.Root() / kWin64 / "ArkAscendedServer.exe";
  fs::copy_file(VESPERLINE_STANDIN_PROGRAM, program, fs::copy_options::overwrite_existing);
  return program;
}

// What a report says beside its facts: its idle reasons, its warnings and its files' states.
std::string Says(const json& report) {
  std::string all = report.at("idle_reasons").dump() + report.at("warnings").dump();
  for (const char* file : {"config", "settings", "log"}) {
    all += report.at("files").at(file).at("state").get<std::string>();
  }
  return all;
}

std::string Replaced(std::string text, std::string_view mark, const std::string& by) {
  for (std::size_t at; (at = text.find(mark)) != std::string::npos;) {
    text.replace(at, mark.size(), by);
  }
  return text;
}

// config.json the server's user may not read, or a folder on the way it may not enter, while the
// checker runs with sudo: each named with its owner, its mode and the command that mends it.
TEST(LinuxCheckerTest, ReadsTheFilesAsTheServersUserDoes) {
  if (!AsRoot()) GTEST_SKIP() << "needs root's powers, to run the server as another user";
  constexpr fs::perms kEveryoneReads =
      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const struct {
    const char* what;
    const char* locked;  // the file below the plugin folder given the mode; "" for the folder
    fs::perms mode;
    const char* verdict;
    std::vector<std::string> says;  // <path> standing for the locked file or folder
  } cases[] = {
      {"config.json made by sudo under umask 077",
       "config.json",
       fs::perms::owner_read | fs::perms::owner_write,
       "idle",
       {"cannot be read by the server's user nobody (uid 65534): it belongs to root (group root) "
        "with mode 0600, which does not let that user read it",
        "sudo chown nobody: <path>", "sudo chmod 644 <path>"}},
      {"the plugin folder closed to other users",
       "",
       fs::perms::owner_all,
       "not loaded",
       {"the folder <path> on the way belongs to root (group root) with mode 0700, which keeps "
        "that user out",
        "sudo chmod 755 <path>"}},
      {"every file readable", "config.json", kEveryoneReads, "report", {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const test::ServerTree tree;
    const fs::path program = Install(tree);
    const fs::path locked = *test.locked ? tree.PluginDir() / test.locked : tree.PluginDir();
    fs::permissions(locked, test.mode);
    const test::RunningProgram server(
        "/usr/bin/setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", Text(program), kLaunch});
    const test::ProgramRun run =
        test::RunCheckerWithSudo({"--plugin-dir", Text(tree.PluginDir()), "--json"});
    const json report = json::parse(run.output);
    EXPECT_EQ(report.at("command_line_source").at("process_id"), server.Id());
    EXPECT_EQ(report.at("verdict"), test.verdict) << report.dump(2);
    const std::string says = Says(report);
    for (const std::string& expected : test.says) {
      EXPECT_NE(says.find(Replaced(expected, "<path>", Text(locked))), std::string::npos)
          << expected << "\n"
          << says;
    }
    if (test.says.empty()) {
      EXPECT_EQ(says.find("cannot be read"), std::string::npos) << says;
    }
    fs::permissions(tree.PluginDir(), fs::perms::owner_all);
  }
}

// A server in a chroot, checked with sudo from this machine: config.json linked out of its root,
// by an absolute target and by enough "..", leads nowhere for the server, and the file of this
// machine it names is never read; a settings file linked to an absolute path inside the root is
// followed there; a plugin folder named as the server sees it is taken there.
TEST(LinuxCheckerTest, NeverReadsTheHostBehindAContainersLinks) {
  if (!AsRoot()) GTEST_SKIP() << "needs root's powers, to start a server in a chroot";
  const test::TempDir host;
  const fs::path secret = host.Path() / "secret.json";
  test::WriteFile(secret,
                  "{\"token\": \"HOSTSECRETtoken-0042\", \"ip\": \"198.51.100.77\", \"port\": 7}");
  std::string climbing;
  for (int i = 0; i < 20; ++i) climbing += "../";
  climbing += Text(secret).substr(1);
  const std::string inside = std::string("/srv/ark/") + kPluginPath;
  const struct {
    const char* what;
    std::string configLink;  // config.json's target; empty for the file itself
    bool settingsInData;     // the settings file links to /data/GameUserSettings.ini
    bool namedInside;        // --plugin-dir names the folder as the server sees it
    const char* verdict;
    std::string says;
  } cases[] = {
      {"an absolute link", Text(secret), false, false, "idle",
       "is a link to " + Text(secret) +
           ", which leads nowhere in the server's container or chroot: the server looks an "
           "absolute target up from its own root folder"},
      {"a link whose .. climb above the root", climbing, false, false, "idle",
       "is a link to " + climbing +
           ", which leads out of the root folder of the server's container or chroot"},
      {"a settings file linked inside the root", "", true, true, "report", ""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const test::ServerTree tree("rootfs/srv/ark");
    const fs::path root = tree.Root().parent_path().parent_path();
    const fs::path program = Install(tree);
    if (!test.configLink.empty()) {
      fs::remove(tree.PluginDir() / "config.json");
      fs::create_symlink(test.configLink, tree.PluginDir() / "config.json");
    }
    if (test.settingsInData) {
      test::WriteFile(root / "data/GameUserSettings.ini",
                      "[ServerSettings]\r\nActiveMods=4711\r\n");
      fs::remove(tree.SettingsFile());
      fs::create_symlink("/data/GameUserSettings.ini", tree.SettingsFile());
    }
    test::Launch launch;
    launch.Environment = {"VESPERLINE_STANDIN_ROOT=" + Text(root)};
    const test::RunningProgram server(program, {kLaunch}, test::Account::Own, launch);
    if (server.ReadyText() != "ready") GTEST_SKIP() << "the system lets no process change its root";

    std::vector<std::string> arguments{"--server-pid", std::to_string(server.Id())};
    if (test.namedInside) arguments = {"--plugin-dir", inside};
    const test::ProgramRun text = test::RunCheckerWithSudo(arguments);
    arguments.push_back("--json");
    const test::ProgramRun asJson = test::RunCheckerWithSudo(arguments);
    for (const std::string* output : {&text.output, &asJson.output, &text.errors, &asJson.errors}) {
      EXPECT_EQ(output->find("HOSTSECRET"), std::string::npos) << *output;
      EXPECT_EQ(output->find("198.51.100.77"), std::string::npos) << *output;
    }
    const json report = json::parse(asJson.output);
    EXPECT_EQ(report.at("verdict"), test.verdict) << report.dump(2);
    EXPECT_EQ(report.at("plugin_dir"), inside + "/");
    EXPECT_EQ(report.at("command_line_source").at("process_id"), server.Id());
    EXPECT_NE(Says(report).find(test.says), std::string::npos) << Says(report);
    EXPECT_EQ(report.at("facts").at("mods").at("value"),
              test.settingsInData ? json("4711") : json(nullptr));
  }
}

// A server with mounts of its own below this machine's root (unshare -m; systemd's BindPaths=):
// found from the plugin folder named on this machine and by --server-pid, and read as it sees
// its files, with a warning where the folder or file named is not the one it reads.
TEST(LinuxCheckerTest, ReadsWhatAServerWithMountsOfItsOwnSees) {
  if (!AsRoot()) GTEST_SKIP() << "needs root's powers, to give a server mounts of its own";
  const std::string inside = std::string("/srv/ark/") + kPluginPath;
  const struct {
    const char* what;
    bool folder;     // a folder mounted over the plugin folder, else a file over config.json
    bool container;  // the server tree is a container's volume, mounted at /srv/ark in its root
    std::string pluginDir;  // the plugin folder as the server sees it; empty for the one named
    std::string says;
  } cases[] = {
      {"a folder mounted over the plugin folder", true, false, "",
       "is another folder than the one the server sees at that path in the server's own mounts"},
      {"a file mounted over config.json", false, false, "",
       "is another file than the one the server reads at that path in the server's own mounts"},
      {"a container's volume, a file mounted over its config.json", false, true, inside + "/",
       "is another file than the one the server reads at " + inside +
           "/config.json in the server's container or chroot"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const test::ServerTree tree;
    // On this machine, config.json is Docker's empty placeholder: the plugin would stay idle.
    const fs::path program = Install(tree, "");
    const test::TempDir mounted;
    const fs::path source = test.folder ? mounted.Path() : mounted.Path() / "config.json";
    test::WriteFile(mounted.Path() / "config.json",
                    "{\"token\": \"MOUNTEDtoken-815\", \"ip\": \"1.2.3.4\", \"port\": 0}");
    test::InstallPlugin(mounted.Path());
    // The volume and the file are mounted where the server sees them, and a server in a
    // container takes the container's root for its own.
    const test::TempDir container;
    const fs::path root = container.Path() / "rootfs";
    const fs::path seen = test.container ? root / "srv/ark" : tree.Root();
    const fs::path target = seen / kPluginPath / (test.folder ? "" : "config.json");
    std::string mounts = "mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\"";
    std::vector<std::string> arguments{"--mount", "--propagation", "private", "/bin/sh", "-c"};
    if (test.container) {
      fs::create_directories(seen);
      mounts = "mount --bind \"$1\" \"$2\" && shift 2 && " + mounts;
      arguments.insert(arguments.end(), {mounts, "sh", Text(tree.Root()), Text(seen)});
    } else {
      arguments.insert(arguments.end(), {mounts, "sh"});
    }
    arguments.insert(
        arguments.end(),
        {Text(source), Text(target),
         Text(test.container ? seen / kWin64 / "ArkAscendedServer.exe" : program), kLaunch});
    test::Launch launch;
    if (test.container) launch.Environment = {"VESPERLINE_STANDIN_ROOT=" + Text(root)};
    const test::RunningProgram server("/usr/bin/unshare", arguments, test::Account::Own, launch);
    if (server.ReadyText() != "ready") GTEST_SKIP() << "the system lets no process change its root";
    for (const std::vector<std::string>& named :
         {std::vector<std::string>{"--plugin-dir", Text(tree.PluginDir())},
          std::vector<std::string>{"--server-pid", std::to_string(server.Id())}}) {
      std::vector<std::string> options = named;
      options.insert(options.end(), {"--json", "--show-token"});
      const json report = json::parse(test::RunCheckerWithSudo(options).output);
      EXPECT_EQ(report.at("command_line_source").at("source"), "running server") << named[0];
      EXPECT_EQ(report.at("verdict"), "report") << report.dump(2);
      EXPECT_EQ(report.at("plugin_dir"),
                test.pluginDir.empty() ? Text(tree.PluginDir()) + "/" : test.pluginDir);
      EXPECT_EQ(report.at("facts").at("token").at("value"), "MOUNTEDtoken-815");
      EXPECT_EQ(report.at("command_line_source").at("root"),
                "/proc/" + std::to_string(server.Id()) + "/root");
      // Only a folder named on this machine is compared with the one the server sees.
      EXPECT_EQ(Says(report).find(test.says) != std::string::npos, named[0] == "--plugin-dir")
          << Says(report);
    }
  }
}

// Without sudo, a server of the checker's own user with mounts of its own (rootless Podman's,
// say) is found, but its files are not read: the checker could read them only as this machine
// shows them, which is not what the server sees. The verdict is unknown, with the advice.
TEST(LinuxCheckerTest, WithoutSudoTheFilesOfAServerWithItsOwnMountsAreNotRead) {
  if (!AsRoot()) GTEST_SKIP() << "needs root's powers, to give a server of another user mounts";
  const test::ServerTree tree;
  const fs::path program = Install(tree);
  const test::TempDir copy;
  const fs::path checker = copy.Path() / "vesperline-check";
  fs::copy_file(VESPERLINE_CHECK_PROGRAM, checker);
  const std::vector<std::string> nobody{"--reuid=65534", "--regid=65534", "--clear-groups"};
  std::vector<std::string> arguments = nobody;
  arguments.insert(arguments.end(), {Text(program), kLaunch});
  arguments.insert(arguments.begin(), {"--mount", "/usr/bin/setpriv"});
  const test::RunningProgram server("/usr/bin/unshare", arguments);
  arguments = nobody;
  arguments.insert(arguments.end(),
                   {Text(checker), "--plugin-dir", Text(tree.PluginDir()), "--json"});
  const test::ProgramRun run = test::RunChecker(arguments, "/usr/bin/setpriv");
  EXPECT_EQ(run.exitCode, 1) << run.errors;
  const json report = json::parse(run.output);
  EXPECT_EQ(report.at("command_line_source").at("process_id"), server.Id());
  EXPECT_EQ(report.at("verdict"), "unknown");
  EXPECT_NE(report.at("not_read").get<std::string>().find("Run the checker with sudo"),
            std::string::npos);
  EXPECT_EQ(report.at("document"), nullptr);
  EXPECT_EQ(report.at("files").at("config").at("state"), "not read (see the verdict)");
}

// A server Wine runs in a container: the stand-in under the name of Wine's loader runs
// C:\ark\...\ArkAscendedServer.exe through a prefix in the home of the user steam, and the
// settings file and the plugin folder lie there in small letters, as guides copy them, which Wine
// finds in any case. Alone in its process namespace, it is the one server running, so the
// checker kept elsewhere takes its plugin folder.
TEST(LinuxCheckerTest, FindsAServerWineRunsInAContainerAndItsFilesInAnyCase) {
  if (!Alone()) GTEST_SKIP() << "needs a process namespace of its own (tests/support/alone.sh)";
  const test::ServerTree tree("rootfs/srv/ARK Server");
  const fs::path root = tree.Root().parent_path().parent_path();
  const fs::path win64 = tree.Root() / kWin64;
  test::WriteFile(win64 / "ArkAscendedServer.exe", "");
  fs::rename(win64 / "ArkApi", win64 / "arkapi");
  fs::rename(win64 / "arkapi/Plugins", win64 / "arkapi/plugins");
  const fs::path pluginDir = win64 / "arkapi/plugins/Vesperline";
  test::WriteFile(pluginDir / "config.json", kConfig);
  const fs::path settings =
      tree.Root() / "ShooterGame/Saved/Config/windowsserver/gameusersettings.ini";
  test::WriteFile(settings, "[SessionSettings]\r\nSessionName=From the settings\r\n");
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
  launch.Environment = {"WINEPREFIX=/home/steam/.wine", "VESPERLINE_STANDIN_ROOT=" + Text(root)};
  const std::string program = "C:\\ark\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe";
  const test::RunningProgram server(program,
                                    {"TheIsland_WP?listen?Port=7779", "-WinLiveMaxPlayers=40"},
                                    test::Account::Own, launch);
  if (server.ReadyText() != "ready") GTEST_SKIP() << "the system lets no process change its root";

  const test::ProgramRun run = test::RunChecker({"--json"}, Text(checker));
  ASSERT_EQ(run.exitCode, 0) << run.output << run.errors;
  const json report = json::parse(run.output);
  const std::string inside =
      "/srv/ARK Server/ShooterGame/Binaries/Win64/arkapi/plugins/Vesperline/";
  EXPECT_EQ(report.at("plugin_dir"), inside);
  EXPECT_EQ(report.at("plugin_dir_source"), "running server");
  EXPECT_EQ(report.at("command_line"),
            "\"" + program + "\" TheIsland_WP?listen?Port=7779 -WinLiveMaxPlayers=40");
  const json& source = report.at("command_line_source");
  const std::string rootSeen = "/proc/" + std::to_string(server.Id()) + "/root";
  EXPECT_EQ(source.at("root"), rootSeen);
  EXPECT_EQ(source.at("path_inside"),
            "/srv/ARK Server/ShooterGame/Binaries/Win64/ArkAscendedServer.exe");
  EXPECT_EQ(source.at("windows_path"), program);
  EXPECT_EQ(source.at("wine_prefix"), "/home/steam/.wine");
  EXPECT_NE(source.at("note").get<std::string>().find("which Wine runs as " + program +
                                                      " in the prefix /home/steam/.wine, in "),
            std::string::npos)
      << source.at("note");
  EXPECT_EQ(report.at("files").at("settings").at("path"),
            "/srv/ARK Server/ShooterGame/Saved/Config/windowsserver/gameusersettings.ini");
  EXPECT_EQ(report.at("facts").at("session_name").at("value"), "From the settings");
  EXPECT_EQ(report.at("facts").at("player_limit").at("value"), 40);
}

// A report with the test's folders written as names, then each process named by its id written
// "process <name>" with the blanks after it made two, so that one golden file serves every run.
std::string Portable(std::string text, const std::vector<std::pair<fs::path, std::string>>& folders,
                     const std::vector<std::pair<std::uint32_t, std::string>>& ids = {}) {
  for (const auto& [folder, name] : folders) text = Replaced(text, Text(folder), name);
  for (const auto& [id, name] : ids) {
    const std::regex named("process " + std::to_string(id) + "( +|,)");
    text = std::regex_replace(text, named, "process " + name + "$1");
    text = std::regex_replace(text, std::regex("process " + name + " +"), "process " + name + "  ");
  }
  return text;
}

// Run from its unpacked folder, with no plugin folder named, the checker checks the one server
// running; with none, or several, or only one it may not look at, it says what it sees and what
// to do instead of checking its own folder.
TEST(LinuxCheckerTest, RunFromItsUnpackedFolderItSaysWhatItSees) {
  if (!Alone()) GTEST_SKIP() << "needs a process namespace of its own (tests/support/alone.sh)";
  const test::TempDir unpacked;
  const fs::path checker = unpacked.Path() / "Vesperline-checker/vesperline-check";
  test::WriteFile(checker.parent_path() / "README.txt", "");
  fs::copy_file(VESPERLINE_CHECK_PROGRAM, checker);
  const test::ServerTree first("a"), second("b"), other("c");
  for (const test::ServerTree* tree : {&first, &second, &other}) Install(*tree);
  const auto check = [&](std::vector<std::string> arguments) {
    const test::ProgramRun text = test::RunChecker(arguments, Text(checker));
    arguments.push_back("--json");
    const test::ProgramRun asJson = test::RunChecker(arguments, Text(checker));
    EXPECT_EQ(text.exitCode, asJson.exitCode);
    return std::pair{text, json::parse(asJson.output)};
  };

  auto [none, noneJson] = check({});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(noneJson.at("verdict"), "no server chosen");
  EXPECT_EQ(noneJson.at("servers_seen"), json::array());
  test::ExpectGolden("linux-no-server-seen",
                     Portable(none.output, {{checker.parent_path(), "<checker>"}}));

  const test::RunningProgram a(first.Root() / kWin64 / "ArkAscendedServer.exe", {kLaunch});
  const test::RunningProgram hidden(other.Root() / kWin64 / "ArkAscendedServer.exe", {kLaunch},
                                    test::Account::Other);
  auto [one, oneJson] = check({});
  EXPECT_EQ(oneJson.at("plugin_dir_source"), "running server") << one.output;
  EXPECT_EQ(oneJson.at("plugin_dir"), Text(first.PluginDir()) + "/");

  const test::RunningProgram b(second.Root() / kWin64 / "ArkAscendedServer.exe", {kLaunch});
  auto [two, twoJson] = check({});
  EXPECT_EQ(two.exitCode, 1);
  EXPECT_EQ(twoJson.at("verdict"), "no server chosen");
  ASSERT_EQ(twoJson.at("servers_seen").size(), 2u) << twoJson.dump(2);
  EXPECT_EQ(twoJson.at("servers_seen")[0].at("plugin_dir"), Text(first.PluginDir()));
  EXPECT_EQ(twoJson.at("refused_processes"), json::array({hidden.Id()}));
  test::ExpectGolden(
      "linux-two-servers-seen",
      Portable(two.output,
               {{checker.parent_path(), "<checker>"},
                {first.Root(), "<first server>"},
                {second.Root(), "<second server>"}},
               {{a.Id(), "<first>"}, {b.Id(), "<second>"}, {hidden.Id(), "<hidden>"}}));
  // With sudo the process of "another user" is seen too; --server-pid picks one of them.
  const json all = json::parse(test::RunCheckerWithSudo({"--json"}, Text(checker)).output);
  EXPECT_EQ(all.at("servers_seen").size(), AsRoot() ? 3u : 2u);
  auto [picked, pickedJson] = check({"--server-pid", std::to_string(b.Id())});
  EXPECT_EQ(pickedJson.at("plugin_dir"), Text(second.PluginDir()) + "/");
  EXPECT_EQ(pickedJson.at("command_line_source").at("process_id"), b.Id());
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
