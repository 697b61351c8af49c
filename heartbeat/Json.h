// A small JSON writer: just what the heartbeat document needs, and always valid output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesperline {

// Returns text as the body of a JSON string (without the enclosing quotes). A double quote and a
// backslash get a backslash before them; the bytes 0x00 to 0x1F become \b, \f, \n, \r, \t or
// \u00XX; well-formed UTF-8 is copied; every other byte is read as Latin-1 and written as UTF-8.
std::string EscapeJson(std::string_view text);

// The most bytes EscapeJson makes of a text of the given length (a control byte becomes six).
constexpr std::size_t MaxEscapedJsonSize(std::size_t length) {
  return 6 * length;
}

// The most bytes WriteDecimal writes.
inline constexpr std::size_t kMaxDecimalSize = 20;

// Writes EscapeJson(text) at out, which must have room for MaxEscapedJsonSize(text.size()) bytes,
// and returns the end of what it wrote.
char* WriteEscapedJson(char* out, std::string_view text);

// Writes the decimal digits of value (with a '-' when negative) at out, which must have room for
// kMaxDecimalSize bytes, and returns the end of what it wrote.
char* WriteDecimal(char* out, std::int64_t value);

}  // namespace vesperline
