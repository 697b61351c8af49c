// The world readers while the world changes on another thread, as the game changes it between and
// during heartbeats: players join and leave and the day advances.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "simhost/SimHost.h"
#include "simhost/SimWorld.h"
#include "tests/support/TestSupport.h"
#include "world/World.h"

namespace vesperline {
namespace {

std::u16string Numbered(const char16_t* prefix, int number) {
  std::u16string text(prefix);
  for (const char c : std::to_string(number)) text.push_back(static_cast<char16_t>(c));
  return text;
}

simhost::SimPlayer Joiner(int number) {
  simhost::SimPlayer player;
  player.Name = Numbered(u"Player", number);
  player.CharacterName = Numbered(u"Survivor", number);
  player.NetId = Numbered(u"0002", number);
  player.PlayerDataId = static_cast<std::uint32_t>(1000 + number);
  return player;
}

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
