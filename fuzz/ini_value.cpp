// The settings-file lookup over any text, key and section: it agrees with a plain reading of the
// engine's rules (the whole text cut into lines first, then each line taken apart), and the
// scanner that answers several lookups at once, fed the text in pieces cut anywhere, gives each
// lookup's answer.
// Input: key, 0x1E, section, 0x1E, the settings text; its last byte also steers the cuts.
#include <algorithm>
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

bool IsBreak(char c) {
  return c == '\r' || c == '\n';
}

std::string Trim(std::string_view text) {
  constexpr std::string_view kWhite = " \t\v\f\r\n";
  const std::size_t from = text.find_first_not_of(kWhite);
  if (from == std::string_view::npos) return {};
  return std::string(text.substr(from, text.find_last_not_of(kWhite) + 1 - from));
}

// The text cut into the lines the engine reads, looking ahead in the whole text.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::string line;
    bool quoted = false, comment = false;
    int braces = 0;
    while (i < text.size()) {
      const char c = text[i];
      const char next = i + 1 < text.size() ? text[i + 1] : '\0';
      if (!quoted && c == '/' && next == '/') comment = true;
      if (!quoted && c == '|') break;
      if (IsBreak(c) && braces == 0) break;
      if (IsBreak(c)) {
        line += ' ';
        i += (i + 1 < text.size() && IsBreak(next)) ? 2 : 1;
      } else if (!quoted && c == '\\' && IsBreak(next)) {
        line += ' ';
        i += 2;
        if (i < text.size() && IsBreak(text[i])) ++i;
      } else if (!quoted && (c == '{' || c == '}')) {
        braces += c == '{' ? 1 : (braces > 0 ? -1 : 0);
        ++i;
      } else if (quoted && !comment && c == '\\' && (next == '"' || next == '\\')) {
        line += c;
        line += next;
        i += 2;
      } else {
        quoted = quoted != (c == '"');
        if (!comment) line += c;
        ++i;
      }
    }
    lines.push_back(line);
    ++i;  // the byte that ended the line
  }
  return lines;
}

std::string Unquoted(std::string_view value) {
  std::string out;
  for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
    if (value[i] != '\\') {
      out += value[i];
      continue;
    }
    // A backslash at the very end stays; a zero byte after one is a byte like any other.
    if (i + 1 == value.size()) {
      out += '\\';
      break;
    }
    const char next = value[++i];
    switch (next) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '"':
      case '\\':
      case '\'':
        out += next;
        break;
      default:
        out += '\\';
        out += next;
    }
  }
  return out;
}

std::string ReferenceIniValue(std::string_view text, std::string_view key,
                              std::string_view section) {
  std::string current, sectionValue, fallbackValue;
  for (const std::string& line : LogicalLines(text)) {
    const std::string trimmed = Trim(line);
    if (!line.empty() && line[0] == '[' && trimmed.size() >= 2 && trimmed.back() == ']') {
      current = ReferenceCut(trimmed.substr(1, trimmed.size() - 2), 4096);
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    // The key without blanks at its start, then without a merge command, then without blanks at
    // its end: blanks between the command and the key stay part of it.
    std::string name = line.substr(0, equals);
    name.erase(0, std::min(name.find_first_not_of(" \t\v\f"), name.size()));
    if (!name.empty() && std::string_view("+-.!").find(name[0]) != std::string_view::npos) {
      name.erase(0, 1);
    }
    name.erase(std::min(name.find_last_not_of(" \t\v\f") + 1, name.size()));
    if (Lowered(name) != Lowered(key)) continue;
    std::string value = Trim(line.substr(equals + 1));
    if (!value.empty() && value[0] == '"') value = Unquoted(value);
    value = ReferenceCut(value, 4096);
    if (!section.empty() && Lowered(current) == Lowered(section)) {
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
  // The keys the plugin looks up hold no white space; neither does the input's.
  std::string key;
  for (const char c : parts[0]) {
    if (std::string_view(" \t\v\f\r\n").find(c) == std::string_view::npos) key += c;
  }
  const std::string section(parts[1]), text(parts[2]);
  const std::string value = vesperline::FindIniValue(text, key, section);
  FUZZ_CHECK(value == ReferenceIniValue(text, key, section));

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
