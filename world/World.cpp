#include "world/World.h"

#include <string>
#include <utility>

#include "common/Guard.h"
#include "host/AsaApi.h"
#include "world/Engine.h"

// The world is read on the heartbeat thread while the game's own threads change it, without any
// synchronisation with them: the host offers none. Each read is therefore kept short (one member
// at a time, the list's count and storage read again before every element) and no engine pointer
// is kept beyond the call that read it.

namespace vesperline {

namespace {

using WeakGetFunction = const void* (*)(const void* weakPointer, std::int32_t evenIfPendingKill);
using UniqueNetIdFunction = FString* (*)(const void* controller, FString* result);

const void* CurrentWorld() {
  return AsaApi::GetApiUtils().GetWorld();
}

const void* ReadPointer(const void* object, const std::string& member) {
  return ReadEngineValue<const void*>(FieldAddress(object, member));
}

// Each reading step of an entry runs guarded: a step that fails leaves its field as it was, and the
// entry's other steps still run.
PlayerEntry ReadPlayer(const void* controller) {
  PlayerEntry entry;
  RunGuarded([&] {
    const void* playerState = ReadPointer(controller, "AController.PlayerState");
    if (playerState == nullptr) return;
    EngineString name = CopyEngineString(
        ReadEngineString(FieldAddress(playerState, "APlayerState.PlayerNamePrivate")));
    OwnedEngineString<EngineString> owned(name);
    entry.Name = NarrowText(name);
  });
  RunGuarded([&] {
    // The host surface has no way to ask an object's class, so the pawn is read as the player's
    // character without a test. A player controller acknowledges the survivor its player plays,
    // which is a shooter character; a pawn of another class would give a wrong name or none.
    const void* pawn = ReadPointer(controller, "APlayerController.AcknowledgedPawn");
    if (pawn == nullptr) return;
    entry.CharName =
        NarrowText(ReadEngineString(FieldAddress(pawn, "AShooterCharacter.PlayerName")));
  });
  RunGuarded([&] {
    FString id("");
    // The engine may have replaced the string's storage by the time it throws, so what the string
    // holds at the end of the step is given back, however the step ends.
    OwnedEngineString<FString> owned(id);
    const auto getId = reinterpret_cast<UniqueNetIdFunction>(
        EngineFunction("AShooterPlayerController.GetUniqueNetIdAsString()"));
    getId(controller, &id);
    entry.EosId = NarrowText(AsEngineString(id));
  });
  RunGuarded([&] {
    entry.PlayerDataId = ReadEngineValue<std::uint32_t>(
        FieldAddress(controller, "AShooterPlayerController.LinkedPlayerID"));
  });
  return entry;
}

}  // namespace

std::int32_t GetPlayerCount() {
  try {
    const void* world = CurrentWorld();
    if (world == nullptr) return -1;
    const std::int32_t count =
        ReadEngineArray(FieldAddress(world, "UWorld.PlayerControllerList")).Count;
    return count > kMaxPlayerListCount ? -1 : count;
  } catch (...) {
    return -1;
  }
}

std::int32_t GetDayNumber() {
  try {
    const void* world = CurrentWorld();
    if (world == nullptr) return -1;
    const void* gameState = ReadPointer(world, "UWorld.GameState");
    if (gameState == nullptr) return -1;
    return ReadEngineValue<std::int32_t>(FieldAddress(gameState, "AShooterGameState.DayNumber"));
  } catch (...) {
    return -1;
  }
}

std::vector<PlayerEntry> GetPlayerRoster() {
  std::vector<PlayerEntry> roster;
  try {
    const void* world = CurrentWorld();
    if (world == nullptr) return roster;
    const std::uint64_t list = FieldAddress(world, "UWorld.PlayerControllerList");
    for (std::int32_t i = 0;; ++i) {
      // The list may change between two elements, so its count and storage are read each time. A
      // count above the bound is garbage: the walk ends there, with the players gathered so far.
      const EngineArray controllers = ReadEngineArray(list);
      if (i >= controllers.Count || controllers.Count > kMaxPlayerListCount ||
          controllers.Data == nullptr) {
        break;
      }
      const void* weakPointer =
          static_cast<const unsigned char*>(controllers.Data) + static_cast<std::size_t>(i) * 8;
      const auto get = reinterpret_cast<WeakGetFunction>(EngineFunction("FWeakObjectPtr.Get()"));
      const void* controller = get(weakPointer, 0);
      if (controller == nullptr) continue;
      PlayerEntry entry = ReadPlayer(controller);
      if (!entry.Name.empty() || !entry.CharName.empty() || !entry.EosId.empty()) {
        roster.push_back(std::move(entry));
      }
    }
  } catch (...) {
    // The walk ends here; the players gathered so far are still reported.
  }
  return roster;
}

}  // namespace vesperline
