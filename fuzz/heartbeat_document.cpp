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

using namespace vesperline;
using namespace vesperline::fuzz;
using test::Json;

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

  // Exactly the members the facts call for, in their order, each reading back as the value it was
  // built from (texts as the reference reads their bytes); ordered objects compare in order.
  Json expected = Json::object();
  expected["token"] = ReferenceUtf8(facts.Token);
  expected["ip"] = ReferenceUtf8(facts.ServerIp);
  expected["port"] = facts.ServerPort;
  expected["status"] = ReferenceUtf8(status);
  if (!facts.SessionName.empty()) {
    expected["name"] = ReferenceUtf8(facts.ServerVersion.empty()
                                         ? facts.SessionName
                                         : facts.SessionName + " (v" + facts.ServerVersion + ")");
  }
  if (!facts.MapName.empty()) expected["map"] = ReferenceUtf8(facts.MapName);
  if (facts.PlayerLimit > 0) expected["player_max"] = facts.PlayerLimit;
  if (playerCount >= 0) expected["player_current"] = playerCount;
  if (dayNumber >= 0) expected["day"] = dayNumber;
  if (!facts.ServerVersion.empty()) expected["version"] = ReferenceUtf8(facts.ServerVersion);
  expected["is_pve"] = facts.IsPve;
  if (!facts.ModList.empty()) expected["mods"] = ReferenceUtf8(facts.ModList);
  expected["players"] = Json::array();
  for (const PlayerEntry& player : roster) {
    expected["players"].push_back({{"name", ReferenceUtf8(player.Name)},
                                   {"char_name", ReferenceUtf8(player.CharName)},
                                   {"eos_id", ReferenceUtf8(player.EosId)},
                                   {"player_data_id", player.PlayerDataId}});
  }
  FUZZ_CHECK(value == expected);
  return 0;
}
