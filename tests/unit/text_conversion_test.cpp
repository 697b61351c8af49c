// The conversion of UTF-16 to UTF-8 every source of UTF-16 shares. (The conversion of text to a
// number, at its edges, is seeds of the launch_arguments fuzz target, fuzz/corpus/launch_arguments/
// decimal_*, checked against the C library's own conversion in every build.)
#include <gtest/gtest.h>

#include <string>

#include "common/Text.h"

namespace vesperline {
namespace {

// The one conversion of UTF-16 to UTF-8 that engine strings, the command line and UTF-16 files
// all go through.
TEST(Utf16ToUtf8Test, CombinesSurrogatePairsAndReplacesUnpairedOnes) {
  const char* const kReplacement = "\xEF\xBF\xBD";
  const struct {
    const char* what;
    std::u16string in;
    std::string out;
  } cases[] = {
      {"Latin and the euro sign", u"Gr\u00f6\u00dfe \u20ac",
       "Gr\xC3\xB6\xC3\x9F"
       "e \xE2\x82\xAC"},
      {"Cyrillic and Chinese", u"\u0416\u4E2D", "\xD0\x96\xE4\xB8\xAD"},
      {"a pair", u"\U0001F996", "\xF0\x9F\xA6\x96"},
      {"the edges of each length", u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF",
       "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
      {"a lone high surrogate", {u'a', 0xD83E, u'b'}, std::string("a") + kReplacement + "b"},
      {"a lone low surrogate", {u'a', 0xDD96}, std::string("a") + kReplacement},
      {"a pair in the wrong order", {0xDD96, 0xD83E}, std::string(kReplacement) + kReplacement},
      {"a high surrogate at the end", {u'a', 0xD83E}, std::string("a") + kReplacement},
      {"zero units are units", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& check : cases) EXPECT_EQ(Utf16ToUtf8(check.in), check.out) << check.what;
}

// A text cut at a byte limit loses the character the cut split, and only that: a lead byte whose
// sequence the cut left short goes, with what follows it; a whole sequence, or bytes that were no
// UTF-8 to begin with, stay. The lead bytes are the first and the last of each length; a text may
// be nothing but the split character.
TEST(CompleteUtf8LengthTest, DropsOnlyTheCharacterTheCutSplit) {
  const struct {
    std::string text;
    std::size_t length;
  } cases[] = {
      {"v1.\xC2", 3},
      {"v1.\xDF", 3},
      {"v1.\xDF\xBF", 5},
      {"v1.\xE0\xA0", 3},
      {"v1.\xEF", 3},
      {"v1.\xEF\xBF", 3},
      {"v1.\xEF\xBF\xBF", 6},
      {"v1.\xF0\x90\x80", 3},
      {"v1.\xF4\x8F\xBF", 3},
      {"v1.\xF4\x8F\xBF\xBF", 7},
      {"v1.\xBF\xBF\xBF", 6},
      {"v1.\xF8", 4},
      {"\xDF", 0},
      {"\xEF\xBF", 0},
      {"\xF4\x8F\xBF", 0},
      {"", 0},
  };
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    EXPECT_EQ(CompleteUtf8Length(cases[row].text), cases[row].length) << "row " << row;
  }
}

}  // namespace
}  // namespace vesperline
