// The checker's warnings about config.json: values the plugin reads otherwise than the admin meant.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/Text.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/text/JsonValidity.h"
#include "tools/check/text/Paths.h"
#include "tools/check/warnings/Address.h"
#include "tools/check/warnings/FileScans.h"
#include "tools/check/warnings/Warnings.h"

namespace vesperline::check {

namespace {

namespace fs = std::filesystem;

// How the comment of the release's sample, packaging/config.example.json, begins.
constexpr std::string_view kSampleComment = "A sample of Vesperline's settings.";

// The largest config.json looked into for the admin's mistakes; the plugin reads no larger one.
constexpr std::uint64_t kMaxConfigBytes = 64 << 10;

// A config.json text value that was not in quotes: the plugin took the next quoted text instead.
void WarnOfUnquotedValue(std::string_view key, const JsonText& value, bool showValue,
                         std::vector<Warning>& warnings) {
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

void WarnOfAddress(const std::string& ip, std::vector<Warning>& warnings) {
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

// config.json as the plugin reads it; nothing when it cannot be read or is too large to be one.
std::optional<std::string> ConfigText(const std::string& pluginDir) {
  platform::InputFile file(ConfigFileFound(pluginDir));
  if (!file.IsOpen() || file.SizeHint() > kMaxConfigBytes) return std::nullopt;
  std::optional<std::string> bytes = ReadFileBytes(file);
  if (!bytes || bytes->size() > kMaxConfigBytes) return std::nullopt;
  return DecodeServerText(std::move(*bytes)).Text;
}

std::size_t LineAt(std::string_view text, std::size_t at) {
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
}

// The name of a character that a text value of config.json carries along unseen, or that ends
// it where it is meant to go on, for a warning that names it: a control character, a Unicode
// format character (category Cf: zero-width, direction marks, the byte-order mark...), a space
// character other than the ASCII blank (category Zs, with the no-break space), a line or
// paragraph separator. Empty for any other character; the ASCII blank is named apart, since it
// spoils a value only at either end.
std::string StrayName(char32_t c) {
  const auto code = [c](std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string digits;
    for (char32_t rest = c; rest != 0 || digits.size() < 4; rest >>= 4) {
      digits.insert(digits.begin(), kHex[rest & 0xF]);
    }
    return std::string(name) + " (U+" + digits + ")";
  };
  switch (c) {
    case U'\r':
    case U'\n':
      return "a line break";
    case U'\t':
      return "a tab";
    case 0x00A0:
      return code("a no-break space");
    case 0x00AD:
      return code("a soft hyphen");
    case 0x200B:
      return code("a zero-width space");
    case 0x200C:
      return code("a zero-width non-joiner");
    case 0x200D:
      return code("a zero-width joiner");
    case 0x200E:
      return code("a left-to-right mark");
    case 0x200F:
      return code("a right-to-left mark");
    case 0x202F:
      return code("a narrow no-break space");
    case 0x2028:
      return code("a line separator");
    case 0x2029:
      return code("a paragraph separator");
    case 0x2060:
      return code("a word joiner");
    case 0xFEFF:
      return code("a byte-order mark");
    default:
      break;
  }
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return code("a control character");
  // The space separators but the ASCII blank and the no-break space above.
  if (c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x205F || c == 0x3000) {
    return code("a space character");
  }
  // The format characters but those named above, as of Unicode 15.1.
  constexpr std::pair<char32_t, char32_t> kFormat[] = {
      {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
      {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x202A, 0x202E},
      {0x2061, 0x2064},   {0x2066, 0x206F},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
      {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
      {0xE0001, 0xE0001}, {0xE0020, 0xE007F}};
  for (const auto& [first, last] : kFormat) {
    if (c >= first && c <= last) return code("an invisible format character");
  }
  return {};
}

// The code point of the UTF-8 sequence at text[at], and its length in bytes; a byte that begins
// no well-formed sequence stands for itself, with the length 1, as a character no name fits.
std::pair<char32_t, std::size_t> CodePointAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const std::size_t length = lead < 0x80   ? 1
                             : lead < 0xC2 ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3
                             : lead < 0xF5 ? 4
                                           : 0;
  if (length == 1) return {lead, 1};
  if (length == 0 || at + length > text.size()) return {0xFFFFFFFF, 1};
  char32_t c = lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {0xFFFFFFFF, 1};
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
  if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return {0xFFFFFFFF, 1};
  return {c, length};
}

}  // namespace

std::string StrayCharacters(std::string_view value) {
  struct Stray {
    std::string Name;
    std::size_t Place = 0;
  };
  std::vector<Stray> strays;  // in their order, a CR LF as one line break
  std::size_t count = 0;
  std::size_t lastVisible = 0;  // the place of the last character that is no stray
  std::size_t firstVisible = 0;
  for (std::size_t at = 0; at < value.size();) {
    const auto [c, length] = CodePointAt(value, at);
    ++count;
    std::string name = c == U' ' ? "a blank" : StrayName(c);
    if (name.empty()) {
      if (firstVisible == 0) firstVisible = count;
      lastVisible = count;
    } else if (!(c == U'\n' && !strays.empty() && strays.back().Place + 1 == count &&
                 value[at - 1] == '\r')) {
      strays.push_back({std::move(name), count});
    }
    at += length;
  }
  // A blank spoils the value only at its ends; the names of each end, once each.
  std::vector<std::string> front;
  std::vector<std::string> inside;
  std::vector<std::string> back;
  const auto once = [](std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  for (const Stray& stray : strays) {
    if (firstVisible == 0 || stray.Place < firstVisible) {
      once(front, stray.Name);
    } else if (stray.Place > lastVisible) {
      once(back, stray.Name);
    } else if (stray.Name != "a blank") {
      inside.push_back(stray.Name + " at character " + std::to_string(stray.Place));
    }
  }
  constexpr std::size_t kNamedInside = 3;
  if (inside.size() > kNamedInside + 1) {
    const std::size_t more = inside.size() - kNamedInside;
    inside.resize(kNamedInside);
    inside.push_back(std::to_string(more) + " more");
  }
  std::vector<std::string> parts;
  if (firstVisible == 0 && !front.empty()) return "holds nothing but " + Listed(front);
  if (!front.empty()) parts.push_back("begins with " + Listed(front));
  if (!inside.empty()) parts.push_back("holds " + Listed(inside));
  if (!back.empty()) parts.push_back("ends with " + Listed(back));
  if (inside.size() < 2 || parts.size() < 2) return Listed(parts);
  // A list of lists: semicolons set the parts apart.
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) joined += i + 1 == parts.size() ? "; and " : "; ";
    joined += parts[i];
  }
  return joined;
}

namespace {

// A token or address pasted with its line break, with a blank, or with a character no editor
// shows (from a web page or a chat), is sent with it.
bool WarnOfStrayCharacters(std::string_view key, const std::string& value,
                           std::vector<Warning>& warnings) {
  const std::string stray = StrayCharacters(value);
  if (stray.empty()) return false;
  const std::string what = key == "token" ? "the token" : "the address";
  std::string warning =
      "config.json \"" + std::string(key) + "\" " + stray + ", which the plugin sends with " +
      what + ", so the server list " +
      (key == "token" ? "rejects the token" : "lists the server wrongly or not at all") +
      ". Write " + what + " alone between the quotes, on one line.";
  // Every name but those of the blank, the tab and the line break carries its code.
  if (stray.find("(U+") != std::string::npos) {
    warning +=
        " An editor may not show such a character: delete the whole value between the quotes "
        "and type it anew.";
  }
  warnings.push_back(std::move(warning));
  return true;
}

// What the plugin takes from the first of a key's values, as WarnOfRepeatedKeys's valueAt gives
// it, and, where that is no usable value, what the plugin does instead.
std::string TakenValue(std::string_view key, const std::string& value) {
  constexpr std::string_view kFromLaunch =
      "counts as no port, so the plugin looks for the port in the launch arguments";
  if (key == "port") {
    if (value.starts_with('"')) {
      return Enclosed(value + " in quotes, which ", kFromLaunch, " (only a bare number counts)");
    }
    if (value.empty()) return Enclosed("no number, which ", kFromLaunch, "");
    if (value == "0" || value.starts_with('-')) {
      return Enclosed(value + ", which ", kFromLaunch, "");
    }
    return value;
  }
  if (value.empty()) return "an empty value";
  return key == "token" ? MaskToken(value) : Enclosed("\"", value, "\"");
}

// A key written twice with different values, say an old token above the new one behind "//":
// the plugin takes the first "token" in the file, wherever it stands.
void WarnOfRepeatedKeys(std::string_view text, std::vector<Warning>& warnings) {
  for (const std::string_view key : {"token", "ip", "port"}) {
    const std::string needle = Enclosed("\"", key, "\"");
    std::vector<std::size_t> places;
    for (std::size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + 1)) {
      const std::size_t colon = text.find_first_not_of(" \t\r\n", at + needle.size());
      if (colon != std::string_view::npos && text[colon] == ':') places.push_back(at);
    }
    if (places.size() < 2) continue;
    // Each occurrence's value, as the plugin would read it there; a port written in quotes is
    // kept apart from a bare one, though the plugin reads either as no port.
    const auto valueAt = [&](std::size_t at) {
      if (key != "port") return LookUpJsonString(text.substr(at), key).Value;
      const JsonNumber port = LookUpJsonInt(text.substr(at), key);
      if (port.Outcome == JsonKeyOutcome::kQuoted) {
        return Enclosed("\"", LookUpJsonString(text.substr(at), key).Value, "\"");
      }
      return port.Outcome == JsonKeyOutcome::kFound ? std::to_string(port.Value) : std::string();
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
    warnings.push_back("config.json gives \"" + std::string(key) + "\" " +
                       std::to_string(places.size()) + " times, on lines " + lines +
                       ", with different values: the plugin takes the first, on line " +
                       std::to_string(LineAt(text, places.front())) + ": " +
                       TakenValue(key, first) +
                       ". JSON has no comments, so a line behind // counts as well: delete the "
                       "lines you do not mean.");
  }
}

// The objects around the byte at `at` of a JSON text, from the outermost inwards, the outermost
// itself left out: each named by its member name in double quotes, or by its place in an array
// ("[0]"), so that "name" alone is an object at the top level's member "name". Nothing when the
// byte lies inside a quoted text or outside every object. Comments, which JSON does not have but
// admins write, are passed over as the plugin passes over everything but its keys.
std::optional<std::string> ObjectAround(std::string_view text, std::size_t at) {
  struct Level {
    bool Array = false;
    std::string Name;       // as its parent names it
    std::string Member;     // in an object: the member whose value comes next
    std::size_t Index = 0;  // in an array: the element that comes next
  };
  std::vector<Level> levels;
  std::string_view lastText;
  for (std::size_t i = 0; i < at; ++i) {
    const char c = text[i];
    if (c == '"') {
      std::size_t end = i + 1;
      while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
      if (end >= at) return std::nullopt;
      lastText = text.substr(i + 1, end - i - 1);
      i = end;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      i = std::min(text.find('\n', i), at);
    } else if (c == '{' || c == '[') {
      Level level;
      level.Array = c == '[';
      if (!levels.empty()) {
        const Level& parent = levels.back();
        level.Name = parent.Name;
        if (parent.Array) {
          level.Name.append(Enclosed("[", std::to_string(parent.Index), "]"));
        } else {
          if (!parent.Name.empty()) level.Name += '.';
          level.Name.append(Enclosed("\"", parent.Member, "\""));
        }
      }
      levels.push_back(std::move(level));
    } else if ((c == '}' || c == ']') && !levels.empty()) {
      levels.pop_back();
    } else if (c == ',' && !levels.empty() && levels.back().Array) {
      ++levels.back().Index;
    } else if (c == ':' && !levels.empty() && !levels.back().Array) {
      levels.back().Member = lastText;
    }
  }
  if (levels.empty() || levels.back().Array) return std::nullopt;
  return levels.back().Name;
}

// Another program's config.json copied over Vesperline's: the plugin finds its keys wherever they
// stand, so it takes a bot's token, a database's address and port from their objects and sends
// them. Vesperline's own keys stand at the top level.
void WarnOfNestedKeys(std::string_view text, std::vector<Warning>& warnings) {
  std::vector<std::pair<std::string, std::vector<std::string>>> objects;  // object, keys in it
  for (const std::string_view key : {"token", "ip", "port"}) {
    const std::size_t at = text.find(Enclosed("\"", key, "\""));
    if (at == std::string_view::npos) continue;
    const std::optional<std::string> object = ObjectAround(text, at);
    if (!object || object->empty()) continue;
    auto same = std::find_if(objects.begin(), objects.end(),
                             [&](const auto& entry) { return entry.first == *object; });
    if (same == objects.end()) same = objects.insert(objects.end(), {*object, {}});
    same->second.push_back(Enclosed("\"", key, "\""));
  }
  if (objects.empty()) return;
  std::string places;
  for (const auto& [object, keys] : objects) {
    if (!places.empty()) places += "; ";
    places += Listed(keys) + " in the object " + object;
  }
  warnings.push_back(
      "config.json holds its keys inside other objects, not at the top level: " + places +
      ". The plugin takes the first of each key wherever it stands, so it would "
      "send what " +
      (objects.size() == 1 ? "that object holds" : "those objects hold") +
      ". The file looks like another program's configuration copied over "
      "Vesperline's: put Vesperline's own config.json back, with \"token\", "
      "\"ip\" and \"port\" at the top level as in config.example.json.");
}

// Keys in single quotes, as some editors and languages write them: the plugin finds no key.
void WarnOfSingleQuotes(std::string_view text, const ConfigSources& gate,
                        std::vector<Warning>& warnings) {
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
                      std::vector<Warning>& warnings) {
  if (gate.Port.Outcome != JsonKeyOutcome::kQuoted || !gate.Launch || !gate.Launch->Port()) return;
  const std::string written = LookUpJsonString(text, "port").Value;
  if (written == std::to_string(facts.ServerPort)) return;
  warnings.push_back("config.json \"port\" is written as text, \"" + written +
                     "\", which the plugin does not read, so it takes the port from the launch "
                     "arguments instead: " +
                     std::to_string(facts.ServerPort) +
                     ". Write the port as a plain number, without quotes.");
}

// A value of config.json as written, found as the plugin finds the key: behind the first ':'
// after the key's first occurrence in double quotes, the white space after it skipped. A value in
// quotes runs to the next quote; any other up to the next ',', ']', '}' or line break outside
// braces (so that ${NAME} and {{ name }} stay whole), without the blanks at its end.
struct WrittenValue {
  std::size_t Offset = 0;  // where it begins in the text
  std::size_t End = 0;     // where it ends, its closing quote included
  std::string Text;        // without its quotes
  bool Quoted = false;
};

std::optional<WrittenValue> WrittenValueOf(std::string_view text, std::string_view key) {
  const std::size_t at = text.find(Enclosed("\"", key, "\""));
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t colon = text.find(':', at);
  if (colon == std::string_view::npos) return std::nullopt;
  const std::size_t start = text.find_first_not_of(" \t\r\n", colon + 1);
  if (start == std::string_view::npos) return std::nullopt;
  WrittenValue value;
  value.Offset = start;
  if (text[start] == '"') {
    const std::size_t close = text.find('"', start + 1);
    if (close == std::string_view::npos) return std::nullopt;
    value.Quoted = true;
    value.End = close + 1;
    value.Text = text.substr(start + 1, close - start - 1);
    return value;
  }
  std::size_t end = start;
  for (int braces = 0; end < text.size(); ++end) {
    const char c = text[end];
    if (c == '{') {
      ++braces;
    } else if (c == '}' && braces > 0) {
      --braces;
    } else if (braces == 0 && (c == ',' || c == ']' || c == '}' || c == '\r' || c == '\n')) {
      break;
    }
  }
  while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  value.End = end;
  value.Text = text.substr(start, end - start);
  return value;
}

// What kind of placeholder a value still is, as a template, a guide or an example leaves it.
enum class PlaceholderKind {
  kNone,
  kVariable,         // ${NAME} or $NAME: a shell's, a container's or envsubst's variable
  kTemplate,         // {{ name }}: a template that was never rendered
  kWindowsVariable,  // %NAME%: Windows fills these in on cmd's own lines, never in a file
  kGuideMark,        // <your token>: a guide's mark for what to fill in
  kInsideMarks,      // <value>: a value written inside a guide's marks, which were kept
  kExampleWord,      // your-token, YOUR_IP, changeme: an example's word
};

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The kind of placeholder value is, the whole of it; kNone for a value that is none. A value
// that only holds one somewhere is no placeholder here: the value may be a token, which is shown
// nowhere.
PlaceholderKind PlaceholderOf(std::string_view value) {
  if (value.size() > 3 && value.starts_with("${") && value.ends_with('}') &&
      value.find('}') == value.size() - 1) {
    return PlaceholderKind::kVariable;
  }
  if (value.size() > 1 && value.front() == '$' &&
      std::all_of(value.begin() + 1, value.end(), IsNameCharacter)) {
    return PlaceholderKind::kVariable;
  }
  if (value.size() > 4 && value.starts_with("{{") && value.ends_with("}}")) {
    return PlaceholderKind::kTemplate;
  }
  if (value.size() > 2 && value.front() == '%' && value.back() == '%' &&
      std::all_of(value.begin() + 1, value.end() - 1, IsNameCharacter)) {
    return PlaceholderKind::kWindowsVariable;
  }
  // The words of an example: "your-token", "YOUR_PUBLIC_IP", "your token here", "changeme".
  std::string word;
  for (const char c : LowerAscii(value)) {
    if (c != '<' && c != '>') word += c == '_' || c == ' ' ? '-' : c;
  }
  const bool exampleWord = word.starts_with("your") || word.ends_with("-here") ||
                           word == "changeme" || word == "change-me" || word == "token" ||
                           word == "ip" || word == "port" || word == "placeholder" ||
                           word == "x.x.x.x" || word == "xxx.xxx.xxx.xxx";
  if (value.size() > 2 && value.front() == '<' && value.back() == '>') {
    return exampleWord || value.find(' ') != std::string_view::npos ? PlaceholderKind::kGuideMark
                                                                    : PlaceholderKind::kInsideMarks;
  }
  return exampleWord ? PlaceholderKind::kExampleWord : PlaceholderKind::kNone;
}

// The variable's name in ${NAME}, ${NAME:-default} or $NAME; empty for another placeholder.
std::string VariableName(std::string_view value) {
  const std::size_t dollar = value.find('$');
  if (dollar == std::string_view::npos) return {};
  std::size_t start = dollar + 1;
  if (start < value.size() && value[start] == '{') ++start;
  std::size_t end = start;
  while (end < value.size() && IsNameCharacter(value[end])) ++end;
  return std::string(value.substr(start, end - start));
}

// "line 4, column 11"
std::string PlaceOf(const JsonFault& fault) {
  return "line " + std::to_string(fault.Line) + ", column " + std::to_string(fault.Column);
}

// A token, address or port in config.json that is still a placeholder: the template the file came
// from was never filled in, or the admin kept a guide's or an example's words. The plugin sends
// such a token or address as it stands, and reads no port from such a port. True when it warned;
// a JSON fault at the value's own place is told with it, and faultTold set.
bool WarnOfAPlaceholder(std::string_view text, std::string_view key, const Discovery& found,
                        const std::optional<JsonFault>& fault, bool& faultTold,
                        std::vector<Warning>& warnings) {
  const std::optional<WrittenValue> written = WrittenValueOf(text, key);
  if (!written) return false;
  const PlaceholderKind kind = PlaceholderOf(written->Text);
  if (kind == PlaceholderKind::kNone) return false;
  const bool token = key == "token";
  const bool port = key == "port";
  // A value kept inside a guide's marks may be the real token: it is not shown.
  const std::string shown =
      token && kind == PlaceholderKind::kInsideMarks ? std::string() : written->Text;
  std::string warning = "config.json \"" + std::string(key) + "\" ";
  switch (kind) {
    case PlaceholderKind::kVariable:
      warning += "is still a placeholder, " + shown +
                 ", a variable that the template this file came from was to fill in and nothing "
                 "did";
      break;
    case PlaceholderKind::kTemplate:
      warning += "is still a placeholder, " + shown + ", of a template that was never rendered";
      break;
    case PlaceholderKind::kWindowsVariable:
      warning += "is still a placeholder, " + shown +
                 ", a Windows variable, which Windows fills in on cmd's own lines but never in "
                 "a file";
      break;
    case PlaceholderKind::kGuideMark:
      warning += "is still a placeholder, " + shown + ", a guide's mark for what to fill in";
      break;
    case PlaceholderKind::kInsideMarks:
      warning += shown.empty() ? std::string("is written inside < >")
                               : "is written inside < >, " + shown + ",";
      warning += " which a guide puts around what is to be filled in, and which are kept";
      break;
    case PlaceholderKind::kExampleWord:
      warning += written->Text == "your-token"
                     ? "is still the README's example, \"your-token\""
                     : "is still an example's word, \"" + shown + "\", not a value";
      break;
    case PlaceholderKind::kNone:
      break;
  }
  const bool faultHere = fault && fault->Offset >= written->Offset && fault->Offset < written->End;
  if (faultHere) faultTold = true;
  if (!written->Quoted && !port) {
    warning += faultHere
                   ? " (not in double quotes, which also makes config.json no valid JSON at " +
                         PlaceOf(*fault) + ")"
                   : std::string(" (not in double quotes)");
  } else if (faultHere) {
    warning += ", which also makes config.json no valid JSON at " + PlaceOf(*fault);
  }
  if (port) {
    const std::optional<LaunchPort>& launch = found.Gate.Launch;
    // A plain number: g++ 12 takes an optional here for one read uninitialised.
    const std::int32_t launchPort = launch ? launch->Port().value_or(0) : 0;
    warning += ": the plugin reads no port from it, so ";
    warning += launchPort >= 1 ? "it takes the launch line's port, " + std::to_string(launchPort)
                               : std::string(
                                     "it looks for one on the launch line, finds none there, and "
                                     "stays idle");
    warning += ". Write the game port there as a plain number: \"port\": ";
    warning += launchPort >= 1
                   ? std::to_string(launchPort) + ", or 0 to take the launch line's port."
                   : std::string(
                         "7777, the game's default port, unless the server is given "
                         "another.");
  } else {
    const std::string what = token ? "the token" : "the server's address";
    if (written->Quoted) {
      warning += token ? ", so the plugin sends it as the token, and the service refuses it"
                       : ", so the plugin sends it as the server's address, where the server "
                         "list cannot reach the server";
    } else {
      warning += ", so the plugin takes the next text in double quotes in the file for " + what;
    }
    warning += ". Put ";
    warning +=
        token ? "the token the service issued for this server" : "the server's public address";
    warning += kind == PlaceholderKind::kInsideMarks ? " there without the < >" : " in its place";
    if (!written->Quoted) warning += ", in double quotes";
    warning += '.';
  }
  const std::string variable = VariableName(written->Text);
  if (kind == PlaceholderKind::kVariable && !variable.empty()) {
    warning +=
        " Or, where the file is made from a template (a container's start, envsubst, a "
        "deployment tool), give the variable " +
        variable + " a value there, so that it fills the placeholder in.";
  } else if (kind == PlaceholderKind::kTemplate) {
    warning += " Or render the template that makes this file with the value given.";
  }
  warnings.push_back(std::move(warning));
  return true;
}

// config.json is no JSON: an editor or a tool that reads it as JSON stops at the fault, and the
// plugin, which looks for each of its keys without reading the file as JSON, may take other
// values around it than the file means. Faults that other warnings name are left to them: bytes
// that are no UTF-8, a control character in a text, a single quote.
void WarnOfAJsonFault(const JsonFault& fault, std::string_view text,
                      std::vector<Warning>& warnings) {
  if (fault.Kind == JsonFaultKind::kText || text.substr(fault.Offset).starts_with('\'')) return;
  std::string warning =
      "config.json is not valid JSON: at " + PlaceOf(fault) + ", " + fault.What + ". ";
  switch (fault.Kind) {
    case JsonFaultKind::kComment:
      warnings.push_back(
          {warning +
               "The plugin passes over comments (though it takes a key inside one for a key), "
               "but a tool that reads the file as JSON stops there: delete the comment, or keep "
               "a note in a member of its own, such as \"_comment\": \"...\".",
           WarningWeight::kAside});
      return;
    case JsonFaultKind::kCommaAfterLast:
      warnings.push_back({warning +
                              "The plugin reads the file all the same, but a tool that reads it "
                              "as JSON stops there: delete that comma.",
                          WarningWeight::kAside});
      return;
    case JsonFaultKind::kCommaMissing:
      warnings.push_back({warning +
                              "The plugin reads the file all the same, but a tool that reads it "
                              "as JSON stops there: write the comma.",
                          WarningWeight::kAside});
      return;
    case JsonFaultKind::kSyntax:
    case JsonFaultKind::kText:
      break;
  }
  warnings.push_back(warning +
                     "The plugin looks for each of its keys without reading the file as JSON, so "
                     "around that place it may take other values than the file means (see the "
                     "facts above): correct the file there, as in {\"token\": \"...\", \"ip\": "
                     "\"...\", \"port\": 7777}.");
}

}  // namespace

std::optional<std::uint64_t> EmptyConfigBytes(const std::string& pluginDir,
                                              const FileRead& config) {
  if (!config.Opened || config.TooLarge) return std::nullopt;
  platform::InputFile file(ConfigFileFound(pluginDir));
  if (!file.IsOpen() || file.SizeHint() > kMaxConfigBytes) return std::nullopt;
  const std::optional<std::string> bytes = ReadFileBytes(file);
  if (!bytes || bytes->size() > kMaxConfigBytes) return std::nullopt;
  // Notepad saves an empty file as its byte-order mark alone; blanks are as empty.
  const std::string text = DecodeServerText(*bytes).Text;
  if (text.find_first_not_of(" \t\r\n") != std::string::npos) return std::nullopt;
  return bytes->size();
}

bool ExampleHoldsAToken(const std::string& pluginDir) {
  const std::optional<std::string> text =
      ReadServerFile(pluginDir + "config.example.json", nullptr, kMaxConfigFileBytes);
  return text && !LookUpJsonString(*text, "token").Value.empty();
}

bool ConfigIsTheSample(const std::string& pluginDir) {
  const std::optional<std::string> text = ConfigText(pluginDir);
  return text && LookUpJsonString(*text, "_comment").Value.starts_with(kSampleComment);
}

std::string CopyTheExample(bool overwrite) {
  return Enclosed(
      "which the plugin never reads, since it reads only config.json: copy config.example.json "
      "to config.json (in a command prompt in the plugin folder: copy ",
      overwrite ? "/Y " : "", "config.example.json config.json)");
}

// Windows hides known extensions, so Notepad's "config.json.txt" looks right in Explorer.
std::vector<std::string> HiddenExtensionFiles(const std::string& pluginDir) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator entries(PathFromUtf8(pluginDir), error);
  const std::string prefix = std::string(kConfigFileName) + ".";
  for (int seen = 0; !error && entries != fs::directory_iterator() && seen < 1000; ++seen) {
    const std::string name = Utf8FromPath(entries->path().filename());
    std::error_code kind;
    if (LowerAscii(name).starts_with(prefix) && entries->is_regular_file(kind)) {
      names.push_back(name);
    }
    entries.increment(error);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string RenameAdvice(const std::string& name) {
  return "rename it to config.json (in a command prompt in the plugin folder: ren \"" + name +
         "\" config.json)";
}

void WarnOfHiddenExtension(const std::string& pluginDir, std::vector<Warning>& warnings) {
  const std::size_t extension = kConfigFileName.size();
  for (const std::string& name : HiddenExtensionFiles(pluginDir)) {
    warnings.push_back("There is no config.json, but " + name +
                       " lies in the plugin folder: Windows hides its extension " +
                       name.substr(extension) +
                       ", so it shows as config.json: " + RenameAdvice(name) + ".");
  }
}

void WarnOfConfigValues(const std::string& pluginDir, Discovery& found,
                        std::vector<Warning>& warnings) {
  // An empty file is told as empty (the verdict says what to do), not as a file without keys.
  if (EmptyConfigBytes(pluginDir, found.Config)) {
    for (SourceNote& note : found.Notes) {
      if (note.Source.starts_with("config.json")) note.Detail = "config.json is empty";
    }
    return;
  }
  const std::optional<std::string> text = ConfigText(pluginDir);
  if (text && LooksLikeUtf16WithoutMark(*text)) {
    warnings.push_back(Utf16WithoutMarkWarning("config.json", "no token, address or port from it"));
    return;
  }
  if (text) WarnOfNestedKeys(*text, warnings);
  // A placeholder is named first, as what it is; the JSON fault it makes is told with it.
  const std::optional<JsonFault> fault = text ? FirstJsonFault(*text) : std::nullopt;
  bool faultTold = false;
  const auto placeholder = [&](std::string_view key) {
    return text && WarnOfAPlaceholder(*text, key, found, fault, faultTold, warnings);
  };
  const bool tokenPlaceholder = placeholder("token");
  const bool ipPlaceholder = placeholder("ip");
  const bool portPlaceholder = placeholder("port");
  if (!tokenPlaceholder) WarnOfUnquotedValue("token", found.Gate.Token, false, warnings);
  if (!ipPlaceholder) WarnOfUnquotedValue("ip", found.Gate.Ip, true, warnings);
  if (text) {
    WarnOfSingleQuotes(*text, found.Gate, warnings);
    WarnOfRepeatedKeys(*text, warnings);
  }
  WarnOfStrayCharacters("token", found.Facts.Token, warnings);
  if (!ipPlaceholder && !found.Facts.ServerIp.empty() && !found.Gate.Ip.ValueUnquoted &&
      !WarnOfStrayCharacters("ip", found.Facts.ServerIp, warnings)) {
    WarnOfAddress(found.Facts.ServerIp, warnings);
  }
  if (fault && !faultTold) WarnOfAJsonFault(*fault, *text, warnings);
  if (text) {
    if (!portPlaceholder) WarnOfQuotedPort(*text, found.Facts, found.Gate, warnings);
    if (const std::optional<std::size_t> line = FirstNonUtf8Line(*text)) {
      warnings.push_back(NotUtf8Warning("config.json", *line));
    }
  }
}

}  // namespace vesperline::check
