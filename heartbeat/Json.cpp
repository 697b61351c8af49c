#include "heartbeat/Json.h"

#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace vesperline {

namespace {

// How each byte is written when it starts a piece of text.
enum ByteClass : unsigned char {
  kCopy,     // printable ASCII, copied as it is
  kEscape,   // '"' and '\\': a backslash before it
  kShort,    // a control byte with a short escape (\b, \t, \n, \f, \r)
  kUnicode,  // any other control byte: \u00XX
  kHigh,     // 0x80 to 0xFF: the start of UTF-8, or a Latin-1 character
};

constexpr std::array<unsigned char, 256> MakeByteClasses() {
  std::array<unsigned char, 256> classes{};
  for (int byte = 0; byte < 256; ++byte) {
    if (byte < 0x20) {
      classes[byte] = kUnicode;
    } else if (byte == '"' || byte == '\\') {
      classes[byte] = kEscape;
    } else if (byte >= 0x80) {
      classes[byte] = kHigh;
    } else {
      classes[byte] = kCopy;
    }
  }
  for (const unsigned char byte : {'\b', '\t', '\n', '\f', '\r'}) classes[byte] = kShort;
  return classes;
}

constexpr std::array<unsigned char, 256> kByteClass = MakeByteClasses();

// The letter of each short escape, by control byte.
constexpr std::array<char, 0x20> MakeShortEscapes() {
  std::array<char, 0x20> letters{};
  letters['\b'] = 'b';
  letters['\t'] = 't';
  letters['\n'] = 'n';
  letters['\f'] = 'f';
  letters['\r'] = 'r';
  return letters;
}

constexpr std::array<char, 0x20> kShortEscape = MakeShortEscapes();

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

// The number of bytes at the start of eight loaded bytes (first byte lowest) that are copied
// unchanged, 8 when all are. Names and ids are mostly such bytes, so they are checked eight at a
// time: a byte below 0x20, at or above 0x80, or equal to '"' or '\\' ends the run.
inline unsigned PlainPrefix(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighs = 0x8080808080808080u;
  const auto zeroByte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  const std::uint64_t special = (word & kHighs) | ((word - kOnes * 0x20) & ~word & kHighs) |
                                zeroByte(word ^ (kOnes * '"')) | zeroByte(word ^ (kOnes * '\\'));
  // A borrow can only mark bytes above the first special one, so the lowest mark is exact. With no
  // mark at all, the 64 zero bits give 8.
  return static_cast<unsigned>(std::countr_zero(special)) / 8;
}

constexpr std::array<std::uint64_t, 20> MakePowersOfTen() {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : powers) {
    entry = power;
    power *= 10;
  }
  return powers;
}

constexpr std::array<std::uint64_t, 20> kPowersOfTen = MakePowersOfTen();

// The number of decimal digits of value: log2 gives log10 within one, a comparison settles it.
inline unsigned DigitCount(std::uint64_t value) {
  const std::uint64_t odd = value | 1;  // the same count, and never zero
  const auto approximate = static_cast<unsigned>(std::bit_width(odd)) * 1233 >> 12;
  return approximate + 1 - (odd < kPowersOfTen[approximate] ? 1 : 0);
}

// Writes the decimal digits of magnitude at out, two at a time from the last, and returns the end.
template <typename Unsigned>
char* WriteDigits(char* out, Unsigned magnitude) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char* const end = out + DigitCount(magnitude);
  char* p = end;
  // Four digits per division keeps the chain of dependent divisions short; the two pairs of each
  // group are independent of each other.
  while (magnitude >= 10000) {
    const Unsigned rest = magnitude % 10000;
    magnitude /= 10000;
    const auto high = static_cast<std::size_t>(rest / 100) * 2;
    const auto low = static_cast<std::size_t>(rest % 100) * 2;
    p -= 4;
    p[0] = kPairs[high];
    p[1] = kPairs[high + 1];
    p[2] = kPairs[low];
    p[3] = kPairs[low + 1];
  }
  if (magnitude >= 100) {
    const auto pair = static_cast<std::size_t>(magnitude % 100) * 2;
    magnitude /= 100;
    p -= 2;
    p[0] = kPairs[pair];
    p[1] = kPairs[pair + 1];
  }
  if (magnitude >= 10) {
    p[-2] = kPairs[magnitude * 2];
    p[-1] = kPairs[magnitude * 2 + 1];
  } else {
    p[-1] = static_cast<char>('0' + magnitude);
  }
  return end;
}

}  // namespace

char* WriteEscapedJson(char* out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    if (size - i >= 8 && std::endian::native == std::endian::little) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      // The eight bytes are stored even when only some are plain: the rest is overwritten next.
      std::memcpy(out, &word, 8);
      const unsigned plain = PlainPrefix(word);
      out += plain;
      i += plain;
      if (plain == 8) continue;
    } else if (kByteClass[bytes[i]] == kCopy) {
      *out++ = static_cast<char>(bytes[i++]);
      continue;
    }
    // Here is a byte that needs a look.
    const unsigned char byte = bytes[i];
    switch (kByteClass[byte]) {
      case kCopy:
        *out++ = static_cast<char>(byte);
        ++i;
        break;
      case kEscape:
        out[0] = '\\';
        out[1] = static_cast<char>(byte);
        out += 2;
        ++i;
        break;
      case kShort:
        out[0] = '\\';
        out[1] = kShortEscape[byte];
        out += 2;
        ++i;
        break;
      case kUnicode:
        std::memcpy(out, "\\u00", 4);
        out[4] = kHex[byte >> 4];
        out[5] = kHex[byte & 0x0F];
        out += 6;
        ++i;
        break;
      default:
        if (byte >= 0xC2 && byte <= 0xDF && size - i >= 2 && (bytes[i + 1] & 0xC0) == 0x80) {
          // The two-byte form (Latin, Greek, Cyrillic letters) is the most frequent: no table.
          out[0] = static_cast<char>(byte);
          out[1] = static_cast<char>(bytes[i + 1]);
          out += 2;
          i += 2;
        } else if (const std::size_t length = WellFormedUtf8Length(bytes + i, size - i)) {
          // Byte by byte: a copy of two to four bytes is not worth a call.
          out[0] = static_cast<char>(byte);
          out[1] = static_cast<char>(bytes[i + 1]);
          if (length > 2) out[2] = static_cast<char>(bytes[i + 2]);
          if (length > 3) out[3] = static_cast<char>(bytes[i + 3]);
          out += length;
          i += length;
        } else {
          // Not UTF-8: the byte is the Latin-1 character of the same value, two bytes in UTF-8.
          out[0] = static_cast<char>(0xC0 | (byte >> 6));
          out[1] = static_cast<char>(0x80 | (byte & 0x3F));
          out += 2;
          ++i;
        }
    }
  }
  return out;
}

std::string EscapeJson(std::string_view text) {
  const auto buffer = std::make_unique_for_overwrite<char[]>(MaxEscapedJsonSize(text.size()));
  return std::string(buffer.get(), WriteEscapedJson(buffer.get(), text));
}

char* WriteDecimal(char* out, std::int64_t value) {
  if (value < 0) *out++ = '-';
  // Work on the magnitude as unsigned so that the most negative value has no overflow.
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  // Most values fit 32 bits, whose division by 100 is cheaper.
  if (magnitude <= UINT32_MAX) return WriteDigits(out, static_cast<std::uint32_t>(magnitude));
  return WriteDigits(out, magnitude);
}

}  // namespace vesperline
