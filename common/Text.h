// Text helpers shared by every subsystem. All text inside the plugin is UTF-8 (or, where a source
// gives arbitrary bytes, those bytes unchanged).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesperline {

// Converts UTF-16 code units to UTF-8: surrogate pairs are combined and an unpaired surrogate
// becomes U+FFFD. Every unit is converted, zero units included.
std::string Utf16ToUtf8(const char16_t* units, std::size_t count);
inline std::string Utf16ToUtf8(std::u16string_view units) {
  return Utf16ToUtf8(units.data(), units.size());
}

// Appends the UTF-8 form of one code point (at most U+10FFFF) to out.
void AppendUtf8(std::string& out, char32_t codePoint);

// The length of text without an incomplete UTF-8 sequence at its end: when the last lead byte
// among its final three bytes announces more bytes than follow it, the text ends before that lead
// byte. Text cut at a byte limit is shortened to this length, so that the cut never leaves half a
// character behind; bytes that were no UTF-8 before the cut are kept as they are.
std::size_t CompleteUtf8Length(std::string_view text);

// Lower-cases the ASCII letters A to Z; every other byte is kept, so positions are unchanged.
std::string LowerAscii(std::string_view text);

}  // namespace vesperline
