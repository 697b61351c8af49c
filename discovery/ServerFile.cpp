#include "discovery/ServerFile.h"

#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline {

std::string_view TextEncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8Bom:
      return "UTF-8 with byte-order mark";
    case TextEncoding::Utf16Le:
      return "UTF-16LE";
    case TextEncoding::Plain:
      break;
  }
  return "plain";
}

TextEncoding DetectTextEncoding(std::string_view firstBytes) {
  if (firstBytes.substr(0, 3) == "\xEF\xBB\xBF") return TextEncoding::Utf8Bom;
  if (firstBytes.substr(0, 2) == "\xFF\xFE") return TextEncoding::Utf16Le;
  return TextEncoding::Plain;
}

std::size_t ByteOrderMarkLength(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8Bom:
      return 3;
    case TextEncoding::Utf16Le:
      return 2;
    case TextEncoding::Plain:
      break;
  }
  return 0;
}

DecodedText DecodeServerText(std::string bytes) {
  DecodedText decoded;
  decoded.Encoding = DetectTextEncoding(bytes);
  const std::size_t mark = ByteOrderMarkLength(decoded.Encoding);
  if (decoded.Encoding == TextEncoding::Utf16Le) {
    const std::size_t unitCount = (bytes.size() - mark) / 2;
    std::u16string units(unitCount, u'\0');
    for (std::size_t i = 0; i < unitCount; ++i) {
      const auto low = static_cast<unsigned char>(bytes[mark + 2 * i]);
      const auto high = static_cast<unsigned char>(bytes[mark + 2 * i + 1]);
      units[i] = static_cast<char16_t>(low | (high << 8));
    }
    decoded.Text = Utf16ToUtf8(units);
    if ((bytes.size() - mark) % 2 != 0) AppendUtf8(decoded.Text, kReplacementCharacter);
  } else {
    bytes.erase(0, mark);
    decoded.Text = std::move(bytes);
  }
  return decoded;
}

void Utf16LeStreamDecoder::Feed(std::string_view bytes, std::string& out) {
  std::size_t i = 0;
  if (hasByte_ && !bytes.empty()) {
    const auto high = static_cast<unsigned char>(bytes[0]);
    hasByte_ = false;
    i = 1;
    units_.Put(static_cast<char16_t>(byte_ | (high << 8)), out);
  }
  for (; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[i]);
    const auto high = static_cast<unsigned char>(bytes[i + 1]);
    units_.Put(static_cast<char16_t>(low | (high << 8)), out);
  }
  if (i < bytes.size()) {
    hasByte_ = true;
    byte_ = static_cast<unsigned char>(bytes[i]);
  }
}

void Utf16LeStreamDecoder::Finish(std::string& out) {
  units_.Finish(out);
  if (hasByte_) AppendUtf8(out, kReplacementCharacter);
  hasByte_ = false;
  byte_ = 0;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  platform::InputFile file(path);
  if (!file.IsOpen()) return std::nullopt;
  // Read straight into a result sized from the file: settings files are read up to five times at
  // start-up, and growing a buffer block by block would copy and allocate far more. One byte more
  // than the size lets the read that meets the end do so without growing; a file that grows
  // meanwhile doubles the room.
  const std::uint64_t hint = file.SizeHint();
  std::string bytes(hint < (1u << 30) ? static_cast<std::size_t>(hint) + 1 : std::size_t{1} << 16,
                    '\0');
  std::size_t size = 0;
  for (;;) {
    if (size == bytes.size()) bytes.resize(bytes.size() * 2);
    const std::size_t got = file.Read(bytes.data() + size, bytes.size() - size);
    if (got == 0) break;
    size += got;
  }
  bytes.resize(size);
  return bytes;
}

std::optional<std::string> ReadServerFile(const std::string& path, TextEncoding* encoding) {
  std::optional<std::string> bytes = ReadFileBytes(path);
  if (!bytes) return std::nullopt;
  DecodedText decoded = DecodeServerText(std::move(*bytes));
  if (encoding != nullptr) *encoding = decoded.Encoding;
  return std::move(decoded.Text);
}

}  // namespace vesperline
