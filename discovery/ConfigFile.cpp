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
                 const std::function<std::string()>& commandLine) {
  if (!configText) return false;
  facts.Token = ReadJsonString(*configText, "token");
  facts.ServerIp = ReadJsonString(*configText, "ip");
  facts.ServerPort = ReadJsonInt(*configText, "port");
  if (facts.ServerPort <= 0) {
    if (const auto port = ScanLaunchPort(commandLine())) facts.ServerPort = *port;
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
