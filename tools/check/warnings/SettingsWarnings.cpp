// The checker's warnings about the settings file: lines the plugin passes over or reads otherwise
// than the admin meant.
#include <algorithm>
#include <string>
#include <vector>

#include "common/Text.h"
#include "tools/check/warnings/FileScans.h"
#include "tools/check/warnings/Warnings.h"

namespace vesperline::check {

namespace {

// Keys given twice with different values.
void WarnOfLines(const SettingsScan& scan, std::vector<Warning>& warnings) {
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
    // The plugin takes the line the server takes, so only the file's reader is misled.
    warnings.push_back({warning + ". Delete the lines you do not mean.", WarningWeight::kAside});
  }
}

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view value) {
  const std::size_t start = value.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  return value.substr(start, value.find_last_not_of(kBlanks) + 1 - start);
}

bool IsBlank(char c) {
  return kBlanks.find(c) != std::string_view::npos;
}

// The line that gives the plugin the value of the settings key of that name, if any.
const SettingsKeyLine* UsedLine(const SettingsScan& scan, std::string_view name) {
  for (std::size_t k = 0; k < std::size(kSettingsKeys) && k < scan.KeyLines.size(); ++k) {
    if (kSettingsKeys[k].Key == name) return LineThePluginUses(kSettingsKeys[k], scan.KeyLines[k]);
  }
  return nullptr;
}

std::string LineGivesValue(const SettingsKeyLine& line, std::string_view key) {
  return "The settings file's line " + std::to_string(line.Line) + " gives " + std::string(key) +
         " the value \"" + line.Value + "\"";
}

// The value a line holds as its admin wrote it: what follows the first '=' of the line, up to the
// line's end, without the blanks around it.
std::string_view WrittenWhole(const SettingsKeyLine& line) {
  const std::string_view text = line.Text;
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {};
  return Trimmed(text.substr(equals + 1));
}

// A '|' or "//" outside quotes that cuts a name or a mod list the admin surely meant whole: a '|'
// followed by text that is no line of its own (it holds no '='), or a "//" right after the value
// (with no blank before it, as in an address). A comment set apart by a blank is meant as one.
bool CutAgainstItsMeaning(const SettingsKeyLine& line) {
  if (!line.EndsAtBar && !line.Comment) return false;
  const std::string_view value = WrittenWhole(line);
  bool quoted = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '"') quoted = !quoted;
    if (quoted) continue;
    if (value[i] == '|') {
      const std::string_view rest = Trimmed(value.substr(i + 1));
      return !rest.empty() && rest.find('=') == std::string_view::npos;
    }
    if (value.substr(i, 2) == "//") return i > 0 && !IsBlank(value[i - 1]);
  }
  return false;
}

// The value in double quotes, as the server reads it whole: quotes and backslashes inside it
// escaped.
std::string InQuotes(std::string_view value) {
  std::string out = "\"";
  for (const char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void WarnOfACut(std::string_view key, const SettingsKeyLine& line, std::vector<Warning>& warnings) {
  if (!CutAgainstItsMeaning(line)) return;
  const std::string_view whole = WrittenWhole(line);
  warnings.push_back(
      LineGivesValue(line, key) + ", cut at the " +
      (line.EndsAtBar ? "'|', which ends a line" : "\"//\", which starts a comment") +
      " in the server's settings files (outside double quotes): the line reads " +
      std::string(Trimmed(line.Text)) + ", and the heartbeat sends only \"" + line.Value +
      "\" as the server does. Put the value in double quotes: " + std::string(key) + "=" +
      InQuotes(whole) + ".");
}

// Blanks beside the commas of the mod list stay in it: the server takes off only the blanks at
// the value's ends.
void WarnOfModList(const SettingsKeyLine& line, std::vector<Warning>& warnings) {
  const std::string_view value = line.Value;
  bool besideCommas = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != ',') continue;
    besideCommas = besideCommas || (i > 0 && IsBlank(value[i - 1])) ||
                   (i + 1 < value.size() && IsBlank(value[i + 1]));
  }
  if (!besideCommas) return;
  // The list as meant: each id without the blanks around it.
  std::string mods;
  for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1) {
    end = value.find(',', start);
    if (start != 0) mods += ',';
    mods += Trimmed(value.substr(start, end - start));
  }
  warnings.push_back(LineGivesValue(line, "ActiveMods") +
                     ", with blanks beside its commas: the server takes off the blanks only at "
                     "the value's ends, so the heartbeat's mod list carries them. Write it "
                     "without them: ActiveMods=" +
                     mods + ".");
}

// Only the word True, in any case, is PvE to the plugin; what the server makes of a value that is
// neither True nor False, nobody has tested.
void WarnOfPve(std::string_view key, const SettingsKeyLine& line, std::vector<Warning>& warnings) {
  if (IsTrueOrFalse(line.Value)) return;
  warnings.push_back(LineGivesValue(line, key) +
                     ", which is neither True nor False: " + PveNeitherTrueNorFalse(line.Value) +
                     ". Write " + std::string(key) + "=True or " + std::string(key) + "=False.");
}

// Where the server reads a line otherwise than it stands (blanks around the '=' or the value,
// quotes around it, escapes in it), the fact's note says how: the admin sees the value the line
// gives and why.
void NoteHowTheServerReadsIt(std::string_view key, const SettingsKeyLine& line,
                             SourceNotes& notes) {
  const std::string plain = std::string(key) + "=" + line.Value;
  if (LowerAscii(Trimmed(line.Text)) == LowerAscii(plain) || CutAgainstItsMeaning(line)) return;
  const std::string suffix = Enclosed(" ", key, "");
  for (SourceNote& note : notes) {
    if (!note.Source.starts_with("settings file") || !note.Source.ends_with(suffix) ||
        !note.Detail.starts_with("gave ")) {
      continue;
    }
    note.Detail += ", from line " + std::to_string(line.Line) + ": " +
                   std::string(Trimmed(line.Text)) +
                   " (the server takes the value without the blanks and double quotes around it)";
  }
}

// Values of the lines the plugin uses that it reads otherwise than an admin means. The session
// name and the mods are looked at only where the fact holds the file's value: the launch argument
// decides the name first, and the launch argument's mods stand in for an empty list.
void WarnOfValues(const SettingsScan& scan, Discovery& found, std::vector<Warning>& warnings) {
  const ServerFacts& facts = found.Facts;
  const SettingsKeyLine* name = UsedLine(scan, "SessionName");
  if (name != nullptr && facts.SessionName == name->Value) {
    WarnOfACut("SessionName", *name, warnings);
    NoteHowTheServerReadsIt("SessionName", *name, found.Notes);
  }
  const SettingsKeyLine* mods = UsedLine(scan, "ActiveMods");
  if (mods != nullptr && facts.ModList == mods->Value) {
    WarnOfACut("ActiveMods", *mods, warnings);
    WarnOfModList(*mods, warnings);
    NoteHowTheServerReadsIt("ActiveMods", *mods, found.Notes);
  }
  // Neither is asked when the launch line's ?ServerPVE= decides, which is told of with the launch
  // line; ServerPVE only when bServerPVE gives nothing.
  if (found.Info.LaunchPve) return;
  if (const SettingsKeyLine* pve = UsedLine(scan, "bServerPVE")) {
    WarnOfPve("bServerPVE", *pve, warnings);
    NoteHowTheServerReadsIt("bServerPVE", *pve, found.Notes);
  } else if (const SettingsKeyLine* other = UsedLine(scan, "ServerPVE")) {
    WarnOfPve("ServerPVE", *other, warnings);
    NoteHowTheServerReadsIt("ServerPVE", *other, found.Notes);
  }
}

}  // namespace

void WarnOfSettingsLines(const std::string& pluginDir, Discovery& found,
                         std::vector<Warning>& warnings) {
  const SettingsScan scan = ScanSettingsFile(SettingsFileFound(pluginDir));
  if (scan.Utf16WithoutMark) {
    warnings.push_back(Utf16WithoutMarkWarning(
        "The settings file",
        "no value at all from it: no session name, player limit, mods or PvE"));
    return;
  }
  WarnOfLines(scan, warnings);
  WarnOfValues(scan, found, warnings);
  if (scan.FirstNonUtf8Line) {
    warnings.push_back(NotUtf8Warning("The settings file", *scan.FirstNonUtf8Line));
  }
}

}  // namespace vesperline::check
