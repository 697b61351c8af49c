// The heartbeat document: its members, their presence rules at the edges, always valid JSON; and
// SendHeartbeat's guard and hand-over.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "heartbeat/Document.h"
#include "plugin/Heartbeat.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"
#include "simhost/SimWorld.h"
#include "tests/support/JsonCheck.h"
#include "tests/support/TestSupport.h"
#include "tests/support/Utf8Reference.h"

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

PlayerEntry Player(std::string name, std::string charName, std::string eosId, std::uint32_t id) {
  return PlayerEntry{std::move(name), std::move(charName), std::move(eosId), id};
}

// Builds the document, checks it strictly and returns it; the parsed form goes to parsed. A status
// the plugin never sends makes a document the service must refuse.
std::string Build(const ServerFacts& facts, Json& parsed, std::int32_t playerCount = 2,
                  std::int32_t dayNumber = 14, const std::vector<PlayerEntry>& roster = {},
                  std::string_view status = "online") {
  const std::string document =
      BuildHeartbeatDocument(facts, status, playerCount, dayNumber, roster);
  EXPECT_TRUE(
      test::CheckHeartbeatDocument(document, parsed, status == "online" || status == "offline"));
  return document;
}

std::vector<std::string> Members(const Json& object) {
  std::vector<std::string> names;
  for (const auto& [name, value] : object.items()) names.push_back(name);
  return names;
}

// ---- The document ------------------------------------------------------------------------------

TEST(HeartbeatDocument, AServerWithEverythingKnownGivesEveryMemberInOrderOnOneLine) {
  Json parsed;
  const std::string document =
      Build(TheIslandPve(), parsed, 2, 14,
            {Player("Rex", "Tamer", "0002a1b2c3d4e5f60718293a4b5c6d7e", 101),
             Player("J\xc3\xb6rg", "", "0002ffffffffffffffffffffffffffff", 4294967295u)});
  EXPECT_EQ(
      document,
      "{\"token\":\"tk_3f9a\",\"ip\":\"203.0.113.7\",\"port\":7777,\"status\":\"online\","
      "\"name\":\"Vesper PvE (v52.1)\",\"map\":\"TheIsland_WP\",\"player_max\":70,"
      "\"player_current\":2,\"day\":14,\"version\":\"52.1\",\"is_pve\":true,"
      "\"mods\":\"928708,931877\",\"players\":["
      "{\"name\":\"Rex\",\"char_name\":\"Tamer\",\"eos_id\":\"0002a1b2c3d4e5f60718293a4b5c6d7e\","
      "\"player_data_id\":101},"
      "{\"name\":\"J\xc3\xb6rg\",\"char_name\":\"\",\"eos_id\":"
      "\"0002ffffffffffffffffffffffffffff\","
      "\"player_data_id\":4294967295}]}");
}

TEST(HeartbeatDocument, AServerKnownOnlyByItsIdentityGivesTheMembersThatAreAlwaysThere) {
  Json parsed;
  EXPECT_EQ(Build(IdentityOnly(), parsed, -1, -1, {}, "offline"),
            "{\"token\":\"tk_3f9a\",\"ip\":\"203.0.113.7\",\"port\":7777,\"status\":\"offline\","
            "\"is_pve\":false,\"players\":[]}");
}

TEST(HeartbeatDocument, ThePlayerLimitIsSentFromOne) {
  for (const std::int32_t limit : {-1, 0, 1, 2147483647}) {
    ServerFacts facts = TheIslandPve();
    facts.PlayerLimit = limit;
    Json parsed;
    Build(facts, parsed);
    if (limit < 1) {
      EXPECT_FALSE(parsed.contains("player_max")) << limit;
    } else {
      EXPECT_EQ(parsed.at("player_max"), limit);
    }
  }
}

TEST(HeartbeatDocument, PlayerCountAndDayAreSentFromZero) {
  for (const std::int32_t value : {-2147483647 - 1, -1, 0, 1, 2147483647}) {
    Json parsed;
    const std::string document = Build(TheIslandPve(), parsed, value, value);
    if (value < 0) {
      EXPECT_FALSE(parsed.contains("player_current")) << value;
      EXPECT_FALSE(parsed.contains("day")) << value;
    } else {
      const std::string digits = std::to_string(value);
      EXPECT_NE(document.find(",\"player_current\":" + digits + ",\"day\":" + digits + ","),
                std::string::npos)
          << document;
    }
  }
}

TEST(HeartbeatDocument, ThePortIsWrittenInFullAtBothEnds) {
  for (const std::int32_t port : {1, 2147483647}) {
    ServerFacts facts = IdentityOnly();
    facts.ServerPort = port;
    Json parsed;
    const std::string document = Build(facts, parsed);
    EXPECT_NE(document.find(",\"port\":" + std::to_string(port) + ",\"status\":"),
              std::string::npos)
        << document;
  }
}

TEST(HeartbeatDocument, TheDisplayNameCarriesTheVersionAndNeedsASessionName) {
  ServerFacts facts = IdentityOnly();
  facts.SessionName = "Name";
  facts.ServerVersion = "1.2";
  Json parsed;
  Build(facts, parsed);
  EXPECT_EQ(parsed.at("name"), "Name (v1.2)");
  EXPECT_EQ(parsed.at("version"), "1.2");

  facts.ServerVersion.clear();
  Build(facts, parsed);
  EXPECT_EQ(parsed.at("name"), "Name");
  EXPECT_FALSE(parsed.contains("version"));

  facts.SessionName.clear();
  facts.ServerVersion = "1.2";
  Build(facts, parsed);
  EXPECT_FALSE(parsed.contains("name"));
  EXPECT_EQ(parsed.at("version"), "1.2");
}

TEST(HeartbeatDocument, PlayersAreJoinedByOneCommaAndKeepEmptyTextsAndEveryId) {
  Json parsed;
  const std::string document = Build(
      IdentityOnly(), parsed, 3, 1,
      {Player("", "", "0002aa", 0), Player("Bob", "", "", 4294967295u), Player("", "Grug", "", 7)});
  EXPECT_NE(document.find(",\"players\":[{\"name\":\"\",\"char_name\":\"\",\"eos_id\":\"0002aa\","
                          "\"player_data_id\":0},{\"name\":\"Bob\","),
            std::string::npos)
      << document;
  EXPECT_NE(document.find("\"player_data_id\":4294967295},{"), std::string::npos) << document;
  ASSERT_EQ(parsed.at("players").size(), 3u);
  EXPECT_EQ(parsed.at("players")[2].at("char_name"), "Grug");
}

// The token, the address and the status go through the same escaping as every other text: a token
// with a backslash or a quote must neither change its meaning nor break the document.
TEST(HeartbeatDocument, EveryTextIsEscapedTheIdentityAndStatusIncluded) {
  ServerFacts facts = TheIslandPve();
  facts.Token = "a\\b\"c";
  facts.ServerIp = "203.0.113.7\n";
  facts.SessionName = "Tab\there \"Quoted\" \\ \x10\xd0\x90";
  facts.MapName = "Caf\xe9";
  Json parsed;
  Build(facts, parsed, 1, 1, {Player("\x01\x7f", "\xc3", "\"", 1)}, "on\"line");
  EXPECT_EQ(parsed.at("token"), "a\\b\"c");
  EXPECT_EQ(parsed.at("ip"), "203.0.113.7\n");
  EXPECT_EQ(parsed.at("status"), "on\"line");
  EXPECT_EQ(parsed.at("name"), "Tab\there \"Quoted\" \\ \x10\xd0\x90 (v52.1)");
  EXPECT_EQ(parsed.at("map"), "Caf\xc3\xa9");
  EXPECT_EQ(parsed.at("players")[0],
            Json::parse("{\"name\":\"\\u0001\x7f\",\"char_name\":\"\xc3\x83\",\"eos_id\":\"\\\"\","
                        "\"player_data_id\":1}"));
}

// Random bytes in every text of the profile and of every player: the document always parses, its
// strings read back as the reference decoder's text, and its members are those the presence rules
// call for, in order.
TEST(HeartbeatDocument, AnyBytesInAnyTextGiveAValidDocumentThatSaysWhatTheyMean) {
  std::mt19937 random(2024);
  auto number = [&](std::int32_t low, std::int32_t high) {
    return std::uniform_int_distribution<std::int32_t>(low, high)(random);
  };
  auto text = [&] { return number(0, 3) == 0 ? std::string() : test::RandomText(random, 12); };
  for (int round = 0; round < 300; ++round) {
    ServerFacts facts;
    facts.Token = "t" + text();
    facts.ServerIp = "i" + text();
    facts.ServerPort = number(1, 65535);
    facts.SessionName = text();
    facts.MapName = text();
    facts.PlayerLimit = number(-2, 200);
    facts.ServerVersion = text();
    facts.ModList = text();
    facts.IsPve = number(0, 1) == 1;
    // The status is one of the two the plugin sends, so that the schema checks the rest.
    const std::string status = number(0, 1) == 0 ? "online" : "offline";
    const std::int32_t playerCount = number(-1, 100);
    const std::int32_t dayNumber = number(-1, 5000);
    std::vector<PlayerEntry> roster(static_cast<std::size_t>(number(0, 4)));
    for (PlayerEntry& player : roster) {
      player = Player(text(), text(), text(), static_cast<std::uint32_t>(random()));
    }
    const std::string document =
        BuildHeartbeatDocument(facts, status, playerCount, dayNumber, roster);
    Json parsed;
    ASSERT_TRUE(test::CheckHeartbeatDocument(document, parsed));

    Json expected = Json::object();
    expected["token"] = test::ReferenceUtf8(facts.Token);
    expected["ip"] = test::ReferenceUtf8(facts.ServerIp);
    expected["port"] = facts.ServerPort;
    expected["status"] = test::ReferenceUtf8(status);
    if (!facts.SessionName.empty()) {
      expected["name"] = test::ReferenceUtf8(
          facts.ServerVersion.empty() ? facts.SessionName
                                      : facts.SessionName + " (v" + facts.ServerVersion + ")");
    }
    if (!facts.MapName.empty()) expected["map"] = test::ReferenceUtf8(facts.MapName);
    if (facts.PlayerLimit > 0) expected["player_max"] = facts.PlayerLimit;
    if (playerCount >= 0) expected["player_current"] = playerCount;
    if (dayNumber >= 0) expected["day"] = dayNumber;
    if (!facts.ServerVersion.empty())
      expected["version"] = test::ReferenceUtf8(facts.ServerVersion);
    expected["is_pve"] = facts.IsPve;
    if (!facts.ModList.empty()) expected["mods"] = test::ReferenceUtf8(facts.ModList);
    expected["players"] = Json::array();
    for (const PlayerEntry& player : roster) {
      Json entry = Json::object();
      entry["name"] = test::ReferenceUtf8(player.Name);
      entry["char_name"] = test::ReferenceUtf8(player.CharName);
      entry["eos_id"] = test::ReferenceUtf8(player.EosId);
      entry["player_data_id"] = player.PlayerDataId;
      expected["players"].push_back(entry);
    }
    ASSERT_EQ(Members(parsed), Members(expected)) << document;
    // Ordered objects compare member by member in order.
    ASSERT_EQ(parsed, expected) << document;
  }
}

// The check every document above passes must itself reject what a strict receiver rejects.
TEST(HeartbeatDocument, TheStrictCheckRejectsWhatAStrictReceiverRejects) {
  const std::string good =
      "{\"token\":\"t\",\"ip\":\"i\",\"port\":1,\"status\":\"online\",\"is_pve\":false,"
      "\"players\":[]}";
  Json parsed;
  ASSERT_TRUE(test::CheckHeartbeatDocument(good, parsed));
  for (const std::string& bad : std::vector<std::string>{
           good + "x",
           good + "{}",
           good + "\n",
           "{\"token\":\"t\",\"token\":\"t\",\"ip\":\"i\",\"port\":1,\"status\":\"online\","
           "\"is_pve\":false,\"players\":[]}",
           "{\"token\":\"t\",\"ip\":\"i\",\"port\":1,\"status\":\"online\",\"is_pve\":false,"
           "\"players\":[{\"name\":\"a\",\"name\":\"b\",\"char_name\":\"\",\"eos_id\":\"\","
           "\"player_data_id\":1}]}",
           "{\"token\":\"\xe9\",\"ip\":\"i\",\"port\":1,\"status\":\"online\",\"is_pve\":false,"
           "\"players\":[]}",
           "{\"token\":\"\x10\",\"ip\":\"i\",\"port\":1,\"status\":\"online\",\"is_pve\":false,"
           "\"players\":[]}",
           "{\"ip\":\"i\",\"token\":\"t\",\"port\":1,\"status\":\"online\",\"is_pve\":false,"
           "\"players\":[]}",
           "{\"token\":\"t\",\"ip\":\"i\",\"port\":1,\"status\":\"online\",\"map\":\"\","
           "\"is_pve\":false,\"players\":[]}",
           "{\"token\":\"t\", \"ip\":\"i\",\"port\":1,\"status\":\"online\",\"is_pve\":false,"
           "\"players\":[]}",
       }) {
    EXPECT_FALSE(test::CheckHeartbeatDocument(bad, parsed, false)) << bad;
  }
}

// ---- SendHeartbeat ---------------------------------------------------------------------------

class SendHeartbeatTest : public test::PluginTest {
 protected:
  void SetUp() override {
    test::PluginTest::SetUp();
    static_cast<ServerFacts&>(Profile) = TheIslandPve();
  }
};

TEST_F(SendHeartbeatTest, PostsTheProfilesDocumentAsJsonWithoutHeaders) {
  SendHeartbeat("online");
  const auto requests = simhost::Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].url, std::string(kHeartbeatUrl));
  EXPECT_EQ(requests[0].contentType, "application/json");
  EXPECT_TRUE(requests[0].headers.empty());
  Json parsed;
  ASSERT_TRUE(test::CheckHeartbeatDocument(requests[0].body, parsed));
  EXPECT_EQ(requests[0].body, BuildHeartbeatDocument(Profile, "online", -1, -1, {}))
      << "no world: neither counters nor players";
}

TEST_F(SendHeartbeatTest, NothingIsPostedNorReadForAServerWithoutTokenAddressOrAPositivePort) {
  simhost::SimWorldDescription world;
  world.DayNumber = 3;
  world.Players.push_back({u"Alice", u"Tribe Chief", u"0002aaaa", 101});
  simhost::InstallWorld(world);
  for (const std::string_view field : {"token", "ip", "port 0", "port -5", "port minimum"}) {
    static_cast<ServerFacts&>(Profile) = TheIslandPve();
    if (field == "token") Profile.Token.clear();
    if (field == "ip") Profile.ServerIp.clear();
    if (field == "port 0") Profile.ServerPort = 0;
    if (field == "port -5") Profile.ServerPort = -5;
    if (field == "port minimum") Profile.ServerPort = -2147483647 - 1;
    SendHeartbeat("offline");
    EXPECT_TRUE(simhost::Requests().empty()) << field;
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

TEST_F(SendHeartbeatTest, AnErrorOfTheRequestServicePassesToTheCaller) {
  simhost::RequestBehaviour throwing;
  throwing.throws = true;
  simhost::SetRequestBehaviour(throwing);
  EXPECT_THROW(SendHeartbeat("offline"), std::runtime_error);
  EXPECT_EQ(simhost::Requests().size(), 1u) << "tried once, not again";
}

}  // namespace
}  // namespace vesperline
