// Reading the server's files: binary reads, byte-order marks, UTF-16LE in one piece and in blocks,
// and files the server holds open.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "discovery/ServerFile.h"
#include "tests/support/TestSupport.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace vesperline {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

using test::Utf16LeBytes;

TEST(DecodeServerTextTest, AUtf8MarkIsDroppedAndOtherBytesAreKeptUnchanged) {
  const DecodedText marked = DecodeServerText("\xEF\xBB\xBF[ServerSettings]\r\n");
  EXPECT_EQ(marked.Text, "[ServerSettings]\r\n");
  EXPECT_EQ(marked.Encoding, TextEncoding::Utf8Bom);

  const std::string raw("a\x1A\r\nb\0\xFF\xFE", 8);
  const DecodedText plain = DecodeServerText(raw);
  EXPECT_EQ(plain.Text, raw) << "a mark anywhere but at the start is ordinary bytes";
  EXPECT_EQ(plain.Encoding, TextEncoding::Plain);
  EXPECT_EQ(DecodeServerText("\xEF\xBB").Text, "\xEF\xBB") << "half a mark is no mark";
}

TEST(DecodeServerTextTest, AUtf16LeFileBecomesUtf8) {
  const std::u16string units = u"[S]\r\nName=T\u00f6k \U0001F996\r\n";
  const DecodedText decoded = DecodeServerText("\xFF\xFE" + Utf16LeBytes(units));
  EXPECT_EQ(decoded.Encoding, TextEncoding::Utf16Le);
  EXPECT_EQ(decoded.Text, "[S]\r\nName=T\xC3\xB6k \xF0\x9F\xA6\x96\r\n");
  EXPECT_EQ(DecodeServerText("\xFF\xFE").Text, "");
}

TEST(DecodeServerTextTest, BrokenUtf16LeBecomesReplacementCharacters) {
  // A high surrogate before an ordinary unit, a lone low surrogate, and an odd last byte.
  const std::string bytes =
      "\xFF\xFE" + Utf16LeBytes({u'a', char16_t{0xD83E}, u'b', char16_t{0xDD96}}) + "c";
  EXPECT_EQ(DecodeServerText(bytes).Text, "a" + kReplacement + "b" + kReplacement + kReplacement);
}

TEST(Utf16LeStreamDecoderTest, AnySplitIntoBlocksGivesTheWholeDecode) {
  const std::string body =
      Utf16LeBytes({u'A', char16_t{0xD83E}, char16_t{0xDD96}, char16_t{0x00F6}, char16_t{0xD83E},
                    u'x', char16_t{0xDD96}, char16_t{0x20AC}, char16_t{0xD83E}}) +
      "z";
  const std::string whole = DecodeServerText("\xFF\xFE" + body).Text;
  for (std::size_t first = 0; first <= body.size(); ++first) {
    for (std::size_t second = first; second <= body.size(); ++second) {
      Utf16LeStreamDecoder decoder;
      std::string out;
      decoder.Feed(std::string_view(body).substr(0, first), out);
      decoder.Feed(std::string_view(body).substr(first, second - first), out);
      decoder.Feed(std::string_view(body).substr(second), out);
      decoder.Finish(out);
      ASSERT_EQ(out, whole) << "blocks end at " << first << " and " << second;
    }
  }
  Utf16LeStreamDecoder decoder;
  std::string out;
  for (const char byte : body) decoder.Feed(std::string_view(&byte, 1), out);
  decoder.Finish(out);
  EXPECT_EQ(out, whole);
  out.clear();
  decoder.Feed(Utf16LeBytes(u"ok"), out);
  decoder.Finish(out);
  EXPECT_EQ(out, "ok") << "Finish leaves the decoder ready for a new sequence";
}

TEST(DetectTextEncodingTest, ClassifiesTheFirstBytes) {
  EXPECT_EQ(DetectTextEncoding("\xEF\xBB\xBF"), TextEncoding::Utf8Bom);
  EXPECT_EQ(DetectTextEncoding("\xFF\xFE[\0"), TextEncoding::Utf16Le);
  EXPECT_EQ(DetectTextEncoding("\xFE\xFF"), TextEncoding::Utf16Be);
  EXPECT_EQ(DetectTextEncoding(""), TextEncoding::Plain);
  EXPECT_EQ(ByteOrderMarkLength(TextEncoding::Utf16Be), 0u) << "read as its bytes, as unmarked";
  EXPECT_EQ(ByteOrderMarkLength(TextEncoding::Utf8Bom), 3u);
  EXPECT_EQ(ByteOrderMarkLength(TextEncoding::Utf16Le), 2u);
  EXPECT_EQ(ByteOrderMarkLength(TextEncoding::Plain), 0u);
}

TEST(ReadServerFileTest, ReadsEveryByteInBinaryMode) {
  test::TempDir dir;
  // A stray end-of-file byte (0x1A) ends a Windows text-mode read; CRLF must reach the scanners
  // as written.
  const std::string bytes = std::string("[S]\r\nA=1\r\n\x1A\r\nB=2\r\n") + std::string(200000, 'x');
  test::WriteFile(dir.Path() / "GameUserSettings.ini", bytes);
  FileRead read;
  read.Encoding = TextEncoding::Utf16Le;
  EXPECT_EQ(ReadServerFile(dir.DirText() + "GameUserSettings.ini", &read), bytes);
  EXPECT_EQ(read.Encoding, TextEncoding::Plain);
}

TEST(ReadServerFileTest, DecodesAUtf16LeFileAndReportsHow) {
  test::TempDir dir;
  // A folder name outside ASCII: the UTF-8 path must reach the system intact.
  const std::string folder = "Serv\xC3\xA9r \xF0\x9F\xA6\x96";
  test::WriteFile(dir.Path() / test::PathFromUtf8(folder) / "config.json",
                  "\xFF\xFE" + Utf16LeBytes(u"{\"ip\":\"1.2.3.4\"}"));
  FileRead read;
  EXPECT_EQ(ReadServerFile(dir.DirText() + folder + "/config.json", &read), "{\"ip\":\"1.2.3.4\"}");
  EXPECT_TRUE(read.Opened);
  EXPECT_EQ(read.Encoding, TextEncoding::Utf16Le);
  EXPECT_EQ(TextEncodingName(read.Encoding), "UTF-16LE");
}

TEST(ReadServerFileTest, AMissingFileGivesNothing) {
  test::TempDir dir;
  EXPECT_EQ(ReadServerFile(dir.DirText() + "config.json"), std::nullopt);
  EXPECT_EQ(ReadServerFile(dir.DirText()), std::nullopt) << "a directory is no file";
}

TEST(ReadServerFileTest, AFileTheServerHoldsOpenForWritingIsRead) {
  test::TempDir dir;
  const std::filesystem::path log = dir.Path() / "Saved" / "Logs" / "ShooterGame.log";
  test::WriteFile(log, "first line\r\n");
#if defined(_WIN32)
  // The server writes its log through a handle that lets others read, write and delete.
  HANDLE writer = CreateFileW(log.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  SetFilePointer(writer, 0, nullptr, FILE_END);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writer, "second line\r\n", 13, &written, nullptr));
  const std::optional<std::string> text = ReadServerFile(test::Utf8FromPath(log));
  CloseHandle(writer);
#else
  std::ofstream writer(log, std::ios::binary | std::ios::app);
  writer << "second line\r\n" << std::flush;
  const std::optional<std::string> text = ReadServerFile(test::Utf8FromPath(log));
#endif
  EXPECT_EQ(text, "first line\r\nsecond line\r\n");
}

}  // namespace
}  // namespace vesperline
