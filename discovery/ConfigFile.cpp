#include "discovery/ConfigFile.h"

#include "common/Decimal.h"
#include "discovery/Discovery.h"
#include "discovery/LaunchArguments.h"
#include "discovery/ServerFile.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {

// The position just behind the first ':' that follows the quoted key; nothing when either is
// missing.
std::optional<std::size_t> AfterKeyColon(std::string_view text, std::string_view key) {
  std::string needle;
  needle.reserve(key.size() + 2);
  needle.append(1, '"').append(key).append(1, '"');
  const std::size_t at = text.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t colon = text.find(':', at);
  if (colon == std::string_view::npos) return std::nullopt;
  return colon + 1;
}

std::string Quoted(std::string_view key) {
  std::string quoted;
  quoted.reserve(key.size() + 2);
  quoted.append(1, '"').append(key).append(1, '"');
  return quoted;
}

// Why a key of config.json gave no value past its ':', or nothing when the key and ':' are there.
std::optional<std::string> MissingKeyDetail(std::string_view text, std::string_view key) {
  if (text.find(Quoted(key)) == std::string_view::npos) {
    return "no " + Quoted(key) + " key (keys are matched with their case)";
  }
  if (!AfterKeyColon(text, key)) return "no ':' after the key";
  return std::nullopt;
}

// What config.json gave for a text key; the value itself is shown only when showValue is set.
std::string TextDetail(std::string_view text, std::string_view key, const std::string& value,
                       bool showValue) {
  if (value.empty()) {
    return MissingKeyDetail(text, key).value_or("empty, or no quoted text after the key");
  }
  std::size_t characters = 0;
  for (const char byte : value) characters += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  std::string detail = showValue ? "gave \"" + value + "\""
                                 : "gave a value of " + std::to_string(characters) + " characters";
  if (value.front() == ' ' || value.back() == ' ') {
    detail += " (it begins or ends with a blank, which is sent as it is)";
  }
  return detail;
}

std::string PortFileDetail(std::string_view text, std::int32_t port) {
  if (port >= 1) return "gave " + std::to_string(port);
  if (auto missing = MissingKeyDetail(text, "port")) return *missing;
  const std::size_t start = text.find_first_not_of(" \t\r\n", *AfterKeyColon(text, "port"));
  if (start == std::string_view::npos) return "no value after the key";
  if (text[start] == '"') return "quoted: only a bare number counts, so 0";
  if (!ParseDecimal32(text.substr(start))) return "not a number in the signed 32-bit range, so 0";
  return "gave " + std::to_string(port) + ", which is not above 0";
}

std::string LaunchPortDetail(const LaunchNumber& number) {
  if (!number.Found) return "absent";
  if (!number.Value) return "not followed by a number";
  std::string detail = "gave " + std::to_string(*number.Value);
  if (*number.Value < 1) detail += ", which is not above 0";
  return detail;
}

constexpr std::string_view kFileToken = "config.json \"token\"";
constexpr std::string_view kFileIp = "config.json \"ip\"";
constexpr std::string_view kFilePort = "config.json \"port\"";
constexpr std::string_view kLaunchQuestionPort = "launch argument ?Port=";
constexpr std::string_view kLaunchDashPort = "launch argument -port=";

}  // namespace

std::string ReadJsonString(std::string_view text, std::string_view key) {
  const std::optional<std::size_t> value = AfterKeyColon(text, key);
  if (!value) return {};
  const std::size_t open = text.find('"', *value);
  if (open == std::string_view::npos) return {};
  const std::size_t close = text.find('"', open + 1);
  if (close == std::string_view::npos) return {};
  return std::string(text.substr(open + 1, close - open - 1));
}

std::int32_t ReadJsonInt(std::string_view text, std::string_view key) {
  const std::optional<std::size_t> value = AfterKeyColon(text, key);
  if (!value) return 0;
  const std::size_t start = text.find_first_not_of(" \t\r\n", *value);
  if (start == std::string_view::npos) return 0;
  return ParseDecimal32(text.substr(start)).value_or(0);
}

std::string DirectoryOf(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  if (cut == std::string_view::npos) return {};
  return std::string(path.substr(0, cut + 1));
}

bool HasUsableConfig(const ServerFacts& facts) {
  return !facts.Token.empty() && !facts.ServerIp.empty() && facts.ServerPort >= 1;
}

bool ApplyConfig(ServerFacts& facts, const std::optional<std::string>& configText,
                 const std::function<std::string()>& commandLine,
                 std::vector<SourceNote>* notesOut) {
  SourceNotes notes(notesOut);
  if (!configText) {
    notes.Add("token", kFileToken, false, "no config.json");
    notes.Add("ip", kFileIp, false, "no config.json");
    notes.Add("port", kFilePort, false, "no config.json");
    notes.Add("port", "launch arguments", false, "not read: without config.json nothing is");
    return false;
  }
  const std::string& text = *configText;
  facts.Token = ReadJsonString(text, "token");
  facts.ServerIp = ReadJsonString(text, "ip");
  facts.ServerPort = ReadJsonInt(text, "port");
  if (notes.Wanted()) {
    notes.Add("token", kFileToken, !facts.Token.empty(),
              TextDetail(text, "token", facts.Token, false));
    notes.Add("ip", kFileIp, !facts.ServerIp.empty(), TextDetail(text, "ip", facts.ServerIp, true));
  }
  if (facts.ServerPort >= 1) {
    notes.Add("port", kFilePort, true, PortFileDetail(text, facts.ServerPort));
    notes.Add("port", "launch arguments", false, "not read: config.json gives the port");
  } else {
    notes.Add("port", kFilePort, false,
              notes.Wanted() ? PortFileDetail(text, facts.ServerPort) : "");
    const std::string line = commandLine();
    std::string_view key;
    const std::optional<std::int32_t> port = ScanLaunchPort(line, &key);
    if (port) facts.ServerPort = *port;
    if (notes.Wanted()) {
      const LaunchNumber question = LaunchNumberFrom(line, kQuestionPortKey);
      notes.Add("port", kLaunchQuestionPort, port && key == kQuestionPortKey,
                LaunchPortDetail(question));
      if (question.Value && *question.Value >= 1) {
        notes.Add("port", kLaunchDashPort, false, "not read: ?Port= gives the port");
      } else {
        notes.Add("port", kLaunchDashPort, port && key == kDashPortKey,
                  LaunchPortDetail(LaunchNumberFrom(line, kDashPortKey)));
      }
    }
  }
  return HasUsableConfig(facts);
}

bool LoadConfig() {
  // Discovery never lets an error out to the host; a failed allocation here (a huge file, say)
  // leaves the plugin idle.
  try {
    Profile.PluginDir = DirectoryOf(platform::PluginModulePath());
    const std::optional<std::string> text =
        ReadServerFile(Profile.PluginDir + std::string(kConfigFileName));
    return ApplyConfig(Profile, text, ReadCommandLineText);
  } catch (...) {
    return false;
  }
}

}  // namespace vesperline
