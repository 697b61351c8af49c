// The text a JSON reader must see for any bytes the plugin escapes, worked out independently of
// the plugin's code: a sequence is decoded to its code point and kept when that code point is one
// its length may carry; every other byte is the Latin-1 character of its value. And random byte
// texts that hit every such case often.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace vesperline::test {

inline void AppendCodePoint(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | code >> 6));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | code >> 12));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | code >> 18));
    out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The UTF-8 of the text the bytes stand for: well-formed UTF-8 as it is, other bytes as Latin-1.
inline std::string ReferenceUtf8(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x06 ? 2
                               : (lead >> 4) == 0x0E ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 1) {
      out.push_back(bytes[i++]);
      continue;
    }
    if (length > 1 && i + length <= bytes.size()) {
      std::uint32_t code = lead & (0x7F >> length);
      bool continued = true;
      for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[i + k]);
        continued = continued && (next & 0xC0) == 0x80;
        code = code << 6 | (next & 0x3F);
      }
      // The smallest code point that needs the length, so that shorter forms are the only ones.
      const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
      const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
      if (continued && code >= smallest && code <= 0x10FFFF && !surrogate) {
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

// A random text of up to maxPieces pieces: printable ASCII, quotes, backslashes, control bytes,
// well-formed sequences of every length (boundaries included), overlong forms, surrogates, code
// points above U+10FFFF, cut sequences, lone continuation bytes and any byte at all.
inline std::string RandomText(std::mt19937& random, int maxPieces) {
  auto pick = [&](std::uint32_t low, std::uint32_t high) {
    return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
  };
  std::string text;
  const std::uint32_t pieces = pick(0, static_cast<std::uint32_t>(maxPieces));
  for (std::uint32_t piece = 0; piece < pieces; ++piece) {
    switch (pick(0, 11)) {
      case 0:
      case 1:
        for (std::uint32_t n = pick(1, 12); n > 0; --n)
          text.push_back(static_cast<char>(pick(0x20, 0x7E)));
        break;
      case 2:
        text.push_back("\"\\/\x7f"[pick(0, 3)]);
        break;
      case 3:
        text.push_back(static_cast<char>(pick(0x00, 0x1F)));
        break;
      case 4: {
        static constexpr std::uint32_t kEdges[] = {0x80,   0x7FF,  0x800,   0xD7FF,  0xE000,
                                                   0xFFFD, 0xFFFF, 0x10000, 0x10FFFF};
        AppendCodePoint(text, kEdges[pick(0, 8)]);
        break;
      }
      case 5: {
        const std::uint32_t code = pick(0x80, 0x10FFFF);
        AppendCodePoint(text, code >= 0xD800 && code <= 0xDFFF ? 0x416 : code);
        break;
      }
      case 6: {
        // Overlong: a code point in a form one or two bytes longer than it needs.
        const std::uint32_t code = pick(0, 0x7FF);
        if (code < 0x80 && pick(0, 1) == 0) {
          text.push_back(static_cast<char>(0xC0 | code >> 6));
          text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
          text.push_back(static_cast<char>(0xE0));
          text.push_back(static_cast<char>(0x80 | code >> 6));
          text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
        break;
      }
      case 7: {
        // A surrogate, or a code point above U+10FFFF, written in the four- or three-byte pattern.
        if (pick(0, 1) == 0) {
          const std::uint32_t code = pick(0xD800, 0xDFFF);
          text.push_back(static_cast<char>(0xE0 | code >> 12));
          text.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
          text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
          const std::uint32_t code = pick(0x110000, 0x1FFFFF);
          text.push_back(static_cast<char>(0xF0 | code >> 18));
          text.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
          text.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
          text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
        break;
      }
      case 8: {
        // A well-formed sequence cut short.
        std::string whole;
        AppendCodePoint(whole, pick(0x80, 0x10FFFF));
        text.append(whole, 0, pick(1, static_cast<std::uint32_t>(whole.size() - 1)));
        break;
      }
      case 9:
        text.push_back(static_cast<char>(pick(0x80, 0xBF)));
        break;
      default:
        text.push_back(static_cast<char>(pick(0x00, 0xFF)));
    }
  }
  return text;
}

}  // namespace vesperline::test
