// The conversions every scanner shares: text to a number, and UTF-16 to UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "common/Decimal.h"
#include "common/Text.h"

namespace vesperline {
namespace {

TEST(ParseDecimal32Test, TakesLeadingWhiteSpaceOneSignAndTheDigitsUpToTheFirstOtherByte) {
  EXPECT_EQ(ParseDecimal32("7777"), 7777);
  EXPECT_EQ(ParseDecimal32(" \t\n\v\f\r7777"), 7777);
  EXPECT_EQ(ParseDecimal32("+42"), 42);
  EXPECT_EQ(ParseDecimal32("-42"), -42);
  EXPECT_EQ(ParseDecimal32("7777?QueryPort=27015 -port=1"), 7777);
  EXPECT_EQ(ParseDecimal32("7777.5"), 7777);
  EXPECT_EQ(ParseDecimal32("0x1F"), 0);
  EXPECT_EQ(ParseDecimal32("000000000000000000000000012"), 12);
}

TEST(ParseDecimal32Test, NoDigitIsNoValue) {
  EXPECT_EQ(ParseDecimal32(""), std::nullopt);
  EXPECT_EQ(ParseDecimal32("   "), std::nullopt);
  EXPECT_EQ(ParseDecimal32("-"), std::nullopt);
  EXPECT_EQ(ParseDecimal32("+-5"), std::nullopt);
  EXPECT_EQ(ParseDecimal32("- 5"), std::nullopt);
  EXPECT_EQ(ParseDecimal32("\"7777\""), std::nullopt);
  EXPECT_EQ(ParseDecimal32("abc"), std::nullopt);
  // A no-break space is not white space to the conversion.
  EXPECT_EQ(ParseDecimal32("\xC2\xA0"
                           "5"),
            std::nullopt);
}

TEST(ParseDecimal32Test, TheSigned32BitRangeIsKeptExactly) {
  EXPECT_EQ(ParseDecimal32("2147483647"), 2147483647);
  EXPECT_EQ(ParseDecimal32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseDecimal32("2147483648"), std::nullopt);
  EXPECT_EQ(ParseDecimal32("-2147483649"), std::nullopt);
  EXPECT_EQ(ParseDecimal32("99999999999999999999999999999999"), std::nullopt);
  EXPECT_EQ(ParseDecimal32(std::string(100000, '9')), std::nullopt);
}

TEST(Utf16ToUtf8Test, CombinesSurrogatePairsAndReplacesUnpairedOnes) {
  EXPECT_EQ(Utf16ToUtf8(u"Gr\u00f6\u00dfe \u20ac"),
            "Gr\xC3\xB6\xC3\x9F"
            "e \xE2\x82\xAC");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F996"), "\xF0\x9F\xA6\x96");
  const std::u16string unpaired{u'a', char16_t{0xD83E}, u'b', char16_t{0xDD96}, char16_t{0xD83E}};
  EXPECT_EQ(Utf16ToUtf8(unpaired),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD\xEF\xBF\xBD");
  // Units that stand for no character of their own must not be swallowed.
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace vesperline
