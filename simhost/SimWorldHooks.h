// What the simulated world adds to the simulated host's own registrations and reset. Internal to
// the simulated host library.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace simhost::world {

// The world's member offsets, chosen once per process, and its engine functions.
const std::vector<std::pair<std::string, std::uint64_t>>& MemberOffsets();
const std::vector<std::pair<std::string, void*>>& Functions();

// Frees every simulated world and forgets the failure settings. Called by Reset before the host's
// own state is cleared, with none of the host's locks held.
void DestroyAll();

}  // namespace simhost::world
