#include "discovery/ConfigFile.h"

#include "common/Decimal.h"
#include "discovery/LaunchArguments.h"

namespace vesperline {

namespace {

std::string Quoted(std::string_view key) {
  std::string quoted;
  quoted.reserve(key.size() + 2);
  quoted.append(1, '"').append(key).append(1, '"');
  return quoted;
}

// The position just behind the first ':' that follows the quoted key, or why there is none.
JsonKeyOutcome FindKeyColon(std::string_view text, std::string_view key, std::size_t& after) {
  const std::size_t at = text.find(Quoted(key));
  if (at == std::string_view::npos) return JsonKeyOutcome::kNoKey;
  const std::size_t colon = text.find(':', at);
  if (colon == std::string_view::npos) return JsonKeyOutcome::kNoColon;
  after = colon + 1;
  return JsonKeyOutcome::kFound;
}

constexpr std::string_view kBlanks = " \t\r\n";

std::string MissingKeyDetail(JsonKeyOutcome outcome, std::string_view key) {
  if (outcome == JsonKeyOutcome::kNoKey) {
    return "no " + Quoted(key) + " key (keys are matched with their case)";
  }
  return "no ':' after the key";
}

// What config.json gave for a text key; the value itself is shown only when showValue is set.
std::string TextDetail(const JsonText& text, std::string_view key, bool showValue) {
  if (text.Outcome == JsonKeyOutcome::kNoKey || text.Outcome == JsonKeyOutcome::kNoColon) {
    return MissingKeyDetail(text.Outcome, key);
  }
  const std::string& value = text.Value;
  if (value.empty()) return "empty, or no quoted text after the key";
  std::size_t characters = 0;
  for (const char byte : value) characters += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  std::string detail = showValue ? "gave \"" + value + "\""
                                 : "gave a value of " + std::to_string(characters) + " characters";
  if (value.front() == ' ' || value.back() == ' ') {
    detail += " (it begins or ends with a blank, which is sent as it is)";
  }
  return detail;
}

std::string PortGiven(std::int32_t port) {
  return "gave " + std::to_string(port) + (port < 1 ? ", which is not above 0" : "");
}

std::string PortFileDetail(const JsonNumber& port) {
  switch (port.Outcome) {
    case JsonKeyOutcome::kNoKey:
    case JsonKeyOutcome::kNoColon:
      return MissingKeyDetail(port.Outcome, "port");
    case JsonKeyOutcome::kNoValue:
      return "no value after the key";
    case JsonKeyOutcome::kQuoted:
      return "quoted: only a bare number counts, so 0";
    case JsonKeyOutcome::kNotANumber:
      return "not a number in the signed 32-bit range, so 0";
    case JsonKeyOutcome::kFound:
      break;
  }
  return PortGiven(port.Value);
}

std::string LaunchPortDetail(const LaunchNumber& number) {
  if (!number.Found) return "absent";
  if (!number.Value) return "not followed by a number";
  return PortGiven(*number.Value);
}

constexpr std::string_view kFileToken = "config.json \"token\"";
constexpr std::string_view kFileIp = "config.json \"ip\"";
constexpr std::string_view kFilePort = "config.json \"port\"";

}  // namespace

JsonText LookUpJsonString(std::string_view text, std::string_view key) {
  JsonText found;
  std::size_t value = 0;
  found.Outcome = FindKeyColon(text, key, value);
  if (found.Outcome != JsonKeyOutcome::kFound) return found;
  const std::size_t first = text.find_first_not_of(kBlanks, value);
  found.ValueUnquoted = first != std::string_view::npos && text[first] != '"';
  const std::size_t open = text.find('"', value);
  const std::size_t close = open == std::string_view::npos ? open : text.find('"', open + 1);
  if (close == std::string_view::npos) {
    found.Outcome = JsonKeyOutcome::kNoValue;
    return found;
  }
  found.Value = std::string(text.substr(open + 1, close - open - 1));
  return found;
}

JsonNumber LookUpJsonInt(std::string_view text, std::string_view key) {
  JsonNumber found;
  std::size_t value = 0;
  found.Outcome = FindKeyColon(text, key, value);
  if (found.Outcome != JsonKeyOutcome::kFound) return found;
  const std::size_t start = text.find_first_not_of(kBlanks, value);
  if (start == std::string_view::npos) {
    found.Outcome = JsonKeyOutcome::kNoValue;
  } else if (const std::optional<std::int32_t> number = ParseDecimal32(text.substr(start))) {
    found.Value = *number;
  } else {
    found.Outcome = text[start] == '"' ? JsonKeyOutcome::kQuoted : JsonKeyOutcome::kNotANumber;
  }
  return found;
}

std::string ReadJsonString(std::string_view text, std::string_view key) {
  return LookUpJsonString(text, key).Value;
}

std::int32_t ReadJsonInt(std::string_view text, std::string_view key) {
  return LookUpJsonInt(text, key).Value;
}

std::string DirectoryOf(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  if (cut == std::string_view::npos) return {};
  return std::string(path.substr(0, cut + 1));
}

bool HasUsableConfig(const ServerFacts& facts) {
  return !facts.Token.empty() && !facts.ServerIp.empty() && facts.ServerPort >= 1;
}

bool LoadConfig(ServerFacts& facts, const std::optional<std::string>& configText,
                const std::function<const LaunchLine&()>& launch, ConfigSources* sourcesOut) try {
  ConfigSources sources;
  if (configText) {
    sources.FileFound = true;
    sources.Token = LookUpJsonString(*configText, "token");
    sources.Ip = LookUpJsonString(*configText, "ip");
    sources.Port = LookUpJsonInt(*configText, "port");
    facts.Token = sources.Token.Value;
    facts.ServerIp = sources.Ip.Value;
    facts.ServerPort = sources.Port.Value;
    if (facts.ServerPort < 1) {
      sources.Launch = ScanLaunchPort(launch());
      if (const std::optional<std::int32_t> port = sources.Launch->Port()) facts.ServerPort = *port;
    }
  }
  if (sourcesOut != nullptr) *sourcesOut = std::move(sources);
  return configText && HasUsableConfig(facts);
} catch (...) {
  // Discovery never lets an error out to the host; a failed allocation here leaves the plugin idle.
  return false;
}

void AddConfigNotes(const ConfigSources& sources, const ServerFacts& facts, SourceNotes& notes) {
  if (!sources.FileFound) {
    AddNote(notes, "token", kFileToken, false, "no config.json");
    AddNote(notes, "ip", kFileIp, false, "no config.json");
    AddNote(notes, "port", kFilePort, false, "no config.json");
    AddNote(notes, "port", "launch arguments", false, "not read: without config.json nothing is");
    return;
  }
  AddNote(notes, "token", kFileToken, !facts.Token.empty(),
          TextDetail(sources.Token, "token", false));
  AddNote(notes, "ip", kFileIp, !facts.ServerIp.empty(), TextDetail(sources.Ip, "ip", true));
  AddNote(notes, "port", kFilePort, !sources.Launch, PortFileDetail(sources.Port));
  if (!sources.Launch) {
    AddNote(notes, "port", "launch arguments", false, "not read: config.json gives the port");
    return;
  }
  const LaunchPort& launch = *sources.Launch;
  const LaunchNumber* deciding = launch.Deciding();
  AddNote(notes, "port", "launch argument ?Port=", deciding == &launch.Question,
          LaunchPortDetail(launch.Question));
  AddNote(notes, "port", "launch argument -port=", launch.Dash && deciding == &*launch.Dash,
          launch.Dash ? LaunchPortDetail(*launch.Dash) : "not read: ?Port= gives the port");
}

}  // namespace vesperline
