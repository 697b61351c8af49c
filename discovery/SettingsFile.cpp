#include "discovery/SettingsFile.h"

#include "discovery/ServerFile.h"

namespace vesperline {

namespace {

char LowerAsciiByte(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when line begins with key (compared without ASCII case) directly followed by '='.
bool IsKeyLine(std::string_view line, std::string_view key) {
  if (line.size() <= key.size() || line[key.size()] != '=') return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (LowerAsciiByte(line[i]) != LowerAsciiByte(key[i])) return false;
  }
  return true;
}

}  // namespace

std::string FindIniValue(std::string_view text, std::string_view key, std::string_view section) {
  std::string_view currentSection;
  std::string_view sectionValue;
  std::string_view fallbackValue;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    start = end == std::string_view::npos ? text.size() : end + 1;

    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() == '[') {
      const std::string_view name = line.substr(1);
      currentSection = name.substr(0, name.find(']'));
      continue;
    }
    if (!IsKeyLine(line, key)) continue;
    const std::string_view value = line.substr(key.size() + 1);
    if (!section.empty() && currentSection == section) {
      sectionValue = value;
    } else if (fallbackValue.empty()) {
      fallbackValue = value;
    }
  }
  return std::string(sectionValue.empty() ? fallbackValue : sectionValue);
}

std::string ReadIniValue(const std::string& path, const std::string& key,
                         const std::string& section) {
  const std::optional<std::string> text = ReadServerFile(path);
  return text ? FindIniValue(*text, key, section) : std::string();
}

}  // namespace vesperline
