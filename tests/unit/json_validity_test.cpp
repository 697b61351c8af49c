// The checker's own JSON validity check: valid texts pass, and the first fault of an invalid one
// is placed by line and column and named in words an admin can act on. That it agrees with an
// independent parser on any input, the config fuzz target shows.
#include <gtest/gtest.h>

#include <string>

#include "tools/check/text/JsonValidity.h"

namespace vesperline::check {
namespace {

TEST(JsonValidityTest, ValidTextsPass) {
  for (const char* text :
       {"{}", " [ ] ", "{\"token\": \"t\", \"ip\": \"1.2.3.4\", \"port\": 7777}\r\n",
        "{\"a\": [true, false, null, -0, 0.5, 1e5, -2E-3, \"\\u00e9\\ud83d\\ude00\\\\\\/\"]}",
        "\"\xC3\xA4rger \xF0\x9F\xA6\x96\"", "{\"a\": {\"b\": [[]]}}"}) {
    EXPECT_FALSE(FirstJsonFault(text)) << text;
  }
}

TEST(JsonValidityTest, TheFirstFaultIsPlacedAndNamed) {
  const struct {
    const char* text;
    std::size_t line;
    std::size_t column;
    JsonFaultKind kind;
    const char* words;  // a part of What
  } cases[] = {
      {"{\n  \"token\": \"t\",\n  \"port\": ${GAME_PORT}\n}", 3, 11, JsonFaultKind::kSyntax,
       "${GAME_PORT} stands where a value belongs"},
      {"{\"port\": 7777,\r\n}", 1, 14, JsonFaultKind::kCommaAfterLast,
       "a comma follows the last member"},
      {"[1, 2,]", 1, 6, JsonFaultKind::kCommaAfterLast, "the last element"},
      {"{\"a\": 1 \"b\": 2}", 1, 9, JsonFaultKind::kCommaMissing, "a comma is missing"},
      {"{\r\n  // old\r\n}", 2, 3, JsonFaultKind::kComment, "a comment (//)"},
      {"{'token': 't'}", 1, 2, JsonFaultKind::kSyntax, "JSON writes names and texts in double"},
      {"{\"a\": True}", 1, 7, JsonFaultKind::kSyntax, "in small letters"},
      {"{\"a\": \"\xC3\xA4\tb\"}", 1, 9, JsonFaultKind::kText, "control character (U+0009)"},
      {"{\"a\": \"\xC3\x28\"}", 1, 8, JsonFaultKind::kText, "no UTF-8"},
      {"{\"a\": \"C:\\ARK\"}", 1, 10, JsonFaultKind::kSyntax, "\\A"},
      {"[\"\\ud83d\"]", 1, 3, JsonFaultKind::kSyntax, "without its second"},
      {"{\"a\": 01}", 1, 7, JsonFaultKind::kSyntax, "no 0 before other digits"},
      {"{\"a\": \"never closed}", 1, 7, JsonFaultKind::kSyntax, "never closed"},
      {"{\"a\": 1}}", 1, 9, JsonFaultKind::kSyntax, "'}' follows the end"},
      {"{\"a\": [1, 2", 1, 12, JsonFaultKind::kSyntax, "the file ends where ',' or ']'"},
      {"", 1, 1, JsonFaultKind::kSyntax, "the file ends where a value belongs"},
      {"[1,\r2,\r\n\xC3\xA4x]", 3, 1, JsonFaultKind::kSyntax, "\xC3\xA4x stands"},
      {"[\"a\",\r\"b\"\r\n, \xC3\xA4]", 3, 3, JsonFaultKind::kSyntax, "\xC3\xA4 stands"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.text);
    const std::optional<JsonFault> fault = FirstJsonFault(test.text);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->Line, test.line);
    EXPECT_EQ(fault->Column, test.column);
    EXPECT_EQ(fault->Kind, test.kind);
    EXPECT_NE(fault->What.find(test.words), std::string::npos) << fault->What;
  }
}

// A text nested far deeper than any stack would take recursion for is read all the same.
TEST(JsonValidityTest, DeepNestingIsReadWithoutRecursion) {
  const std::size_t depth = 1 << 20;
  std::string text(depth, '[');
  text.append(depth, ']');
  EXPECT_FALSE(FirstJsonFault(text));
  text.pop_back();
  const std::optional<JsonFault> fault = FirstJsonFault(text);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->Offset, text.size());
}

}  // namespace
}  // namespace vesperline::check
