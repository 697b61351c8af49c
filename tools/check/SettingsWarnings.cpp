// The checker's warnings about the settings file: lines the plugin passes over or reads otherwise
// than the admin meant.
#include <algorithm>
#include <string>
#include <vector>

#include "common/Text.h"
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

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view value) {
  const std::size_t start = value.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  return value.substr(start, value.find_last_not_of(kBlanks) + 1 - start);
}

// Where a value has blanks: "a blank at its end", "blanks at its start and its end", "nothing but
// blanks"; empty text when it has none at either end.
std::string BlanksAtEnds(std::string_view value) {
  const std::string_view kept = Trimmed(value);
  if (kept.size() == value.size()) return {};
  if (kept.empty()) return "nothing but blanks";
  const std::size_t before = static_cast<std::size_t>(kept.data() - value.data());
  const std::size_t after = value.size() - before - kept.size();
  if (before != 0 && after != 0) return "blanks at its start and its end";
  return std::string(before + after == 1 ? "a blank" : "blanks") +
         (before != 0 ? " at its start" : " at its end");
}

// The line that gives the plugin the value of the settings key of that name, if any.
const SettingsKeyLine* UsedLine(const SettingsScan& scan, std::string_view name) {
  for (std::size_t k = 0; k < std::size(kSettingsKeys) && k < scan.KeyLines.size(); ++k) {
    if (kSettingsKeys[k].Key == name) return LineThePluginUses(kSettingsKeys[k], scan.KeyLines[k]);
  }
  return nullptr;
}

std::string LineGives(const SettingsKeyLine& line, std::string_view key) {
  return "The settings file's line " + std::to_string(line.Line) + " gives " + std::string(key);
}

std::string LineGivesValue(const SettingsKeyLine& line, std::string_view key) {
  return LineGives(line, key) + " the value \"" + line.Value + "\"";
}

// The plugin takes every value exactly as written: quotes and blanks around a name, blanks
// between mod ids, go into the heartbeat with it.
void WarnOfSessionName(const SettingsKeyLine& line, std::vector<std::string>& warnings) {
  const std::string_view name = Trimmed(line.Value);
  const bool quoted = name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
                      name.back() == name.front();
  if (quoted) {
    warnings.push_back(LineGives(line, "SessionName") + " in quotes, SessionName=" + line.Value +
                       ": the plugin takes the value exactly as written, so the "
                       "server list shows the name with the quotes. Write it without them: "
                       "SessionName=" +
                       std::string(name.substr(1, name.size() - 2)) + ".");
  } else if (const std::string blanks = BlanksAtEnds(line.Value); !blanks.empty()) {
    warnings.push_back(LineGivesValue(line, "SessionName") + ", with " + blanks +
                       ": the plugin takes the value exactly as written, so the server list "
                       "shows the name with them. Write it without them: SessionName=" +
                       std::string(name) + ".");
  }
}

bool IsBlank(char c) {
  return kBlanks.find(c) != std::string_view::npos;
}

void WarnOfModList(const SettingsKeyLine& line, std::vector<std::string>& warnings) {
  const std::string_view value = line.Value;
  bool besideCommas = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != ',') continue;
    besideCommas = besideCommas || (i > 0 && IsBlank(value[i - 1])) ||
                   (i + 1 < value.size() && IsBlank(value[i + 1]));
  }
  const std::string blanks = BlanksAtEnds(value);
  if (!besideCommas && blanks.empty()) return;
  // The list as meant: each id without the blanks around it.
  std::string mods;
  for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1) {
    end = value.find(',', start);
    if (start != 0) mods += ',';
    mods += Trimmed(value.substr(start, end - start));
  }
  warnings.push_back(LineGivesValue(line, "ActiveMods") + ", with " +
                     (besideCommas ? std::string("blanks beside its commas") : blanks) +
                     ": the plugin takes the list exactly as written, so the heartbeat's mod "
                     "list carries them. Write it without them: ActiveMods=" +
                     mods + ".");
}

// Only the word True, in any case and with nothing around it, is PvE to the plugin.
void WarnOfPve(std::string_view key, const SettingsKeyLine& line,
               std::vector<std::string>& warnings) {
  const std::string word = LowerAscii(Trimmed(line.Value));
  if (word == "true" && word.size() != line.Value.size()) {
    warnings.push_back(LineGivesValue(line, key) + ", with " + BlanksAtEnds(line.Value) +
                       ": the plugin takes the value exactly as written and counts only True "
                       "with nothing around it as PvE, so it counts the server as not PvE. Write " +
                       std::string(key) + "=True.");
  } else if (word != "true" && word != "false") {
    warnings.push_back(LineGivesValue(line, key) +
                       ": the plugin counts only True (in any case) as PvE and anything else as "
                       "not PvE, so it counts the server as not PvE. Write " +
                       std::string(key) + "=True or " + std::string(key) + "=False.");
  }
}

// Values of the lines the plugin uses that it reads otherwise than an admin means. The session
// name and the mods are looked at only where the fact holds the file's value: the launch argument
// decides the name first, and the launch argument's mods stand in for an empty list.
void WarnOfValues(const SettingsScan& scan, const ServerFacts& facts,
                  std::vector<std::string>& warnings) {
  const SettingsKeyLine* name = UsedLine(scan, "SessionName");
  if (name != nullptr && facts.SessionName == name->Value) WarnOfSessionName(*name, warnings);
  const SettingsKeyLine* mods = UsedLine(scan, "ActiveMods");
  if (mods != nullptr && facts.ModList == mods->Value) WarnOfModList(*mods, warnings);
  // ServerPVE is asked only when bServerPVE gives nothing.
  if (const SettingsKeyLine* pve = UsedLine(scan, "bServerPVE")) {
    WarnOfPve("bServerPVE", *pve, warnings);
  } else if (const SettingsKeyLine* other = UsedLine(scan, "ServerPVE")) {
    WarnOfPve("ServerPVE", *other, warnings);
  }
}

}  // namespace

void WarnOfSettingsLines(const std::string& pluginDir, Discovery& found,
                         std::vector<std::string>& warnings) {
  const SettingsScan scan = ScanSettingsFile(SettingsFilePath(pluginDir));
  if (scan.Utf16WithoutMark) {
    warnings.push_back(Utf16WithoutMarkWarning(
        "The settings file",
        "no value at all from it: no session name, player limit, mods or PvE"));
    return;
  }
  WarnOfLines(scan, warnings);
  WarnOfValues(scan, found.Facts, warnings);
  AmendPassedOverNotes(scan, found.Notes);
  if (scan.FirstNonUtf8Line) {
    warnings.push_back(NotUtf8Warning("The settings file", *scan.FirstNonUtf8Line));
  }
}

}  // namespace vesperline::check
