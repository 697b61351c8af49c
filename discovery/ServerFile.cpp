#include "discovery/ServerFile.h"

#include <algorithm>
#include <new>
#include <utility>

#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {
// Files are read in blocks of this size: large enough to read fast, small enough to stay in the
// processor's cache while the text is scanned and to come from the heap, where a much larger block
// would be mapped afresh, and its pages faulted in, at every read.
constexpr std::size_t kReadBlockSize = 64 * 1024;
constexpr std::align_val_t kPageAlignment{4096};
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
}  // namespace

std::string_view TextEncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8Bom:
      return "UTF-8 with byte-order mark";
    case TextEncoding::Utf16Le:
      return "UTF-16LE";
    case TextEncoding::Utf16Be:
      return "UTF-16BE";
    case TextEncoding::Plain:
      break;
  }
  return "plain";
}

TextEncoding DetectTextEncoding(std::string_view firstBytes) {
  if (firstBytes.substr(0, 3) == kUtf8Mark) return TextEncoding::Utf8Bom;
  if (firstBytes.substr(0, 2) == kUtf16LeMark) return TextEncoding::Utf16Le;
  if (firstBytes.substr(0, 2) == kUtf16BeMark) return TextEncoding::Utf16Be;
  return TextEncoding::Plain;
}

std::size_t ByteOrderMarkLength(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8Bom:
      return 3;
    case TextEncoding::Utf16Le:
      return 2;
    case TextEncoding::Utf16Be:
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
}

ReadBlock::ReadBlock(std::size_t size)
    : data_(static_cast<char*>(::operator new(size, kPageAlignment))), size_(size) {}

ReadBlock::~ReadBlock() {
  ::operator delete(data_, kPageAlignment);
}

void ServerTextReader::ReadOn(platform::InputFile& file, const TextSink& take) {
  // The file may have been read elsewhere already (its first bytes compared), so the position is
  // set even at the start.
  if (!file.Seek(position_)) return;
  const ReadBlock block(kReadBlockSize);
  std::string decoded;
  while (const std::size_t got = file.Read(block.Data(), block.Size())) {
    Take(std::string_view(block.Data(), got), decoded, take);
    position_ += got;
  }
}

void ServerTextReader::Finish(const TextSink& take) {
  std::string decoded;
  if (!decided_) Decide(decoded, take);
  if (encoding_ != TextEncoding::Utf16Le) return;
  decoded.clear();
  decoder_.Finish(decoded);
  if (!decoded.empty()) take(decoded);
}

void ServerTextReader::Take(std::string_view bytes, std::string& decoded, const TextSink& take) {
  if (!decided_) {
    const std::size_t count = std::min(kUtf8Mark.size() - head_.size(), bytes.size());
    head_.append(bytes.substr(0, count));
    bytes.remove_prefix(count);
    // Wait for more while the bytes may still grow into a mark.
    const bool mayBeMark = head_.size() < kUtf8Mark.size() &&
                           (kUtf8Mark.substr(0, head_.size()) == head_ ||
                            (head_.size() < 2 && (kUtf16LeMark.substr(0, head_.size()) == head_ ||
                                                  kUtf16BeMark.substr(0, head_.size()) == head_)));
    if (mayBeMark) return;
    Decide(decoded, take);
  }
  Pass(bytes, decoded, take);
}

void ServerTextReader::Decide(std::string& decoded, const TextSink& take) {
  encoding_ = DetectTextEncoding(head_);
  decided_ = true;
  const std::string head = std::move(head_);
  head_.clear();
  Pass(std::string_view(head).substr(ByteOrderMarkLength(encoding_)), decoded, take);
}

void ServerTextReader::Pass(std::string_view bytes, std::string& decoded, const TextSink& take) {
  if (bytes.empty()) return;
  if (encoding_ != TextEncoding::Utf16Le) {
    take(bytes);
    return;
  }
  decoded.clear();
  decoder_.Feed(bytes, decoded);
  if (!decoded.empty()) take(decoded);
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  platform::InputFile file(path);
  return ReadFileBytes(file);
}

std::optional<std::string> ReadFileBytes(platform::InputFile& file, std::uint64_t maxBytes) {
  if (!file.IsOpen()) return std::nullopt;
  // The result is sized from the file, so that it does not grow block by block; a file that grows
  // meanwhile still reads to its end, or until it passes the limit.
  const std::uint64_t hint = file.SizeHint();
  if (hint > maxBytes) return std::nullopt;
  std::string bytes;
  bytes.reserve(hint < (1u << 30) ? static_cast<std::size_t>(hint) : 0);
  const ReadBlock block(kReadBlockSize);
  while (const std::size_t got = file.Read(block.Data(), block.Size())) {
    bytes.append(block.Data(), got);
    if (bytes.size() > maxBytes) return std::nullopt;
  }
  return bytes;
}

FileRead FileReadOf(const platform::InputFile& file) {
  FileRead read;
  read.Opened = file.IsOpen();
  read.Failure = file.Failure();
  read.FailureMessage = file.FailureMessage();
  return read;
}

std::optional<std::string> ReadServerFile(const std::string& path, FileRead* read,
                                          std::uint64_t maxBytes) {
  platform::InputFile file(path);
  if (read != nullptr) *read = FileReadOf(file);
  std::optional<std::string> bytes = ReadFileBytes(file, maxBytes);
  if (!bytes) {
    // A file that grew past the limit while it was read is at least one byte over it.
    if (read != nullptr && file.IsOpen()) read->TooLarge = std::max(file.SizeHint(), maxBytes + 1);
    return std::nullopt;
  }
  DecodedText decoded = DecodeServerText(std::move(*bytes));
  if (read != nullptr) read->Encoding = decoded.Encoding;
  return std::move(decoded.Text);
}

}  // namespace vesperline
