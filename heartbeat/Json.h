// A small JSON writer: just what the heartbeat document needs, and always valid output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vesperline {

// Returns text as the body of a JSON string (without the enclosing quotes). A double quote and a
// backslash get a backslash before them; the bytes 0x00 to 0x1F become \b, \f, \n, \r, \t or
// \u00XX; well-formed UTF-8 is copied; every other byte is read as Latin-1 and written as UTF-8.
std::string EscapeJson(std::string_view text);

// Appends EscapeJson(text) to out.
void AppendEscapedJson(std::string& out, std::string_view text);

// Appends the decimal digits of value (with a '-' when negative) to out.
void AppendDecimal(std::string& out, std::int64_t value);

}  // namespace vesperline
