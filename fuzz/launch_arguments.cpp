// Every launch-argument scan over any command line: Windows' split gives back what the join wrote,
// the engine's line and its map URL agree with a plain reading of their rules, the '?' options
// come from the map URL only, and nothing published holds a password word.
// Input: the command line.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CommandLine.h"
#include "discovery/LaunchArguments.h"
#include "fuzz/FuzzSupport.h"

namespace {

using namespace vesperline;
using namespace vesperline::fuzz;

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& byte : lowered) {
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte + ('a' - 'A'));
  }
  return lowered;
}

bool IsSpace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == '\v' ||
         byte == '\f';
}

std::vector<std::string> Values(const std::vector<CommandLineArgument>& arguments) {
  std::vector<std::string> values;
  for (const CommandLineArgument& argument : arguments) values.push_back(argument.Value);
  return values;
}

// The engine's line: " " before each argument after the program; one with a space quoted whole,
// or behind the first '=' of a dash option.
std::string ReferenceEngineLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    line += ' ';
    if (argument.find(' ') == std::string::npos) {
      line += argument;
    } else if (argument[0] == '-' && argument.find('=') != std::string::npos) {
      const std::size_t equals = argument.find('=');
      line += argument.substr(0, equals + 1) + '"' + argument.substr(equals + 1) + '"';
    } else {
      line += '"' + argument + '"';
    }
  }
  return line;
}

// The first token: a quoted one without its quotes, else up to white space outside quotes.
std::optional<std::string> ReferenceMapUrl(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && IsSpace(line[i])) ++i;
  std::string token;
  if (i < line.size() && line[i] == '"') {
    for (++i; i < line.size() && line[i] != '"'; ++i) token += line[i];
  } else {
    int quotes = 0;
    for (; i < line.size() && (quotes % 2 == 1 || !IsSpace(line[i])); ++i) {
      quotes += line[i] == '"';
      token += line[i];
    }
  }
  if (token.empty() || token[0] == '-') return std::nullopt;
  const bool exe = token.size() >= 4 && Lowered(token.substr(token.size() - 4)) == ".exe";
  if (exe && token.find('?') == std::string::npos) return std::nullopt;
  return token;
}

std::optional<std::string> ReferenceQuestion(const std::optional<std::string>& url,
                                             std::string_view key) {
  if (!url) return std::nullopt;
  const std::size_t at = Lowered(*url).find(key);
  if (at == std::string::npos) return std::nullopt;
  const std::string value = url->substr(at + key.size());
  return value.substr(0, value.find('?'));
}

std::optional<std::string> Trimmed(const std::optional<std::string>& value,
                                   std::string_view stripped) {
  if (!value) return std::nullopt;
  const std::size_t from = value->find_first_not_of(stripped);
  if (from == std::string::npos) return std::nullopt;
  return value->substr(from, value->find_last_not_of(stripped) + 1 - from);
}

std::optional<std::int32_t> ReferenceDashNumber(std::string_view engineLine, std::string_view key) {
  const std::optional<std::string> value = ReferenceDashOption(engineLine, key);
  if (!value) return std::nullopt;
  return ReferenceDecimal(*value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(AsText(data, size));
  const LaunchLine line = ReadLaunchLine(text);
  FUZZ_CHECK(line.Text == text);

  // Windows' split: every argument lies in the line where it says, and the join of what it gave
  // splits back into the same. A program knows no escapes, so one holding a quote or ending in a
  // backslash (which no file name does) is not written back.
  const std::vector<std::string> arguments = Values(line.Arguments);
  for (const CommandLineArgument& argument : line.Arguments) {
    FUZZ_CHECK(argument.Start <= argument.End && argument.End <= text.size());
  }
  if (!arguments.empty() && arguments[0].find('"') == std::string::npos &&
      !arguments[0].ends_with('\\')) {
    std::string nulSeparated;
    bool joinable = true;
    for (const std::string& argument : arguments) {
      joinable = joinable && argument.find('\0') == std::string::npos;
      nulSeparated += argument + '\0';
    }
    if (joinable) {
      FUZZ_CHECK(Values(SplitCommandLine(JoinProcessArguments(nulSeparated)).Arguments) ==
                 arguments);
    }
  }

  // The engine's line and its map URL.
  FUZZ_CHECK(line.EngineLine == ReferenceEngineLine(arguments));
  FUZZ_CHECK(line.MapUrl == ReferenceMapUrl(line.EngineLine));
  if (line.Map) {
    FUZZ_CHECK(line.MapUrl->find(*line.Map) != std::string::npos);
    FUZZ_CHECK(line.Map->find('?') == std::string::npos);
    if (!line.Map->empty()) {
      FUZZ_CHECK(line.Map->front() != '"' && line.Map->front() != '\\');
      FUZZ_CHECK(line.Map->back() != '"' && line.Map->back() != '\\');
    }
  }

  // '?' options from the map URL only; dash options as the engine's own value reader takes them.
  const LaunchPort port = ScanLaunchPort(line);
  const auto question = ReferenceQuestion(line.MapUrl, "?port=");
  const auto questionPort = question ? ReferenceDecimal(*question) : std::nullopt;
  const auto dashPort = ReferenceDashNumber(line.EngineLine, "-port=");
  const auto expectedPort = questionPort && *questionPort >= 1 ? questionPort
                            : dashPort                         ? dashPort
                                                               : questionPort;
  FUZZ_CHECK(port.Port() == expectedPort);
  FUZZ_CHECK(LaunchNumberFrom(line, kWinLiveMaxPlayersKey).Value ==
             ReferenceDashNumber(line.EngineLine, "-winlivemaxplayers="));
  FUZZ_CHECK(DashOption(line.EngineLine, kDashMaxPlayersKey) ==
             ReferenceDashOption(line.EngineLine, "-maxplayers="));
  FUZZ_CHECK(ScanLaunchSessionName(line) ==
             Trimmed(ReferenceQuestion(line.MapUrl, "?sessionname="), "\"' \t"));
  FUZZ_CHECK(ScanLaunchPve(line) ==
             Trimmed(ReferenceQuestion(line.MapUrl, "?serverpve="), "\" \t"));

  // The mod list runs to the end of the first argument after the program that holds the key.
  std::optional<std::string> mods;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::size_t at = Lowered(arguments[i]).find("-mods=");
    if (at == std::string::npos) continue;
    mods = Trimmed(arguments[i].substr(at + 6), std::string_view("\" \t\r\n\v\f", 7));
    break;
  }
  FUZZ_CHECK(ScanLaunchMods(line) == mods);

  // What is published holds no password word, and is the start of the text when cut.
  for (const std::optional<std::string>& value : {ScanLaunchSessionName(line), mods, line.Map}) {
    if (!value) continue;
    const std::string kept = WithoutPasswords(*value);
    FUZZ_CHECK(!HoldsPassword(kept));
    FUZZ_CHECK(HoldsPassword(*value) || kept == *value);
    FUZZ_CHECK(value->find(kept) != std::string::npos);
  }
  return 0;
}
