// The facts about a server that a heartbeat reports, and one listed player.
#pragma once

#include <cstdint>
#include <string>

namespace vesperline {

// What start-up finds out about the server. An empty text, a port of 0 and a player limit of -1
// mean that the fact is not known.
struct ServerFacts {
  std::string Token;
  std::string ServerIp;
  std::int32_t ServerPort = 0;
  std::string SessionName;
  std::string MapName;
  std::int32_t PlayerLimit = -1;
  std::string ServerVersion;
  std::string ModList;
  bool IsPve = false;
};

// One listed player, copied out of the engine.
struct PlayerEntry {
  std::string Name;
  std::string CharName;
  std::string EosId;
  std::uint32_t PlayerDataId = 0;
};

}  // namespace vesperline
