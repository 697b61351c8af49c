// Every launch-argument scan over any command line: the split into arguments, the server's first
// argument and the number and text scans agree with a plain reading of their rules, and the map is
// always a clean piece of the line.
// Input: the command line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

bool IsBlank(char byte) {
  return byte == ' ' || byte == '\t';
}

// A quote with a backslash right before it is of the escaped kind; each kind pairs only with the
// next quote of its own kind.
bool EscapedQuoteAt(std::string_view line, std::size_t i) {
  return line[i] == '"' && i > 0 && line[i - 1] == '\\';
}

// The arguments as [start, end) pairs: a quote skips to its partner, if it has one, and blanks
// elsewhere separate.
std::vector<std::pair<std::size_t, std::size_t>> ReferenceArguments(std::string_view line) {
  constexpr std::size_t kNone = std::string_view::npos;
  std::vector<std::pair<std::size_t, std::size_t>> arguments;
  std::size_t start = kNone;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (IsBlank(line[i])) {
      if (start != kNone) arguments.emplace_back(start, i);
      start = kNone;
      continue;
    }
    if (start == kNone) start = i;
    if (line[i] != '"') continue;
    for (std::size_t j = i + 1; j < line.size(); ++j) {
      if (line[j] == '"' && EscapedQuoteAt(line, j) == EscapedQuoteAt(line, i)) {
        i = j;
        break;
      }
    }
  }
  if (start != kNone) arguments.emplace_back(start, line.size());
  return arguments;
}

// The first argument: the one that holds the first byte of the map token, or the next argument
// when that byte is a blank.
std::optional<std::string_view> ReferenceFirstArgument(std::string_view line,
                                                       std::optional<std::size_t> mapStart) {
  if (!mapStart) return std::nullopt;
  for (const auto& [start, end] : ReferenceArguments(line)) {
    if (end > *mapStart) return line.substr(start, end - start);
  }
  return std::nullopt;
}

// The value of a '?' key inside the first argument, up to the next '?'.
std::optional<std::string_view> ReferenceQuestion(std::optional<std::string_view> first,
                                                  std::string_view key) {
  if (!first) return std::nullopt;
  const std::size_t at = Lowered(*first).find(key);
  if (at == std::string::npos) return std::nullopt;
  std::string_view value = first->substr(at + key.size());
  return value.substr(0, value.find('?'));
}

// A dash key's value: everything behind its first occurrence anywhere.
std::optional<std::string_view> ReferenceDash(std::string_view line, std::string_view key) {
  const std::size_t at = Lowered(line).find(key);
  if (at == std::string::npos) return std::nullopt;
  return line.substr(at + key.size());
}

std::optional<std::int32_t> ReferenceNumber(std::string_view line,
                                            std::optional<std::string_view> first,
                                            std::string_view key) {
  const auto value = key.front() == '?' ? ReferenceQuestion(first, key) : ReferenceDash(line, key);
  return value ? ReferenceDecimal(*value) : std::nullopt;
}

bool Occurs(std::string_view line, std::optional<std::string_view> first, std::string_view key) {
  return (key.front() == '?' ? ReferenceQuestion(first, key) : ReferenceDash(line, key)) !=
         std::nullopt;
}

// \" read as a quote, then the given bytes taken off both ends.
std::optional<std::string> ReferenceClean(std::optional<std::string_view> raw,
                                          std::string_view stripped) {
  if (!raw) return std::nullopt;
  std::string value;
  for (std::size_t i = 0; i < raw->size(); ++i) {
    if (!((*raw)[i] == '\\' && i + 1 < raw->size() && (*raw)[i + 1] == '"')) value += (*raw)[i];
  }
  const std::size_t from = value.find_first_not_of(stripped);
  if (from == std::string::npos) return std::nullopt;
  return value.substr(from, value.find_last_not_of(stripped) + 1 - from);
}

// The mod list runs to the end of the argument that holds its key.
std::optional<std::string_view> ReferenceModsValue(std::string_view line) {
  const std::size_t at = Lowered(line).find("-mods=");
  if (at == std::string::npos) return std::nullopt;
  for (const auto& [start, end] : ReferenceArguments(line)) {
    if (start <= at && at < end) return line.substr(at + 6, end - at - 6);
  }
  return std::nullopt;
}

// Where the map scan's last token starts: behind the executable path (in quotes, or up to the
// first space), spaces skipped, passing over "start" and ".exe" tokens ended by a space.
std::optional<std::size_t> ReferenceMapStart(std::string_view line) {
  std::size_t pos = 0;
  if (!line.empty() && line[0] == '"') {
    pos = line.find('"', 1);
    if (pos == std::string_view::npos) return std::nullopt;
    ++pos;
  } else {
    pos = line.find(' ');
    if (pos == std::string_view::npos) return std::nullopt;
  }
  std::optional<std::size_t> taken;
  for (;;) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size()) return taken;
    taken = pos;
    const std::size_t end = std::min(line.find('?', pos), line.find(' ', pos));
    std::string_view token = line.substr(pos, end == std::string_view::npos ? end : end - pos);
    while (!token.empty() && (token.front() == '"' || token.front() == '\\'))
      token.remove_prefix(1);
    while (!token.empty() && (token.back() == '"' || token.back() == '\\')) token.remove_suffix(1);
    const bool passed = token == "start" ||
                        (token.size() >= 4 && Lowered(token.substr(token.size() - 4)) == ".exe");
    if (!passed || end == std::string_view::npos || line[end] == '?') return taken;
    pos = end;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(AsText(data, size));
  const LaunchLine line = SplitLaunchLine(text);
  FUZZ_CHECK(line.Text == text);
  const std::optional<std::string_view> first =
      ReferenceFirstArgument(text, ReferenceMapStart(text));
  FUZZ_CHECK(line.First.has_value() == first.has_value());
  if (first) FUZZ_CHECK(ArgumentText(line, line.Arguments[*line.First]) == *first);
  const auto arguments = ReferenceArguments(text);
  FUZZ_CHECK(line.Arguments.size() == arguments.size());
  for (std::size_t i = 0; i < arguments.size() && i < line.Arguments.size(); ++i) {
    FUZZ_CHECK(line.Arguments[i].Start == arguments[i].first);
    FUZZ_CHECK(line.Arguments[i].End == arguments[i].second);
  }

  // The port: "?port=" when it gives 1 or more, else "-port=" when it converts, else "?port=".
  const LaunchPort launchPort = ScanLaunchPort(line);
  const std::optional<std::int32_t> port = launchPort.Port();
  const auto question = ReferenceNumber(text, first, "?port=");
  const auto dash = ReferenceNumber(text, first, "-port=");
  const auto expectedPort = question && *question >= 1 ? question : dash ? dash : question;
  FUZZ_CHECK(port == expectedPort);
  if (port) FUZZ_CHECK(ReferenceNumber(text, first, launchPort.Deciding()->Key) == port);

  // The player limit: the first key of the three that occurs decides, converted or not.
  const LaunchNumber limit = ScanLaunchMaxPlayers(line);
  bool decided = false;
  for (const std::string_view key : kMaxPlayersKeys) {
    if (decided || !Occurs(text, first, key)) continue;
    decided = true;
    FUZZ_CHECK(limit.Found && limit.Key == key);
    FUZZ_CHECK(limit.Value == ReferenceNumber(text, first, key));
  }
  FUZZ_CHECK(limit.Found == decided);
  if (!decided) FUZZ_CHECK(!limit.Value);

  FUZZ_CHECK(ScanLaunchSessionName(line) ==
             ReferenceClean(ReferenceQuestion(first, "?sessionname="), "\"' \t"));
  FUZZ_CHECK(ScanLaunchMods(line) == ReferenceClean(ReferenceModsValue(text), "\" \t"));
  FUZZ_CHECK(ScanLaunchPve(line) ==
             ReferenceClean(ReferenceQuestion(first, "?serverpve="), "\" \t"));

  // The map: a piece of the line behind the executable path, ended before a '?' or space, with no
  // double quote or backslash at either end.
  FUZZ_CHECK(line.Map == ScanLaunchMap(text));
  if (const std::optional<std::string>& map = line.Map) {
    FUZZ_CHECK(text.find(*map) != std::string::npos);
    FUZZ_CHECK(map->find_first_of("? ") == std::string::npos);
    if (!map->empty()) {
      FUZZ_CHECK(map->front() != '"' && map->front() != '\\');
      FUZZ_CHECK(map->back() != '"' && map->back() != '\\');
    }
    FUZZ_CHECK(text.find(' ') != std::string::npos || text.front() == '"');
  }
  return 0;
}
