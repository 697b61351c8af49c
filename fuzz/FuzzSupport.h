// What the fuzz targets share: the check that stops a run on a broken property, ways to carve
// several inputs out of one, and reference readings written independently of the plugin's code.
// Everything here also compiles with g++ and mingw-w64, because the regression replay test runs
// the targets in every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesperline::fuzz {

// Stops the process when a property does not hold, naming it, so that libFuzzer keeps the input
// as a crash and the replay test fails.
[[noreturn]] inline void Fail(const char* property, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, property);
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::vesperline::fuzz::Fail(#condition, __FILE__, __LINE__))

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// The parts of text between the separator bytes (0x1E, the ASCII record separator), at most
// count of them: the last part takes the rest, separators included. Missing parts are empty.
inline std::vector<std::string_view> SplitParts(std::string_view text, std::size_t count) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < count) {
    const std::size_t at = text.find('\x1e');
    if (at == std::string_view::npos) break;
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  parts.push_back(text);
  parts.resize(count);
  return parts;
}

// Cuts text into consecutive pieces whose sizes follow from seed (0 gives one piece): sizes of 0
// to 16 bytes and now and then a long one, so that pieces end inside markers, inside UTF-16 units
// and inside surrogate pairs.
inline std::vector<std::string_view> CutPieces(std::string_view text, std::uint8_t seed) {
  if (seed == 0) return {text};
  std::vector<std::string_view> pieces;
  std::uint32_t state = seed * 2654435761u;
  while (!text.empty()) {
    state = state * 1664525u + 1013904223u;
    std::size_t size = (state >> 24) % 17;
    if ((state >> 8) % 11 == 0) size = 64 + (state >> 16) % 200;
    size = size < text.size() ? size : text.size();
    pieces.push_back(text.substr(0, size));
    text.remove_prefix(size);
  }
  return pieces;
}

// Reads values one after another from the input; once it is used up, texts are empty and numbers
// zero.
class InputReader {
 public:
  explicit InputReader(std::string_view input) : rest_(input) {}

  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto byte = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return byte;
  }
  std::uint32_t Uint32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return value;
  }
  std::int32_t Int32() { return static_cast<std::int32_t>(Uint32()); }
  // A text whose length (0 to 255) is given by the byte before it.
  std::string Text() {
    const std::size_t size = Byte();
    const std::string_view text = rest_.substr(0, size);
    rest_.remove_prefix(text.size());
    return std::string(text);
  }
  bool Empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// The UTF-8 form of one code point.
inline void AppendCodePoint(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The UTF-8 of the text the bytes stand for, the reference way: a sequence is decoded to its code
// point and kept when that code point is one its length may carry (no overlong forms, no
// surrogates, nothing above U+10FFFF); every other byte is the Latin-1 character of its value.
inline std::string ReferenceUtf8(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = (lead >> 5) == 6    ? 2
                               : (lead >> 4) == 14 ? 3
                               : (lead >> 3) == 30 ? 4
                                                   : 1;
    if (lead >= 0x80 && length > 1 && i + length <= bytes.size()) {
      std::uint32_t code = lead & (0x7F >> length);
      bool continued = true;
      for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[i + k]);
        continued = continued && (next & 0xC0) == 0x80;
        code = code << 6 | (next & 0x3F);
      }
      const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
      if (continued && code >= smallest && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
        out.append(bytes.substr(i, length));
        i += length;
        continue;
      }
    }
    AppendCodePoint(out, lead);
    ++i;
  }
  return out;
}

// True when bytes are well-formed UTF-8: they stand for themselves.
inline bool IsValidUtf8(std::string_view bytes) {
  return ReferenceUtf8(bytes) == bytes;
}

// UTF-16 code units to UTF-8, the reference way: a high surrogate directly followed by a low one
// is one code point; any other surrogate is U+FFFD.
inline std::string ReferenceUtf16ToUtf8(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t unit = units[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      AppendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendCodePoint(out, high || low ? 0xFFFD : unit);
    }
  }
  return out;
}

// The first limit bytes of a longer text, the reference way: when the cut falls inside a UTF-8
// sequence (the last lead byte before it announces more bytes than are left), the text ends
// before that sequence.
inline std::string ReferenceCut(std::string text, std::size_t limit) {
  if (text.size() <= limit) return text;
  text.resize(limit);
  std::size_t lead = text.size();
  while (lead > 0 && text.size() - lead < 3 &&
         (static_cast<unsigned char>(text[lead - 1]) >> 6) == 2) {
    --lead;
  }
  if (lead == 0) return text;
  const auto byte = static_cast<unsigned char>(text[lead - 1]);
  const std::size_t length = (byte >> 5) == 6    ? 2
                             : (byte >> 4) == 14 ? 3
                             : (byte >> 3) == 30 ? 4
                                                 : 1;
  if (lead - 1 + length > text.size()) text.resize(lead - 1);
  return text;
}

// The C library's decimal conversion to a signed 32-bit number, as the reference for the plugin's
// own: nothing when no digit follows the white space and sign, or when the number does not fit.
inline std::optional<std::int32_t> ReferenceDecimal(std::string_view text) {
  const std::string copy(text);
  const char* start = copy.c_str();
  char* end = nullptr;
  const long long value = std::strtoll(start, &end, 10);
  if (end == start) return std::nullopt;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// A dash option as the engine's own value reader takes it from its line, the reference way, a
// character at a time: the key counts where no quote is open (every '"' opens or closes one) and
// the character before it is no ASCII letter or digit; its value is the quoted text when a quote
// follows the key, else the text after blanks up to a blank, ',' or ')'.
inline std::optional<std::string> ReferenceDashOption(std::string_view line,
                                                      std::string_view lowerKey) {
  const auto isLetterOrDigit = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  };
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  bool open = false;
  char before = ' ';
  for (std::size_t i = 0; i < line.size(); before = line[i], ++i) {
    bool match = !open && !isLetterOrDigit(before) && i + lowerKey.size() <= line.size();
    for (std::size_t k = 0; match && k < lowerKey.size(); ++k) {
      const char c = line[i + k];
      match = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == lowerKey[k];
    }
    if (!match) {
      if (line[i] == '"') open = !open;
      continue;
    }
    std::size_t j = i + lowerKey.size();
    std::string value;
    if (j < line.size() && line[j] == '"') {
      while (++j < line.size() && line[j] != '"') value += line[j];
      return value;
    }
    while (j < line.size() && isBlank(line[j])) ++j;
    for (; j < line.size() && !isBlank(line[j]) && line[j] != ',' && line[j] != ')'; ++j) {
      value += line[j];
    }
    return value;
  }
  return std::nullopt;
}

}  // namespace vesperline::fuzz
