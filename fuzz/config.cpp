// config.json's extractors and the start-up gate over any text: each extractor agrees with a plain
// reading of its rules, and LoadConfig takes exactly what they give, with the launch-argument
// port as its fallback, reading the command line only then. The checker's own JSON validity check
// agrees with an independent strict parser, and places its fault inside the text.
// Input: config text, then optionally 0x1E and a command line, then 0x1E and a key of one's own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/ConfigFile.h"
#include "discovery/LaunchArguments.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/StrictJson.h"
#include "tools/check/text/JsonValidity.h"

namespace {

using namespace vesperline;
using namespace vesperline::fuzz;

// Where the value of key begins: the byte after the first ':' behind the quoted key.
std::optional<std::size_t> ReferenceAfterColon(std::string_view text, std::string_view key) {
  std::string needle(1, '"');
  needle.append(key).append(1, '"');
  const std::size_t at = text.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t colon = text.find(':', at);
  if (colon == std::string_view::npos) return std::nullopt;
  return colon + 1;
}

std::string ReferenceString(std::string_view text, std::string_view key) {
  const auto after = ReferenceAfterColon(text, key);
  if (!after) return "";
  const std::size_t open = text.find('"', *after);
  if (open == std::string_view::npos) return "";
  const std::size_t close = text.find('"', open + 1);
  if (close == std::string_view::npos) return "";
  return std::string(text.substr(open + 1, close - open - 1));
}

std::int32_t ReferenceInt(std::string_view text, std::string_view key) {
  const auto after = ReferenceAfterColon(text, key);
  if (!after) return 0;
  const std::size_t start = text.find_first_not_of(" \t\r\n", *after);
  if (start == std::string_view::npos) return 0;
  return ReferenceDecimal(text.substr(start)).value_or(0);
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts = SplitParts(AsText(data, size), 3);
  const std::string text(parts[0]);
  const std::string commandLine(parts[1]);
  const std::string_view ownKey = parts[2];

  for (const std::string_view key :
       {std::string_view("token"), std::string_view("ip"), std::string_view("port"), ownKey}) {
    const std::string value = ReadJsonString(text, key);
    FUZZ_CHECK(value == ReferenceString(text, key));
    FUZZ_CHECK(!Contains(value, "\""));
    FUZZ_CHECK(ReadJsonInt(text, key) == ReferenceInt(text, key));
  }

  int commandLineReads = 0;
  const LaunchLine launch = ReadLaunchLine(std::string(commandLine));
  ServerFacts facts;
  facts.SessionName = "kept";
  const bool usable = LoadConfig(facts, text, [&]() -> const LaunchLine& {
    ++commandLineReads;
    return launch;
  });
  FUZZ_CHECK(facts.Token == ReadJsonString(text, "token"));
  FUZZ_CHECK(facts.ServerIp == ReadJsonString(text, "ip"));
  FUZZ_CHECK(facts.SessionName == "kept");
  const std::int32_t filePort = ReadJsonInt(text, "port");
  if (filePort >= 1) {
    FUZZ_CHECK(commandLineReads == 0);
    FUZZ_CHECK(facts.ServerPort == filePort);
  } else {
    FUZZ_CHECK(commandLineReads == 1);
    FUZZ_CHECK(facts.ServerPort == ScanLaunchPort(launch).Port().value_or(filePort));
  }
  FUZZ_CHECK(usable == (!facts.Token.empty() && !facts.ServerIp.empty() && facts.ServerPort >= 1));
  FUZZ_CHECK(usable == HasUsableConfig(facts));

  // Collecting the sources changes nothing. (That the token's value never shows in the notes the
  // checker's golden reports show.)
  ServerFacts noted;
  ConfigSources sources;
  FUZZ_CHECK(LoadConfig(
                 noted, text, [&]() -> const LaunchLine& { return launch; }, &sources) == usable);
  FUZZ_CHECK(noted.Token == facts.Token && noted.ServerIp == facts.ServerIp &&
             noted.ServerPort == facts.ServerPort);

  ServerFacts untouched;
  untouched.Token = "before";
  FUZZ_CHECK(!LoadConfig(untouched, std::nullopt, [&]() -> const LaunchLine& {
    Fail("the command line is read without a config.json", __FILE__, __LINE__);
  }));
  FUZZ_CHECK(untouched.Token == "before");

  // The parser skips a byte-order mark, which the checker's decoding has taken off before, takes a
  // zero byte for the end of its input, where JSON allows none at all, and stops at a number
  // beyond a double's range, which JSON allows: there it cannot judge the rest.
  const std::optional<check::JsonFault> fault = check::FirstJsonFault(text);
  if (text.find('\0') != std::string::npos) {
    FUZZ_CHECK(fault);
  } else if (!text.starts_with("\xEF\xBB\xBF")) {
    std::optional<bool> valid;
    try {
      const test::Json parsed = test::Json::parse(text);
      valid = !parsed.is_discarded();
    } catch (const test::Json::parse_error&) {
      valid = false;
    } catch (const test::Json::out_of_range&) {
    }
    if (valid) FUZZ_CHECK(!fault == *valid);
  }
  if (fault) {
    FUZZ_CHECK(fault->Offset <= text.size());
    FUZZ_CHECK(fault->Line >= 1 && fault->Column >= 1 && !fault->What.empty());
    FUZZ_CHECK(
        fault->Line <=
        1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + fault->Offset, '\n') +
                                     std::count(text.begin(), text.begin() + fault->Offset, '\r')));
  }
  return 0;
}
