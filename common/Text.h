// Text helpers shared by every subsystem. All text inside the plugin is UTF-8 (or, where a source
// gives arbitrary bytes, those bytes unchanged).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesperline {

// The character that stands for what cannot be decoded.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Converts UTF-16 code units to UTF-8 one at a time: a high surrogate is kept until the next unit
// shows whether it begins a pair; a pair is combined and an unpaired surrogate becomes U+FFFD.
class Utf16Decoder {
 public:
  // Appends the UTF-8 form of what the unit completes to out.
  void Put(char16_t unit, std::string& out);
  // Ends the sequence: a pending high surrogate appends U+FFFD. The decoder is then ready for a
  // new sequence.
  void Finish(std::string& out);

 private:
  char16_t highSurrogate_ = 0;  // 0 when none is pending
};

// Converts UTF-16 code units to UTF-8 as Utf16Decoder does. Every unit is converted, zero units
// included.
std::string Utf16ToUtf8(const char16_t* units, std::size_t count);
inline std::string Utf16ToUtf8(std::u16string_view units) {
  return Utf16ToUtf8(units.data(), units.size());
}

#if defined(_WIN32)
// Converts Windows' wide text, whose wchar_t holds one UTF-16 code unit, as Utf16Decoder does. The
// units are taken one by one rather than read through a char16_t pointer, which would read
// wchar_t objects through another type.
std::string WideToUtf8(const wchar_t* text, std::size_t length);
#endif

// Appends the UTF-8 form of one code point (at most U+10FFFF) to out.
void AppendUtf8(std::string& out, char32_t codePoint);

// The length of text without an incomplete UTF-8 sequence at its end: when the last lead byte
// among its final three bytes announces more bytes than follow it, the text ends before that lead
// byte. Text cut at a byte limit is shortened to this length, so that the cut never leaves half a
// character behind; bytes that were no UTF-8 before the cut are kept as they are.
std::size_t CompleteUtf8Length(std::string_view text);

// Lower-cases the ASCII letters A to Z; every other byte is kept, so positions are unchanged.
constexpr char LowerAsciiByte(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string LowerAscii(std::string_view text);

}  // namespace vesperline
