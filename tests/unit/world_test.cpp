// The world counters and the player roster, read from the simulated engine world, and the
// heartbeat they end up in.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <limits>
#include <string>
#include <vector>

#include "heartbeat/Document.h"
#include "plugin/Heartbeat.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"
#include "simhost/SimWorld.h"
#include "tests/support/TestSupport.h"
#include "world/Engine.h"
#include "world/World.h"

namespace vesperline {
namespace {

using simhost::NetIdBehaviour;
using simhost::SimPlayer;
using simhost::SimWorldDescription;

SimPlayer Player(std::u16string name, std::u16string character, std::u16string netId,
                 std::uint32_t playerDataId) {
  SimPlayer player;
  player.Name = std::move(name);
  player.CharacterName = std::move(character);
  player.NetId = std::move(netId);
  player.PlayerDataId = playerDataId;
  return player;
}

SimPlayer GonePlayer() {
  SimPlayer player;
  player.Gone = true;
  return player;
}

SimWorldDescription WorldOf(std::vector<SimPlayer> players, std::int32_t day = 12) {
  SimWorldDescription world;
  world.DayNumber = day;
  world.Players = std::move(players);
  return world;
}

// The three regulars of a small server, in the order they joined.
std::vector<SimPlayer> Regulars() {
  return {Player(u"Alice", u"Tribe Chief", u"0002aaaa", 101),
          Player(u"Bob", u"Dodo Keeper", u"0002bbbb", 202),
          Player(u"Carol", u"Rex Tamer", u"0002cccc", 303)};
}

std::vector<std::string> Names(const std::vector<PlayerEntry>& roster) {
  std::vector<std::string> names;
  for (const PlayerEntry& entry : roster) names.push_back(entry.Name);
  return names;
}

const std::vector<std::string> kEngineNames = {
    "UWorld.GameState",
    "UWorld.PlayerControllerList",
    "AShooterGameState.DayNumber",
    "AController.PlayerState",
    "APlayerState.PlayerNamePrivate",
    "APlayerController.AcknowledgedPawn",
    "AShooterCharacter.PlayerName",
    "AShooterPlayerController.LinkedPlayerID",
    "FMemory.Malloc(unsigned__int64,unsignedint)",
    "FMemory.Realloc(void*,unsigned__int64,unsignedint)",
    "FMemory.Free(void*)",
    "FWeakObjectPtr.Get()",
    "AShooterPlayerController.GetUniqueNetIdAsString()",
};

std::size_t TotalResolutions() {
  std::size_t total = 0;
  for (const std::string& name : kEngineNames) total += simhost::ResolutionCount(name);
  return total;
}

class WorldTest : public test::PluginTest {
 protected:
  void TearDown() override {
    // Every engine string the plugin owned went back; the world's own strings are all that is
    // left, and they go with it.
    EXPECT_EQ(simhost::Allocator().live, simhost::WorldBlocks());
    EXPECT_TRUE(simhost::UnknownNames().empty());
    test::PluginTest::TearDown();
    EXPECT_EQ(simhost::Allocator().live, 0u);
  }
};

TEST_F(WorldTest, NoWorldGivesNothing) {
  EXPECT_EQ(GetPlayerCount(), -1);
  EXPECT_EQ(GetDayNumber(), -1);
  EXPECT_TRUE(GetPlayerRoster().empty());
  simhost::InstallWorld(WorldOf(Regulars()));
  simhost::RemoveWorld();
  EXPECT_EQ(GetPlayerCount(), -1);
  EXPECT_TRUE(GetPlayerRoster().empty());
}

TEST_F(WorldTest, AWorldAccessorThatThrowsGivesNothing) {
  simhost::InstallWorld(WorldOf(Regulars()));
  simhost::SetWorldThrows(true);
  EXPECT_EQ(GetPlayerCount(), -1);
  EXPECT_EQ(GetDayNumber(), -1);
  EXPECT_TRUE(GetPlayerRoster().empty());
}

TEST_F(WorldTest, CountersReadTheListAndTheGameState) {
  simhost::InstallWorld(WorldOf(Regulars(), 87));
  EXPECT_EQ(GetPlayerCount(), 3);
  EXPECT_EQ(GetDayNumber(), 87);

  SimWorldDescription freshServer = WorldOf({}, 0);
  simhost::InstallWorld(freshServer);
  EXPECT_EQ(GetPlayerCount(), 0) << "an empty list is a count, not a failure";
  EXPECT_EQ(GetDayNumber(), 0);

  SimWorldDescription loading = WorldOf(Regulars());
  loading.HasGameState = false;
  simhost::InstallWorld(loading);
  EXPECT_EQ(GetDayNumber(), -1);
  EXPECT_EQ(GetPlayerCount(), 3);
}

TEST_F(WorldTest, ANameThatCannotBeResolvedFailsOnlyItsCounter) {
  simhost::InstallWorld(WorldOf(Regulars(), 5));
  simhost::SetResolutionThrows("AShooterGameState.DayNumber", true);
  EXPECT_EQ(GetDayNumber(), -1);
  EXPECT_EQ(GetPlayerCount(), 3);
  simhost::SetResolutionThrows("AShooterGameState.DayNumber", false);
  simhost::SetResolutionThrows("UWorld.PlayerControllerList", true);
  EXPECT_EQ(GetPlayerCount(), -1);
  EXPECT_EQ(GetDayNumber(), 5);
  EXPECT_TRUE(GetPlayerRoster().empty());
}

TEST_F(WorldTest, RosterListsLivePlayersInListOrder) {
  simhost::InstallWorld(WorldOf(Regulars()));
  const auto roster = GetPlayerRoster();
  ASSERT_EQ(roster.size(), 3u);
  EXPECT_EQ(roster[1].Name, "Bob");
  EXPECT_EQ(roster[1].CharName, "Dodo Keeper");
  EXPECT_EQ(roster[1].EosId, "0002bbbb");
  EXPECT_EQ(roster[1].PlayerDataId, 202u);
  EXPECT_EQ(Names(roster), (std::vector<std::string>{"Alice", "Bob", "Carol"}));
}

TEST_F(WorldTest, AGoneControllerIsSkippedButCounted) {
  auto players = Regulars();
  players[1] = GonePlayer();
  simhost::InstallWorld(WorldOf(players));
  EXPECT_EQ(Names(GetPlayerRoster()), (std::vector<std::string>{"Alice", "Carol"}));
  EXPECT_EQ(GetPlayerCount(), 3);
}

TEST_F(WorldTest, MissingPawnOrPlayerStateLeavesOnlyThatFieldEmpty) {
  auto players = Regulars();
  players[0].HasPawn = false;         // dead, waiting to respawn
  players[1].HasPlayerState = false;  // still joining
  simhost::InstallWorld(WorldOf(players));
  const auto roster = GetPlayerRoster();
  ASSERT_EQ(roster.size(), 3u);
  EXPECT_EQ(roster[0].Name, "Alice");
  EXPECT_EQ(roster[0].CharName, "");
  EXPECT_EQ(roster[0].EosId, "0002aaaa");
  EXPECT_EQ(roster[1].Name, "");
  EXPECT_EQ(roster[1].CharName, "Dodo Keeper");
  EXPECT_EQ(roster[1].EosId, "0002bbbb");
  EXPECT_EQ(roster[1].PlayerDataId, 202u);
}

TEST_F(WorldTest, AControllerWithoutAnyTextIsLeftOutWhateverItsId) {
  auto players = Regulars();
  players.insert(players.begin() + 1, Player(u"", u"", u"", 777));
  SimPlayer nothingReadable = Player(u"Dave", u"Stego", u"", 888);
  nothingReadable.HasPlayerState = false;
  nothingReadable.HasPawn = false;
  players.push_back(nothingReadable);
  simhost::InstallWorld(WorldOf(players));
  EXPECT_EQ(Names(GetPlayerRoster()), (std::vector<std::string>{"Alice", "Bob", "Carol"}));
  EXPECT_EQ(GetPlayerCount(), 5);
}

TEST_F(WorldTest, PlayerDataIdKeepsItsUnsignedValue) {
  simhost::InstallWorld(WorldOf({Player(u"Eve", u"Argent", u"0002eeee", 4000000000u)}));
  const auto roster = GetPlayerRoster();
  ASSERT_EQ(roster.size(), 1u);
  EXPECT_EQ(roster[0].PlayerDataId, 4000000000u);
}

TEST_F(WorldTest, NamesInEveryScriptArriveAsUtf8) {
  simhost::InstallWorld(
      WorldOf({Player(u"\u0416\u0435\u043D\u044F", u"\u4E2D\u6587", u"id\xD83D\xDE00", 1)}));
  const auto roster = GetPlayerRoster();
  ASSERT_EQ(roster.size(), 1u);
  EXPECT_EQ(roster[0].Name, "\xD0\x96\xD0\xB5\xD0\xBD\xD1\x8F");
  EXPECT_EQ(roster[0].CharName, "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(roster[0].EosId, "id\xF0\x9F\x98\x80");
}

TEST_F(WorldTest, AFailingIdStepLeavesTheIdEmptyAndReleasesItsString) {
  auto players = Regulars();
  players[0].NetIdMode = NetIdBehaviour::kThrows;
  players[1].NetIdMode = NetIdBehaviour::kThrowsAfterFilling;
  simhost::InstallWorld(WorldOf(players));
  const auto roster = GetPlayerRoster();
  ASSERT_EQ(roster.size(), 3u);
  EXPECT_EQ(roster[0].EosId, "");
  EXPECT_EQ(roster[0].PlayerDataId, 101u);
  EXPECT_EQ(roster[1].EosId, "");
  EXPECT_EQ(roster[1].PlayerDataId, 202u);
  EXPECT_EQ(roster[2].EosId, "0002cccc");
  // The string the engine filled before throwing went back (checked on tear-down).
}

TEST_F(WorldTest, AFailingStepDoesNotStopTheOthers) {
  simhost::InstallWorld(WorldOf(Regulars()));
  const std::size_t worldAllocations = simhost::Allocator().mallocs;
  // The first allocation of the walk is the copy of Alice's name.
  simhost::SetAllocatorThrowsAt(1);
  auto roster = GetPlayerRoster();
  ASSERT_EQ(roster.size(), 3u);
  EXPECT_EQ(roster[0].Name, "");
  EXPECT_EQ(roster[0].CharName, "Tribe Chief");
  EXPECT_EQ(roster[0].EosId, "0002aaaa");
  EXPECT_EQ(roster[1].Name, "Bob");
  EXPECT_GT(simhost::Allocator().mallocs, worldAllocations);

  simhost::SetResolutionThrows("AShooterCharacter.PlayerName", true);
  simhost::SetResolutionThrows("AShooterPlayerController.LinkedPlayerID", true);
  roster = GetPlayerRoster();
  ASSERT_EQ(roster.size(), 3u);
  EXPECT_EQ(roster[2].Name, "Carol");
  EXPECT_EQ(roster[2].CharName, "");
  EXPECT_EQ(roster[2].EosId, "0002cccc");
  EXPECT_EQ(roster[2].PlayerDataId, 0u);
}

TEST_F(WorldTest, AFailingWalkKeepsThePlayersGatheredSoFar) {
  auto players = Regulars();
  players.push_back(Player(u"Dave", u"Stego", u"0002dddd", 404));
  players.push_back(Player(u"Eve", u"Argent", u"0002eeee", 505));
  simhost::InstallWorld(WorldOf(players));
  simhost::SetWeakGetThrowsAt(4);
  EXPECT_EQ(Names(GetPlayerRoster()), (std::vector<std::string>{"Alice", "Bob", "Carol"}));

  simhost::SetResolutionThrows("FWeakObjectPtr.Get()", true);
  EXPECT_TRUE(GetPlayerRoster().empty());
  EXPECT_EQ(GetPlayerCount(), 5);
}

TEST_F(WorldTest, AStringCountAboveTheLimitLeavesItsFieldEmptyAndAsksForNoMemory) {
  // A leaving player's strings may be read with a garbage count, up to 2^31 - 1. The name is
  // copied, the character name read in place and the id filled by the engine (and still given
  // back, which the tear-down checks).
  for (const std::int32_t count : {kMaxEngineStringUnits, kMaxEngineStringUnits + 1,
                                   std::numeric_limits<std::int32_t>::max()}) {
    SimPlayer leaving = Player(u"Alice", u"Tribe Chief", u"0002aaaa", 101);
    leaving.StringCount = count;
    simhost::InstallWorld(WorldOf({leaving}));
    const std::size_t before = simhost::Allocator().sizes.size();
    const auto roster = GetPlayerRoster();
    if (count <= kMaxEngineStringUnits) {
      ASSERT_EQ(roster.size(), 1u);
      EXPECT_EQ(roster[0].Name, "Alice");
      EXPECT_EQ(roster[0].CharName, "Tribe Chief");
      EXPECT_EQ(roster[0].EosId, "0002aaaa");
    } else {
      EXPECT_TRUE(roster.empty()) << "all three fields stay empty for a count of " << count;
    }
    // Nothing larger than the engine's own fill of the id string was asked for.
    const std::vector<std::uint64_t> sizes = simhost::Allocator().sizes;
    for (std::size_t i = before; i < sizes.size(); ++i) {
      EXPECT_LE(sizes[i], 2u * (kMaxEngineStringUnits + 1)) << "a count of " << count;
    }
  }
}

class HeartbeatFromWorldTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    Profile.Token = "tok-3f9";
    Profile.ServerIp = "203.0.113.7";
    Profile.ServerPort = 7777;
    Profile.ServerVersion = "58.12";
  }

  static nlohmann::json PostedDocument() {
    const auto requests = simhost::Requests();
    EXPECT_EQ(requests.size(), 1u);
    if (requests.empty()) return nlohmann::json();
    return nlohmann::json::parse(requests.back().body);
  }
};

TEST_F(HeartbeatFromWorldTest, APopulatedWorldIsReportedWithinTheResolutionBudget) {
  auto players = Regulars();
  players[0].Name = u"Zo\u00EB \"the\" \\ \u0416";
  players.insert(players.begin() + 1, GonePlayer());
  players.push_back(Player(u"Eve", u"", u"0002eeee", 3000000000u));
  players.back().HasPawn = false;
  simhost::InstallWorld(WorldOf(players, 230));

  SendHeartbeat("online");
  const nlohmann::json document = PostedDocument();
  EXPECT_EQ(document.at("status"), "online");
  EXPECT_EQ(document.at("player_current"), 5);
  EXPECT_EQ(document.at("day"), 230);
  const nlohmann::json expected = nlohmann::json::parse(R"([
    {"name":"Zo\u00eb \"the\" \\ \u0416","char_name":"Tribe Chief","eos_id":"0002aaaa","player_data_id":101},
    {"name":"Bob","char_name":"Dodo Keeper","eos_id":"0002bbbb","player_data_id":202},
    {"name":"Carol","char_name":"Rex Tamer","eos_id":"0002cccc","player_data_id":303},
    {"name":"Eve","char_name":"","eos_id":"0002eeee","player_data_id":3000000000}
  ])");
  EXPECT_EQ(document.at("players"), expected);

  // Four resolutions for the counters and the list, one per gone controller, at most ten per
  // live one; and every name known to the host.
  EXPECT_LE(TotalResolutions(), 4u + 1u + 4u * 10u);
  EXPECT_EQ(simhost::ResolutionCount("UWorld.PlayerControllerList"), 2u);
  EXPECT_EQ(simhost::ResolutionCount("FWeakObjectPtr.Get()"), 5u);
}

TEST_F(HeartbeatFromWorldTest, AWorldThatCannotBeReadStillSendsTheHeartbeat) {
  simhost::InstallWorld(WorldOf(Regulars()));
  simhost::SetWorldThrows(true);
  SendHeartbeat("online");
  const nlohmann::json document = PostedDocument();
  EXPECT_FALSE(document.contains("player_current"));
  EXPECT_FALSE(document.contains("day"));
  EXPECT_EQ(document.at("players"), nlohmann::json::array());
}

}  // namespace
}  // namespace vesperline
