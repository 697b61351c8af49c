// EscapeJson: any bytes in, the body of a valid JSON string out.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "heartbeat/Json.h"
#include "tests/support/JsonCheck.h"
#include "tests/support/Utf8Reference.h"

namespace vesperline {
namespace {

using namespace std::string_literals;

struct EscapeCase {
  const char* what;
  std::string in;
  std::string out;
};

void ExpectEscapes(const std::vector<EscapeCase>& cases) {
  for (const EscapeCase& c : cases) {
    EXPECT_EQ(EscapeJson(c.in), c.out) << c.what;
  }
}

TEST(EscapeJson, QuoteAndBackslashGetABackslashAndPrintableAsciiStaysAsItIs) {
  ExpectEscapes({
      {"quote", "say \"hi\"", "say \\\"hi\\\""},
      {"backslash", "C:\\Ark\\", "C:\\\\Ark\\\\"},
      {"a backslash before a quote", "\\\"", "\\\\\\\""},
      {"slash and delete are not escaped", "a/b\x7f", "a/b\x7f"},
      {"empty", "", ""},
  });
  std::string printable;
  for (char c = 0x20; c < 0x7f; ++c) {
    if (c != '"' && c != '\\') printable.push_back(c);
  }
  EXPECT_EQ(EscapeJson(printable), printable);
}

TEST(EscapeJson, ControlBytesTakeTheShortFormWhereJsonHasOneAndUnicodeOtherwise) {
  ExpectEscapes({
      {"short forms", "\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
      {"NUL", "a\0b"s, "a\\u0000b"},
      {"U+0001", "\x01", "\\u0001"},
      {"vertical tab", "\x0b", "\\u000b"},
      {"U+0010, the low byte of a narrowed Cyrillic A", "\x10", "\\u0010"},
      {"U+001F", "\x1f", "\\u001f"},
  });
}

TEST(EscapeJson, WellFormedUtf8IsCopiedAtEveryBoundaryOfUnicodesTable) {
  for (const std::string& text : std::vector<std::string>{
           "J\xc3\xb6rg"s,                            // Jörg
           "\xd0\x90\xd0\xbd\xd0\xbd\xd0\xb0"s,       // Анна
           "\xe6\x9d\x8e\xe9\x9b\xb7"s,               // 李雷
           "\xf0\x9f\xa6\x96 Rex"s,                   // 🦖 Rex
           "\xc2\x80"s, "\xdf\xbf"s,                  // U+0080, U+07FF
           "\xe0\xa0\x80"s, "\xed\x9f\xbf"s,          // U+0800, U+D7FF
           "\xee\x80\x80"s, "\xef\xbf\xbf"s,          // U+E000, U+FFFF
           "\xf0\x90\x80\x80"s, "\xf4\x8f\xbf\xbf"s,  // U+10000, U+10FFFF
       }) {
    EXPECT_EQ(EscapeJson(text), text) << ::testing::PrintToString(text);
  }
}

TEST(EscapeJson, EveryByteOutsideWellFormedUtf8IsTakenAsLatin1) {
  ExpectEscapes({
      {"a Latin-1 settings file", "Caf\xe9", "Caf\xc3\xa9"},
      {"overlong two-byte NUL", "\xc0\x80", "\xc3\x80\xc2\x80"},
      {"overlong two-byte", "\xc1\xbf", "\xc3\x81\xc2\xbf"},
      {"overlong three-byte", "\xe0\x80\x80", "\xc3\xa0\xc2\x80\xc2\x80"},
      {"overlong three-byte just below U+0800", "\xe0\x9f\xbf", "\xc3\xa0\xc2\x9f\xc2\xbf"},
      {"overlong four-byte", "\xf0\x80\x80\x80", "\xc3\xb0\xc2\x80\xc2\x80\xc2\x80"},
      {"overlong four-byte just below U+10000", "\xf0\x8f\xbf\xbf",
       "\xc3\xb0\xc2\x8f\xc2\xbf\xc2\xbf"},
      {"high surrogate", "\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},
      {"low surrogate", "\xed\xbf\xbf", "\xc3\xad\xc2\xbf\xc2\xbf"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},
      {"lone continuation bytes", "\x80x\xbf", "\xc2\x80x\xc2\xbf"},
      {"two-byte lead at the end", "a\xc3", "a\xc3\x83"},
      {"three-byte sequence cut at the end", "\xe2\x82", "\xc3\xa2\xc2\x82"},
      {"four-byte sequence cut at the end", "\xf0\x9f\xa6", "\xc3\xb0\xc2\x9f\xc2\xa6"},
      {"a cut sequence before ASCII", "\xe2\x82x", "\xc3\xa2\xc2\x82x"},
      {"a lead before a well-formed sequence", "\xc3\xc3\xa9", "\xc3\x83\xc3\xa9"},
      {"bytes that never occur in UTF-8", "\xf5\xf8\xfe\xff", "\xc3\xb5\xc3\xb8\xc3\xbe\xc3\xbf"},
  });
}

// The plain runs are copied eight bytes at a time: a byte that needs a look must be found at
// whatever position it has within and after such a block.
TEST(EscapeJson, ABytesTreatmentDoesNotDependOnItsPosition) {
  const std::vector<std::pair<std::string, std::string>> specials{
      {"\"", "\\\""},
      {"\\", "\\\\"},
      {"\n", "\\n"},
      {"\x1f", "\\u001f"},
      {"\0"s, "\\u0000"},
      {"\x7f", "\x7f"},
      {"\xe9", "\xc3\xa9"},
      {"\xc3\xa9", "\xc3\xa9"},
      {"\xff", "\xc3\xbf"},
      {"\x80", "\xc2\x80"},
      {"\xf0\x9f\xa6\x96", "\xf0\x9f\xa6\x96"},
  };
  for (const auto& [special, escaped] : specials) {
    for (std::size_t before = 0; before <= 17; ++before) {
      for (std::size_t after : {0, 1, 7, 8, 9}) {
        const std::string in = std::string(before, 'a') + special + std::string(after, 'z');
        const std::string out = std::string(before, 'a') + escaped + std::string(after, 'z');
        ASSERT_EQ(EscapeJson(in), out) << ::testing::PrintToString(in);
      }
    }
  }
}

// Random bytes, biased towards the interesting ones, always give a string body that a strict
// parser reads back as the text a reference decoder expects.
TEST(EscapeJson, AnyBytesReadBackAsTheirUnicodeText) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    const std::string in = test::RandomText(random, 64);
    test::Json parsed;
    std::string quoted(1, '"');
    quoted.append(EscapeJson(in)).append(1, '"');
    ASSERT_TRUE(test::ParseStrictJson(quoted, parsed));
    ASSERT_EQ(parsed.get<std::string>(), test::ReferenceUtf8(in)) << ::testing::PrintToString(in);
  }
}

}  // namespace
}  // namespace vesperline
