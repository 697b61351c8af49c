#pragma once

#include <cstdint>
#include <string>

namespace vesperline {

// One listed player, copied out of the engine.
struct PlayerEntry {
  std::string Name;
  std::string CharName;
  std::string EosId;
  std::uint32_t PlayerDataId = 0;
};

}  // namespace vesperline
