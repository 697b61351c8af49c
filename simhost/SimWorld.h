// The simulated engine world: a UWorld with a game state and a player controller list of weak
// pointers, controllers with player states, pawns, unique net ids and player data ids, laid out
// at member offsets the simulated host chooses at random once per process, so that no offset can
// be assumed by accident. Worlds are built from a description; changing the world builds a new
// one and swaps it in, and a replaced world stays readable until Reset, so a reader on another
// thread never needs a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simhost/SimHost.h"

namespace simhost {

// How "AShooterPlayerController.GetUniqueNetIdAsString()" treats one controller.
enum class NetIdBehaviour {
  kFills,               // fills the caller's string with NetId
  kThrows,              // throws std::runtime_error before touching the string
  kThrowsAfterFilling,  // fills the string (replacing its storage), then throws
};

// One entry of the player controller list.
struct SimPlayer {
  std::u16string Name;           // the player state's "PlayerNamePrivate"; units as given
  std::u16string CharacterName;  // the pawn's "PlayerName"
  std::u16string NetId;          // what GetUniqueNetIdAsString gives; empty leaves the string
  std::uint32_t PlayerDataId = 0;
  bool HasPlayerState = true;
  bool HasPawn = true;
  // The weak pointer stays in the list but no longer resolves, as for a player who just left.
  bool Gone = false;
  NetIdBehaviour NetIdMode = NetIdBehaviour::kFills;
  // When not 0, every string of the player (the two names and the id the engine fills) gives this
  // count instead of its own, as a count read from a player who is leaving can be garbage. The
  // storage holds the text and a zero unit, grown with zero units to the count when the count is
  // at most kMaxBackedUnits.
  std::int32_t StringCount = 0;
};

// The largest false string count whose units are all there.
inline constexpr std::int32_t kMaxBackedUnits = 1 << 16;

struct SimWorldDescription {
  bool HasGameState = true;
  std::int32_t DayNumber = 1;
  std::vector<SimPlayer> Players;
};

// Builds a world as described and makes it the current world. Its strings come from the engine
// allocator (they count in Allocator()). Returns the world's address.
SIMHOST_API UWorld* InstallWorld(const SimWorldDescription& description);

// Changes the current world's description (an empty one when there is none), then installs the
// changed world in its place. Safe to call from any thread while the plugin reads.
SIMHOST_API void ChangeWorld(const std::function<void(SimWorldDescription&)>& change);

// The description of the current world; an empty one when there is none.
SIMHOST_API SimWorldDescription CurrentWorldDescription();

// No world is current any more; the last one stays readable until Reset.
SIMHOST_API void RemoveWorld();

// Engine allocator blocks held by the simulated worlds (current and replaced ones).
SIMHOST_API std::size_t WorldBlocks();

// "FWeakObjectPtr.Get()" throws std::runtime_error on its n-th call from now (1 = the next);
// 0 never.
SIMHOST_API void SetWeakGetThrowsAt(std::size_t call);

// On its n-th call from now (1 = the next), "FWeakObjectPtr.Get()" changes the count of the current
// world's player controller list to count, leaving its storage as it was, as a list read while the
// engine tears the world down can seem to change; 0 never.
SIMHOST_API void SetListCountAt(std::size_t call, std::int32_t count);

// How many times "FWeakObjectPtr.Get()" has been called since Reset.
SIMHOST_API std::size_t WeakGetCalls();

}  // namespace simhost
