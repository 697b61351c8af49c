// Reading the files of the server (config.json, the settings file, the log). Files are read in
// binary mode, shared with the server that may go on writing them, and decoded to UTF-8 by their
// byte-order mark: Windows editors save "Unicode" files as UTF-16LE, and others put a UTF-8 mark
// in front. Files without a mark are taken byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline {

// How a file's bytes were turned into text.
enum class TextEncoding {
  Plain,    // no byte-order mark: the bytes unchanged
  Utf8Bom,  // began with EF BB BF: the bytes after the mark
  Utf16Le,  // began with FF FE: the UTF-16LE units after the mark, converted to UTF-8
  // Began with FE FF: UTF-16 big-endian, which no Windows editor saves unasked and the scanners do
  // not read; its bytes are taken unchanged, as a file without a mark, and an admin is told.
  Utf16Be,
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

// How one of the server's files was read: opened, and decoded how; or why it was not opened.
struct FileRead {
  bool Opened = false;
  TextEncoding Encoding = TextEncoding::Plain;
  platform::OpenFailure Failure = platform::OpenFailure::Missing;
  std::string FailureMessage;  // the system's words for an Other failure, when it gave any
  // The file's size in bytes, when it was opened but is larger than the reader takes and so was
  // not read; its text then counts as missing.
  std::optional<std::uint64_t> TooLarge;
};

// What an opened or unopened file tells of itself, before its text is read.
FileRead FileReadOf(const platform::InputFile& file);

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

// Memory that files are read into, aligned to a page. On some processors the system copies file
// data into a buffer that starts a few bytes past an alignment boundary several times slower than
// into an aligned one, and the server's log may be gigabytes long.
class ReadBlock {
 public:
  explicit ReadBlock(std::size_t size);
  ~ReadBlock();
  ReadBlock(const ReadBlock&) = delete;
  ReadBlock& operator=(const ReadBlock&) = delete;

  char* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  char* data_;
  std::size_t size_;
};

// Reads a server file in fixed blocks and hands on its text piece by piece, decoded as
// DecodeServerText decodes the whole file. It remembers how far it has read and how, so that a
// file that has grown since can be read on from there. Its memory does not depend on the file.
class ServerTextReader {
 public:
  using TextSink = std::function<void(std::string_view text)>;

  // Reads the open file from the remembered position to its end and hands each piece of text to
  // take. The encoding is decided as soon as the first bytes allow it.
  void ReadOn(platform::InputFile& file, const TextSink& take);

  // Ends the text: hands to take what the bytes read so far still hold back (the first bytes of a
  // very short file, half a UTF-16 unit or surrogate pair). A reader that is to go on reading is
  // left as it is: finish a copy of it instead.
  void Finish(const TextSink& take);

  // The number of the file's bytes read so far, byte-order mark included.
  std::uint64_t Position() const { return position_; }

  // How the text is decoded; Plain until the first bytes have decided it.
  TextEncoding Encoding() const { return encoding_; }

  // Back to the state before the first read.
  void Reset() { *this = ServerTextReader(); }

 private:
  void Take(std::string_view bytes, std::string& decoded, const TextSink& take);
  void Decide(std::string& decoded, const TextSink& take);
  void Pass(std::string_view bytes, std::string& decoded, const TextSink& take);

  std::uint64_t position_ = 0;
  bool decided_ = false;
  TextEncoding encoding_ = TextEncoding::Plain;
  // The first bytes of the file while they may still be the beginning of a byte-order mark.
  std::string head_;
  Utf16LeStreamDecoder decoder_;
};

// No limit on the bytes a reader takes.
inline constexpr std::uint64_t kNoByteLimit = UINT64_MAX;

// The raw bytes of the file at the UTF-8 path, or of an open file from where it stands, read to
// its end; nothing when it cannot be opened or holds more than maxBytes bytes. A file over the
// limit is not read into memory: memory stays bounded by the limit whatever the file's size.
std::optional<std::string> ReadFileBytes(const std::string& path);
std::optional<std::string> ReadFileBytes(platform::InputFile& file,
                                         std::uint64_t maxBytes = kNoByteLimit);

// The file at the UTF-8 path as text (see DecodeServerText); nothing when it cannot be opened or
// holds more than maxBytes bytes (then read->TooLarge gives its size). When read is given, it
// receives how the file was read.
std::optional<std::string> ReadServerFile(const std::string& path, FileRead* read = nullptr,
                                          std::uint64_t maxBytes = kNoByteLimit);

}  // namespace vesperline
