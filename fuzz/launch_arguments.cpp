// Every launch-argument scan over any command line: the number and text scans agree with a plain
// reading of their rules, and the map is always a clean piece of the line.
// Input: the command line.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/LaunchArguments.h"
#include "fuzz/FuzzSupport.h"

namespace {

using namespace vesperline;
using namespace vesperline::fuzz;

// The text behind the first occurrence of key, found without regard to ASCII case.
std::optional<std::string_view> ReferenceRest(std::string_view line, std::string_view key) {
  std::string lowered(line);
  for (char& byte : lowered) {
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte + ('a' - 'A'));
  }
  const std::size_t at = lowered.find(key);
  if (at == std::string::npos) return std::nullopt;
  return line.substr(at + key.size());
}

std::optional<std::int32_t> ReferenceNumber(std::string_view line, std::string_view key) {
  const auto rest = ReferenceRest(line, key);
  return rest ? ReferenceDecimal(*rest) : std::nullopt;
}

bool IsBlank(char byte) {
  return byte == ' ' || byte == '\t';
}

// The session name runs from behind its key to the first '?', or to the quote that closes a quoted
// section open where it starts, or (outside quotes) to blanks followed by a dash and a letter.
std::optional<std::string> ReferenceSessionName(std::string_view line) {
  const auto rest = ReferenceRest(line, "?sessionname=");
  if (!rest) return std::nullopt;
  const std::size_t start = line.size() - rest->size();
  // inside[i]: an odd number of double quotes stands before position i.
  std::vector<bool> inside(line.size() + 1, false);
  for (std::size_t i = 0; i < line.size(); ++i) inside[i + 1] = inside[i] != (line[i] == '"');
  std::size_t end = start;
  for (; end < line.size(); ++end) {
    if (line[end] == '?') break;
    if (inside[start] && line[end] == '"') break;
    if (!inside[start] && !inside[end] && IsBlank(line[end])) {
      std::size_t dash = end;
      while (dash < line.size() && IsBlank(line[dash])) ++dash;
      if (dash + 1 < line.size() && line[dash] == '-' &&
          std::isalpha(static_cast<unsigned char>(line[dash + 1])) != 0 &&
          static_cast<unsigned char>(line[dash + 1]) < 0x80) {
        break;
      }
    }
  }
  std::string name(line.substr(start, end - start));
  while (!name.empty() && (name.front() == '"' || name.front() == '\'')) name.erase(0, 1);
  while (!name.empty() && (name.back() == '"' || name.back() == '\'')) name.pop_back();
  if (name.empty()) return std::nullopt;
  return name;
}

// The mod list ends at a blank; one that opens with a double quote ends at the closing quote
// instead, and the quotes are dropped.
std::optional<std::string> ReferenceMods(std::string_view line) {
  auto rest = ReferenceRest(line, "-mods=");
  if (!rest) return std::nullopt;
  std::string mods;
  const bool quoted = !rest->empty() && rest->front() == '"';
  if (quoted) rest->remove_prefix(1);
  const bool closed = quoted && rest->find('"') != std::string_view::npos;
  for (const char byte : *rest) {
    if (closed ? byte == '"' : IsBlank(byte)) break;
    mods += byte;
  }
  if (mods.empty()) return std::nullopt;
  return mods;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(AsText(data, size));

  // The port: "?port=" when it gives 1 or more, else "-port=" when it converts, else "?port=".
  const LaunchPort launchPort = ScanLaunchPort(line);
  const std::optional<std::int32_t> port = launchPort.Port();
  const auto question = ReferenceNumber(line, "?port=");
  const auto dash = ReferenceNumber(line, "-port=");
  const auto expectedPort = question && *question >= 1 ? question : dash ? dash : question;
  FUZZ_CHECK(port == expectedPort);
  if (port) FUZZ_CHECK(ReferenceNumber(line, launchPort.Deciding()->Key) == port);

  // The player limit: the first key of the three that occurs decides, converted or not.
  const LaunchNumber limit = ScanLaunchMaxPlayers(line);
  bool decided = false;
  for (const std::string_view key : kMaxPlayersKeys) {
    if (decided || !ReferenceRest(line, key)) continue;
    decided = true;
    FUZZ_CHECK(limit.Found && limit.Key == key);
    FUZZ_CHECK(limit.Value == ReferenceNumber(line, key));
  }
  FUZZ_CHECK(limit.Found == decided);
  if (!decided) FUZZ_CHECK(!limit.Value);

  FUZZ_CHECK(ScanLaunchSessionName(line) == ReferenceSessionName(line));
  FUZZ_CHECK(ScanLaunchMods(line) == ReferenceMods(line));

  // The map: a piece of the line behind the executable path, ended before a '?' or space, with no
  // double quote or backslash at either end.
  if (const std::optional<std::string> map = ScanLaunchMap(line)) {
    FUZZ_CHECK(line.find(*map) != std::string::npos);
    FUZZ_CHECK(map->find_first_of("? ") == std::string::npos);
    if (!map->empty()) {
      FUZZ_CHECK(map->front() != '"' && map->front() != '\\');
      FUZZ_CHECK(map->back() != '"' && map->back() != '\\');
    }
    FUZZ_CHECK(line.find(' ') != std::string::npos || line.front() == '"');
  }
  return 0;
}
