// Reading single values out of the server's settings file.
#include <gtest/gtest.h>

#include "discovery/SettingsFile.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

constexpr char kSessionSettings[] = "[/Script/Engine.GameSession]";

TEST(FindIniValueTest, KeysMatchInAnyCaseButSectionsOnlyExactly) {
  const std::string text =
      "[ServerSettings]\n"
      "activemods=111\n"
      "[serversettings]\n"
      "ActiveMods=222\n";
  EXPECT_EQ(FindIniValue(text, "ActiveMods", "ServerSettings"), "111");
  // The lower-case header opens another section, whose value serves only as the fallback.
  EXPECT_EQ(FindIniValue("[serversettings]\nActiveMods=222\n", "ActiveMods", "ServerSettings"),
            "222");
}

TEST(FindIniValueTest, OnlyAKeyAtTheStartOfALineDirectlyBeforeTheEqualsSignCounts) {
  EXPECT_EQ(FindIniValue("[S]\n MaxPlayers=10\n", "MaxPlayers", "S"), "");
  EXPECT_EQ(FindIniValue("[S]\nMaxPlayers =10\n", "MaxPlayers", "S"), "");
  EXPECT_EQ(FindIniValue("[S]\nMaxPlayers= 10\n", "MaxPlayers", "S"), " 10");
  EXPECT_EQ(FindIniValue("[S]\nMaxPlayersLimit=10\n", "MaxPlayers", "S"), "");
  EXPECT_EQ(FindIniValue("[MaxPlayers=10]\n", "MaxPlayers", ""), "") << "a header is no key line";
  EXPECT_EQ(FindIniValue("[S\nMaxPlayers=10\n", "maxplayers", "S"), "10");
}

TEST(FindIniValueTest, ValuesKeepTrailingBlanksAndInlineCommentsButNotTheCarriageReturn) {
  EXPECT_EQ(FindIniValue("[S]\r\nSessionName=My Server  ; comment\r\n", "SessionName", "S"),
            "My Server  ; comment");
}

TEST(FindIniValueTest, TheLastValueInTheRequestedSectionWins) {
  EXPECT_EQ(FindIniValue("[S]\nKey=first\nKey=second\n", "Key", "S"), "second");
}

TEST(FindIniValueTest, AnEmptyLaterValueInTheSectionFallsBackToOtherSections) {
  EXPECT_EQ(FindIniValue("[Other]\nKey=elsewhere\n[S]\nKey=first\nKey=\n", "Key", "S"),
            "elsewhere");
  EXPECT_EQ(FindIniValue("[S]\nKey=first\nKey=\n", "Key", "S"), "");
}

TEST(FindIniValueTest, TheFirstNonEmptyValueOutsideTheSectionIsTheFallback) {
  const std::string text = "Key=\n[A]\nKey=from A\n[B]\nKey=from B\n";
  EXPECT_EQ(FindIniValue(text, "Key", "Missing"), "from A");
  EXPECT_EQ(FindIniValue(text, "Key", ""), "from A");
  EXPECT_EQ(FindIniValue("Key=before any header\n[A]\nKey=a\n", "Key", ""), "before any header");
}

TEST(FindIniValueTest, HeadersWithTextAfterTheBracketOrWithoutOneOpenTheirSection) {
  EXPECT_EQ(FindIniValue("[S] ; the main section\nKey=1\n", "Key", "S"), "1");
  EXPECT_EQ(FindIniValue("[S\nKey=2\n[T]\nKey=3\n", "Key", "S"), "2");
  // Blanks inside the brackets are part of the name.
  EXPECT_EQ(FindIniValue("[ S ]\nKey=4\n", "Key", "S"), "4") << "only as the fallback";
  EXPECT_EQ(FindIniValue("[ S ]\nKey=4\n[S]\nKey=5\n", "Key", "S"), "5");
}

TEST(FindIniValueTest, ALastLineWithoutLineFeedCounts) {
  EXPECT_EQ(FindIniValue(std::string(kSessionSettings) + "\nMaxPlayers=70", "MaxPlayers",
                         "/Script/Engine.GameSession"),
            "70");
}

TEST(FindIniValueTest, ValuesAndSectionNamesLongerThan4096BytesAreCutBeforeTheSplitCharacter) {
  const std::string a4095(4095, 'a');
  const std::string e = "\xC3\xA9";  // two bytes
  const std::pair<std::string, std::string> lines[] = {
      // The rest of the key line up to its line feed, and the value kept.
      {std::string(5000, 'a'), std::string(4096, 'a')},
      {a4095 + e + "\r", a4095},
      {a4095 + "a\r", a4095 + "a"},  // only the carriage return is past the limit: no cut
  };
  for (const auto& [line, kept] : lines) {
    EXPECT_TRUE(FindIniValue("[S]\nKey=" + line + "\n", "Key", "S") == kept) << line.size();
  }
  // The first 4,096 bytes of a longer name open the section they name.
  for (const std::string& header : {"[" + a4095 + e + "]", "[" + a4095 + e + "\r"}) {
    EXPECT_EQ(FindIniValue("Key=elsewhere\n" + header + "\nKey=inside\n", "Key", a4095), "inside");
  }
}

TEST(ReadIniValueTest, AMissingFileGivesEmptyText) {
  test::TempDir dir;
  EXPECT_EQ(ReadIniValue(dir.DirText() + "GameUserSettings.ini", "SessionName", ""), "");
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
  text += u"ActiveMods=1,2\r\nbServerPVE=True\r\nFiller=\U0001F996\r\n";
  test::TempDir dir;
  const std::string path = dir.DirText() + "GameUserSettings.ini";
  test::WriteFile(test::PathFromUtf8(path), test::Utf16LeFile(text));
  const std::vector<IniLookup> lookups{{"SessionName", ""},
                                       {"ActiveMods", "ServerSettings"},
                                       {"bServerPVE", "ServerSettings"},
                                       {"MaxPlayers", "/Script/Engine.GameSession"},
                                       {"filler", "ServerSettings"}};
  EXPECT_EQ(
      ReadIniValues(path, lookups),
      (std::vector<std::string>{"Zo\xC3\xAB's \xC3\x84rk", "1,2", "True", "", "\xF0\x9F\xA6\x96"}));
}

}  // namespace
}  // namespace vesperline
