// The settings-file lookup over any text, key and section: it agrees with a plain line-by-line
// reading of the file's rules, and the scanner that answers several lookups at once, fed the text
// in pieces cut anywhere, gives each lookup's answer.
// Input: key, 0x1E, section, 0x1E, the settings text; its last byte also steers the cuts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/SettingsFile.h"
#include "fuzz/FuzzSupport.h"

namespace {

using namespace vesperline::fuzz;

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& byte : lowered) {
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte + ('a' - 'A'));
  }
  return lowered;
}

std::string ReferenceIniValue(std::string_view text, std::string_view key,
                              std::string_view section) {
  const std::string wanted = Lowered(key) + "=";
  std::string current, sectionValue, fallbackValue;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      const std::size_t close = line.find(']');
      current = ReferenceCut(
          close == std::string::npos ? line.substr(1) : line.substr(1, close - 1), 4096);
      continue;
    }
    if (Lowered(line).rfind(wanted, 0) != 0) continue;
    const std::string value = ReferenceCut(line.substr(wanted.size()), 4096);
    if (!section.empty() && current == section) {
      sectionValue = value;
    } else if (fallbackValue.empty()) {
      fallbackValue = value;
    }
  }
  return sectionValue.empty() ? fallbackValue : sectionValue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts = SplitParts(AsText(data, size), 3);
  const std::string key(parts[0]), section(parts[1]), text(parts[2]);
  const std::string value = vesperline::FindIniValue(text, key, section);
  FUZZ_CHECK(value == ReferenceIniValue(text, key, section));
  FUZZ_CHECK(value.find('\n') == std::string::npos);

  // The lookups the plugin makes and the input's own, all in one pass over pieces of the text.
  const std::vector<vesperline::IniLookup> lookups{{"SessionName", ""},
                                                   {"MaxPlayers", "/Script/Engine.GameSession"},
                                                   {"ActiveMods", "ServerSettings"},
                                                   {"bServerPVE", "ServerSettings"},
                                                   {"serverPVE", "ServerSettings"},
                                                   {key, section}};
  vesperline::IniScanner scanner(lookups);
  for (const std::string_view piece : CutPieces(text, size == 0 ? 0 : data[size - 1])) {
    scanner.Feed(piece);
  }
  scanner.Finish();
  for (std::size_t i = 0; i < lookups.size(); ++i) {
    FUZZ_CHECK(scanner.Value(i) ==
               vesperline::FindIniValue(text, lookups[i].Key, lookups[i].Section));
  }
  FUZZ_CHECK(vesperline::FindIniValue(text, "SessionName", "") ==
             ReferenceIniValue(text, "SessionName", ""));
  return 0;
}
