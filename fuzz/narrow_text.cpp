// Engine strings of any units and any count: NarrowText reads no unit beyond the count, stops at
// the first zero unit, reads nothing for a count above the limit and always gives valid UTF-8
// equal to a reference conversion.
// Input: one byte that lowers the count below the number of units (or makes it zero or
// negative), then the UTF-16LE units.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/Text.h"
#include "fuzz/FuzzSupport.h"
#include "world/Engine.h"

using namespace vesperline;
using namespace vesperline::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t countControl = data[0];
  std::u16string units;
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    units += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  }
  // The count may be the number of units or less, never more: an engine string's count never
  // runs past its storage. Now and then it is zero or negative.
  std::int32_t count = static_cast<std::int32_t>(units.size()) - (countControl & 0x0F);
  if (countControl >= 0xF0) count = -static_cast<std::int32_t>(countControl & 0x0F);
  if (count < 0 && countControl < 0xF0) count = 0;

  // The units live in storage of exactly the count, so that a read past it is caught.
  const std::size_t stored = count > 0 ? static_cast<std::size_t>(count) : 0;
  // A string without a count still gets a unit of storage, which must not be read.
  const std::unique_ptr<char16_t[]> storage(new char16_t[stored == 0 ? 1 : stored]{u'x'});
  if (stored > 0) std::memcpy(storage.get(), units.data(), stored * sizeof(char16_t));
  EngineString text;
  text.Data = stored > 0 || (countControl & 0x10) != 0 ? storage.get() : nullptr;
  text.Count = count;
  text.Capacity = count;

  std::u16string before;
  for (std::size_t i = 0; i < stored && units[i] != 0; ++i) before += units[i];
  const std::string narrowed = NarrowText(text);
  FUZZ_CHECK(IsValidUtf8(narrowed));
  // A count above the limit is garbage: nothing is read.
  const bool readable = text.Data != nullptr && count <= kMaxEngineStringUnits;
  FUZZ_CHECK(narrowed == (readable ? ReferenceUtf16ToUtf8(before) : std::string()));
  // The conversion of every unit, zero units included, is valid UTF-8 as well.
  FUZZ_CHECK(IsValidUtf8(Utf16ToUtf8(units)));
  FUZZ_CHECK(Utf16ToUtf8(units) == ReferenceUtf16ToUtf8(units));
  return 0;
}
