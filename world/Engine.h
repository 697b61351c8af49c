// Access to the engine's members and functions by name, through the host, and the engine values
// the plugin reads itself: arrays and strings. Every name is resolved again at every use, so no
// address outlives the call that asked for it. Errors of the host and the engine pass to the world
// readers; only the release at the end of an owned string's scope keeps its error to itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "host/AsaApi.h"

namespace vesperline {

// The engine's array value: element pointer, count and capacity, in that order.
struct EngineArray {
  const void* Data = nullptr;
  std::int32_t Count = 0;
  std::int32_t Capacity = 0;
};

// The engine's string value: an array of UTF-16 code units, laid out like FString.
struct EngineString {
  char16_t* Data = nullptr;
  std::int32_t Count = 0;
  std::int32_t Capacity = 0;
};

static_assert(sizeof(EngineArray) == 16 && sizeof(EngineString) == 16 && sizeof(FString) == 16,
              "engine arrays are a 64-bit pointer and two 32-bit integers");

// The address of the named member ("Class.Member") inside the object, which must not be null.
std::uint64_t FieldAddress(const void* object, const std::string& name);

// The entry address of the named engine function ("Class.Function(types)"), to be cast to the
// function's type (object first) and called at once.
void* EngineFunction(const std::string& name);

// The value of type T stored at an engine address. The read makes no assumption about the
// address's alignment.
template <typename T>
T ReadEngineValue(std::uint64_t address) {
  T value;
  std::memcpy(&value, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)),
              sizeof(T));
  return value;
}

// The engine array or string stored at an engine address.
EngineArray ReadEngineArray(std::uint64_t address);
EngineString ReadEngineString(std::uint64_t address);

// A string the engine filled in the plugin's own FString object.
EngineString AsEngineString(const FString& text);

// The engine allocator: a new block; a block grown or moved (a null block is Malloc(size, 0));
// a block given back.
namespace FMemory {
void* Malloc(std::uint64_t size, std::uint32_t alignment);
void* Realloc(void* block, std::uint64_t size, std::uint32_t alignment);
void Free(void* block);
}  // namespace FMemory

// The most units an engine string may count to be read. A player's strings are read while the
// game may be changing them, so a count can be garbage (up to 2^31 - 1); copying that many units
// would ask the engine's allocator for up to 4 GiB, and an engine allocator that cannot serve a
// request ends the process. No name or id comes near this.
inline constexpr std::int32_t kMaxEngineStringUnits = 4096;

// The most elements the world's player controller list may count to be read. The list is read
// while the game may be tearing the world down (a shutdown, a map change), so its count can be
// garbage too; walking 2^31 - 1 elements would keep the heartbeat thread in memory that is not the
// list for minutes, one name lookup per element, while an unload waits for that thread. No server
// holds anywhere near this many players.
inline constexpr std::int32_t kMaxPlayerListCount = 4096;

// A copy of source whose storage the plugin owns and must give back with ReleaseEngineString:
// every unit the count covers, with the capacity set to the count. A string without units (count
// 0 or less, or no storage) or with a count above kMaxEngineStringUnits copies to the empty string
// and allocates nothing.
EngineString CopyEngineString(const EngineString& source);

// Gives the string's storage back to the engine allocator and leaves the string empty; a string
// without storage calls nothing.
void ReleaseEngineString(EngineString& text);
void ReleaseEngineString(FString& text);

// The UTF-8 text of an engine string: the units before the first zero unit, never more than the
// count; empty when the count is 0 or less or above kMaxEngineStringUnits, the pointer is null or
// the first unit is zero.
std::string NarrowText(const EngineString& text);

// Releases an engine string the plugin owns when the scope ends, also when it ends by an
// exception. T is EngineString or FString.
template <typename T>
class OwnedEngineString {
 public:
  explicit OwnedEngineString(T& text) : text_(text) {}
  ~OwnedEngineString() {
    try {
      ReleaseEngineString(text_);
    } catch (...) {
      // Without the engine's Free the storage cannot be given back; the reader goes on.
    }
  }
  OwnedEngineString(const OwnedEngineString&) = delete;
  OwnedEngineString& operator=(const OwnedEngineString&) = delete;

 private:
  T& text_;
};

}  // namespace vesperline
