// Gathering the session name, player limit, mods, PvE flag, version and map at start-up.
#include <gtest/gtest.h>

#include <fstream>

#include "common/CommandLine.h"
#include "discovery/ConfigFile.h"
#include "discovery/Discovery.h"
#include "discovery/LaunchArguments.h"
#include "discovery/ServerInfo.h"
#include "heartbeat/Document.h"
#include "plugin/Heartbeat.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

// A server tree with the plugin five levels below the game's folder, as the server installs it.
class ServerTree : public test::ServerTree {
 public:
  void Settings(const std::string& text) const { test::WriteFile(SettingsFile(), text); }
  void Log(const std::string& text) const { test::WriteFile(test::ServerTree::Log(), text); }

  // The descriptive facts of this tree with the given command line, from fresh facts.
  ServerFacts Collect(const std::string& commandLine) const {
    ServerFacts facts;
    CollectServerInfo(facts, {SplitLaunchLine(commandLine), SettingsFilePath(PluginDirText()),
                              ServerLogPath(PluginDirText())});
    return facts;
  }
};

constexpr char kExe[] = "\"C:\\ARK Server\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" ";

TEST(ServerInfoTest, TheSessionNameOnTheCommandLineWinsOverTheSettingsFile) {
  ServerTree tree;
  tree.Settings("[SessionSettings]\nSessionName=From File\n");
  EXPECT_EQ(
      tree.Collect(std::string(kExe) + "\"TheIsland_WP?SessionName=From Line?listen\"").SessionName,
      "From Line");
  EXPECT_EQ(tree.Collect(std::string(kExe) + "TheIsland_WP?listen").SessionName, "From File");
  tree.Settings("");
  EXPECT_EQ(tree.Collect(std::string(kExe) + "TheIsland_WP?listen").SessionName, "");
}

// Which source decides the player limit, the mods and PvE: the launch options the game honours
// (-WinLiveMaxPlayers= of 1 or more, -mods=, ?ServerPVE=) win over the settings file; each is
// tried present, empty and unconvertible.
TEST(ServerInfoTest, TheLaunchOptionsTheGameHonoursDecide) {
  const struct {
    const char* settings;
    const char* launch;  // behind the executable
    int limit;
    const char* mods;
    bool pve;
  } cases[] = {
      // The player limit.
      {"[/Script/Engine.GameSession]\nMaxPlayers=70\n", "TheIsland_WP -WinLiveMaxPlayers=40", 40,
       "", false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=70\n", "TheIsland_WP -WinLiveMaxPlayers=", 70, "",
       false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=70\n", "TheIsland_WP -WinLiveMaxPlayers=x", 70, "",
       false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=70\n", "TheIsland_WP -WinLiveMaxPlayers=0", 70, "",
       false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=70\n", "TheIsland_WP?MaxPlayers=30", 70, "",
       false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=0\n", "TheIsland_WP?MaxPlayers=30", 30, "", false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=0\n", "TheIsland_WP", 0, "", false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=-3\n", "TheIsland_WP", -3, "", false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=many\n", "TheIsland_WP -WinLiveMaxPlayers=0", 0,
       "", false},
      {"", "TheIsland_WP?listen ?MaxPlayers=40 -MaxPlayers=30", 30, "", false},
      {"", "TheIsland_WP", -1, "", false},
      // The mods.
      {"[ServerSettings]\nActiveMods=111,222\n", "TheIsland_WP -mods=333,444 -log", -1, "333,444",
       false},
      {"[ServerSettings]\nActiveMods=111,222\n", "TheIsland_WP -mods= -log", -1, "111,222", false},
      {"[ServerSettings]\nActiveMods=111,222\n", "TheIsland_WP -mods=\"\"", -1, "111,222", false},
      {"[ServerSettings]\nActiveMods=111,222\n", "TheIsland_WP", -1, "111,222", false},
      {"[ServerSettings]\nActiveMods=\n", "TheIsland_WP -mods=333", -1, "333", false},
      // PvE: only the word true, in any case, is PvE.
      {"[ServerSettings]\nbServerPVE=False\n", "TheIsland_WP?listen?ServerPVE=True", -1, "", true},
      {"[ServerSettings]\nbServerPVE=True\n", "TheIsland_WP?listen?ServerPVE=false", -1, "", false},
      {"[ServerSettings]\nbServerPVE=True\n", "TheIsland_WP?listen?ServerPVE=", -1, "", true},
      {"[ServerSettings]\nbServerPVE=True\n", "TheIsland_WP?listen?ServerPVE=yes", -1, "", false},
      {"[ServerSettings]\nbServerPVE=False\n", "TheIsland_WP?listen ?ServerPVE=True", -1, "",
       false},
      {"[ServerSettings]\nbServerPVE=TRUE\n", "TheIsland_WP", -1, "", true},
      {"[ServerSettings]\nbServerPVE=true \n", "TheIsland_WP", -1, "", false},
      {"[ServerSettings]\nbServerPVE=1\n", "TheIsland_WP", -1, "", false},
      {"[ServerSettings]\nServerPVE=True\n", "TheIsland_WP", -1, "", true},
      {"[ServerSettings]\nbServerPVE=False\nServerPVE=True\n", "TheIsland_WP", -1, "", false},
  };
  ServerTree tree;
  for (const auto& check : cases) {
    SCOPED_TRACE(std::string(check.settings) + " | " + check.launch);
    tree.Settings(check.settings);
    const ServerFacts facts = tree.Collect(std::string(kExe) + check.launch);
    EXPECT_EQ(facts.PlayerLimit, check.limit);
    EXPECT_EQ(facts.ModList, check.mods);
    EXPECT_EQ(facts.IsPve, check.pve);
  }
}

TEST(ServerInfoTest, ThePluginsFolderEndsAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(DirectoryOf("C:\\ARK\\Plugins\\Vesperline\\Vesperline.dll"),
            "C:\\ARK\\Plugins\\Vesperline\\");
  EXPECT_EQ(DirectoryOf("C:\\ARK/Plugins/Vesperline.dll"), "C:\\ARK/Plugins/");
  EXPECT_EQ(DirectoryOf("Vesperline.dll"), "");
  EXPECT_EQ(DirectoryOf(""), "");
}

TEST(ConfigFileTest, AConfigJsonOverTheLimitCountsAsMissing) {
  ServerTree tree;
  for (const std::uint64_t size : {kMaxConfigFileBytes, kMaxConfigFileBytes + 1}) {
    std::string config = R"({"token": "t", "ip": "203.0.113.7", "port": 7777})";
    config.resize(size, ' ');
    tree.WriteConfig(config);
    const Discovery found = DiscoverServer({tree.PluginDirText(), [] { return std::string(); }});
    const bool fits = size <= kMaxConfigFileBytes;
    EXPECT_EQ(found.Usable, fits) << size;
    EXPECT_EQ(found.Gate.FileFound, fits) << size;
    EXPECT_EQ(found.Config.TooLarge, fits ? std::nullopt : std::optional(size));
  }
}

// ---- The version found later, by the heartbeats ---------------------------------------------

class LateVersionTest : public test::PluginTest {};

TEST_F(LateVersionTest, TheFirstHeartbeatAfterTheLogNamesTheVersionCarriesItAndLaterOnesKeepIt) {
  ServerTree tree;
  Profile.PluginDir = tree.PluginDirText();
  Profile.Token = "token";
  Profile.ServerIp = "203.0.113.7";
  Profile.ServerPort = 7777;
  Profile.SessionName = "Island";

  CollectServerInfo(Profile, {SplitLaunchLine(""), SettingsFilePath(Profile.PluginDir),
                              ServerLogPath(Profile.PluginDir), &Profile.VersionLog});
  EXPECT_EQ(Profile.ServerVersion, "") << "no log at start-up";
  SendHeartbeat("online");
  // The server appends to its log.
  std::string log = "LogInit: ARK Version: \n";
  tree.Log(log);
  SendHeartbeat("online");
  EXPECT_EQ(Profile.ServerVersion, "") << "an empty version line leaves the version unknown";
  tree.Log(log += "LogInit: ARK Version: 74.24\n");
  SendHeartbeat("online");
  tree.Log(log += "LogInit: ARK Version: 99.99\n");
  SendHeartbeat("online");

  const auto requests = simhost::Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].body.find("version"), std::string::npos);
  EXPECT_NE(requests[2].body.find("\"name\":\"Island (v74.24)\""), std::string::npos);
  EXPECT_NE(requests[2].body.find("\"version\":\"74.24\""), std::string::npos);
  EXPECT_NE(requests[3].body.find("\"version\":\"74.24\""), std::string::npos)
      << "once known, the log is not read again";
}

TEST_F(LateVersionTest, StartUpAndTheHeartbeatsReadOnlyWhatTheServerAppendedSince) {
  ServerTree tree;
  Profile.PluginDir = tree.PluginDirText();
  const std::string line = "LogInit: the server is starting, stand by\r\n";
  tree.Log(line + line + line);
  CollectServerInfo(Profile, {SplitLaunchLine(""), SettingsFilePath(Profile.PluginDir),
                              ServerLogPath(Profile.PluginDir), &Profile.VersionLog});
  EXPECT_EQ(Profile.ServerVersion, "");

  // A marker line written over bytes already read, past the log's first bytes and without the log
  // growing, is not seen: they are not read again.
  const std::filesystem::path log = tree.test::ServerTree::Log();
  ASSERT_GT(2 * line.size(), VersionLogReader::kHeadBytes);
  std::string marker = "ARK Version: 1.0";
  marker.resize(line.size() - 2, ' ');
  std::fstream file(log, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(2 * line.size()));
  file << marker << "\r\n";
  file.close();
  ReadVersionFromLog(Profile, Profile.VersionLog, Profile.PluginDir);
  EXPECT_EQ(Profile.ServerVersion, "");
  std::ofstream(log, std::ios::binary | std::ios::app) << "ARK Version: 2.0\r\n";
  ReadVersionFromLog(Profile, Profile.VersionLog, Profile.PluginDir);
  EXPECT_EQ(Profile.ServerVersion, "2.0");
}

// The map: the first argument behind the executable path, a launcher word or an executable's name
// passed over, case by case. (The number and text scans, case by case, are the launch_arguments
// fuzz target's seeds, checked against its reference reading in every build.)
TEST(LaunchMapTest, TheMapIsTheFirstArgumentBehindTheExecutable) {
  const struct {
    const char* line;
    std::optional<std::string> map;
  } cases[] = {
      {R"("C:\ARK\ArkAscendedServer.exe" TheIsland_WP?listen -log)", "TheIsland_WP"},
      {R"("C:\ARK\ArkAscendedServer.exe"   ScorchedEarth_WP)", "ScorchedEarth_WP"},
      {R"(/srv/ark/ArkAscendedServer TheIsland_WP?listen)", "TheIsland_WP"},
      {R"("C:\ARK\ArkAscendedServer.exe" "\TheIsland_WP\"?listen)", "TheIsland_WP"},
      // Pieces of an unquoted executable path are skipped only when they end in ".exe".
      {R"(C:\ARK Server\ArkAscendedServer.EXE TheIsland_WP?listen)", "TheIsland_WP"},
      {R"(C:\My ARK Server\ArkAscendedServer.exe TheIsland_WP?listen)", "ARK"},
      {R"(C:\ARK\Server .exe TheIsland_WP?listen)", "TheIsland_WP"},
      // "start" is skipped only in lower case, and stays when nothing follows it.
      {R"("C:\ARK\S.exe" start TheIsland_WP?listen)", "TheIsland_WP"},
      {R"("C:\ARK\S.exe" Start TheIsland_WP?listen)", "Start"},
      {R"("C:\ARK\S.exe" start)", "start"},
      {R"("C:\ARK\S.exe" start   )", "start"},
      {R"("C:\ARK\S.exe" other.exe?listen TheIsland_WP)", "other.exe"},
      // Nothing behind the executable.
      {R"("C:\ARK\S.exe")", std::nullopt},
      {R"("C:\ARK\S.exe"   )", std::nullopt},
      {R"("C:\ARK\S.exe)", std::nullopt},
      {R"(")", std::nullopt},
      {"ArkAscendedServer.exe", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& check : cases) EXPECT_EQ(ScanLaunchMap(check.line), check.map) << check.line;
}

// Launch lines as real launchers write them, and what the server takes from each: its first
// argument (the one with the map) ends at a blank outside quotes, quotes group blanks, `\"` is a
// quote Wine wrote inside an argument. config.json gives port 0 and there is no settings file, so
// every fact comes from the line.
TEST(LaunchLineTest, TheServerReadsItsFirstArgumentAsItsLauncherWroteIt) {
  const struct {
    const char* what;
    const char* line;  // behind the executable, unless it begins with one
    const char* name;
    int port;
    int limit;
    const char* mods;
    bool pve;
  } cases[] = {
      {"an unquoted blank ends the first argument",
       "TheIsland_WP?listen?SessionName=My ARK Server?Port=7779 -NoBattlEye", "My", 0, -1, "",
       false},
      {"quotes around the value", "TheIsland_WP?listen?SessionName=\"My ARK Server\"?Port=7779",
       "My ARK Server", 7779, -1, "", false},
      {"a .bat file's or a manager's quoted first argument",
       "\"TheIsland_WP?listen?SessionName=My ARK Server?Port=7779?ServerPVE=True\" -NoBattlEye",
       "My ARK Server", 7779, -1, "", true},
      {"Wine's \\\" in a container's start script",
       "TheIsland_WP?listen?SessionName=\\\"[EU] Rex | 2x\\\"?Port=7779?MaxPlayers=20 "
       "-mods=\\\"1,2\\\"",
       "[EU] Rex | 2x", 7779, 20, "1,2", false},
      {"a launcher that quotes the argument it writes \\\" into",
       "\"TheIsland_WP?listen?SessionName=\\\"My ARK Server\\\"?Port=7779\" -NoBattlEye",
       "My ARK Server", 7779, -1, "", false},
      {"a manager's tripled quotes",
       "TheIsland_WP?listen?SessionName=\"\"\"Rex Hunters\"\"\"?Port=7777 -WinLiveMaxPlayers=40",
       "Rex Hunters", 7777, 40, "", false},
      {"tripled quotes inside a quoted first argument",
       "\"TheIsland_WP?listen?SessionName=\"\"\"Rex Hunters\"\"\"?Port=7777\"", "Rex", 0, -1, "",
       false},
      {"a quoted dash option after the name",
       "TheIsland_WP?listen?SessionName=Bob \"-ServerAdminPassword=my secret\" -NoBattlEye", "Bob",
       0, -1, "", false},
      {"a spaced dash in the name", "TheIsland_WP?listen?SessionName=Rex - PvE x3?Port=7779", "Rex",
       0, -1, "", false},
      {"a blank before the next option, inside quotes",
       "\"TheIsland_WP?listen?SessionName=Zoe Island ?Port=7779\"", "Zoe Island", 7779, -1, "",
       false},
      {"a quote without its partner groups nothing",
       "TheIsland_WP?listen?SessionName=\"My Server -NoBattlEye", "My", 0, -1, "", false},
      {"'?' options after the first argument are not the server's",
       "TheIsland_WP?listen -NoBattlEye ?SessionName=Late?Port=7779?ServerPVE=True", "", 0, -1, "",
       false},
      {"the first ?SessionName= counts", "TheIsland_WP?SessionName=A?SessionName=B", "A", 0, -1, "",
       false},
      {"start first", "start TheIsland_WP?SessionName=S?Port=5", "S", 5, -1, "", false},
      {"dash options in capitals", "TheIsland_WP?listen -Port=7780 -Mods=928102,931877", "", 7780,
       -1, "928102,931877", false},
      {"-passivemods= beside -mods=",
       "TheIsland_WP?listen?Port=7777 -passivemods=111 -mods=928102 -MaxPlayers=30", "", 7777, 30,
       "928102", false},
      {"a quoted mod list with a blank", "TheIsland_WP -mods=\"928102, 931877\" -NoBattlEye", "", 0,
       -1, "928102, 931877", false},
      {"a mod option quoted whole", "TheIsland_WP \"-mods=928102,931877\"", "", 0, -1,
       "928102,931877", false},
      {"characters outside ASCII",
       "\"TheIsland_WP?SessionName=\xC3\x84gypten \xE6\x81\x90\xE7\xAB\x9C \xF0\x9F\xA6\x96\"",
       "\xC3\x84gypten \xE6\x81\x90\xE7\xAB\x9C \xF0\x9F\xA6\x96", 0, -1, "", false},
      {"an unquoted executable path with a blank",
       "C:\\ARK Server\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe "
       "TheIsland_WP?listen?SessionName=Rex?Port=7777",
       "Rex", 7777, -1, "", false},
  };
  ServerTree tree;
  tree.WriteConfig(R"({"token": "t", "ip": "203.0.113.7", "port": 0})");
  for (const auto& check : cases) {
    SCOPED_TRACE(check.what);
    const std::string line =
        std::string(check.line).starts_with("C:") ? check.line : kExe + std::string(check.line);
    const Discovery found =
        DiscoverServer({tree.PluginDirText(), [&] { return line; }}, {.PastFailedGate = true});
    EXPECT_EQ(found.Facts.SessionName, check.name);
    EXPECT_EQ(found.Facts.ServerPort, check.port);
    EXPECT_EQ(found.Facts.PlayerLimit, check.limit);
    EXPECT_EQ(found.Facts.ModList, check.mods);
    EXPECT_EQ(found.Facts.IsPve, check.pve);
  }
}

// The Linux plugin rebuilds its command line from /proc/self/cmdline the way Wine builds a Windows
// program's command line from the same arguments, so that both builds read the same line. Behind
// the executable, the lines here are what Wine 8 gave a Windows program started with these
// arguments.
TEST(LaunchLineTest, TheLinuxJoinWritesTheArgumentsAsWineDoes) {
  const struct {
    std::vector<std::string> arguments;
    const char* line;
  } cases[] = {
      {{"/srv/ark server/ArkAscendedServer.exe",
        "TheIsland_WP?listen?SessionName=\"My ARK Server\"?Port=7779", "-mods=\"1,2\""},
       R"("/srv/ark server/ArkAscendedServer.exe" )"
       R"("TheIsland_WP?listen?SessionName=\"My ARK Server\"?Port=7779" -mods=\"1,2\")"},
      {{"S", "", R"(a\b\)", R"(C:\Dir x\)", "tab\tx", R"(q\"x)"},
       "S \"\" a\\b\\ \"C:\\Dir x\\\\\" \"tab\tx\" q\\\\\\\"x"},
  };
  for (const auto& check : cases) {
    std::string nulSeparated;
    for (const std::string& argument : check.arguments) nulSeparated += argument + '\0';
    EXPECT_EQ(JoinProcessArguments(nulSeparated), check.line);
  }
}

}  // namespace
}  // namespace vesperline
