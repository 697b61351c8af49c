// The one conversion from text to a number, used wherever the plugin reads a number out of text
// (ports and player limits from config.json, the launch arguments and the settings file).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vesperline {

// Reads a signed 32-bit decimal number from the start of text: leading white space (blank, tab,
// line feed, vertical tab, form feed, carriage return) is skipped, one optional '+' or '-' is
// taken, then decimal digits up to the first other byte; the rest of the text is ignored. Gives no
// value when no digit follows or the number lies outside -2147483648 to 2147483647. Never throws
// and does not depend on the locale.
std::optional<std::int32_t> ParseDecimal32(std::string_view text);

}  // namespace vesperline
