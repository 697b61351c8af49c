// Live facts read out of the running game world. None of these lets an error out.
#pragma once

#include <cstdint>
#include <vector>

#include "common/ServerFacts.h"

namespace vesperline {

// The number of entries in the world's player controller list, or -1 when it cannot be read (a
// count above kMaxPlayerListCount, world/Engine.h, cannot be).
std::int32_t GetPlayerCount();

// The game state's day number, or -1 when it cannot be read.
std::int32_t GetDayNumber();

// One entry per live player controller with a name, a character name or an id; empty when the
// world cannot be read. The walk ends at the first element before which the list counts more than
// kMaxPlayerListCount, keeping the entries gathered before it.
std::vector<PlayerEntry> GetPlayerRoster();

}  // namespace vesperline
