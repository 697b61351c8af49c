// The whole heartbeat document from any facts, counters and players: it is always one strict JSON
// object, compact, with exactly the members the facts call for, in their fixed order, each
// reading back as the value it was built from.
// Input: the facts, counters and players one after another (texts with a length byte before
// them, numbers as four bytes, little-endian), up to 32 players.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "heartbeat/Document.h"
#include "tests/support/StrictJson.h"

namespace {

using namespace vesperline;
using namespace vesperline::fuzz;
using test::Json;

void CheckString(const Json& member, const std::string& built) {
  FUZZ_CHECK(member.is_string());
  FUZZ_CHECK(member.get<std::string>() == ReferenceUtf8(built));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputReader input(AsText(data, size));
  ServerFacts facts;
  facts.Token = input.Text();
  facts.ServerIp = input.Text();
  facts.ServerPort = input.Int32();
  const std::uint8_t statusChoice = input.Byte();
  std::string status = statusChoice % 3 == 0 ? "online" : statusChoice % 3 == 1 ? "offline" : "";
  if (status.empty()) status = input.Text();
  facts.SessionName = input.Text();
  facts.MapName = input.Text();
  facts.PlayerLimit = input.Int32();
  facts.ServerVersion = input.Text();
  facts.ModList = input.Text();
  facts.IsPve = (input.Byte() & 1) != 0;
  const std::int32_t playerCount = input.Int32();
  const std::int32_t dayNumber = input.Int32();
  std::vector<PlayerEntry> roster;
  while (!input.Empty() && roster.size() < 32) {
    PlayerEntry player;
    player.Name = input.Text();
    player.CharName = input.Text();
    player.EosId = input.Text();
    player.PlayerDataId = input.Uint32();
    roster.push_back(player);
  }

  const std::string document =
      BuildHeartbeatDocument(facts, status, playerCount, dayNumber, roster);
  Json value;
  FUZZ_CHECK(test::ParseStrictJson(document, value));
  FUZZ_CHECK(value.is_object());
  FUZZ_CHECK(value.dump() == document);

  // The members the facts call for, in their order, and no other.
  std::vector<std::string> expected{"token", "ip", "port", "status"};
  if (!facts.SessionName.empty()) expected.push_back("name");
  if (!facts.MapName.empty()) expected.push_back("map");
  if (facts.PlayerLimit > 0) expected.push_back("player_max");
  if (playerCount >= 0) expected.push_back("player_current");
  if (dayNumber >= 0) expected.push_back("day");
  if (!facts.ServerVersion.empty()) expected.push_back("version");
  expected.push_back("is_pve");
  if (!facts.ModList.empty()) expected.push_back("mods");
  expected.push_back("players");
  std::vector<std::string> members;
  for (const auto& item : value.items()) members.push_back(item.key());
  FUZZ_CHECK(members == expected);

  CheckString(value["token"], facts.Token);
  CheckString(value["ip"], facts.ServerIp);
  FUZZ_CHECK(value["port"].is_number_integer() &&
             value["port"].get<std::int64_t>() == facts.ServerPort);
  CheckString(value["status"], status);
  if (!facts.SessionName.empty()) {
    CheckString(value["name"], facts.ServerVersion.empty()
                                   ? facts.SessionName
                                   : facts.SessionName + " (v" + facts.ServerVersion + ")");
  }
  if (!facts.MapName.empty()) CheckString(value["map"], facts.MapName);
  if (facts.PlayerLimit > 0)
    FUZZ_CHECK(value["player_max"].get<std::int64_t>() == facts.PlayerLimit);
  if (playerCount >= 0) FUZZ_CHECK(value["player_current"].get<std::int64_t>() == playerCount);
  if (dayNumber >= 0) FUZZ_CHECK(value["day"].get<std::int64_t>() == dayNumber);
  if (!facts.ServerVersion.empty()) CheckString(value["version"], facts.ServerVersion);
  FUZZ_CHECK(value["is_pve"].is_boolean() && value["is_pve"].get<bool>() == facts.IsPve);
  if (!facts.ModList.empty()) CheckString(value["mods"], facts.ModList);

  const Json& players = value["players"];
  FUZZ_CHECK(players.is_array() && players.size() == roster.size());
  for (std::size_t i = 0; i < roster.size(); ++i) {
    const Json& player = players[i];
    std::vector<std::string> playerMembers;
    for (const auto& item : player.items()) playerMembers.push_back(item.key());
    FUZZ_CHECK(playerMembers ==
               (std::vector<std::string>{"name", "char_name", "eos_id", "player_data_id"}));
    CheckString(player["name"], roster[i].Name);
    CheckString(player["char_name"], roster[i].CharName);
    CheckString(player["eos_id"], roster[i].EosId);
    FUZZ_CHECK(player["player_data_id"].is_number_unsigned() &&
               player["player_data_id"].get<std::uint64_t>() == roster[i].PlayerDataId);
  }
  return 0;
}
