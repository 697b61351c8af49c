// Gathering the session name, player limit, mods, PvE flag, version and map at start-up.
#include <gtest/gtest.h>

#include <fstream>

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
    CollectServerInfo(
        facts, {commandLine, SettingsFilePath(PluginDirText()), ServerLogPath(PluginDirText())});
    return facts;
  }
};

constexpr char kExe[] = "\"C:\\ARK Server\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" ";

TEST(ServerInfoTest, TheSessionNameOnTheCommandLineWinsOverTheSettingsFile) {
  ServerTree tree;
  tree.Settings("[SessionSettings]\nSessionName=From File\n");
  EXPECT_EQ(
      tree.Collect(std::string(kExe) + "TheIsland_WP?SessionName=From Line?listen").SessionName,
      "From Line");
  EXPECT_EQ(tree.Collect(std::string(kExe) + "TheIsland_WP?listen").SessionName, "From File");
  tree.Settings("");
  EXPECT_EQ(tree.Collect(std::string(kExe) + "TheIsland_WP?listen").SessionName, "");
}

TEST(ServerInfoTest, ThePlayerLimitOfTheSettingsFileWinsWhenItIsAboveZero) {
  ServerTree tree;
  const std::string launch = std::string(kExe) + "TheIsland_WP?MaxPlayers=70?listen";
  const std::string plain = std::string(kExe) + "TheIsland_WP?listen";
  tree.Settings("[/Script/Engine.GameSession]\nMaxPlayers=1\n");
  EXPECT_EQ(tree.Collect(launch).PlayerLimit, 1);
  tree.Settings("[/Script/Engine.GameSession]\nMaxPlayers=0\n");
  EXPECT_EQ(tree.Collect(launch).PlayerLimit, 70);
  EXPECT_EQ(tree.Collect(plain).PlayerLimit, 0);
  tree.Settings("[/Script/Engine.GameSession]\nMaxPlayers=-3\n");
  EXPECT_EQ(tree.Collect(plain).PlayerLimit, -3);
  tree.Settings("[/Script/Engine.GameSession]\nMaxPlayers=many\n");
  EXPECT_EQ(tree.Collect(plain).PlayerLimit, -1);
  EXPECT_EQ(tree.Collect(launch).PlayerLimit, 70);
  EXPECT_EQ(tree.Collect(std::string(kExe) + "TheIsland_WP -WinLiveMaxPlayers=20").PlayerLimit, 20);
  tree.Settings("");
  EXPECT_EQ(tree.Collect(plain).PlayerLimit, -1);
}

TEST(ServerInfoTest, TheModsOfTheSettingsFileWinUnlessTheyAreEmpty) {
  ServerTree tree;
  const std::string launch = std::string(kExe) + "TheIsland_WP?listen -mods=333,444 -log";
  tree.Settings("[ServerSettings]\nActiveMods=111,222\n");
  EXPECT_EQ(tree.Collect(launch).ModList, "111,222");
  tree.Settings("[ServerSettings]\nActiveMods=\n");
  EXPECT_EQ(tree.Collect(launch).ModList, "333,444");
  EXPECT_EQ(tree.Collect(std::string(kExe) + "TheIsland_WP").ModList, "");
}

TEST(ServerInfoTest, PveIsTrueOnlyForTheWordTrueInAnyCase) {
  ServerTree tree;
  const std::string line = std::string(kExe) + "TheIsland_WP";
  for (const char* yes : {"True", "TRUE", "true"}) {
    tree.Settings(std::string("[ServerSettings]\nbServerPVE=") + yes + "\n");
    EXPECT_TRUE(tree.Collect(line).IsPve) << yes;
  }
  for (const char* no : {"1", "yes", "true ", "False"}) {
    tree.Settings(std::string("[ServerSettings]\nbServerPVE=") + no + "\n");
    EXPECT_FALSE(tree.Collect(line).IsPve) << no;
  }
  tree.Settings("[ServerSettings]\nServerPVE=True\n");
  EXPECT_TRUE(tree.Collect(line).IsPve) << "the second key decides when the first is absent";
  tree.Settings("[ServerSettings]\nbServerPVE=False\nServerPVE=True\n");
  EXPECT_FALSE(tree.Collect(line).IsPve) << "the first key decides when present";
  tree.Settings("[ServerSettings]\n");
  EXPECT_FALSE(tree.Collect(line).IsPve);
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

  CollectServerInfo(Profile, {"", SettingsFilePath(Profile.PluginDir),
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
  CollectServerInfo(Profile, {"", SettingsFilePath(Profile.PluginDir),
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

// The session name and the mod list as admins write them: hosting panels unquoted, server managers
// with the whole first argument in quotes, dash options behind it that must not reach the list.
TEST(LaunchTextTest, TheSessionNameEndsWithItsArgument) {
  const struct {
    const char* line;
    std::optional<std::string> name;
  } cases[] = {
      {R"("C:\ARK\ArkAscendedServer.exe" "TheIsland_WP?listen?SessionName=My Server" -NoBattlEye)",
       "My Server"},
      {"S.exe TheIsland_WP?listen?Port=7777?SessionName=BobRexHunters -clusterid=secretcluster "
       "-NoBattlEye",
       "BobRexHunters"},
      {R"(S.exe TheIsland_WP?listen?SessionName="My Server" -NoBattlEye?Port=7777)", "My Server"},
      {"S.exe TheIsland_WP?SessionName=My Server\t\t-NoBattlEye", "My Server"},
      // What no dash option follows runs on as before.
      {"S.exe TheIsland_WP?listen?SessionName=My ARK Server?Port=7777", "My ARK Server"},
      {"S.exe TheIsland_WP?listen?SessionName=My ARK Server", "My ARK Server"},
      {"S.exe TheIsland_WP?SessionName=Rex - PvE x3 [EU] | 2x?Port=7777", "Rex - PvE x3 [EU] | 2x"},
      {"S.exe TheIsland_WP?SessionName=Rex -5 -NoBattlEye", "Rex -5"},
      {"S.exe TheIsland_WP?SessionName=Rex  -", "Rex  -"},
      {"S.exe TheIsland_WP?SessionName=Gro\xC3\x9F"
       "e \xE6\x81\x90\xE7\xAB\x9C -log",
       "Gro\xC3\x9F"
       "e \xE6\x81\x90\xE7\xAB\x9C"},
      // Inside quotes only the closing quote or a '?' ends it.
      {R"(S.exe "TheIsland_WP?listen?SessionName=My -Server" -NoBattlEye)", "My -Server"},
      {R"(S.exe "TheIsland_WP?SessionName=My Server?Port=7777" -NoBattlEye)", "My Server"},
      {R"(S.exe TheIsland_WP?SessionName="'My Server'" -NoBattlEye)", "My Server"},
      {R"(S.exe TheIsland_WP?SessionName="My Server -log)", "My Server -log"},
      {R"(S.exe "TheIsland_WP?SessionName=" -NoBattlEye)", std::nullopt},
      {"S.exe TheIsland_WP?SessionName= -NoBattlEye", std::nullopt},
  };
  for (const auto& check : cases) {
    EXPECT_EQ(ScanLaunchSessionName(check.line), check.name) << check.line;
  }
}

TEST(LaunchTextTest, AQuotedModListLosesItsQuotes) {
  const struct {
    const char* line;
    std::optional<std::string> mods;
  } cases[] = {
      {R"(S.exe TheIsland_WP -mods="928102,931877" -NoBattlEye)", "928102,931877"},
      {R"(S.exe TheIsland_WP -mods="928102, 931877" -NoBattlEye)", "928102, 931877"},
      {R"(S.exe TheIsland_WP -mods="928102,931877 -NoBattlEye)", "928102,931877"},
      {R"(S.exe TheIsland_WP -mods="" -NoBattlEye)", std::nullopt},
      {R"(S.exe TheIsland_WP -mods=" -NoBattlEye)", std::nullopt},
      {"S.exe TheIsland_WP -mods=928102,931877\t-NoBattlEye", "928102,931877"},
      {R"(S.exe TheIsland_WP -mods=928102,"931877" x)", R"(928102,"931877")"},
  };
  for (const auto& check : cases) EXPECT_EQ(ScanLaunchMods(check.line), check.mods) << check.line;
}

}  // namespace
}  // namespace vesperline
