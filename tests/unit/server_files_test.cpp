// Reading the server's files: binary reads, a UTF-16LE file and how it was read, paths outside
// ASCII and files the server holds open; the settings file in one pass, its limits; the version in
// the log and the log read on as it grows. The rules of decoding, of the settings file and of the
// version line, case by case and in every split, are the server_text, ini_value and version_scan
// fuzz targets' seeds (fuzz/corpus), checked against their references in every build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "common/Text.h"
#include "discovery/ServerFile.h"
#include "discovery/ServerLog.h"
#include "discovery/SettingsFile.h"
#include "tests/support/TestSupport.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vesperline {
namespace {

using test::Utf16LeBytes;

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

TEST(ReadServerFileTest, AMissingFileGivesNothingToEveryReader) {
  test::TempDir dir;
  EXPECT_EQ(ReadServerFile(dir.DirText() + "config.json"), std::nullopt);
  EXPECT_EQ(ReadServerFile(dir.DirText()), std::nullopt) << "a directory is no file";
  EXPECT_EQ(ReadIniValue(dir.DirText() + "GameUserSettings.ini", "SessionName", ""), "");
  EXPECT_EQ(ScanVersionLog(dir.DirText() + "ShooterGame.log"), std::nullopt);
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

#if !defined(_WIN32)
// Started with its standard input closed (from cron, a service), a program gets descriptor 0 for
// the first file it opens. That file is read as any other, and its descriptor is given back when
// the file goes, or at once where it is no file to read: left open, the next file would get
// another number, and the program would hold descriptor 0 for nothing.
TEST(InputFileTest, AFileOnDescriptorZeroIsReadAndClosedLikeAnyOther) {
  test::TempDir dir;
  test::WriteFile(dir.Path() / "config.json", "{}");
  ASSERT_EQ(::mkfifo((dir.Path() / "pipe").c_str(), 0600), 0);
  const struct {
    const char* name;
    bool opens;
  } cases[] = {{"config.json", true}, {"", false}, {"pipe", false}};
  const int input = ::dup(0);
  ASSERT_GE(input, 0);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ::close(0);
    {
      platform::InputFile file(dir.DirText() + test.name);
      EXPECT_EQ(file.IsOpen(), test.opens);
      EXPECT_EQ(::fcntl(0, F_GETFD) >= 0, test.opens) << "descriptor 0 is the open file's alone";
      char byte = 0;
      EXPECT_EQ(file.Read(&byte, 1), test.opens ? 1u : 0u);
    }
    EXPECT_EQ(::fcntl(0, F_GETFD), -1) << "descriptor 0 still open";
  }
  ::dup2(input, 0);
  ::close(input);
}
#endif

// Lines as the engine reads them: where a line ends, what is a comment, a header or a key line,
// and what a value becomes. Each row looks up one key, in a section or in any.
TEST(FindIniValueTest, TheFileReadsAsTheEngineReadsIt) {
  const struct {
    const char* what;
    std::string text;
    const char* key;
    const char* section;
    const char* value;
  } cases[] = {
      {"blanks around the '=' and the value", "SessionName =   My Server  \t\n", "SessionName", "",
       "My Server"},
      {"a quoted value loses its quotes", "SessionName = \"My Server\" \n", "SessionName", "",
       "My Server"},
      {"what follows the closing quote", "SessionName=\"A\" B\n", "SessionName", "", "A"},
      {"a quote never closed", "SessionName=\"A B\n", "SessionName", "", "A B"},
      {"escapes in quotes", R"(SessionName="Say \"hi\" \\ \' \n\t\q")", "SessionName", "",
       "Say \"hi\" \\ ' \n\t\\q"},
      {"a backslash outside quotes stays", R"(SessionName=C:\ARK\x)", "SessionName", "",
       R"(C:\ARK\x)"},
      {"a lone carriage return ends the line", "SessionName=A\rSessionName=B\n", "SessionName", "",
       "A"},
      {"'|' ends the line", "SessionName=Rex | 2x\n", "SessionName", "", "Rex"},
      {"what follows '|' is a line of its own", "X=1|SessionName=Two\n", "SessionName", "", "Two"},
      {"'|' inside quotes", "SessionName=\"Rex | 2x\"\n", "SessionName", "", "Rex | 2x"},
      {"'|' after a quote opened inside the value", "SessionName=a\"b|c\"d\n", "SessionName", "",
       "a\"b|c\"d"},
      {"'//' starts a comment", "SessionName=http://example\n", "SessionName", "", "http:"},
      {"'//' inside quotes", "SessionName=\"a//b\"\n", "SessionName", "", "a//b"},
      {"braces are dropped", "SessionName=My {Server}\n", "SessionName", "", "My Server"},
      {"a line break inside braces", "SessionName={My\r\nServer}\nX=1\n", "SessionName", "",
       "My Server"},
      {"a backslash before a line break joins the lines", "SessionName=My\\\nServer\n",
       "SessionName", "", "My Server"},
      {"the key in any case, with a merge command", "[ServerSettings]\n+activemods=1,2\n",
       "ActiveMods", "ServerSettings", "1,2"},
      {"a key with a blank inside it", "Session Name=x\n", "SessionName", "", ""},
      {"a line starting with ';'", ";SessionName=Old\nSessionName=New\n", "SessionName", "", "New"},
      {"the section in any case", "ActiveMods=1\n[serversettings]\nActiveMods=2\nActiveMods=3\n",
       "ActiveMods", "ServerSettings", "3"},
      {"blanks and a comment after the header",
       "ActiveMods=1\n[ServerSettings]  // mods\nActiveMods=2\n", "ActiveMods", "ServerSettings",
       "2"},
      {"a blank before the header's bracket", "ActiveMods=1\n [ServerSettings]\nActiveMods=2\n",
       "ActiveMods", "ServerSettings", "1"},
      {"a header without its closing bracket", "ActiveMods=1\n[ServerSettings\nActiveMods=2\n",
       "ActiveMods", "ServerSettings", "1"},
      {"an empty value in the section falls back",
       "ActiveMods=1\n[ServerSettings]\nActiveMods=\"\"\n", "ActiveMods", "ServerSettings", "1"},
  };
  for (const auto& check : cases) {
    EXPECT_EQ(FindIniValue(check.text, check.key, check.section), check.value) << check.what;
  }
}

TEST(FindIniValueTest, ValuesAndSectionNamesLongerThan4096BytesAreCutBeforeTheSplitCharacter) {
  const std::string a4095(4095, 'a');
  const std::string e = "\xC3\xA9";  // two bytes
  const std::pair<std::string, std::string> lines[] = {
      // The value as the engine takes it, then cut.
      {std::string(5000, 'a'), std::string(4096, 'a')},
      {a4095 + e + "\r", a4095},
      {"   " + a4095 + "a" + std::string(5000, ' '), a4095 + "a"},
      {"\"" + a4095 + "\\\"" + "\"", a4095 + "\""},
  };
  for (const auto& [line, kept] : lines) {
    EXPECT_TRUE(FindIniValue("[S]\nKey=" + line + "\n", "Key", "S") == kept) << line.size();
  }
  // The first 4,096 bytes of a longer name open the section they name.
  for (const std::string& header :
       {"[" + a4095 + e + "]", "[" + a4095 + e + "x]" + std::string(5000, ' ')}) {
    EXPECT_EQ(FindIniValue("Key=elsewhere\n" + header + "\nKey=inside\n", "Key", a4095), "inside");
  }
}

TEST(ReadIniValueTest, AByteOrderMarkDoesNotHideTheFirstHeader) {
  test::TempDir dir;
  const std::string path = dir.DirText() + "GameUserSettings.ini";
  test::WriteFile(test::PathFromUtf8(path), "\xEF\xBB\xBF[ServerSettings]\r\nActiveMods=1,2\r\n");
  EXPECT_EQ(ReadIniValue(path, "ActiveMods", "ServerSettings"), "1,2");
}

TEST(ReadIniValueTest, OnePassOverAUtf16FileAnswersEveryLookup) {
  std::u16string text =
      u"ActiveMods=elsewhere\r\n[SessionSettings]\r\nSessionName=Zo\u00eb's \u00c4rk\r\n"
      u"[ServerSettings]\r\n";
  // Surrogate pairs and lines across the reader's blocks; a line ending in '[' opens no section.
  while (text.size() < 300 * 1024) text += u"Other=\U0001F996\U0001F996\U0001F996[\n";
  // The last line ends without a line end, in half a surrogate pair.
  text += u"ActiveMods=1,2\r\nbServerPVE=True\r\nFiller=\U0001F996";
  text += char16_t{0xD83E};
  test::TempDir dir;
  const std::string path = dir.DirText() + "GameUserSettings.ini";
  test::WriteFile(test::PathFromUtf8(path), test::Utf16LeFile(text));
  const std::vector<IniLookup> lookups{{"SessionName", ""},
                                       {"ActiveMods", "ServerSettings"},
                                       {"bServerPVE", "ServerSettings"},
                                       {"MaxPlayers", "/Script/Engine.GameSession"},
                                       {"filler", "ServerSettings"}};
  EXPECT_EQ(ReadIniValues(path, lookups),
            (std::vector<std::string>{"Zo\xC3\xAB's \xC3\x84rk", "1,2", "True", "",
                                      "\xF0\x9F\xA6\x96\xEF\xBF\xBD"}));
}

TEST(VersionScanTest, AValueLongerThan256BytesIsCutThereBeforeTheCharacterTheLimitSplits) {
  const std::string v255(255, 'v');
  const std::string e = "\xC3\xA9";  // two bytes
  const struct {
    std::string value;
    std::string version;
  } cases[] = {
      {std::string(600 * 1024, 'v'), std::string(256, 'v')},
      {v255 + e + "tail", v255},
      // 256 bytes before the trimmed end are kept whole, as ever, broken UTF-8 and all.
      {v255 + "v \r", v255 + "v"},
      {v255 + "\xC3 \r", v255 + "\xC3"},
      {std::string(254, 'v') + "\xF0\x9F\xA6\x96", std::string(254, 'v')},
      {std::string(250, 'v') + std::string(10, ' ') + "x", std::string(250, 'v')},
  };
  for (const auto& [value, version] : cases) {
    // The value runs over more than one of the reader's blocks.
    const std::string log = std::string(300 * 1024, 'x') + "\nARK Version: " + value + "\r\n";
    test::TempDir dir;
    const std::string path = dir.DirText() + "ShooterGame.log";
    test::WriteFile(test::PathFromUtf8(path), log);
    const std::optional<std::string> found = ScanVersionLog(path);
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(*found == version)
        << "a value of " << value.size() << " bytes gave " << found->size() << " bytes";
  }
}

// ---- The log read as it grows ----------------------------------------------------------------

TEST(VersionLogReaderTest, ALogReadAsItGrowsGivesWhatAReadOfTheWholeLogGives) {
  // Pieces of every length end inside lines, markers, UTF-8 sequences, UTF-16 units and surrogate
  // pairs; the first piece, one to three bytes long, ends inside each kind of byte-order mark.
  std::mt19937 random(20261207);
  const std::u16string fragments[] = {
      u"ARK Version: ", u"ARK Vers", u"ion: ", u"74.2",
      u"\r\n",          u"\n",       u" ",     u"LogNet: Zo\u00eb \U0001F996",
      u"\xD83E",        u"K"};
  for (int round = 0; round < 30; ++round) {
    std::u16string text;
    for (int i = static_cast<int>(random() % 40); i > 0; --i) {
      text += fragments[random() % std::size(fragments)];
    }
    const std::string bytes = round % 4 == 0   ? test::Utf16LeFile(text)
                              : round % 4 == 1 ? "\xEF\xBB\xBF" + Utf16ToUtf8(text)
                              : round % 4 == 2 ? "\xFE\xFF" + Utf16ToUtf8(text)
                                               : Utf16ToUtf8(text);
    test::TempDir dir;
    const std::string path = dir.DirText() + "ShooterGame.log";
    test::WriteFile(test::PathFromUtf8(path), "");
    VersionLogReader reader;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t piece =
          std::min<std::size_t>(at == 0 ? 1 + round / 4 % 3 : 1 + random() % 9, bytes.size() - at);
      std::ofstream(test::PathFromUtf8(path), std::ios::binary | std::ios::app)
          << bytes.substr(at, piece);
      at += piece;
      FileRead grown, whole;
      ASSERT_EQ(reader.Scan(path, &grown), ScanVersionLog(path, &whole))
          << "round " << round << ", " << at;
      ASSERT_EQ(grown.Encoding, whole.Encoding) << "round " << round << ", " << at;
    }
  }
}

TEST(VersionLogReaderTest, ALogShorterThanWhatWasReadIsANewLogReadFromItsBeginning) {
  // A server that starts anew begins a new log, which may be encoded otherwise.
  const std::string filler(1000, 'x');
  const std::string logs[][2] = {
      {filler + "\nARK Version: 1.0\n", test::Utf16LeFile(u"ARK Version: 2.0\r\n")},
      {test::Utf16LeFile(u"ARK Version: 1.0\r\n" + std::u16string(1000, u'x')),
       "ARK Version: 2.0\r\n"},
  };
  for (const auto& [first, second] : logs) {
    test::TempDir dir;
    const std::string path = dir.DirText() + "ShooterGame.log";
    VersionLogReader reader;
    test::WriteFile(test::PathFromUtf8(path), first);
    EXPECT_EQ(reader.Scan(path), "1.0");
    test::WriteFile(test::PathFromUtf8(path), second);
    EXPECT_EQ(reader.Scan(path), "2.0");
  }
}

TEST(VersionLogReaderTest, ALogReplacedOrRewrittenIsReadAsAWhole) {
  // The server's first line names the time it started, so a new log rarely begins like the old
  // one; the second row is the case where it does and only the file's identity tells them apart.
  const std::string header = "Log file open, 12/06/26 23:25:09\n" + std::string(40, '-') + "\n";
  std::string cutInAMarker(1000, 'x');
  cutInAMarker[0] = 'a';
  cutInAMarker += "\nARK Version:";
  std::string rewrittenOver(1000, 'x');
  rewrittenOver[0] = 'b';
  rewrittenOver += "\nARK Versi0n: 1.zzzz\n";
  const struct {
    const char* what;
    std::string before;
    std::string after;
    bool inPlace;  // rewritten in the same file, rather than a new file put in its place
    std::optional<std::string> version;
  } cases[] = {
      {"replaced by a longer log with the version at its top", std::string(1000, 'x'),
       "ARK Version: 52.12\n" + std::string(2000, 'y'), false, "52.12"},
      {"replaced by a longer log that begins like the old one", header + std::string(1000, 'x'),
       header + "ARK Version: 52.12\n" + std::string(2000, 'y'), false, "52.12"},
      // Where the old log stopped inside a marker, the new one goes on as a version would, and
      // of its first bytes only the very first differs.
      {"rewritten in place, longer, with another first byte", cutInAMarker, rewrittenOver, true,
       std::nullopt},
      {"a UTF-16 log replaced by a longer UTF-8 one", test::Utf16LeFile(u"LogInit: starting\r\n"),
       "ARK Version: 3.0\r\n" + std::string(100, 'y'), false, "3.0"},
  };
  for (const auto& check : cases) {
    SCOPED_TRACE(check.what);
    test::TempDir dir;
    const std::string path = dir.DirText() + "ShooterGame.log";
    VersionLogReader reader;
    test::WriteFile(test::PathFromUtf8(path), check.before);
    reader.Scan(path);
    if (check.inPlace) {
      test::WriteFile(test::PathFromUtf8(path), check.after);
    } else {
      test::WriteFile(test::PathFromUtf8(path + ".new"), check.after);
      std::filesystem::rename(test::PathFromUtf8(path + ".new"), test::PathFromUtf8(path));
    }
    FileRead again, whole;
    EXPECT_EQ(reader.Scan(path, &again), check.version);
    EXPECT_EQ(ScanVersionLog(path, &whole), check.version);
    EXPECT_EQ(again.Encoding, whole.Encoding);
  }
}

}  // namespace
}  // namespace vesperline
