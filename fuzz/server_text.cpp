// Decoding a server file's bytes, whatever they are: a UTF-8 mark is dropped, other files without
// the UTF-16LE mark keep their bytes, and UTF-16LE files become valid UTF-8 equal to a reference
// conversion, also when the stream decoder gets them in pieces cut anywhere.
// Input: the file's bytes, then one byte that steers where they are cut.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/ServerFile.h"
#include "fuzz/FuzzSupport.h"

namespace {

using namespace vesperline;
using namespace vesperline::fuzz;

// UTF-16LE bytes to UTF-8; an odd last byte is U+FFFD.
std::string ReferenceUtf16Le(std::string_view bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  std::string text = ReferenceUtf16ToUtf8(units);
  if (bytes.size() % 2 != 0) text += "\xEF\xBF\xBD";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes = AsText(data, size - 1);
  const DecodedText decoded = DecodeServerText(std::string(bytes));
  FUZZ_CHECK(decoded.Encoding == DetectTextEncoding(bytes.substr(0, 3)));
  switch (decoded.Encoding) {
    case TextEncoding::Plain:
      FUZZ_CHECK(bytes.rfind("\xEF\xBB\xBF", 0) != 0 && bytes.rfind("\xFF\xFE", 0) != 0 &&
                 bytes.rfind("\xFE\xFF", 0) != 0);
      FUZZ_CHECK(decoded.Text == bytes);
      break;
    case TextEncoding::Utf16Be:
      // Named for the admin, and otherwise taken byte for byte, as without a mark.
      FUZZ_CHECK(bytes.rfind("\xFE\xFF", 0) == 0);
      FUZZ_CHECK(decoded.Text == bytes);
      break;
    case TextEncoding::Utf8Bom:
      FUZZ_CHECK(bytes.rfind("\xEF\xBB\xBF", 0) == 0);
      FUZZ_CHECK(decoded.Text == bytes.substr(3));
      break;
    case TextEncoding::Utf16Le:
      FUZZ_CHECK(bytes.rfind("\xFF\xFE", 0) == 0);
      FUZZ_CHECK(decoded.Text == ReferenceUtf16Le(bytes.substr(2)));
      FUZZ_CHECK(IsValidUtf8(decoded.Text));
      break;
  }

  // Every byte sequence, taken as UTF-16LE after the mark and fed in pieces, decodes as a whole;
  // the decoder then starts afresh for the next sequence.
  Utf16LeStreamDecoder decoder;
  for (int round = 0; round < 2; ++round) {
    std::string streamed;
    for (const std::string_view piece : CutPieces(bytes, data[size - 1])) {
      decoder.Feed(piece, streamed);
    }
    decoder.Finish(streamed);
    FUZZ_CHECK(streamed == ReferenceUtf16Le(bytes));
    FUZZ_CHECK(IsValidUtf8(streamed));
  }
  return 0;
}
