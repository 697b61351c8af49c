// The engine strings, the world counters and the player roster, read from the simulated engine
// world, and the heartbeat they end up in. How each failing host operation costs only what depends
// on it is the fault-injection matrix's business; narrowing engine text at its edges is the
// narrow_text fuzz target's seeds (fuzz/corpus/narrow_text), checked in every build.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "plugin/Heartbeat.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"
#include "simhost/SimWorld.h"
#include "tests/support/TestSupport.h"
#include "world/Engine.h"
#include "world/World.h"

namespace vesperline {
namespace {

using simhost::SimPlayer;
using simhost::SimWorldDescription;

SimWorldDescription WorldOf(std::vector<SimPlayer> players, std::int32_t day = 12) {
  SimWorldDescription world;
  world.DayNumber = day;
  world.Players = std::move(players);
  return world;
}

// The three regulars of a small server, in the order they joined.
std::vector<SimPlayer> Regulars() {
  return {SimPlayer{u"Alice", u"Tribe Chief", u"0002aaaa", 101},
          SimPlayer{u"Bob", u"Dodo Keeper", u"0002bbbb", 202},
          SimPlayer{u"Carol", u"Rex Tamer", u"0002cccc", 303}};
}

// Player number n of a busy server, each of its texts numbered.
std::u16string Numbered(const char16_t* prefix, int number) {
  std::u16string text(prefix);
  for (const char c : std::to_string(number)) text.push_back(static_cast<char16_t>(c));
  return text;
}

simhost::SimPlayer Joiner(int number) {
  return {Numbered(u"Player", number), Numbered(u"Survivor", number), Numbered(u"0002", number),
          static_cast<std::uint32_t>(1000 + number)};
}

// One roster entry as "name|character|id|player data id".
std::vector<std::string> Entries(const std::vector<PlayerEntry>& roster) {
  std::vector<std::string> entries;
  for (const PlayerEntry& entry : roster) {
    entries.push_back(entry.Name + "|" + entry.CharName + "|" + entry.EosId + "|" +
                      std::to_string(entry.PlayerDataId));
  }
  return entries;
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

// Worlds as a server meets them, and the counters and roster read from each.
TEST_F(WorldTest, CountersAndRosterReadWhatEachWorldHolds) {
  const auto change = [](std::function<void(std::vector<SimPlayer>&)> edit) {
    std::vector<SimPlayer> players = Regulars();
    edit(players);
    return players;
  };
  SimPlayer gone;
  gone.Gone = true;  // a player who has just left: the weak pointer no longer resolves
  SimPlayer unreadable = SimPlayer{u"Dave", u"Stego", u"", 888};
  unreadable.HasPlayerState = false;
  unreadable.HasPawn = false;
  const std::string alice = "Alice|Tribe Chief|0002aaaa|101";
  const std::string bob = "Bob|Dodo Keeper|0002bbbb|202";
  const std::string carol = "Carol|Rex Tamer|0002cccc|303";
  const struct {
    const char* what;
    SimWorldDescription world;
    std::int32_t count;
    std::int32_t day;
    std::vector<std::string> roster;
  } cases[] = {
      {"three regulars in list order", WorldOf(Regulars(), 87), 3, 87, {alice, bob, carol}},
      {"a fresh server: an empty list and day 0 are values", WorldOf({}, 0), 0, 0, {}},
      {"a gone controller is counted but not listed",
       WorldOf(change([&](auto& players) { players[1] = gone; })),
       3,
       12,
       {alice, carol}},
      {"a missing pawn or player state leaves only that field empty",
       WorldOf(change([](auto& players) {
         players[0].HasPawn = false;
         players[1].HasPlayerState = false;
       })),
       3,
       12,
       {"Alice||0002aaaa|101", "|Dodo Keeper|0002bbbb|202", carol}},
      {"a controller without any text is left out whatever its id",
       WorldOf(change([&](auto& players) {
         players.insert(players.begin() + 1, SimPlayer{u"", u"", u"", 777});
         players.push_back(unreadable);
       })),
       5,
       12,
       {alice, bob, carol}},
      {"ids keep their unsigned value, names every script as UTF-8",
       WorldOf({SimPlayer{u"\u0416\u0435\u043D\u044F", u"\u4E2D\u6587", u"id\xD83D\xDE00",
                          4000000000u}}),
       1,
       12,
       {"\xD0\x96\xD0\xB5\xD0\xBD\xD1\x8F|\xE4\xB8\xAD\xE6\x96\x87|id\xF0\x9F\x98\x80|4000000000"}},
  };
  for (const auto& check : cases) {
    simhost::InstallWorld(check.world);
    EXPECT_EQ(GetPlayerCount(), check.count) << check.what;
    EXPECT_EQ(GetDayNumber(), check.day) << check.what;
    EXPECT_EQ(Entries(GetPlayerRoster()), check.roster) << check.what;
  }
  SimWorldDescription loading = WorldOf(Regulars());
  loading.HasGameState = false;
  simhost::InstallWorld(loading);
  EXPECT_EQ(GetDayNumber(), -1);
  EXPECT_EQ(GetPlayerCount(), 3);
}

TEST_F(WorldTest, AStringCountAboveTheLimitLeavesItsFieldEmptyAndAsksForNoMemory) {
  // A leaving player's strings may be read with a garbage count, up to 2^31 - 1. The name is
  // copied, the character name read in place and the id filled by the engine (and still given
  // back, which the tear-down checks).
  for (const std::int32_t count : {kMaxEngineStringUnits, kMaxEngineStringUnits + 1,
                                   std::numeric_limits<std::int32_t>::max()}) {
    SimPlayer leaving = SimPlayer{u"Alice", u"Tribe Chief", u"0002aaaa", 101};
    leaving.StringCount = count;
    simhost::InstallWorld(WorldOf({leaving}));
    const std::size_t before = simhost::Allocator().sizes.size();
    const auto roster = GetPlayerRoster();
    EXPECT_EQ(Entries(roster), count <= kMaxEngineStringUnits
                                   ? std::vector<std::string>{"Alice|Tribe Chief|0002aaaa|101"}
                                   : std::vector<std::string>{})
        << "a count of " << count;
    // Nothing larger than the engine's own fill of the id string was asked for.
    const std::vector<std::uint64_t> sizes = simhost::Allocator().sizes;
    for (std::size_t i = before; i < sizes.size(); ++i) {
      EXPECT_LE(sizes[i], 2u * (kMaxEngineStringUnits + 1)) << "a count of " << count;
    }
  }
}

TEST_F(WorldTest, AListCountAboveTheBoundIsUnreadableAndEndsTheWalk) {
  Profile.Token = "tok-3f9";
  Profile.ServerIp = "203.0.113.7";
  Profile.ServerPort = 7777;
  // A world being torn down may give its list a garbage count. These 5,000 elements are all there,
  // so a walk that went on would list every one of them.
  std::vector<SimPlayer> crowd;
  for (int i = 0; i < 5000; ++i) crowd.push_back(Joiner(i));
  simhost::InstallWorld(WorldOf(crowd));
  EXPECT_EQ(GetPlayerCount(), -1);
  EXPECT_TRUE(GetPlayerRoster().empty());
  EXPECT_EQ(simhost::WeakGetCalls(), 0u);
  SendHeartbeat("online");
  ASSERT_EQ(simhost::Requests().size(), 1u);
  const nlohmann::json document = nlohmann::json::parse(simhost::Requests()[0].body);
  EXPECT_FALSE(document.contains("player_current"));
  EXPECT_TRUE(document.at("players").empty());

  // At the bound, the whole list is still read.
  crowd.resize(kMaxPlayerListCount);
  simhost::InstallWorld(WorldOf(crowd));
  EXPECT_EQ(GetPlayerCount(), kMaxPlayerListCount);
  EXPECT_EQ(GetPlayerRoster().size(), std::size_t{kMaxPlayerListCount});

  // The count jumps while the second controller is resolved. The storage still holds only three
  // elements, so reading a fourth would run past it.
  for (const std::int32_t count :
       {kMaxPlayerListCount + 1, std::numeric_limits<std::int32_t>::max()}) {
    simhost::InstallWorld(WorldOf(Regulars()));
    simhost::SetListCountAt(2, count);
    EXPECT_EQ(Entries(GetPlayerRoster()),
              (std::vector<std::string>{"Alice|Tribe Chief|0002aaaa|101",
                                        "Bob|Dodo Keeper|0002bbbb|202"}))
        << "a count of " << count;
    EXPECT_EQ(GetPlayerCount(), -1) << "a count of " << count;
  }
}

// A whole heartbeat from a populated world: every player's texts escaped, and each engine name
// resolved afresh, within the budget: four resolutions for the counters and the list, one per
// gone controller, at most ten per live one.
TEST_F(WorldTest, AHeartbeatReportsThePopulatedWorldWithinTheResolutionBudget) {
  Profile.Token = "tok-3f9";
  Profile.ServerIp = "203.0.113.7";
  Profile.ServerPort = 7777;
  Profile.ServerVersion = "58.12";
  auto players = Regulars();
  players[0].Name = u"Zo\u00EB \"the\" \\ \u0416";
  SimPlayer gone;
  gone.Gone = true;
  players.insert(players.begin() + 1, gone);
  players.push_back(SimPlayer{u"Eve", u"", u"0002eeee", 3000000000u});
  players.back().HasPawn = false;
  simhost::InstallWorld(WorldOf(players, 230));

  SendHeartbeat("online");
  const auto requests = simhost::Requests();
  ASSERT_EQ(requests.size(), 1u);
  const nlohmann::json document = nlohmann::json::parse(requests[0].body);
  EXPECT_EQ(document.at("player_current"), 5);
  EXPECT_EQ(document.at("day"), 230);
  EXPECT_EQ(document.at("players"), nlohmann::json::parse(R"([
    {"name":"Zo\u00eb \"the\" \\ \u0416","char_name":"Tribe Chief","eos_id":"0002aaaa","player_data_id":101},
    {"name":"Bob","char_name":"Dodo Keeper","eos_id":"0002bbbb","player_data_id":202},
    {"name":"Carol","char_name":"Rex Tamer","eos_id":"0002cccc","player_data_id":303},
    {"name":"Eve","char_name":"","eos_id":"0002eeee","player_data_id":3000000000}
  ])"));
  std::size_t total = 0;
  for (const char* name :
       {"UWorld.GameState", "UWorld.PlayerControllerList", "AShooterGameState.DayNumber",
        "AController.PlayerState", "APlayerState.PlayerNamePrivate",
        "APlayerController.AcknowledgedPawn", "AShooterCharacter.PlayerName",
        "AShooterPlayerController.LinkedPlayerID", "FMemory.Malloc(unsigned__int64,unsignedint)",
        "FMemory.Realloc(void*,unsigned__int64,unsignedint)", "FMemory.Free(void*)",
        "FWeakObjectPtr.Get()", "AShooterPlayerController.GetUniqueNetIdAsString()"}) {
    total += simhost::ResolutionCount(name);
  }
  EXPECT_LE(total, 4u + 1u + 4u * 10u);
  EXPECT_EQ(simhost::ResolutionCount("UWorld.PlayerControllerList"), 2u);
  EXPECT_EQ(simhost::ResolutionCount("FWeakObjectPtr.Get()"), 5u);
}

EngineString View(std::vector<char16_t>& units, std::int32_t count) {
  return EngineString{units.data(), count, count};
}

TEST(NarrowTextTest, ReadsUnitsAtAnOddAddress) {
  // Engine memory promises nothing about alignment to the plugin; the read must not care.
  unsigned char bytes[9] = {};
  const char16_t units[4] = {u'O', 0x00E9, u'k', 0};
  std::memcpy(bytes + 1, units, sizeof(units));
  EXPECT_EQ(NarrowText(EngineString{reinterpret_cast<char16_t*>(bytes + 1), 4, 4}), "O\xC3\xA9k");
}

// Every engine block is given back (checked on tear-down), as in the world tests.
using EngineStringTest = WorldTest;

TEST_F(EngineStringTest, CopyOfAnEmptyStringAllocatesNothing) {
  std::vector<char16_t> units{0, 0};
  // A negative count, or a count without storage, is a damaged string: nothing is there to copy.
  for (const EngineString& empty :
       {EngineString{units.data(), 0, 2}, EngineString{}, EngineString{nullptr, 4, 4},
        EngineString{units.data(), -2, 2}}) {
    const EngineString copy = CopyEngineString(empty);
    EXPECT_EQ(copy.Data, nullptr);
    EXPECT_EQ(copy.Count, 0);
    EXPECT_EQ(copy.Capacity, 0);
  }
  EXPECT_EQ(simhost::Allocator().mallocs, 0u);
  EXPECT_EQ(simhost::ResolutionCount("FMemory.Malloc(unsigned__int64,unsignedint)"), 0u);
}

TEST_F(EngineStringTest, CopyTakesEveryUnitOfTheCountThroughReallocOfNoBlock) {
  std::vector<char16_t> units{u'Z', 0x00EB, 0, u'x', u'y'};
  EngineString copy = CopyEngineString(EngineString{units.data(), 4, 5});
  ASSERT_NE(copy.Data, nullptr);
  EXPECT_EQ(copy.Count, 4);
  EXPECT_EQ(copy.Capacity, 4);
  EXPECT_EQ(std::memcmp(copy.Data, units.data(), 8), 0);
  EXPECT_EQ(NarrowText(copy), "Z\xC3\xAB");

  // Realloc(null, 8, 2) is the engine's Malloc(8, 0); the engine's Realloc is never reached.
  EXPECT_EQ(simhost::Allocator().mallocs, 1u);
  EXPECT_EQ(simhost::Allocator().reallocs, 0u);
  EXPECT_EQ(simhost::Allocator().sizes, std::vector<std::uint64_t>{8});
  EXPECT_EQ(simhost::Allocator().alignments, std::vector<std::uint32_t>{0});

  ReleaseEngineString(copy);
  EXPECT_EQ(copy.Data, nullptr);
  EXPECT_EQ(simhost::Allocator().frees, 1u);
}

TEST_F(EngineStringTest, ReallocOfABlockGoesToTheEngineAndReleasingNothingCallsNothing) {
  void* block = FMemory::Malloc(4, 8);
  block = FMemory::Realloc(block, 16, 8);
  EXPECT_EQ(simhost::Allocator().reallocs, 1u);
  EXPECT_EQ(simhost::Allocator().sizes, (std::vector<std::uint64_t>{4, 16}));
  EXPECT_EQ(simhost::Allocator().alignments, (std::vector<std::uint32_t>{8, 8}));
  FMemory::Free(block);
  const std::size_t frees = simhost::ResolutionCount("FMemory.Free(void*)");
  EngineString empty;
  ReleaseEngineString(empty);
  FString engineEmpty("");
  ReleaseEngineString(engineEmpty);
  EXPECT_EQ(simhost::ResolutionCount("FMemory.Free(void*)"), frees);
}

TEST_F(EngineStringTest, AFailedCopyPassesTheErrorOnAndAnOwnedStringGoesBackOnAnError) {
  std::vector<char16_t> units{u'a', u'b', 0};
  simhost::SetAllocatorThrowsAt(1);
  EXPECT_THROW(CopyEngineString(View(units, 3)), std::bad_alloc);
  try {
    EngineString copy = CopyEngineString(View(units, 3));
    OwnedEngineString<EngineString> owned(copy);
    throw std::runtime_error("a later read failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(simhost::Allocator().frees, 1u);
}

// ---- The readers while the world changes on another thread, as the game changes it between
// and during heartbeats: players join and leave and the day advances.

using WorldChangesTest = test::PluginTest;

TEST_F(WorldChangesTest, ReadersSeeConsistentPlayersWhileTheWorldChanges) {
  simhost::InstallWorld(simhost::SimWorldDescription());
  std::atomic<bool> stop{false};
  std::atomic<int> changes{0};
  std::thread game([&] {
    for (int step = 0; !stop.load(); ++step) {
      simhost::ChangeWorld([step](simhost::SimWorldDescription& world) {
        ++world.DayNumber;
        world.Players.push_back(Joiner(step));
        if (world.Players.size() > 6) world.Players.front().Gone = true;
        if (world.Players.size() > 8) world.Players.erase(world.Players.begin());
      });
      changes.fetch_add(1);
      std::this_thread::yield();
    }
  });

  int lastDay = 0;
  // Reads go on until the world has changed a few hundred times under them.
  while (changes.load() < 300) {
    const std::int32_t day = GetDayNumber();
    EXPECT_GE(day, lastDay) << "the day never goes back";
    lastDay = day;
    const std::int32_t count = GetPlayerCount();
    EXPECT_GE(count, 0);
    EXPECT_LE(count, 8);
    for (const PlayerEntry& entry : GetPlayerRoster()) {
      // Each entry comes whole from one player, never mixed from two.
      const std::string number = entry.Name.substr(std::string("Player").size());
      EXPECT_EQ(entry.CharName, "Survivor" + number);
      EXPECT_EQ(entry.EosId, "0002" + number);
      EXPECT_EQ(entry.PlayerDataId, 1000u + static_cast<std::uint32_t>(std::stoi(number)));
    }
  }
  stop.store(true);
  game.join();
  EXPECT_TRUE(simhost::UnknownNames().empty());
}

}  // namespace
}  // namespace vesperline
