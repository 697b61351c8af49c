// The launch-argument scanners over command lines of the forms servers are started with.
#include <gtest/gtest.h>

#include "discovery/LaunchArguments.h"

namespace vesperline {
namespace {

// A typical start: quoted executable path, the map with '?' options, then '-' options.
constexpr char kCapitalised[] =
    R"("C:\ARK Server\ShooterGame\Binaries\Win64\ArkAscendedServer.exe" )"
    R"(TheIsland_WP?listen?SessionName=My Server?Port=7777?QueryPort=27015 )"
    R"(-MODS=928708,929420 -WINLIVEMAXPLAYERS=50 -NoBattlEye)";

TEST(LaunchArgumentsTest, CapitalisedKeysAreFoundAndValuesKeepTheirCase) {
  EXPECT_EQ(ScanLaunchPort(kCapitalised).Port(), 7777);
  EXPECT_EQ(ScanLaunchPort(kCapitalised).Deciding()->Key, "?port=");
  EXPECT_EQ(ScanLaunchSessionName(kCapitalised), "My Server");
  EXPECT_EQ(ScanLaunchMods(kCapitalised), "928708,929420");
  EXPECT_EQ(ScanLaunchMaxPlayers(kCapitalised).Value, 50);
  EXPECT_EQ(ScanLaunchMaxPlayers(kCapitalised).Key, "-winlivemaxplayers=");
  EXPECT_EQ(ScanLaunchMap(kCapitalised), "TheIsland_WP");
}

TEST(LaunchArgumentsTest, FindLaunchKeyGivesTheFirstOccurrence) {
  EXPECT_EQ(FindLaunchKey("map?port=1?port=2", "?port="), 3u);
  EXPECT_EQ(FindLaunchKey("map?queryport=27015", "?port="), std::nullopt);
  EXPECT_EQ(FindLaunchKey("", "?port="), std::nullopt);
}

TEST(LaunchPortTest, TheQuestionKeyDecidesWhenItGivesAPositivePort) {
  EXPECT_EQ(ScanLaunchPort("S.exe M?Port=7777?QueryPort=27015 -port=1").Port(), 7777);
  EXPECT_EQ(ScanLaunchPort("S.exe M?QueryPort=27015").Port(), std::nullopt)
      << "the query port is no game port";
  EXPECT_EQ(ScanLaunchPort("S.exe M -Port=7778").Port(), 7778);
  EXPECT_EQ(ScanLaunchPort("S.exe M?port=").Port(), std::nullopt);
  EXPECT_EQ(ScanLaunchPort("?p").Port(), std::nullopt);
}

TEST(LaunchPortTest, TheDashKeyDecidesWhenTheQuestionKeyGivesNoPositivePort) {
  EXPECT_EQ(ScanLaunchPort("S.exe M?port=?x -port=7778").Port(), 7778);
  EXPECT_EQ(ScanLaunchPort("S.exe M?port=?x -port=7778").Deciding()->Key, "-port=");
  EXPECT_EQ(ScanLaunchPort("S.exe M?port=0 -port=7778").Port(), 7778);
  EXPECT_EQ(ScanLaunchPort("S.exe M?port=-3 -port=7778").Port(), 7778);
  EXPECT_EQ(ScanLaunchPort("S.exe M?port=0").Port(), 0);
  EXPECT_EQ(ScanLaunchPort("S.exe M?port=-3 -port=x").Port(), -3);
  EXPECT_EQ(ScanLaunchPort("S.exe M?port=-3 -port=x").Deciding()->Key, "?port=");
}

TEST(LaunchSessionNameTest, RunsToTheNextQuestionMarkOrTheEndOfTheLine) {
  EXPECT_EQ(ScanLaunchSessionName("S.exe M?listen?SessionName=My Server -mods=1 -NoBattlEye"),
            "My Server -mods=1 -NoBattlEye");
  EXPECT_EQ(ScanLaunchSessionName("S.exe M?SESSIONNAME=Ark #1?Port=7777"), "Ark #1");
}

TEST(LaunchSessionNameTest, QuotesAtBothEndsAreRemoved) {
  EXPECT_EQ(ScanLaunchSessionName(R"(S.exe M?SessionName="'My Server'"?Port=7777)"), "My Server");
  EXPECT_EQ(ScanLaunchSessionName(R"(S.exe M?SessionName=Bob's "Place"?Port=7777)"),
            R"(Bob's "Place)");
  EXPECT_EQ(ScanLaunchSessionName(R"(S.exe M?SessionName="'"?Port=7777)"), std::nullopt);
  EXPECT_EQ(ScanLaunchSessionName("S.exe M?SessionName="), std::nullopt);
  EXPECT_EQ(ScanLaunchSessionName("S.exe M?listen"), std::nullopt);
}

TEST(LaunchSessionNameTest, TextOutsideAsciiIsKeptAsUtf8) {
  // A capital letter outside ASCII in front of the key must not shift the positions.
  EXPECT_EQ(ScanLaunchSessionName("S.exe \xC3\x84gypten?SessionName=Gr\xC3\x96\xC3\x9F"
                                  "e \xF0\x9F\xA6\x96?Port=1"),
            "Gr\xC3\x96\xC3\x9F"
            "e \xF0\x9F\xA6\x96");
}

TEST(LaunchMaxPlayersTest, TheFirstKeyPresentDecidesEvenWithoutANumber) {
  const LaunchNumber letters = ScanLaunchMaxPlayers("S.exe M?MaxPlayers=abc -winlivemaxplayers=50");
  EXPECT_TRUE(letters.Found);
  EXPECT_EQ(letters.Value, std::nullopt);
  const LaunchNumber dash = ScanLaunchMaxPlayers("S.exe M -maxplayers=20 -winlivemaxplayers=50");
  EXPECT_EQ(dash.Value, 20);
  EXPECT_EQ(dash.Key, "-maxplayers=");
  EXPECT_EQ(ScanLaunchMaxPlayers("S.exe M -WinLiveMaxPlayers=50").Value, 50);
  EXPECT_EQ(ScanLaunchMaxPlayers("S.exe M?MaxPlayers=0").Value, 0);
  EXPECT_FALSE(ScanLaunchMaxPlayers("S.exe M?listen").Found);
}

TEST(LaunchModsTest, TheListEndsAtABlankAndIsTakenUnchanged) {
  EXPECT_EQ(ScanLaunchMods("S.exe M -mods=1,2,3 -NoBattlEye"), "1,2,3");
  EXPECT_EQ(ScanLaunchMods("S.exe M -mods=1,2\t-NoBattlEye"), "1,2");
  EXPECT_EQ(ScanLaunchMods(R"(S.exe M -mods="1, 2")"), R"("1,)");
  EXPECT_EQ(ScanLaunchMods("S.exe M -mods= -NoBattlEye"), std::nullopt);
  EXPECT_EQ(ScanLaunchMods("S.exe M -mods="), std::nullopt);
  EXPECT_EQ(ScanLaunchMods("S.exe M"), std::nullopt);
}

TEST(LaunchMapTest, TheMapIsTheFirstArgumentUpToItsOptions) {
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\ArkAscendedServer.exe" TheIsland_WP?listen -log)"),
            "TheIsland_WP");
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\ArkAscendedServer.exe"   ScorchedEarth_WP)"),
            "ScorchedEarth_WP");
  EXPECT_EQ(ScanLaunchMap(R"(/srv/ark/ArkAscendedServer TheIsland_WP?listen)"), "TheIsland_WP");
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\ArkAscendedServer.exe" "\TheIsland_WP\"?listen)"),
            "TheIsland_WP");
}

TEST(LaunchMapTest, PiecesOfAnUnquotedExecutablePathAreSkippedOnlyWhenTheyEndInExe) {
  EXPECT_EQ(ScanLaunchMap(R"(C:\ARK Server\ArkAscendedServer.EXE TheIsland_WP?listen)"),
            "TheIsland_WP");
  EXPECT_EQ(ScanLaunchMap(R"(C:\My ARK Server\ArkAscendedServer.exe TheIsland_WP?listen)"), "ARK");
}

TEST(LaunchMapTest, StartIsSkippedOnlyInLowerCase) {
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\S.exe" start TheIsland_WP?listen)"), "TheIsland_WP");
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\S.exe" Start TheIsland_WP?listen)"), "Start");
}

TEST(LaunchMapTest, ASkippedTokenStaysWhenNothingFollowsIt) {
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\S.exe" start)"), "start");
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\S.exe" start   )"), "start");
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\S.exe" other.exe?listen TheIsland_WP)"), "other.exe");
}

TEST(LaunchMapTest, NoArgumentAfterTheExecutableGivesNothing) {
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\S.exe")"), std::nullopt);
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\S.exe"   )"), std::nullopt);
  EXPECT_EQ(ScanLaunchMap(R"("C:\ARK\S.exe)"), std::nullopt);
  EXPECT_EQ(ScanLaunchMap(R"(")"), std::nullopt);
  EXPECT_EQ(ScanLaunchMap("ArkAscendedServer.exe"), std::nullopt);
  EXPECT_EQ(ScanLaunchMap(""), std::nullopt);
}

}  // namespace
}  // namespace vesperline
