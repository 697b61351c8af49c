// The heartbeat: one JSON document describing the server, posted to the service.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ServerFacts.h"

namespace vesperline {

// Builds the heartbeat document: a single-line JSON object with the members token, ip, port,
// status, name, map, player_max, player_current, day, version, is_pve, mods and players in that
// order, leaving out the optional members whose value is not known (an empty text, a player
// limit below 1, a negative player count or day).
std::string BuildHeartbeatDocument(const ServerFacts& facts, std::string_view status,
                                   std::int32_t playerCount, std::int32_t dayNumber,
                                   const std::vector<PlayerEntry>& roster);

}  // namespace vesperline
