// Finding the game version in the server's log.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "common/Text.h"
#include "discovery/ServerLog.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

// The plain reading the block-wise scanner must agree with: line by line, the last marker line
// wins, its value trimmed at the end.
std::optional<std::string> LineByLineVersion(const std::string& log) {
  std::optional<std::string> version;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find(kVersionMarker);
    if (at == std::string::npos) continue;
    std::string value = line.substr(at + kVersionMarker.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    version = value;
  }
  return version;
}

std::optional<std::string> ScanInPieces(const std::string& log, std::size_t piece) {
  VersionScanner scanner;
  for (std::size_t at = 0; at < log.size(); at += piece) {
    scanner.Feed(log.data() + at, std::min(piece, log.size() - at));
  }
  scanner.Finish();
  return scanner.Version();
}

TEST(VersionScanTest, TakesTheTextAfterTheMarkerTrimmedAtItsEndOnly) {
  EXPECT_EQ(FindVersionInLog("[2024.05.01-10.00.00:000][  0]LogInit: ARK Version: 74.24 \r\n"),
            "74.24");
  EXPECT_EQ(FindVersionInLog("ARK Version:  74.24 (build 5) \r \n"), " 74.24 (build 5)");
}

TEST(VersionScanTest, TheLastMarkerLineWins) {
  EXPECT_EQ(FindVersionInLog("ARK Version: 1.0\nother\nARK Version: 2.0\nmore\n"), "2.0");
  // Even when the last one is empty: the next heartbeat then looks again.
  EXPECT_EQ(FindVersionInLog("ARK Version: 1.0\nARK Version: \n"), "");
}

TEST(VersionScanTest, TheMarkerMustMatchExactly) {
  EXPECT_EQ(FindVersionInLog("ark version: 1.0\nARK VERSION: 2.0\nARK Version:3.0\n"),
            std::nullopt);
  EXPECT_EQ(FindVersionInLog(""), std::nullopt);
}

TEST(VersionScanTest, OnlyTheFirstMarkerOfALineStartsTheValue) {
  EXPECT_EQ(FindVersionInLog("ARK Version: 1 ARK Version: 2\n"), "1 ARK Version: 2");
}

TEST(VersionScanTest, ALastLineWithoutLineFeedCounts) {
  EXPECT_EQ(FindVersionInLog("x\nARK Version: 3.1"), "3.1");
}

TEST(VersionScanTest, AgreesWithALineByLineReadingInEverySplit) {
  const std::string log =
      "[0]LogInit: Build: ++UE5\r\nARK Version: 55.1 \r\nAR\nARK\nARK Version\n"
      "xxARK Version: 56.2\r\nARK Version: 57.3";
  const auto expected = LineByLineVersion(log);
  ASSERT_EQ(expected, "57.3");
  for (std::size_t piece = 1; piece <= log.size(); ++piece) {
    ASSERT_EQ(ScanInPieces(log, piece), expected) << "pieces of " << piece;
  }
}

TEST(VersionScanTest, AgreesWithALineByLineReadingOnGeneratedLogs) {
  std::mt19937 random(20261206);
  const std::string fragments[] = {"ARK Version: ",
                                   "ARK Version:",
                                   "AR",
                                   "K Version: ",
                                   "\n",
                                   "\r\n",
                                   " ",
                                   "74.",
                                   "LogNet: Join ",
                                   "A",
                                   "K"};
  for (int round = 0; round < 200; ++round) {
    std::string log;
    const int parts = static_cast<int>(random() % 60);
    for (int i = 0; i < parts; ++i) log += fragments[random() % std::size(fragments)];
    const auto expected = LineByLineVersion(log);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{13},
                                    std::size_t{64}, log.size() + 1}) {
      ASSERT_EQ(ScanInPieces(log, piece), expected) << "log " << round << ", pieces of " << piece;
    }
  }
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

TEST(VersionLogFileTest, AMissingLogGivesNothing) {
  test::TempDir dir;
  EXPECT_EQ(ScanVersionLog(dir.DirText() + "ShooterGame.log"), std::nullopt);
}

TEST(VersionLogFileTest, AUtf16LogIsConvertedFirst) {
  test::TempDir dir;
  const std::string path = dir.DirText() + "ShooterGame.log";
  test::WriteFile(test::PathFromUtf8(path),
                  test::Utf16LeFile(u"Log: start\r\nLogInit: ARK Version: 74.24\r\n"));
  EXPECT_EQ(ScanVersionLog(path), "74.24");
}

// ---- The log read as it grows ----------------------------------------------------------------

TEST(VersionLogReaderTest, ALogReadAsItGrowsGivesWhatAReadOfTheWholeLogGives) {
  // Pieces of every length end inside lines, markers, the byte-order mark, UTF-8 sequences,
  // UTF-16 units and surrogate pairs.
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
    const std::string bytes = round % 3 == 0   ? test::Utf16LeFile(text)
                              : round % 3 == 1 ? "\xEF\xBB\xBF" + Utf16ToUtf8(text)
                                               : Utf16ToUtf8(text);
    test::TempDir dir;
    const std::string path = dir.DirText() + "ShooterGame.log";
    test::WriteFile(test::PathFromUtf8(path), "");
    VersionLogReader reader;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t piece = std::min<std::size_t>(1 + random() % 9, bytes.size() - at);
      std::ofstream(test::PathFromUtf8(path), std::ios::binary | std::ios::app)
          << bytes.substr(at, piece);
      at += piece;
      ASSERT_EQ(reader.Scan(path), ScanVersionLog(path)) << "round " << round << ", " << at;
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

}  // namespace
}  // namespace vesperline
