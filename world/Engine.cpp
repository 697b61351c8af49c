#include "world/Engine.h"

#include <string>

#include "common/Text.h"

namespace vesperline {

namespace {

using MallocFunction = void* (*)(std::uint64_t size, std::uint32_t alignment);
using ReallocFunction = void* (*)(void* block, std::uint64_t size, std::uint32_t alignment);
using FreeFunction = void (*)(void* block);

void FreeStorage(void* block) {
  if (block != nullptr) FMemory::Free(block);
}

}  // namespace

std::uint64_t FieldAddress(const void* object, const std::string& name) {
  return GetAddress(object, name);
}

void* EngineFunction(const std::string& name) {
  return GetAddress(name);
}

EngineArray ReadEngineArray(std::uint64_t address) {
  return ReadEngineValue<EngineArray>(address);
}

EngineString ReadEngineString(std::uint64_t address) {
  return ReadEngineValue<EngineString>(address);
}

EngineString AsEngineString(const FString& text) {
  return EngineString{text.Data, text.ArrayNum, text.ArrayMax};
}

namespace FMemory {

void* Malloc(std::uint64_t size, std::uint32_t alignment) {
  const auto malloc = reinterpret_cast<MallocFunction>(
      EngineFunction("FMemory.Malloc(unsigned__int64,unsignedint)"));
  return malloc(size, alignment);
}

void* Realloc(void* block, std::uint64_t size, std::uint32_t alignment) {
  if (block == nullptr) return Malloc(size, 0);
  const auto realloc = reinterpret_cast<ReallocFunction>(
      EngineFunction("FMemory.Realloc(void*,unsigned__int64,unsignedint)"));
  return realloc(block, size, alignment);
}

void Free(void* block) {
  const auto free = reinterpret_cast<FreeFunction>(EngineFunction("FMemory.Free(void*)"));
  free(block);
}

}  // namespace FMemory

EngineString CopyEngineString(const EngineString& source) {
  EngineString copy;
  // A negative count or a count without storage would have the copy read what is not there, and
  // a count above the limit is garbage.
  if (source.Count <= 0 || source.Count > kMaxEngineStringUnits || source.Data == nullptr) {
    return copy;
  }
  const std::uint64_t bytes = static_cast<std::uint64_t>(source.Count) * sizeof(char16_t);
  copy.Data = static_cast<char16_t*>(FMemory::Realloc(nullptr, bytes, sizeof(char16_t)));
  copy.Count = source.Count;
  copy.Capacity = source.Count;
  std::memcpy(copy.Data, source.Data, static_cast<std::size_t>(bytes));
  return copy;
}

void ReleaseEngineString(EngineString& text) {
  void* block = text.Data;
  text = EngineString();
  FreeStorage(block);
}

void ReleaseEngineString(FString& text) {
  void* block = text.Data;
  text.Data = nullptr;
  text.ArrayNum = 0;
  text.ArrayMax = 0;
  FreeStorage(block);
}

std::string NarrowText(const EngineString& text) {
  if (text.Count <= 0 || text.Count > kMaxEngineStringUnits || text.Data == nullptr) {
    return std::string();
  }
  // The units are copied out unit by unit before they are looked at: engine memory is read as
  // bytes and never through a typed pointer the compiler could assume more about.
  std::u16string units;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.Data);
  for (std::int32_t i = 0; i < text.Count; ++i) {
    char16_t unit;
    std::memcpy(&unit, bytes + static_cast<std::size_t>(i) * sizeof(char16_t), sizeof(unit));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16ToUtf8(units);
}

}  // namespace vesperline
