#include "tools/check/text/Printable.h"

#include "heartbeat/Json.h"

namespace vesperline::check {

namespace {

// Appends the \u00XX escape of a control character.
void AppendEscape(std::string& out, unsigned code) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[code >> 4];
  out += kHex[code & 0x0F];
}

}  // namespace

std::string EscapeDelAndC1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0u;
    if (byte == 0x7F) {
      AppendEscape(out, byte);
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      AppendEscape(out, next);
      ++i;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

std::string Printable(std::string_view text) {
  // EscapeJson already reads every byte that is not UTF-8 as Latin-1 and escapes C0 controls;
  // the quotes and backslashes it escapes are put back, and its short escapes take the one form.
  const std::string escaped = EscapeJson(text);
  std::string out;
  out.reserve(escaped.size());
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\' || i + 1 == escaped.size()) {
      out += escaped[i];
      continue;
    }
    const char letter = escaped[++i];
    switch (letter) {
      case 'b':
        AppendEscape(out, '\b');
        break;
      case 't':
        AppendEscape(out, '\t');
        break;
      case 'n':
        AppendEscape(out, '\n');
        break;
      case 'f':
        AppendEscape(out, '\f');
        break;
      case 'r':
        AppendEscape(out, '\r');
        break;
      case 'u':
        out += "\\u";
        break;
      default:  // '"' or '\\'
        out += letter;
    }
  }
  return EscapeDelAndC1(out);
}

}  // namespace vesperline::check
