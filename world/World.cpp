#include "world/World.h"

namespace vesperline {

std::int32_t GetPlayerCount() {
  return -1;
}

std::int32_t GetDayNumber() {
  return -1;
}

std::vector<PlayerEntry> GetPlayerRoster() {
  return {};
}

}  // namespace vesperline
