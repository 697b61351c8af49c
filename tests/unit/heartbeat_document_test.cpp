// The heartbeat document, whole; and SendHeartbeat's guard. The presence rules at their edges and
// the escaping of every text, the identity and the status included, are the heartbeat_document
// fuzz target's seeds (fuzz/corpus/heartbeat_document), checked against its reference in every
// build. An error of the request service reaching the caller is a row of the fault matrix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "discovery/ServerLog.h"
#include "discovery/SettingsFile.h"
#include "heartbeat/Document.h"
#include "heartbeat/Json.h"
#include "plugin/Heartbeat.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"
#include "simhost/SimWorld.h"
#include "tests/support/JsonCheck.h"
#include "tests/support/TestSupport.h"
#include "world/Engine.h"

namespace vesperline {
namespace {

using test::Json;

// A server that has only passed the start-up gate: nothing else is known about it.
ServerFacts IdentityOnly() {
  ServerFacts facts;
  facts.Token = "tk_3f9a";
  facts.ServerIp = "203.0.113.7";
  facts.ServerPort = 7777;
  return facts;
}

// A busy PvE server with everything known.
ServerFacts TheIslandPve() {
  ServerFacts facts = IdentityOnly();
  facts.SessionName = "Vesper PvE";
  facts.MapName = "TheIsland_WP";
  facts.PlayerLimit = 70;
  facts.ServerVersion = "52.1";
  facts.ModList = "928708,931877";
  facts.IsPve = true;
  return facts;
}

// Builds the document and checks it strictly.
std::string Build(const ServerFacts& facts, std::int32_t playerCount, std::int32_t dayNumber,
                  const std::vector<PlayerEntry>& roster = {}, std::string_view status = "online") {
  const std::string document =
      BuildHeartbeatDocument(facts, status, playerCount, dayNumber, roster);
  Json parsed;
  EXPECT_TRUE(test::CheckHeartbeatDocument(document, parsed));
  return document;
}

TEST(HeartbeatDocument, EveryMemberInOrderOrOnlyThoseThatAreAlwaysThere) {
  EXPECT_EQ(Build(TheIslandPve(), 2, 100,
                  {{"Rex", "Tamer", "0002a1b2c3d4e5f60718293a4b5c6d7e", 10000},
                   {"J\xc3\xb6rg", "", "0002ffffffffffffffffffffffffffff", 4294967295u}}),
            "{\"token\":\"tk_3f9a\",\"ip\":\"203.0.113.7\",\"port\":7777,\"status\":\"online\","
            "\"name\":\"Vesper PvE (v52.1)\",\"map\":\"TheIsland_WP\",\"player_max\":70,"
            "\"player_current\":2,\"day\":100,\"version\":\"52.1\",\"is_pve\":true,"
            "\"mods\":\"928708,931877\",\"players\":["
            "{\"name\":\"Rex\",\"char_name\":\"Tamer\","
            "\"eos_id\":\"0002a1b2c3d4e5f60718293a4b5c6d7e\",\"player_data_id\":10000},"
            "{\"name\":\"J\xc3\xb6rg\",\"char_name\":\"\","
            "\"eos_id\":\"0002ffffffffffffffffffffffffffff\",\"player_data_id\":4294967295}]}");
  // Numbers whose leading pair of digits is 10, at each length the writer handles otherwise.
  ServerFacts tens = IdentityOnly();
  tens.ServerPort = 10;
  tens.PlayerLimit = 1000;
  EXPECT_EQ(Build(tens, 100000, 10000000, {{"A", "", "", 1000000000u}}),
            "{\"token\":\"tk_3f9a\",\"ip\":\"203.0.113.7\",\"port\":10,\"status\":\"online\","
            "\"player_max\":1000,\"player_current\":100000,\"day\":10000000,\"is_pve\":false,"
            "\"players\":[{\"name\":\"A\",\"char_name\":\"\",\"eos_id\":\"\","
            "\"player_data_id\":1000000000}]}");
  EXPECT_EQ(Build(IdentityOnly(), -1, -1, {}, "offline"),
            "{\"token\":\"tk_3f9a\",\"ip\":\"203.0.113.7\",\"port\":7777,\"status\":\"offline\","
            "\"is_pve\":false,\"players\":[]}");
}

// The largest body the plugin can send, for the operators' guide in README: every text at the
// longest its cap lets through, made of what escapes longest, and as many players as the list walk
// reads. The token, address and map have no cap of the plugin's and are given as an admin would.
TEST(HeartbeatDocument, TheLargestBodyEveryCapAllows) {
  // Of all UTF-16 units, a control character without a short escape takes the most room in the
  // body: six bytes ("\u0001"). A byte of a file's text takes at most as many.
  std::size_t widest = 0;
  for (char32_t unit = 1; unit <= 0xFFFF; ++unit) {
    char16_t units[] = {static_cast<char16_t>(unit), 0};
    widest = std::max(widest, EscapeJson(NarrowText(EngineString{units, 2, 2})).size());
  }
  ASSERT_EQ(widest, 6u);
  ASSERT_EQ(EscapeJson("\x01"), "\\u0001");

  std::vector<char16_t> units(kMaxEngineStringUnits, u'\x01');
  const std::string text =
      NarrowText(EngineString{units.data(), kMaxEngineStringUnits, kMaxEngineStringUnits});
  ASSERT_EQ(text.size(), std::size_t{kMaxEngineStringUnits});
  ServerFacts facts = TheIslandPve();
  facts.Token = "5f3c9a1e7b2d4c6f8a0e1d3b5c7a9f2e4d6b8c0a";
  facts.ServerPort = std::numeric_limits<std::int32_t>::max();
  facts.PlayerLimit = std::numeric_limits<std::int32_t>::max();
  facts.SessionName.assign(kMaxIniTextBytes, '\x01');
  facts.ModList.assign(kMaxIniTextBytes, '\x01');
  facts.ServerVersion.assign(kMaxVersionBytes, '\x01');
  facts.IsPve = false;
  const PlayerEntry player{text, text, text, std::numeric_limits<std::uint32_t>::max()};
  const std::int32_t day = std::numeric_limits<std::int32_t>::max();
  // One such player is checked strictly; each further one adds the same bytes and a comma, so the
  // size of the whole list follows from one and two players without building 288 MiB.
  const std::size_t one = Build(facts, kMaxPlayerListCount, day, {player}, "offline").size();
  const std::size_t two =
      BuildHeartbeatDocument(facts, "offline", kMaxPlayerListCount, day, {player, player}).size();
  const std::size_t size = one + (kMaxPlayerListCount - 1) * (two - one);
  std::printf("The largest heartbeat body: %zu bytes\n", size);
  EXPECT_EQ(size, 302316800u) << "the operators' guide in README gives this size";
}

// ---- SendHeartbeat ---------------------------------------------------------------------------

class SendHeartbeatTest : public test::PluginTest {
 protected:
  void SetUp() override {
    test::PluginTest::SetUp();
    static_cast<ServerFacts&>(Profile) = TheIslandPve();
  }
};

TEST_F(SendHeartbeatTest, NothingIsPostedNorReadForAServerWithoutTokenAddressOrAPositivePort) {
  simhost::SimWorldDescription world;
  world.DayNumber = 3;
  world.Players.push_back({u"Alice", u"Tribe Chief", u"0002aaaa", 101});
  simhost::InstallWorld(world);
  for (const std::function<void(ServerFacts&)>& unusable :
       std::vector<std::function<void(ServerFacts&)>>{
           [](ServerFacts& facts) { facts.Token.clear(); },
           [](ServerFacts& facts) { facts.ServerIp.clear(); },
           [](ServerFacts& facts) { facts.ServerPort = 0; },
           [](ServerFacts& facts) { facts.ServerPort = -5; },
       }) {
    static_cast<ServerFacts&>(Profile) = TheIslandPve();
    unusable(Profile);
    SendHeartbeat("offline");
    EXPECT_TRUE(simhost::Requests().empty());
  }
  EXPECT_EQ(simhost::ResolutionCount("UWorld.PlayerControllerList"), 0u);
  EXPECT_EQ(simhost::WeakGetCalls(), 0u);

  static_cast<ServerFacts&>(Profile) = TheIslandPve();
  Profile.ServerPort = 1;
  SendHeartbeat("offline");
  ASSERT_EQ(simhost::Requests().size(), 1u) << "port 1 is a port";
  Json parsed;
  ASSERT_TRUE(test::CheckHeartbeatDocument(simhost::Requests()[0].body, parsed));
  EXPECT_EQ(parsed.at("day"), 3);
  EXPECT_EQ(parsed.at("players").size(), 1u);
}

}  // namespace
}  // namespace vesperline
