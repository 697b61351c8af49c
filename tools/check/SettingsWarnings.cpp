// The checker's warnings about the settings file: lines the plugin passes over or reads otherwise
// than the admin meant.
#include <string>
#include <vector>

#include "tools/check/FileScans.h"
#include "tools/check/Warnings.h"

namespace vesperline::check {

namespace {

// Lines of the settings file that mean a key the plugin reads but that the plugin passes over,
// and keys given twice with different values.
void WarnOfLines(const SettingsScan& scan, std::vector<std::string>& warnings) {
  for (const PassedOverLine& line : scan.PassedOver) {
    warnings.push_back("The settings file's line " + std::to_string(line.Line) + " sets " +
                       std::string(line.Key) +
                       " with blanks before the key or around the '=', so the plugin passes it "
                       "over: write it as " +
                       line.Form + ", without those blanks.");
  }
  for (std::size_t k = 0; k < scan.KeyLines.size(); ++k) {
    const std::vector<SettingsKeyLine>& lines = scan.KeyLines[k];
    if (lines.size() < 2) continue;
    bool differ = false;
    for (const SettingsKeyLine& line : lines) differ = differ || line.Value != lines[0].Value;
    if (!differ) continue;
    const SettingsKey& key = kSettingsKeys[k];
    std::string numbers;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i != 0) numbers += i + 1 == lines.size() ? " and " : ", ";
      numbers += std::to_string(lines[i].Line);
    }
    const std::string rule = key.Section.empty()
                                 ? "the first line with a value counts"
                                 : "in [" + std::string(key.Section) +
                                       "] the last line counts, elsewhere the first with a value";
    std::string warning = "The settings file sets " + std::string(key.Key) + " " +
                          std::to_string(lines.size()) +
                          " times, with different values, on lines " + numbers + ": " + rule + ", ";
    if (const SettingsKeyLine* used = LineThePluginUses(key, lines)) {
      warning += "so the plugin uses line " + std::to_string(used->Line) + ", " +
                 std::string(key.Key) + "=" + used->Value;
    } else {
      warning += "and none of them gives the plugin a value";
    }
    warnings.push_back(warning + ". Delete the lines you do not mean.");
  }
}

// A settings-file source that gave nothing although a line the plugin passes over holds its key:
// "absent" alone would be untrue to the admin who wrote that line.
void AmendPassedOverNotes(const SettingsScan& scan, SourceNotes& notes) {
  for (const PassedOverLine& line : scan.PassedOver) {
    const std::string suffix = Enclosed(" ", line.Key, "");
    for (SourceNote& note : notes) {
      if (note.Source.starts_with("settings file") && note.Source.ends_with(suffix) &&
          note.Detail == "absent or empty") {
        note.Detail = "no line in the form the plugin reads; line " + std::to_string(line.Line) +
                      " holds the key with blanks, and the plugin passes it over (see Warnings)";
      }
    }
  }
}

}  // namespace

void WarnOfSettingsLines(const std::string& pluginDir, Discovery& found,
                         std::vector<std::string>& warnings) {
  const SettingsScan scan = ScanSettingsFile(SettingsFilePath(pluginDir));
  WarnOfLines(scan, warnings);
  AmendPassedOverNotes(scan, found.Notes);
  if (scan.FirstNonUtf8Line) {
    warnings.push_back(NotUtf8Warning("The settings file", *scan.FirstNonUtf8Line));
  }
}

}  // namespace vesperline::check
