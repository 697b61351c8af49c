// Reading the files of the server (config.json, the settings file, the log). Files are read in
// binary mode, shared with the server that may go on writing them, and decoded to UTF-8 by their
// byte-order mark: Windows editors save "Unicode" files as UTF-16LE, and others put a UTF-8 mark
// in front. Files without a mark are taken byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/Text.h"

namespace vesperline {

// How a file's bytes were turned into text.
enum class TextEncoding {
  Plain,    // no byte-order mark: the bytes unchanged
  Utf8Bom,  // began with EF BB BF: the bytes after the mark
  Utf16Le,  // began with FF FE: the UTF-16LE units after the mark, converted to UTF-8
};

// A short English name of the encoding ("plain", "UTF-8 with byte-order mark", "UTF-16LE"), for
// reports to an admin.
std::string_view TextEncodingName(TextEncoding encoding);

// Classifies a file by its first bytes. Pass at least the first 3 bytes of the file, or the whole
// file when it is shorter.
TextEncoding DetectTextEncoding(std::string_view firstBytes);

// The number of bytes the byte-order mark of that encoding takes at the start of the file (0, 3
// or 2).
std::size_t ByteOrderMarkLength(TextEncoding encoding);

struct DecodedText {
  std::string Text;
  TextEncoding Encoding = TextEncoding::Plain;
};

// Turns a whole file's bytes into the text the scanners read: a UTF-8 mark is dropped; after a
// UTF-16LE mark the units are converted to UTF-8 (surrogate pairs combined, an unpaired surrogate
// and an odd last byte each becoming U+FFFD); any other bytes are kept unchanged.
DecodedText DecodeServerText(std::string bytes);

// Converts UTF-16LE bytes that arrive in blocks of any size to UTF-8, exactly as the whole
// sequence would be converted at once: a unit split between blocks, or a surrogate pair split
// between blocks, is kept until the next block. Feed it the bytes after the byte-order mark.
class Utf16LeStreamDecoder {
 public:
  // Appends the UTF-8 form of every unit the bytes complete to out.
  void Feed(std::string_view bytes, std::string& out);
  // Ends the sequence: a pending high surrogate and a pending odd byte each append U+FFFD to out.
  // The decoder is then ready for a new sequence.
  void Finish(std::string& out);

 private:
  Utf16Decoder units_;
  bool hasByte_ = false;
  unsigned char byte_ = 0;
};

// The raw bytes of the file at the UTF-8 path, read to its end; nothing when it cannot be opened.
std::optional<std::string> ReadFileBytes(const std::string& path);

// The file at the UTF-8 path as text (see DecodeServerText); nothing when it cannot be opened.
// When encoding is given, it receives how the file was decoded.
std::optional<std::string> ReadServerFile(const std::string& path,
                                          TextEncoding* encoding = nullptr);

}  // namespace vesperline
