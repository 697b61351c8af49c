// Gathering the session name, player limit, mods, PvE flag, version and map at start-up.
#include <gtest/gtest.h>

#include <fstream>

#include "common/CommandLine.h"
#include "discovery/ConfigFile.h"
#include "discovery/Discovery.h"
#include "discovery/LaunchArguments.h"
#include "discovery/ServerInfo.h"
#include "fuzz/FuzzSupport.h"
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
    CollectServerInfo(facts, {ReadLaunchLine(commandLine), SettingsFilePath(PluginDirText()),
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
      // The player limit: -WinLiveMaxPlayers= of 1 or more, else the game's 70, whatever the
      // settings file or the other keys ask for.
      {"[/Script/Engine.GameSession]\nMaxPlayers=70\n", "TheIsland_WP -WinLiveMaxPlayers=40", 40,
       "", false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=70\n", "TheIsland_WP -WinLiveMaxPlayers=", 70, "",
       false},
      {"", "TheIsland_WP -WinLiveMaxPlayers=x", 70, "", false},
      {"", "TheIsland_WP -WinLiveMaxPlayers=0 -MaxPlayers=30", 70, "", false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=20\n", "TheIsland_WP?MaxPlayers=30", 70, "",
       false},
      {"[/Script/Engine.GameSession]\nMaxPlayers=0\n", "TheIsland_WP -MaxPlayers=30", 70, "",
       false},
      {"", "\"TheIsland_WP?listen\" \"-WinLiveMaxPlayers=50\"", 50, "", false},
      {"", "", 70, "", false},
      // The mods.
      {"[ServerSettings]\nActiveMods=111,222\n", "TheIsland_WP -mods=333,444 -log", 70, "333,444",
       false},
      {"[ServerSettings]\nActiveMods=111,222\n", "TheIsland_WP -mods= -log", 70, "111,222", false},
      {"[ServerSettings]\nActiveMods=111,222\n", "TheIsland_WP -mods=\"\"", 70, "111,222", false},
      {"[ServerSettings]\nActiveMods=111,222\n", "TheIsland_WP", 70, "111,222", false},
      {"[ServerSettings]\nActiveMods=\n", "TheIsland_WP -mods=333", 70, "333", false},
      // PvE: only the word true, in any case, is PvE.
      {"[ServerSettings]\nbServerPVE=False\n", "TheIsland_WP?listen?ServerPVE=True", 70, "", true},
      {"[ServerSettings]\nbServerPVE=True\n", "TheIsland_WP?listen?ServerPVE=false", 70, "", false},
      {"[ServerSettings]\nbServerPVE=True\n", "TheIsland_WP?listen?ServerPVE=", 70, "", true},
      {"[ServerSettings]\nbServerPVE=True\n", "TheIsland_WP?listen?ServerPVE=yes", 70, "", false},
      {"[ServerSettings]\nbServerPVE=False\n", "TheIsland_WP?listen ?ServerPVE=True", 70, "",
       false},
      {"[ServerSettings]\nbServerPVE=TRUE\n", "TheIsland_WP", 70, "", true},
      {"[ServerSettings]\nbServerPVE= true \n", "TheIsland_WP", 70, "", true},
      {"[ServerSettings]\nbServerPVE=1\n", "TheIsland_WP", 70, "", false},
      {"[ServerSettings]\nServerPVE=True\n", "TheIsland_WP", 70, "", true},
      {"[ServerSettings]\nbServerPVE=False\nServerPVE=True\n", "TheIsland_WP", 70, "", false},
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

  CollectServerInfo(Profile, {ReadLaunchLine(""), SettingsFilePath(Profile.PluginDir),
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
  CollectServerInfo(Profile, {ReadLaunchLine(""), SettingsFilePath(Profile.PluginDir),
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
// Launch lines as real launchers write them, and what the server takes from each, in the engine's
// three steps: Windows' split, the engine's line rebuilt from the arguments, its first token as
// the map URL. config.json gives port 0 and there is no settings file, so every fact comes from
// the line; the player limit is the game's 70 unless -WinLiveMaxPlayers= gives one.
TEST(LaunchLineTest, TheServerReadsItsLineInTheEnginesThreeSteps) {
  const struct {
    const char* what;
    const char* line;  // behind the executable, unless it begins with one (C: or "C:)
    const char* name;
    int port;
    const char* map;
    const char* mods = "";
    bool pve = false;
    int limit = 70;
  } cases[] = {
      {"an unquoted blank ends the first argument",
       "TheIsland_WP?listen?SessionName=My ARK Server?Port=7779 -NoBattlEye", "My", 0,
       "TheIsland_WP"},
      {"quotes around the value",
       "TheIsland_WP?listen?SessionName=\"My ARK Server\"?Port=7779 -NoBattlEye", "My ARK Server",
       7779, "TheIsland_WP"},
      {"a .bat file's or a manager's quoted first argument",
       "\"TheIsland_WP?listen?SessionName=My ARK Server?Port=7779?ServerPVE=True\" -NoBattlEye",
       "My ARK Server", 7779, "TheIsland_WP", "", true},
      {"Wine's \\\" from a container's start script",
       "TheIsland_WP?listen?SessionName=\\\"[EU] Rex | 2x\\\"?Port=7779 -mods=\\\"1,2\\\" "
       "-WinLiveMaxPlayers=20",
       "[EU] Rex | 2x", 7779, "TheIsland_WP", "1,2", false, 20},
      {"quotes inside a whole-quoted first argument",
       "\"TheIsland_WP?listen?SessionName=\\\"My ARK Server\\\"?Port=7779\" -NoBattlEye", "", 0,
       "TheIsland_WP"},
      {"quotes inside a whole-quoted argument without a blank",
       "\"TheIsland_WP?listen?SessionName=\\\"Tribe\\\"?Port=7779\"", "Tribe", 7779,
       "TheIsland_WP"},
      {"a manager's tripled quotes",
       "TheIsland_WP?listen?SessionName=\"\"\"Tribe of Rex\"\"\"?Port=7777 ?RCONEnabled=True",
       "Tribe of Rex", 7777, "TheIsland_WP"},
      {"an unclosed quote runs to the end of the line",
       "TheIsland_WP?listen?SessionName=\"My Server -NoBattlEye", "My Server -NoBattlEye", 0,
       "TheIsland_WP"},
      {"a password in the server's own name",
       "TheIsland_WP?listen?Port=7779?SessionName=\"My Server -ServerAdminPassword=\"hunter2\" "
       "-NoBattlEye",
       "My Server", 7779, "TheIsland_WP"},
      {"a name of nothing but a password counts as absent",
       "\"TheIsland_WP?SessionName=-ServerPassword hunter2\"", "", 0, "TheIsland_WP"},
      {"a quoted dash option after the name",
       "TheIsland_WP?listen?SessionName=Bob \"-ServerAdminPassword=my secret\" -NoBattlEye", "Bob",
       0, "TheIsland_WP"},
      {"a spaced dash in the name", "TheIsland_WP?listen?SessionName=Rex - PvE x3?Port=7779", "Rex",
       0, "TheIsland_WP"},
      {"a word holding Password is no password", "\"TheIsland_WP?SessionName=No Password PvE\"",
       "No Password PvE", 0, "TheIsland_WP"},
      {"a dash option before the map",
       "-ClusterDirOverride=C:\\Cerious \"TheIsland_WP?listen?SessionName=One?Port=7777\"", "", 0,
       ""},
      {"'?' options after the first argument",
       "TheIsland_WP?listen -NoBattlEye ?SessionName=Late?Port=7779?ServerPVE=True", "", 0,
       "TheIsland_WP"},
      {"start is no launcher word to the server", "start TheIsland_WP?SessionName=S?Port=5", "", 0,
       "start"},
      {"a tab inside the first argument ends the map URL",
       "\"TheIsland_WP?SessionName=Tab\tName?Port=7779\"", "Tab", 0, "TheIsland_WP"},
      {"backslashes before a quote count as Windows counts them",
       "\"M?SessionName=A\" -ClusterDirOverride=\"C:\\ARK Cluster\\\\\" \"-mods=1, 2\"", "A", 0,
       "M", "1, 2"},
      {"dash options in capitals and quoted",
       "TheIsland_WP?listen -Port=\"7780\" -Mods=928102,931877", "", 7780, "TheIsland_WP",
       "928102,931877"},
      {"-passivemods= beside -mods=", "TheIsland_WP?listen?Port=7777 -passivemods=111 -mods=928102",
       "", 7777, "TheIsland_WP", "928102"},
      {"a mod list with a password after it", "TheIsland_WP \"-mods=1,2 -ServerPassword=x\"", "", 0,
       "TheIsland_WP", "1,2"},
      {"characters outside ASCII",
       "\"TheIsland_WP?SessionName=\xC3\x84gypten \xE6\x81\x90\xE7\xAB\x9C \xF0\x9F\xA6\x96\"",
       "\xC3\x84gypten \xE6\x81\x90\xE7\xAB\x9C \xF0\x9F\xA6\x96", 0, "TheIsland_WP"},
      {"the program in quotes and a blank before the map",
       "\"C:\\ARK\\S.exe\"   \\ScorchedEarth_WP\\?listen", "", 0, "ScorchedEarth_WP"},
      {"an unquoted program path with a blank",
       "C:\\ARK Server\\ArkAscendedServer.exe TheIsland_WP?listen?SessionName=Rex", "", 0, ""},
      {"nothing after the program", "\"C:\\ARK\\S.exe\"", "", 0, ""},
      // Dash options as the engine's own value reader finds and reads them.
      {"quoted dash options with a blank after '='",
       "TheIsland_WP?listen \"-WinLiveMaxPlayers= 12\" \"-port= 7779\"", "", 7779, "TheIsland_WP",
       "", false, 12},
      {"a dash key inside a quote that never closes",
       "TheIsland_WP?listen?SessionName=\"My Server -WinLiveMaxPlayers=50",
       "My Server -WinLiveMaxPlayers=50", 0, "TheIsland_WP"},
      {"a dash key behind a letter", "TheIsland_WP x-WinLiveMaxPlayers=50 a-port=7779", "", 0,
       "TheIsland_WP"},
      {"a number the digits of which end early", "TheIsland_WP -WinLiveMaxPlayers=50x -port=7779)",
       "", 7779, "TheIsland_WP", "", false, 50},
      {"a dash key inside a whole-quoted first argument",
       "\"TheIsland_WP?SessionName=Rex -port=7779\"", "Rex -port=7779", 0, "TheIsland_WP"},
      {"tabs and CRs before numbers",
       "\"TheIsland_WP?SessionName=A B?Port=\t7779\" \"-WinLiveMaxPlayers=\r 12\"", "A B", 7779,
       "TheIsland_WP", "", false, 12},
      {"a CR before the dash port", "TheIsland_WP \"-port=\r 7779\"", "", 7779, "TheIsland_WP"},
      {"a CR before the '?' port", "\"TheIsland_WP?SessionName=A B?Port=\r7779\"", "A B", 7779,
       "TheIsland_WP"},
      {"a start script's CR after the mod list", "TheIsland_WP -mods=928102,931877\r", "", 0,
       "TheIsland_WP", "928102,931877"},
      {"a password in a whole-quoted first argument with no '?'",
       "\"TheIsland_WP -ServerAdminPassword=hunter2 -NoBattlEye\"", "", 0, "TheIsland_WP"},
  };
  ServerTree tree;
  tree.WriteConfig(R"({"token": "t", "ip": "203.0.113.7", "port": 0})");
  for (const auto& check : cases) {
    SCOPED_TRACE(check.what);
    const std::string text = check.line;
    const bool whole = text.starts_with("C:") || text.starts_with("\"C:");
    const std::string line = whole ? text : kExe + text;
    const Discovery found =
        DiscoverServer({tree.PluginDirText(), [&] { return line; }}, {.PastFailedGate = true});
    EXPECT_EQ(found.Facts.SessionName, check.name);
    EXPECT_EQ(found.Facts.ServerPort, check.port);
    EXPECT_EQ(found.Facts.MapName, check.map);
    EXPECT_EQ(found.Facts.ModList, check.mods);
    EXPECT_EQ(found.Facts.IsPve, check.pve);
    EXPECT_EQ(found.Facts.PlayerLimit, check.limit);
  }
}

// The engine's value reader over generated engine lines of keys in any case, quotes, blanks,
// separators, signs and digits equals the plain reading of its rules, and numbers follow from
// the value as atoi reads it.
TEST(LaunchLineTest, DashOptionsReadAsTheEnginesValueReaderReadsThem) {
  // Keys in both cases, quotes, every blank, the value's stops, signs, numbers, a key behind a
  // letter, and each end of the ranges of letters and digits with the byte beside it.
  constexpr std::string_view kPieces[] = {"-port=",
                                          "-PORT=",
                                          "-WinLiveMaxPlayers=",
                                          "-winlivemaxplayers=",
                                          "\"",
                                          " ",
                                          "\t",
                                          "\r",
                                          "\n",
                                          "\v",
                                          "\f",
                                          ",",
                                          ")",
                                          "x",
                                          "7",
                                          "12",
                                          "-",
                                          "+",
                                          "2147483648",
                                          "x-port=",
                                          "\xC3\x84",
                                          "a",
                                          "z",
                                          "A",
                                          "Z",
                                          "0",
                                          "9",
                                          "`",
                                          "{",
                                          "@",
                                          "[",
                                          "/",
                                          ":"};
  std::uint32_t state = 271828;
  const auto next = [&state](std::uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  };
  for (int round = 0; round < 20000; ++round) {
    LaunchLine line;
    const std::uint32_t length = next(12);
    for (std::uint32_t i = 0; i < length; ++i) line.EngineLine += kPieces[next(std::size(kPieces))];
    for (const std::string_view key : {kDashPortKey, kWinLiveMaxPlayersKey}) {
      const std::optional<std::string> expected = fuzz::ReferenceDashOption(line.EngineLine, key);
      ASSERT_EQ(DashOption(line.EngineLine, key), expected) << line.EngineLine;
      const LaunchNumber number = LaunchNumberFrom(line, key);
      ASSERT_EQ(number.Found, expected.has_value()) << line.EngineLine;
      ASSERT_EQ(number.Value, expected ? fuzz::ReferenceDecimal(*expected) : std::nullopt)
          << line.EngineLine;
    }
  }
}

// No text the heartbeat publishes holds any piece of a password, on generated launch lines that
// put passwords into '?' options, dash options (with '=', with a blank, in quotes), a
// whole-quoted first argument, a quote that never closes and the mod list's argument. The
// passwords are made of characters that nothing else on the lines holds.
TEST(LaunchLineTest, NoPublishedTextHoldsAPassword) {
  std::uint32_t state = 314159;
  const auto next = [&state](std::uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  };
  constexpr std::string_view kSecret = "QZJK#%^";
  const auto password = [&] {
    std::string value;
    for (std::uint32_t i = 0, n = 1 + next(6); i < n; ++i) value += kSecret[next(kSecret.size())];
    return value;
  };
  const auto pick = [&](std::initializer_list<std::string> choices) {
    return *(choices.begin() + next(static_cast<std::uint32_t>(choices.size())));
  };
  ServerTree tree;
  tree.WriteConfig(R"({"token": "t", "ip": "203.0.113.7", "port": 7777})");
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> url = {
        "?listen", "?SessionName=" + pick({"My Server", "Rex - PvE", "[EU] Rex | 2x", "Bob"}),
        "?Port=7777", "?ServerPassword=" + password(),
        "?ServerAdminPassword=" + password() + " " + password()};
    std::vector<std::string> dashes = {
        "-NoBattlEye",
        "-WinLiveMaxPlayers=50",
        "-mods=1,2",
        "-ServerAdminPassword=" + password(),
        "-ServerPassword " + password(),
        "\"-ServerAdminPassword=" + password() + " " + password() + "\"",
        "-ServerAdminPassword=\"" + password() + "\"",
        "\"-mods=1,2 -ServerPassword=" + password() + "\"",
        "ServerPassword=" + password()};
    std::string first = "TheIsland_WP";
    for (std::uint32_t i = 0, n = next(4); i < n; ++i) first += url[next(url.size())];
    std::string rest;
    for (std::uint32_t i = 0, n = next(4); i < n; ++i) rest += " " + dashes[next(dashes.size())];
    std::string line;
    switch (next(4)) {
      case 0:  // a .bat file's whole-quoted first argument, dash options inside it or not
        line = "\"" + first + (next(2) == 0 ? rest : "") + "\"" + rest;
        break;
      case 1:  // a quote that never closes
        line = first + "?SessionName=\"Tribe" + rest;
        break;
      case 2:  // a container's \" inside an unquoted argument
        line = first + "?SessionName=\\\"Rex Hall\\\"" + rest;
        break;
      default:
        line = first + rest;
    }
    SCOPED_TRACE(line);
    const Discovery found = DiscoverServer({tree.PluginDirText(), [&] { return kExe + line; }}, {});
    const std::string document = BuildHeartbeatDocument(found.Facts, "online", 0, 0, {});
    ASSERT_EQ(document.find_first_of(kSecret), std::string::npos) << document;
  }
}

// Windows' split, for the shapes its rules are about: the program knows no escapes; backslashes
// count only before a quote; every third quote of a run is literal; an unclosed quote runs on.
// Wine 8's CommandLineToArgvW gave these arguments.
TEST(LaunchLineTest, TheLineSplitsAsWindowsSplitsIt) {
  const struct {
    const char* line;
    std::vector<std::string> arguments;
    bool endsInsideQuotes = false;
  } cases[] = {
      {R"("C:\A B\S.exe" x)", {R"(C:\A B\S.exe)", "x"}},
      {R"(C:\A\S.exe" x y)", {R"(C:\A\S.exe")", "x", "y"}},
      {R"("C:\A\S.exe)", {R"(C:\A\S.exe)"}, true},
      {"S \t a\t\tb ", {"S", "a", "b"}},
      {R"(S a\\b\ "c\\" d\"e f\\\"g)", {"S", R"(a\\b\)", R"(c\)", R"(d"e)", R"(f\"g)"}},
      {R"(S "d""e")", {"S", R"(d"e)"}, true},
      {R"(S """f""" "" x)", {"S", R"("f")", "", "x"}},
      {R"(S "d""e" """f""" "" "a b)", {"S", R"(d"e "f" ")", "a b"}, true},
      {R"(S "a"b"c d" """"x)", {"S", "abc d", R"("x)"}, true},
      {"", {}},
  };
  for (const auto& check : cases) {
    const SplitLine split = SplitCommandLine(check.line);
    std::vector<std::string> arguments;
    for (const CommandLineArgument& argument : split.Arguments) arguments.push_back(argument.Value);
    EXPECT_EQ(arguments, check.arguments) << check.line;
    EXPECT_EQ(split.EndsInsideQuotes, check.endsInsideQuotes) << check.line;
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

// Windows' split gives back every argument list the join wrote, so that the Linux plugin reads
// the arguments it was started with: generated lists of quotes, backslashes, blanks, tabs and
// UTF-8. A program name holds no quote, which no file name does, and ends in no backslash.
TEST(LaunchLineTest, SplittingTheJoinedLineGivesBackTheArguments) {
  constexpr std::string_view kPieces[] = {"\"", "\\", " ", "\t", "a", "=", "?", "\xC3\x84", "-"};
  std::uint32_t state = 12345;
  const auto next = [&state](std::uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  };
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::string> arguments;
    const std::uint32_t count = 1 + next(5);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string argument;
      const std::uint32_t length = next(7);
      for (std::uint32_t j = 0; j < length; ++j) {
        const std::string_view piece = kPieces[next(std::size(kPieces))];
        if (i == 0 && (piece == "\"" || piece == "\\")) continue;
        argument += piece;
      }
      arguments.push_back(std::move(argument));
    }
    std::string nulSeparated;
    for (const std::string& argument : arguments) nulSeparated += argument + '\0';
    const std::string line = JoinProcessArguments(nulSeparated);
    std::vector<std::string> back;
    for (const CommandLineArgument& argument : SplitCommandLine(line).Arguments) {
      back.push_back(argument.Value);
    }
    ASSERT_EQ(back, arguments) << line;
  }
}

}  // namespace
}  // namespace vesperline
