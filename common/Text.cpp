#include "common/Text.h"

namespace vesperline {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void Utf16Decoder::Put(char16_t unit, std::string& out) {
  const bool high = unit >= 0xD800 && unit <= 0xDBFF;
  const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
  if (highSurrogate_ != 0) {
    const char32_t first = highSurrogate_;
    highSurrogate_ = 0;
    if (low) {
      AppendUtf8(out, 0x10000 + ((first - 0xD800) << 10) + (char32_t{unit} - 0xDC00));
      return;
    }
    AppendUtf8(out, kReplacementCharacter);
  }
  if (high) {
    highSurrogate_ = unit;
  } else {
    AppendUtf8(out, low ? kReplacementCharacter : char32_t{unit});
  }
}

void Utf16Decoder::Finish(std::string& out) {
  if (highSurrogate_ != 0) AppendUtf8(out, kReplacementCharacter);
  highSurrogate_ = 0;
}

std::string Utf16ToUtf8(const char16_t* units, std::size_t count) {
  std::string out;
  out.reserve(count);
  Utf16Decoder decoder;
  for (std::size_t i = 0; i < count; ++i) decoder.Put(units[i], out);
  decoder.Finish(out);
  return out;
}

std::size_t CompleteUtf8Length(std::string_view text) {
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(text[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: its lead byte lies further back
    const std::size_t length = byte >= 0xC0 && byte <= 0xDF   ? 2
                               : byte >= 0xE0 && byte <= 0xEF ? 3
                               : byte >= 0xF0 && byte <= 0xF7 ? 4
                                                              : 1;
    return length > back ? size - back : size;
  }
  return size;
}

#if defined(_WIN32)
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is a UTF-16 code unit on Windows");

std::string WideToUtf8(const wchar_t* text, std::size_t length) {
  std::string utf8;
  utf8.reserve(length);
  Utf16Decoder decoder;
  for (std::size_t i = 0; i < length; ++i) decoder.Put(static_cast<char16_t>(text[i]), utf8);
  decoder.Finish(utf8);
  return utf8;
}
#endif

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAsciiByte(c);
  return out;
}

}  // namespace vesperline
