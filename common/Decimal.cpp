#include "common/Decimal.h"

namespace vesperline {

std::optional<std::int32_t> ParseDecimal32(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The magnitude is gathered in 64 bits and checked after every digit, so a long run of digits
  // can never overflow; the negative limit is one larger than the positive one.
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  std::int64_t magnitude = 0;
  bool anyDigit = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    anyDigit = true;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) return std::nullopt;
  }
  if (!anyDigit) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace vesperline
