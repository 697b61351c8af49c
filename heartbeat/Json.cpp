#include "heartbeat/Json.h"

#include <cstddef>

namespace vesperline {

namespace {

// Length of the well-formed UTF-8 sequence at the start of bytes, or 0 when there is none
// (Unicode's table of well-formed byte sequences: no overlong forms, no surrogates, nothing above
// U+10FFFF).
std::size_t WellFormedUtf8Length(const unsigned char* bytes, std::size_t available) {
  const unsigned char lead = bytes[0];
  auto continuation = [&](std::size_t i, unsigned char low, unsigned char high) {
    return i < available && bytes[i] >= low && bytes[i] <= high;
  };
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1, 0x80, 0xBF) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    return continuation(1, low, high) && continuation(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    return continuation(1, low, high) && continuation(2, 0x80, 0xBF) && continuation(3, 0x80, 0xBF)
               ? 4
               : 0;
  }
  return 0;
}

// True for the bytes that are copied as they are without a second look.
constexpr bool IsPlainAscii(unsigned char byte) {
  return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\';
}

}  // namespace

void AppendEscapedJson(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    // Copy the longest run of plain ASCII in one piece; names and ids are mostly that.
    std::size_t run = i;
    while (run < size && IsPlainAscii(bytes[run])) ++run;
    out.append(text.data() + i, run - i);
    i = run;
    if (i == size) break;

    const unsigned char byte = bytes[i];
    if (byte == '"' || byte == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(byte));
      ++i;
    } else if (byte < 0x20) {
      out.push_back('\\');
      switch (byte) {
        case '\b':
          out.push_back('b');
          break;
        case '\f':
          out.push_back('f');
          break;
        case '\n':
          out.push_back('n');
          break;
        case '\r':
          out.push_back('r');
          break;
        case '\t':
          out.push_back('t');
          break;
        default:
          out.append("u00", 3);
          out.push_back(kHex[byte >> 4]);
          out.push_back(kHex[byte & 0x0F]);
      }
      ++i;
    } else if (const std::size_t length = WellFormedUtf8Length(bytes + i, size - i)) {
      out.append(text.data() + i, length);
      i += length;
    } else {
      // Not UTF-8: the byte is a Latin-1 character (0x80 to 0xFF), written as two bytes.
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
      ++i;
    }
  }
}

std::string EscapeJson(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  AppendEscapedJson(out, text);
  return out;
}

void AppendDecimal(std::string& out, std::int64_t value) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  // Work on the magnitude as unsigned so that the most negative value has no overflow.
  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  out.append(p, static_cast<std::size_t>(end - p));
}

}  // namespace vesperline
