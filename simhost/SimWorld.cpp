#include "simhost/SimWorld.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <unordered_map>

#include "simhost/SimWorldHooks.h"

namespace simhost {

namespace {

using Clock = std::chrono::steady_clock;

// Every simulated object has this many bytes; its members lie at random offsets inside.
constexpr std::size_t kObjectBytes = 448;
// The first 8 bytes of an object stay free, where a real object keeps its virtual table.
constexpr std::uint64_t kFirstMemberOffset = 8;
// Bytes of an object that no member covers hold this pattern, so a member read from the wrong
// object or at the wrong offset gives an obviously wrong value instead of a plausible zero.
constexpr unsigned char kFillByte = 0xCD;
// A replaced world is freed this long after it was replaced (or at Reset): far longer than any
// read of the plugin takes.
constexpr auto kRetiredWorldLifetime = std::chrono::seconds(30);

struct MemberShape {
  const char* name;
  std::uint64_t size;
};

// The members of each class that share one object. The controller is one object under three
// class names, so their members share one layout.
const std::vector<std::vector<MemberShape>>& Classes() {
  static const std::vector<std::vector<MemberShape>> classes = {
      {{"UWorld.GameState", 8}, {"UWorld.PlayerControllerList", 16}},
      {{"AShooterGameState.DayNumber", 4}},
      {{"AController.PlayerState", 8},
       {"APlayerController.AcknowledgedPawn", 8},
       {"AShooterPlayerController.LinkedPlayerID", 4}},
      {{"APlayerState.PlayerNamePrivate", 16}},
      {{"AShooterCharacter.PlayerName", 16}},
  };
  return classes;
}

std::vector<std::pair<std::string, std::uint64_t>> ChooseOffsets() {
  std::seed_seq seed{static_cast<std::uint64_t>(std::random_device()()),
                     static_cast<std::uint64_t>(Clock::now().time_since_epoch().count())};
  std::mt19937_64 random(seed);
  std::vector<std::pair<std::string, std::uint64_t>> offsets;
  for (const auto& members : Classes()) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> taken;  // [begin, end)
    for (const MemberShape& member : members) {
      // Each member is aligned to its own size (8 at most) and overlaps no other.
      const std::uint64_t alignment = std::min<std::uint64_t>(member.size, 8);
      std::uniform_int_distribution<std::uint64_t> slot(kFirstMemberOffset / alignment,
                                                        (kObjectBytes - member.size) / alignment);
      for (;;) {
        const std::uint64_t begin = slot(random) * alignment;
        const std::uint64_t end = begin + member.size;
        const bool overlaps = std::any_of(taken.begin(), taken.end(), [&](const auto& other) {
          return begin < other.second && other.first < end;
        });
        if (overlaps) continue;
        taken.emplace_back(begin, end);
        offsets.emplace_back(member.name, begin);
        break;
      }
    }
  }
  return offsets;
}

std::uint64_t Offset(const std::string& name) {
  for (const auto& [member, offset] : world::MemberOffsets()) {
    if (member == name) return offset;
  }
  throw std::logic_error("the simulated world has no member " + name);
}

// One engine object: zero-initialised storage would hide wrong reads, so it starts filled.
class Object {
 public:
  Object() : words_(new std::uint64_t[kObjectBytes / 8]) {
    std::memset(words_.get(), kFillByte, kObjectBytes);
  }
  void* Address() const { return words_.get(); }

  template <typename T>
  void Write(const std::string& member, const T& value) {
    std::memcpy(static_cast<unsigned char*>(Address()) + Offset(member), &value, sizeof(T));
  }

 private:
  std::unique_ptr<std::uint64_t[]> words_;
};

// The engine's weak pointer: an index into the object table and the serial number the slot had
// when the pointer was made.
struct WeakPointer {
  std::int32_t index;
  std::int32_t serial;
};
static_assert(sizeof(WeakPointer) == 8, "a weak pointer is 8 bytes");

struct Slot {
  const void* object = nullptr;
  std::int32_t serial = 0;
};

struct Controller {
  std::u16string netId;
  NetIdBehaviour mode = NetIdBehaviour::kFills;
  std::int32_t stringCount = 0;
};

// The units a string of the text takes, and the count it gives, for a player whose strings give
// the count claimed (0: their own).
std::size_t StoredUnits(const std::u16string& text, std::int32_t claimed) {
  const std::size_t own = text.size() + 1;
  return claimed > 0 && claimed <= kMaxBackedUnits ? std::max(own, std::size_t(claimed)) : own;
}
std::int32_t GivenCount(const std::u16string& text, std::int32_t claimed) {
  return claimed != 0 ? claimed : static_cast<std::int32_t>(text.size() + 1);
}

struct BuiltWorld {
  SimWorldDescription description;
  std::vector<std::unique_ptr<Object>> objects;
  Object* world = nullptr;
  std::vector<WeakPointer> list;
  std::vector<void*> blocks;        // engine strings of the world, from the engine allocator
  std::vector<std::int32_t> slots;  // object table slots of the world's controllers
  std::vector<const void*> controllers;
  Clock::time_point retiredAt;
};

struct WorldState {
  std::mutex mutex;
  std::unique_ptr<BuiltWorld> current;
  std::vector<std::unique_ptr<BuiltWorld>> retired;
  std::vector<Slot> slots;
  std::vector<std::int32_t> freeSlots;
  std::unordered_map<const void*, Controller> controllers;
  std::size_t weakGetCalls = 0;
  std::size_t weakGetThrowsAt = 0;
  std::size_t listCountAt = 0;
  std::int32_t listCount = 0;
};

// Never destroyed, like the host's own state.
WorldState& TheWorlds() {
  static WorldState* state = new WorldState();
  return *state;
}

// The engine string layout: storage from the engine allocator, zero-terminated within the count.
struct StringValue {
  char16_t* data;
  std::int32_t count;
  std::int32_t capacity;
};

StringValue MakeString(BuiltWorld& built, const std::u16string& text, std::int32_t claimed) {
  if (text.empty()) return StringValue{nullptr, 0, 0};
  const std::size_t units = StoredUnits(text, claimed);
  auto* data = static_cast<char16_t*>(EngineMalloc(units * sizeof(char16_t), 0));
  built.blocks.push_back(data);
  std::memset(data, 0, units * sizeof(char16_t));
  std::memcpy(data, text.data(), text.size() * sizeof(char16_t));
  const std::int32_t count = GivenCount(text, claimed);
  return StringValue{data, count, count};
}

Object* NewObject(BuiltWorld& built) {
  built.objects.push_back(std::make_unique<Object>());
  return built.objects.back().get();
}

// Takes an object table slot for the object; a null object gives a slot that no longer resolves.
// Called with the world lock held.
WeakPointer TakeSlot(WorldState& state, BuiltWorld& built, const void* object) {
  std::int32_t index;
  if (!state.freeSlots.empty()) {
    index = state.freeSlots.back();
    state.freeSlots.pop_back();
  } else {
    index = static_cast<std::int32_t>(state.slots.size());
    state.slots.emplace_back();
  }
  Slot& slot = state.slots[static_cast<std::size_t>(index)];
  const WeakPointer weak{index, slot.serial};
  if (object == nullptr) {
    // The object this pointer named is gone: the slot's serial has moved on.
    ++slot.serial;
    state.freeSlots.push_back(index);
  } else {
    slot.object = object;
    built.slots.push_back(index);
  }
  return weak;
}

// Builds the world's objects. Called with the world lock held.
std::unique_ptr<BuiltWorld> Build(WorldState& state, const SimWorldDescription& description) {
  auto built = std::make_unique<BuiltWorld>();
  built->description = description;
  built->world = NewObject(*built);

  Object* gameState = nullptr;
  if (description.HasGameState) {
    gameState = NewObject(*built);
    gameState->Write("AShooterGameState.DayNumber", description.DayNumber);
  }
  built->world->Write("UWorld.GameState", gameState == nullptr
                                              ? nullptr
                                              : static_cast<const void*>(gameState->Address()));

  for (const SimPlayer& player : description.Players) {
    if (player.Gone) {
      built->list.push_back(TakeSlot(state, *built, nullptr));
      continue;
    }
    Object* controller = NewObject(*built);
    const void* playerState = nullptr;
    if (player.HasPlayerState) {
      Object* object = NewObject(*built);
      object->Write("APlayerState.PlayerNamePrivate",
                    MakeString(*built, player.Name, player.StringCount));
      playerState = object->Address();
    }
    const void* pawn = nullptr;
    if (player.HasPawn) {
      Object* object = NewObject(*built);
      object->Write("AShooterCharacter.PlayerName",
                    MakeString(*built, player.CharacterName, player.StringCount));
      pawn = object->Address();
    }
    controller->Write("AController.PlayerState", playerState);
    controller->Write("APlayerController.AcknowledgedPawn", pawn);
    controller->Write("AShooterPlayerController.LinkedPlayerID", player.PlayerDataId);
    built->list.push_back(TakeSlot(state, *built, controller->Address()));
    built->controllers.push_back(controller->Address());
    state.controllers[controller->Address()] =
        Controller{player.NetId, player.NetIdMode, player.StringCount};
  }

  struct ListValue {
    const void* data;
    std::int32_t count;
    std::int32_t capacity;
  };
  const auto count = static_cast<std::int32_t>(built->list.size());
  built->world->Write("UWorld.PlayerControllerList",
                      ListValue{count == 0 ? nullptr : built->list.data(), count, count});
  return built;
}

// The world's controllers stop resolving, as when the engine destroys them. Called with the
// world lock held.
void Retire(WorldState& state, BuiltWorld& built) {
  for (const std::int32_t index : built.slots) {
    Slot& slot = state.slots[static_cast<std::size_t>(index)];
    slot.object = nullptr;
    ++slot.serial;
    state.freeSlots.push_back(index);
  }
  built.slots.clear();
  built.retiredAt = Clock::now();
}

// Frees a retired world. Called without the world lock, since it gives strings back to the
// allocator.
void Free(std::unique_ptr<BuiltWorld> built) {
  for (void* block : built->blocks) EngineFree(block);
}

// Makes the built world (or none) current; returns the worlds that are old enough to free.
std::vector<std::unique_ptr<BuiltWorld>> Swap(WorldState& state, std::unique_ptr<BuiltWorld> next) {
  if (state.current) {
    Retire(state, *state.current);
    state.retired.push_back(std::move(state.current));
  }
  state.current = std::move(next);
  SetWorld(state.current ? reinterpret_cast<UWorld*>(state.current->world->Address()) : nullptr);

  std::vector<std::unique_ptr<BuiltWorld>> expired;
  const auto now = Clock::now();
  for (auto it = state.retired.begin(); it != state.retired.end();) {
    if (now - (*it)->retiredAt < kRetiredWorldLifetime) {
      ++it;
      continue;
    }
    for (const void* controller : (*it)->controllers) state.controllers.erase(controller);
    expired.push_back(std::move(*it));
    it = state.retired.erase(it);
  }
  return expired;
}

const void* WeakObjectGet(const void* weakPointer, std::int32_t) {
  WeakPointer weak;
  std::memcpy(&weak, weakPointer, sizeof(weak));
  WorldState& state = TheWorlds();
  std::lock_guard<std::mutex> lock(state.mutex);
  ++state.weakGetCalls;
  if (state.weakGetThrowsAt != 0 && state.weakGetCalls == state.weakGetThrowsAt) {
    state.weakGetThrowsAt = 0;
    throw std::runtime_error("FWeakObjectPtr.Get() failed");
  }
  if (state.listCountAt != 0 && state.weakGetCalls == state.listCountAt && state.current) {
    state.listCountAt = 0;
    // The count follows the element pointer in the list's value.
    std::memcpy(static_cast<unsigned char*>(state.current->world->Address()) +
                    Offset("UWorld.PlayerControllerList") + sizeof(void*),
                &state.listCount, sizeof(state.listCount));
  }
  if (weak.index < 0 || static_cast<std::size_t>(weak.index) >= state.slots.size()) return nullptr;
  const Slot& slot = state.slots[static_cast<std::size_t>(weak.index)];
  return slot.serial == weak.serial ? slot.object : nullptr;
}

FString* GetUniqueNetIdAsString(const void* controller, FString* result) {
  Controller found;
  {
    WorldState& state = TheWorlds();
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto it = state.controllers.find(controller);
    if (it == state.controllers.end()) {
      throw std::logic_error("GetUniqueNetIdAsString called for something not a controller");
    }
    found = it->second;
  }
  if (found.mode == NetIdBehaviour::kThrows) throw std::runtime_error("no unique net id");
  if (!found.netId.empty()) {
    // Like the engine, the result is assigned into the caller's string, whose storage is grown
    // through the engine allocator.
    const std::size_t units = StoredUnits(found.netId, found.stringCount);
    void* data = EngineRealloc(result->Data, units * sizeof(char16_t), alignof(char16_t));
    result->Data = static_cast<char16_t*>(data);
    std::memset(result->Data, 0, units * sizeof(char16_t));
    std::memcpy(result->Data, found.netId.data(), found.netId.size() * sizeof(char16_t));
    result->ArrayNum = result->ArrayMax = GivenCount(found.netId, found.stringCount);
  }
  if (found.mode == NetIdBehaviour::kThrowsAfterFilling) {
    throw std::runtime_error("unique net id failed after filling");
  }
  return result;
}

void Install(const std::function<void(SimWorldDescription&)>& change) {
  WorldState& state = TheWorlds();
  std::vector<std::unique_ptr<BuiltWorld>> expired;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    SimWorldDescription description =
        state.current ? state.current->description : SimWorldDescription();
    if (change) change(description);
    expired = Swap(state, Build(state, description));
  }
  for (auto& built : expired) Free(std::move(built));
}

}  // namespace

namespace world {

const std::vector<std::pair<std::string, std::uint64_t>>& MemberOffsets() {
  static const auto offsets = ChooseOffsets();
  return offsets;
}

const std::vector<std::pair<std::string, void*>>& Functions() {
  static const std::vector<std::pair<std::string, void*>> functions = {
      {"FWeakObjectPtr.Get()", reinterpret_cast<void*>(&WeakObjectGet)},
      {"AShooterPlayerController.GetUniqueNetIdAsString()",
       reinterpret_cast<void*>(&GetUniqueNetIdAsString)},
  };
  return functions;
}

void DestroyAll() {
  WorldState& state = TheWorlds();
  std::vector<std::unique_ptr<BuiltWorld>> all;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    SetWorld(nullptr);
    if (state.current) all.push_back(std::move(state.current));
    for (auto& built : state.retired) all.push_back(std::move(built));
    state.retired.clear();
    for (Slot& slot : state.slots) {
      slot.object = nullptr;
      ++slot.serial;
    }
    state.freeSlots.clear();
    for (std::size_t i = state.slots.size(); i > 0; --i) {
      state.freeSlots.push_back(static_cast<std::int32_t>(i - 1));
    }
    state.controllers.clear();
    state.weakGetCalls = 0;
    state.weakGetThrowsAt = 0;
    state.listCountAt = 0;
  }
  for (auto& built : all) Free(std::move(built));
}

}  // namespace world

UWorld* InstallWorld(const SimWorldDescription& description) {
  Install([&](SimWorldDescription& next) { next = description; });
  std::lock_guard<std::mutex> lock(TheWorlds().mutex);
  return reinterpret_cast<UWorld*>(TheWorlds().current->world->Address());
}

void ChangeWorld(const std::function<void(SimWorldDescription&)>& change) {
  Install(change);
}

SimWorldDescription CurrentWorldDescription() {
  std::lock_guard<std::mutex> lock(TheWorlds().mutex);
  return TheWorlds().current ? TheWorlds().current->description : SimWorldDescription();
}

void RemoveWorld() {
  WorldState& state = TheWorlds();
  std::vector<std::unique_ptr<BuiltWorld>> expired;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    expired = Swap(state, nullptr);
  }
  for (auto& built : expired) Free(std::move(built));
}

std::size_t WorldBlocks() {
  WorldState& state = TheWorlds();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::size_t blocks = state.current ? state.current->blocks.size() : 0;
  for (const auto& built : state.retired) blocks += built->blocks.size();
  return blocks;
}

void SetWeakGetThrowsAt(std::size_t call) {
  WorldState& state = TheWorlds();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.weakGetThrowsAt = call == 0 ? 0 : state.weakGetCalls + call;
}

void SetListCountAt(std::size_t call, std::int32_t count) {
  WorldState& state = TheWorlds();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.listCountAt = call == 0 ? 0 : state.weakGetCalls + call;
  state.listCount = count;
}

std::size_t WeakGetCalls() {
  std::lock_guard<std::mutex> lock(TheWorlds().mutex);
  return TheWorlds().weakGetCalls;
}

}  // namespace simhost
