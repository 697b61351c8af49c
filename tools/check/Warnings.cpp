#include "tools/check/Warnings.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/Text.h"
#include "tools/check/Check.h"
#include "tools/check/FileScans.h"

namespace vesperline::check {

namespace {

// before, text and after joined. Built by appending: g++ 12 at -O3 warns falsely of overlapping
// copies in a literal added to a temporary string.
std::string Enclosed(std::string_view before, std::string_view text, std::string_view after) {
  std::string joined;
  joined.reserve(before.size() + text.size() + after.size());
  joined.append(before).append(text).append(after);
  return joined;
}

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr char kPluginFile[] = "Vesperline.dll";
#else
constexpr char kPluginFile[] = "Vesperline.so";
#endif

// The server's folder that holds Saved, five levels above the plugin's own.
constexpr int kLevelsToServer = 5;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A dotted IPv4 address of four decimal numbers from 0 to 255, without leading zeros.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view text) {
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && IsDigit(text[digits]) && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[0] == '0')) {
      return std::nullopt;
    }
    bytes[part] = static_cast<std::uint8_t>(value);
    text.remove_prefix(digits);
  }
  if (!text.empty()) return std::nullopt;
  return bytes;
}

// An IPv6 address in its text forms: eight groups of up to four hex digits, one "::" for a run of
// zero groups, and an IPv4 address in place of the last two groups.
std::optional<std::array<std::uint16_t, 8>> ParseIpv6(std::string_view text) {
  std::array<std::uint16_t, 8> groups{};
  std::size_t count = 0;
  std::optional<std::size_t> gap;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    text.remove_prefix(2);
  }
  while (!text.empty()) {
    if (count == 8) return std::nullopt;
    if (count <= 6 && text.find('.') != std::string_view::npos &&
        text.find(':') == std::string_view::npos) {
      const auto ipv4 = ParseIpv4(text);
      if (!ipv4) return std::nullopt;
      groups[count++] = static_cast<std::uint16_t>((*ipv4)[0] << 8 | (*ipv4)[1]);
      groups[count++] = static_cast<std::uint16_t>((*ipv4)[2] << 8 | (*ipv4)[3]);
      text = {};
      break;
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && digits < 5 && HexValue(text[digits]) >= 0) {
      value = value * 16 + static_cast<unsigned>(HexValue(text[digits]));
      ++digits;
    }
    if (digits == 0 || digits > 4) return std::nullopt;
    groups[count++] = static_cast<std::uint16_t>(value);
    text.remove_prefix(digits);
    if (text.empty()) break;
    if (text.substr(0, 2) == "::") {
      if (gap) return std::nullopt;
      gap = count;
      text.remove_prefix(2);
    } else if (text.front() == ':' && text.size() > 1) {
      text.remove_prefix(1);
    } else {
      return std::nullopt;
    }
  }
  if (gap) {
    if (count == 8) return std::nullopt;
    // The groups after the gap move to the end; the gap's groups are zero.
    std::array<std::uint16_t, 8> full{};
    for (std::size_t i = 0; i < *gap; ++i) full[i] = groups[i];
    for (std::size_t i = *gap; i < count; ++i) full[8 - (count - i)] = groups[i];
    return full;
  }
  if (count != 8) return std::nullopt;
  return groups;
}

AddressKind ClassifyIpv4(const std::array<std::uint8_t, 4>& a) {
  if (a[0] == 0) return AddressKind::kUnspecified;
  if (a[0] == 127) return AddressKind::kLoopback;
  if (a[0] == 169 && a[1] == 254) return AddressKind::kLinkLocal;
  if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168) ||
      (a[0] == 100 && (a[1] & 0xC0) == 64)) {
    return AddressKind::kPrivate;
  }
  if ((a[0] == 192 && a[1] == 0 && a[2] == 2) || (a[0] == 198 && a[1] == 51 && a[2] == 100) ||
      (a[0] == 203 && a[1] == 0 && a[2] == 113)) {
    return AddressKind::kExample;
  }
  return AddressKind::kPublic;
}

AddressKind ClassifyIpv6(const std::array<std::uint16_t, 8>& g) {
  const bool zeroUpTo5 = g[0] == 0 && g[1] == 0 && g[2] == 0 && g[3] == 0 && g[4] == 0;
  if (zeroUpTo5 && g[5] == 0xFFFF) {
    return ClassifyIpv4({static_cast<std::uint8_t>(g[6] >> 8), static_cast<std::uint8_t>(g[6]),
                         static_cast<std::uint8_t>(g[7] >> 8), static_cast<std::uint8_t>(g[7])});
  }
  if (zeroUpTo5 && g[5] == 0 && g[6] == 0) {
    if (g[7] == 0) return AddressKind::kUnspecified;
    if (g[7] == 1) return AddressKind::kLoopback;
  }
  if ((g[0] & 0xFFC0) == 0xFE80) return AddressKind::kLinkLocal;
  if ((g[0] & 0xFE00) == 0xFC00) return AddressKind::kPrivate;
  if (g[0] == 0x2001 && g[1] == 0x0DB8) return AddressKind::kExample;
  return AddressKind::kPublic;
}

// A port after the address: a ':' and decimal digits.
bool IsPortSuffix(std::string_view text) {
  if (text.size() < 2 || text.front() != ':') return false;
  for (const char c : text.substr(1)) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// The folder the given number of levels above the plugin folder, or nothing above the root.
std::optional<fs::path> LevelsAbove(const fs::path& pluginFolder, int levels) {
  fs::path folder = pluginFolder;
  for (int level = 0; level < levels; ++level) {
    if (!folder.has_relative_path()) return std::nullopt;
    folder = folder.parent_path();
  }
  return folder;
}

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// The plugin folder as it stands, absolute and without a trailing separator.
fs::path PluginFolder(const std::string& pluginDir) {
  fs::path folder = PathFromUtf8(ShownPath(pluginDir));
  return folder.has_filename() ? folder : folder.parent_path();
}

// The plugin folder lies where the host looks for plugins: in ArkApi\Plugins under the Win64
// folder of ShooterGame\Binaries, the names compared without regard to case as Windows does.
bool AtPluginDepth(const fs::path& pluginFolder) {
  constexpr std::string_view kAbove[] = {"plugins", "arkapi", "win64", "binaries", "shootergame"};
  fs::path folder = pluginFolder;
  for (const std::string_view name : kAbove) {
    if (!folder.has_relative_path()) return false;
    folder = folder.parent_path();
    if (LowerAscii(Utf8FromPath(folder.filename())) != name) return false;
  }
  return true;
}

// The settings file or the log is missing: either the plugin folder sits at the wrong depth, or
// the server has not written the file yet. Which of the two, the plugin folder's own path tells:
// a server that has never run has no Saved folder either.
void WarnOfMissingServerFiles(const std::string& pluginDir, const Discovery& found,
                              std::vector<std::string>& warnings) {
  const bool settingsMissing = found.Settings.Failure == platform::OpenFailure::Missing;
  const bool logMissing = found.Log.Failure == platform::OpenFailure::Missing;
  if (!settingsMissing && !logMissing) return;
  const fs::path plugin = PluginFolder(pluginDir);
  if (AtPluginDepth(plugin)) {
    const std::optional<fs::path> server = LevelsAbove(plugin, kLevelsToServer);
    if (settingsMissing && logMissing && server && !IsFolder(*server / "Saved")) {
      warnings.push_back(
          "The plugin folder is in the right place, but the server has not written its settings "
          "file and log yet (there is no Saved folder in " +
          Utf8FromPath(*server) +
          "): start the server once, then run the checker again. Until then, the session name, "
          "the player limit and the mods come from the launch arguments alone, PvE counts as off "
          "and the heartbeats carry no version.");
      return;
    }
    if (settingsMissing) {
      warnings.push_back("The settings file is not at " + ShownPath(SettingsFilePath(pluginDir)) +
                         " yet; the server writes it at its first start. Until it is there, the "
                         "session name, the player limit and the mods come from the launch "
                         "arguments alone, and PvE counts as off.");
    }
    if (logMissing) {
      warnings.push_back("The server log is not at " + ShownPath(ServerLogPath(pluginDir)) +
                         " yet; the server writes it while it runs. Until it holds the version "
                         "line, the heartbeats carry no version.");
    }
    return;
  }
  std::string warning =
      "The settings file and the server log are not where the plugin looks for them, five "
      "folders above the plugin folder (in Saved there): the plugin folder is at the wrong "
      "depth. The usual cause is unpacking the ZIP into a folder named after the ZIP.";
  const fs::path rest = fs::path("Binaries") / "Win64" / "ArkApi" / "Plugins" / "Vesperline";
  for (int levels = 1; levels <= 10; ++levels) {
    const std::optional<fs::path> above = LevelsAbove(plugin, levels);
    if (!above) break;
    if (levels != kLevelsToServer && IsFolder(*above / "Saved")) {
      warning += " The server's Saved folder is in " + Utf8FromPath(*above) +
                 ", so the plugin folder should be " + Utf8FromPath(*above / rest) + ".";
      warnings.push_back(std::move(warning));
      return;
    }
  }
  warning += " It belongs in the server's ShooterGame folder, under " + Utf8FromPath(rest) + ".";
  warnings.push_back(std::move(warning));
}

// A config.json text value that was not in quotes: the plugin took the next quoted text instead.
void WarnOfUnquotedValue(std::string_view key, const JsonText& value, bool showValue,
                         std::vector<std::string>& warnings) {
  if (value.Outcome != JsonKeyOutcome::kFound || !value.ValueUnquoted) return;
  // A key's name is no secret, and it is what an unquoted value most often runs into.
  const bool isKeyName = value.Value == "token" || value.Value == "ip" || value.Value == "port" ||
                         value.Value == "_comment";
  const std::string taken = showValue || isKeyName
                                ? "\"" + value.Value + "\""
                                : "a text of " + std::to_string(value.Value.size()) + " bytes";
  warnings.push_back("config.json \"" + std::string(key) +
                     "\": the value after the ':' is not in double quotes, so the plugin takes "
                     "the next quoted text in the file instead: " +
                     taken + ". Write the value in double quotes.");
}

void WarnOfAddress(const std::string& ip, std::vector<std::string>& warnings) {
  const std::string quoted = "config.json \"ip\" is \"" + ip + "\", ";
  switch (ClassifyAddress(ip)) {
    case AddressKind::kPublic:
      return;
    case AddressKind::kNotAnAddress:
      warnings.push_back(quoted +
                         "which is not an IPv4 or IPv6 address (four numbers from 0 to 255 joined "
                         "by dots, say): give the public address players connect to, without "
                         "blanks, a host name or a port.");
      return;
    case AddressKind::kWithPort:
      warnings.push_back(quoted +
                         "which carries a port: give the address alone in \"ip\" and the port in "
                         "\"port\".");
      return;
    case AddressKind::kPrivate:
      warnings.push_back(quoted +
                         "a private network's address, which players elsewhere cannot reach: give "
                         "the server's public address.");
      return;
    case AddressKind::kLoopback:
      warnings.push_back(quoted +
                         "the machine's own loopback address, which no other machine can reach: "
                         "give the server's public address.");
      return;
    case AddressKind::kLinkLocal:
      warnings.push_back(quoted +
                         "a link-local address, which only machines on the same link can reach: "
                         "give the server's public address.");
      return;
    case AddressKind::kUnspecified:
      warnings.push_back(quoted +
                         "which is no machine's address: give the server's public address.");
      return;
    case AddressKind::kExample:
      warnings.push_back(quoted +
                         "an address reserved for examples (the README uses one): give the "
                         "server's public address.");
      return;
  }
}

// The names of the simulated host's DLL, which the builds for tests take their host calls from,
// and of the real host's.
constexpr std::string_view kTestHostLibrary = "vesperline_simhost.dll";
constexpr std::string_view kHostLibrary = "AsaApi.dll";

// The largest plugin file looked into; a real one is far smaller.
constexpr std::uintmax_t kMaxPluginFileBytes = 64 << 20;

// The largest config.json looked into for the admin's mistakes; the plugin reads no larger one.
constexpr std::uint64_t kMaxConfigBytes = 64 << 10;

// A plugin file built against the simulated host loads in no server: Windows finds no
// vesperline_simhost.dll there, and AsaApi never gets to call it.
void WarnOfTestBuild(const std::string& pluginDir, std::vector<std::string>& warnings) {
  const std::string path = Utf8FromPath(PathFromUtf8(pluginDir) / kPluginFile);
  std::error_code error;
  const std::uintmax_t size = fs::file_size(PathFromUtf8(path), error);
  if (error || size > kMaxPluginFileBytes) return;
  const std::optional<std::string> image = ReadFileBytes(path);
  if (!image) return;
  for (const std::string& library : ImportedLibraries(*image)) {
    if (LowerAscii(library) == kTestHostLibrary) {
      warnings.push_back(std::string(kPluginFile) + " in the plugin folder is a build for tests: " +
                         "it takes its host calls from " + library +
                         ", the simulated host, instead of " + std::string(kHostLibrary) +
                         ", so no server can load it. Install " + kPluginFile +
                         " from a release package (Vesperline-<version>-win64.zip, not one whose "
                         "name ends in -test).");
      return;
    }
  }
}

// No config.json, but a file that Explorer shows as config.json: Windows hides known extensions,
// so Notepad's "config.json.txt" looks right there.
void WarnOfHiddenExtension(const std::string& pluginDir, std::vector<std::string>& warnings) {
  std::error_code error;
  fs::directory_iterator entries(PathFromUtf8(pluginDir), error);
  const std::string prefix = std::string(kConfigFileName) + ".";
  for (int seen = 0; !error && entries != fs::directory_iterator() && seen < 1000; ++seen) {
    const std::string name = Utf8FromPath(entries->path().filename());
    std::error_code kind;
    if (LowerAscii(name).starts_with(prefix) && entries->is_regular_file(kind)) {
      warnings.push_back("There is no config.json, but " + name +
                         " lies in the plugin folder: Windows hides its extension " +
                         name.substr(prefix.size() - 1) +
                         ", so it shows as config.json. Rename it to config.json (in a command "
                         "prompt in the plugin folder: ren \"" +
                         name + "\" config.json).");
    }
    entries.increment(error);
  }
}

// config.json as the plugin reads it; nothing when it cannot be read or is too large to be one.
std::optional<std::string> ConfigText(const std::string& pluginDir) {
  platform::InputFile file(ConfigFilePath(pluginDir));
  if (!file.IsOpen() || file.SizeHint() > kMaxConfigBytes) return std::nullopt;
  std::optional<std::string> bytes = ReadFileBytes(file);
  if (!bytes || bytes->size() > kMaxConfigBytes) return std::nullopt;
  return DecodeServerText(std::move(*bytes)).Text;
}

std::size_t LineAt(std::string_view text, std::size_t at) {
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
}

// What stands in a text value that is sent with it and spoils it: a control character anywhere,
// a blank (or a no-break space) at either end. Empty when nothing does.
std::string StrayCharacters(std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    const auto next = i + 1 < value.size() ? static_cast<unsigned char>(value[i + 1]) : 0u;
    if (byte == '\n' || byte == '\r') return "holds a line break";
    if (byte == '\t') return "holds a tab";
    if (byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) {
      return "holds a control character";
    }
  }
  const bool front = value.starts_with(" ") || value.starts_with("\xC2\xA0");
  const bool back = value.ends_with(" ") || value.ends_with("\xC2\xA0");
  if (front && back) return "begins and ends with a blank";
  if (front) return "begins with a blank";
  if (back) return "ends with a blank";
  return {};
}

// A token or address pasted with its line break, or with a blank, is sent with it.
bool WarnOfStrayCharacters(std::string_view key, const std::string& value,
                           std::vector<std::string>& warnings) {
  const std::string stray = StrayCharacters(value);
  if (stray.empty()) return false;
  const std::string what = key == "token" ? "the token" : "the address";
  warnings.push_back(
      "config.json \"" + std::string(key) + "\" " + stray + ", which the plugin sends with " +
      what + ", so the server list " +
      (key == "token" ? "rejects the token" : "lists the server wrongly or not at all") +
      ". Write " + what + " alone between the quotes, on one line.");
  return true;
}

// A key written twice with different values, say an old token above the new one behind "//":
// the plugin takes the first "token" in the file, wherever it stands.
void WarnOfRepeatedKeys(std::string_view text, std::vector<std::string>& warnings) {
  for (const std::string_view key : {"token", "ip", "port"}) {
    const std::string needle = Enclosed("\"", key, "\"");
    std::vector<std::size_t> places;
    for (std::size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + 1)) {
      const std::size_t colon = text.find_first_not_of(" \t\r\n", at + needle.size());
      if (colon != std::string_view::npos && text[colon] == ':') places.push_back(at);
    }
    if (places.size() < 2) continue;
    // Each occurrence's value, as the plugin would read it there.
    const auto valueAt = [&](std::size_t at) {
      if (key == "port") return std::to_string(LookUpJsonInt(text.substr(at), key).Value);
      return LookUpJsonString(text.substr(at), key).Value;
    };
    const std::string first = valueAt(places.front());
    bool differ = false;
    for (const std::size_t at : places) differ = differ || valueAt(at) != first;
    if (!differ) continue;
    std::string lines;
    for (std::size_t i = 0; i < places.size(); ++i) {
      if (i != 0) lines += i + 1 == places.size() ? " and " : ", ";
      lines += std::to_string(LineAt(text, places[i]));
    }
    const std::string taken = first.empty()    ? "an empty value,"
                              : key == "token" ? MaskToken(first)
                              : key == "ip"    ? "\"" + first + "\""
                                               : first;
    warnings.push_back("config.json gives \"" + std::string(key) + "\" " +
                       std::to_string(places.size()) + " times, on lines " + lines +
                       ", with different values: the plugin takes the first, " + taken +
                       " on line " + std::to_string(LineAt(text, places.front())) +
                       ". JSON has no comments, so a line behind // counts as well: delete the "
                       "lines you do not mean.");
  }
}

// Keys in single quotes, as some editors and languages write them: the plugin finds no key.
void WarnOfSingleQuotes(std::string_view text, const ConfigSources& gate,
                        std::vector<std::string>& warnings) {
  std::string keys;
  const std::pair<std::string_view, JsonKeyOutcome> lookups[] = {
      {"token", gate.Token.Outcome}, {"ip", gate.Ip.Outcome}, {"port", gate.Port.Outcome}};
  for (const auto& [key, outcome] : lookups) {
    if (outcome != JsonKeyOutcome::kNoKey) continue;
    if (text.find(Enclosed("'", key, "'")) == std::string_view::npos) continue;
    if (!keys.empty()) keys += ", ";
    keys += Enclosed("'", key, "'");
  }
  if (keys.empty()) return;
  warnings.push_back("config.json writes " + keys +
                     " in single quotes, which JSON does not know, so the plugin finds no such "
                     "key: write every key and every text in double quotes, as in {\"token\": "
                     "\"...\", \"ip\": \"...\", \"port\": 7777}.");
}

// A port in quotes counts as none, so a port in the launch arguments takes its place: the heartbeat
// carries another port than the one the admin wrote.
void WarnOfQuotedPort(std::string_view text, const ServerFacts& facts, const ConfigSources& gate,
                      std::vector<std::string>& warnings) {
  if (gate.Port.Outcome != JsonKeyOutcome::kQuoted || !gate.Launch || !gate.Launch->Port()) return;
  const std::string written = LookUpJsonString(text, "port").Value;
  if (written == std::to_string(facts.ServerPort)) return;
  warnings.push_back("config.json \"port\" is written as text, \"" + written +
                     "\", which the plugin does not read, so it takes the port from the launch "
                     "arguments instead: " +
                     std::to_string(facts.ServerPort) +
                     ". Write the port as a plain number, without quotes.");
}

void WarnOfNonUtf8(std::string_view role, std::size_t line, std::vector<std::string>& warnings) {
  warnings.push_back(std::string(role) + " is not saved as UTF-8 (line " + std::to_string(line) +
                     " holds bytes that are no UTF-8; Notepad calls that \"ANSI\"), so characters "
                     "outside ASCII reach the server list wrongly. Save it as UTF-8.");
}

// Lines of the settings file that mean a key the plugin reads but that the plugin passes over,
// and keys given twice with different values.
void WarnOfSettingsLines(const SettingsScan& scan, std::vector<std::string>& warnings) {
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

AddressKind ClassifyAddress(std::string_view text) {
  if (const auto ipv4 = ParseIpv4(text)) return ClassifyIpv4(*ipv4);
  if (const auto ipv6 = ParseIpv6(text)) return ClassifyIpv6(*ipv6);
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos && IsPortSuffix(text.substr(colon))) {
    const std::string_view address = text.substr(0, colon);
    if (ParseIpv4(address)) return AddressKind::kWithPort;
    if (address.size() > 2 && address.front() == '[' && address.back() == ']' &&
        ParseIpv6(address.substr(1, address.size() - 2))) {
      return AddressKind::kWithPort;
    }
  }
  return AddressKind::kNotAnAddress;
}

std::string FileState(const FileRead& read) {
  if (read.TooLarge) {
    return "found, but " + std::to_string(*read.TooLarge) +
           " bytes long, more than the plugin reads (" + std::to_string(kMaxConfigFileBytes) +
           " bytes)";
  }
  if (read.Opened) {
    if (read.Encoding == TextEncoding::Utf16Be) {
      return "found, but saved as UTF-16BE, which the plugin does not read";
    }
    return "found, read as " + std::string(TextEncodingName(read.Encoding));
  }
  switch (read.Failure) {
    case platform::OpenFailure::Directory:
      return "a directory, not a file";
    case platform::OpenFailure::Device:
      return "a device, not a file";
    case platform::OpenFailure::Pipe:
      return "a pipe or FIFO, not a file";
    case platform::OpenFailure::Other:
      return read.FailureMessage.empty() ? "not a file the plugin can read"
                                         : "cannot be read: " + read.FailureMessage;
    case platform::OpenFailure::None:
    case platform::OpenFailure::Missing:
      break;
  }
  return "not found";
}

std::vector<std::string> FindWarnings(const std::string& pluginDir, Discovery& found) {
  std::vector<std::string> warnings;
  std::error_code error;
  if (!fs::is_regular_file(PathFromUtf8(pluginDir) / kPluginFile, error)) {
    warnings.push_back(std::string(kPluginFile) +
                       " is not in the plugin folder: the plugin host loads the plugin from "
                       "there, so until it is, the plugin does not run at all.");
  } else {
    WarnOfTestBuild(pluginDir, warnings);
  }
  if (found.Config.Failure == platform::OpenFailure::Missing) {
    WarnOfHiddenExtension(pluginDir, warnings);
  }

  const struct {
    const char* Role;
    std::string Path;
    const FileRead& Read;
  } files[] = {{"config.json", ConfigFilePath(pluginDir), found.Config},
               {"The settings file", SettingsFilePath(pluginDir), found.Settings},
               {"The server log", ServerLogPath(pluginDir), found.Log}};
  for (const auto& file : files) {
    if (file.Read.Opened && file.Read.Encoding == TextEncoding::Utf16Be) {
      warnings.push_back(std::string(file.Role) +
                         " is saved as UTF-16 big-endian, which the plugin does not read, so "
                         "every value in it counts as absent. Save it as UTF-8, or as \"Unicode\" "
                         "in Notepad.");
    } else if (!file.Read.Opened && file.Read.Failure != platform::OpenFailure::Missing) {
      warnings.push_back(std::string(file.Role) + " at " + ShownPath(file.Path) + " is " +
                         FileState(file.Read) + "; the plugin counts it as missing.");
    }
  }
  WarnOfMissingServerFiles(pluginDir, found, warnings);

  if (found.Gate.FileFound && found.Config.Encoding != TextEncoding::Utf16Be) {
    const std::optional<std::string> text = ConfigText(pluginDir);
    WarnOfUnquotedValue("token", found.Gate.Token, false, warnings);
    WarnOfUnquotedValue("ip", found.Gate.Ip, true, warnings);
    if (text) {
      WarnOfSingleQuotes(*text, found.Gate, warnings);
      WarnOfRepeatedKeys(*text, warnings);
    }
    WarnOfStrayCharacters("token", found.Facts.Token, warnings);
    if (found.Facts.Token == "your-token") {
      warnings.push_back(
          "config.json \"token\" is still the README's example, \"your-token\": put in the token "
          "the server list gave you for this server.");
    }
    if (!found.Facts.ServerIp.empty() && !found.Gate.Ip.ValueUnquoted &&
        !WarnOfStrayCharacters("ip", found.Facts.ServerIp, warnings)) {
      WarnOfAddress(found.Facts.ServerIp, warnings);
    }
    if (text) {
      WarnOfQuotedPort(*text, found.Facts, found.Gate, warnings);
      if (const std::optional<std::size_t> line = FirstNonUtf8Line(*text)) {
        WarnOfNonUtf8("config.json", *line, warnings);
      }
    }
  }
  if (found.Settings.Opened && found.Settings.Encoding != TextEncoding::Utf16Be) {
    const SettingsScan scan = ScanSettingsFile(SettingsFilePath(pluginDir));
    WarnOfSettingsLines(scan, warnings);
    AmendPassedOverNotes(scan, found.Notes);
    if (scan.FirstNonUtf8Line) WarnOfNonUtf8("The settings file", *scan.FirstNonUtf8Line, warnings);
  }
  if (found.Facts.ServerPort > 65535) {
    warnings.push_back("The port is " + std::to_string(found.Facts.ServerPort) +
                       ", above 65535, the highest port there is: no player can connect there.");
  }
  return warnings;
}

}  // namespace vesperline::check
