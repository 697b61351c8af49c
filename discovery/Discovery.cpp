#include "discovery/Discovery.h"

#include <optional>

#include "common/Guard.h"
#include "discovery/ConfigFile.h"
#include "discovery/ServerInfo.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {

// The walk from the plugin's directory to the server's Saved folder.
std::string AboveFiveLevels(const std::string& pluginDir, std::string_view rest) {
  constexpr char kSeparator = platform::kPathSeparator;
  std::string path = pluginDir;
  for (int level = 0; level < 5; ++level) {
    path += "..";
    path += kSeparator;
  }
  for (const char c : rest) path += c == '/' ? kSeparator : c;
  return path;
}

}  // namespace

std::string ConfigFilePath(const std::string& pluginDir) {
  return pluginDir + std::string(kConfigFileName);
}

std::string SettingsFilePath(const std::string& pluginDir) {
  return AboveFiveLevels(pluginDir, "Saved/Config/WindowsServer/GameUserSettings.ini");
}

std::string ServerLogPath(const std::string& pluginDir) {
  return AboveFiveLevels(pluginDir, "Saved/Logs/ShooterGame.log");
}

Discovery DiscoverServer(const DiscoveryInputs& inputs, const DiscoveryOptions& options) {
  Discovery found;
  RunGuarded([&] {
    const auto located = [&](const std::string& path) {
      return inputs.FindPath ? inputs.FindPath(path) : path;
    };
    // Both steps may want the command line; it is read and split once, when the first asks for
    // it.
    std::optional<LaunchLine> launch;
    const auto readLaunch = [&]() -> const LaunchLine& {
      if (!launch) launch = ReadLaunchLine(inputs.CommandLine ? inputs.CommandLine() : "");
      return *launch;
    };

    const std::optional<std::string> configText = ReadServerFile(
        located(ConfigFilePath(inputs.PluginDir)), &found.Config, kMaxConfigFileBytes);
    found.Usable = LoadConfig(found.Facts, configText, readLaunch, &found.Gate);
    if (options.WithNotes) AddConfigNotes(found.Gate, found.Facts, found.Notes);
    if (!found.Usable && !options.PastFailedGate) return;

    ServerInfoSources info;
    CollectServerInfo(found.Facts,
                      {readLaunch(), located(SettingsFilePath(inputs.PluginDir)),
                       located(ServerLogPath(inputs.PluginDir)), inputs.LogReader},
                      &info);
    found.Launch = std::move(*launch);
    found.Settings = info.Settings;
    found.Log = info.Log;
    if (options.WithNotes) AddServerInfoNotes(info, found.Notes);
    found.Info = std::move(info);
  });
  return found;
}

}  // namespace vesperline
