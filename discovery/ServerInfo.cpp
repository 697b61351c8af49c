#include "discovery/ServerInfo.h"

#include <optional>

#include "common/Decimal.h"
#include "common/Text.h"
#include "discovery/Discovery.h"
#include "discovery/LaunchArguments.h"
#include "discovery/ServerLog.h"
#include "discovery/SettingsFile.h"
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

std::string Given(std::string_view value) {
  return "gave \"" + std::string(value) + "\"";
}

// Runs one discovery step; an error inside it (memory exhaustion) costs only that fact.
template <typename Step>
void Guarded(Step step) {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

std::string SettingsFilePath(const std::string& pluginDir) {
  return AboveFiveLevels(pluginDir, "Saved/Config/WindowsServer/GameUserSettings.ini");
}

std::string ServerLogPath(const std::string& pluginDir) {
  return AboveFiveLevels(pluginDir, "Saved/Logs/ShooterGame.log");
}

void CollectServerInfoFrom(ServerFacts& facts, const DiscoveryInputs& inputs,
                           std::vector<SourceNote>* notesOut) {
  SourceNotes notes(notesOut);
  const std::string_view commandLine = inputs.CommandLine;

  // One pass over the settings file answers every lookup below; a file that cannot be read (or a
  // read that fails) answers each with empty text.
  std::vector<std::string> settings(5);
  Guarded([&] {
    settings = ReadIniValues(inputs.SettingsFile, {{"SessionName", ""},
                                                   {"MaxPlayers", "/Script/Engine.GameSession"},
                                                   {"ActiveMods", "ServerSettings"},
                                                   {"bServerPVE", "ServerSettings"},
                                                   {"serverPVE", "ServerSettings"}});
  });
  std::string& fileSessionName = settings[0];
  const std::string& fileMaxPlayers = settings[1];
  std::string& fileMods = settings[2];
  const std::string& fileBServerPve = settings[3];
  const std::string& fileServerPve = settings[4];

  Guarded([&] {
    constexpr std::string_view kFact = "session name";
    constexpr std::string_view kLaunch = "launch argument ?SessionName=";
    constexpr std::string_view kFile = "settings file, any section: SessionName";
    if (auto name = ScanLaunchSessionName(commandLine)) {
      notes.Add(kFact, kLaunch, true, Given(*name));
      notes.Add(kFact, kFile, false, "not read: the launch argument decides");
      facts.SessionName = std::move(*name);
      return;
    }
    notes.Add(kFact, kLaunch, false, "absent or empty");
    if (facts.SessionName.empty()) {
      std::string name = std::move(fileSessionName);
      notes.Add(kFact, kFile, !name.empty(), name.empty() ? "absent or empty" : Given(name));
      if (!name.empty()) facts.SessionName = std::move(name);
    }
  });

  Guarded([&] {
    constexpr std::string_view kFact = "player limit";
    constexpr std::string_view kFile = "settings file [/Script/Engine.GameSession] MaxPlayers";
    const std::string& value = fileMaxPlayers;
    const std::optional<std::int32_t> limit = value.empty() ? std::nullopt : ParseDecimal32(value);
    if (limit) facts.PlayerLimit = *limit;
    const bool decided = facts.PlayerLimit > 0;
    notes.Add(kFact, kFile, limit && decided,
              value.empty() ? "absent or empty"
              : !limit      ? Given(value) + ", which is not a number"
              : decided     ? Given(value)
                            : Given(value) + ", which is not above 0");
    if (decided) return;
    const LaunchNumber launch = ScanLaunchMaxPlayers(commandLine);
    const std::string source =
        "launch argument " + (launch.Found ? std::string(launch.Key) : std::string("?MaxPlayers="));
    if (launch.Value) facts.PlayerLimit = *launch.Value;
    notes.Add(kFact, source, launch.Value.has_value(),
              !launch.Found  ? "absent"
              : launch.Value ? "gave " + std::to_string(*launch.Value)
                             : std::string("not followed by a number"));
  });

  Guarded([&] {
    constexpr std::string_view kFact = "mods";
    constexpr std::string_view kFile = "settings file [ServerSettings] ActiveMods";
    constexpr std::string_view kLaunch = "launch argument -mods=";
    std::string mods = std::move(fileMods);
    if (!mods.empty()) {
      notes.Add(kFact, kFile, true, Given(mods));
      notes.Add(kFact, kLaunch, false, "not read: the settings file decides");
      facts.ModList = std::move(mods);
      return;
    }
    notes.Add(kFact, kFile, false, "absent or empty");
    auto launch = ScanLaunchMods(commandLine);
    notes.Add(kFact, kLaunch, launch.has_value(), launch ? Given(*launch) : "absent or empty");
    if (launch) facts.ModList = std::move(*launch);
  });

  Guarded([&] {
    constexpr std::string_view kFact = "PvE";
    std::string value = fileBServerPve;
    notes.Add(kFact, "settings file [ServerSettings] bServerPVE", !value.empty(),
              value.empty() ? "absent or empty" : Given(value));
    if (value.empty()) {
      value = fileServerPve;
      notes.Add(kFact, "settings file [ServerSettings] ServerPVE", !value.empty(),
                value.empty() ? "absent or empty" : Given(value));
    }
    if (!value.empty()) facts.IsPve = LowerAscii(value) == "true";
  });

  Guarded([&] {
    std::optional<std::string> version = inputs.LogReader != nullptr
                                             ? inputs.LogReader->Scan(inputs.ServerLog)
                                             : ScanVersionLog(inputs.ServerLog);
    notes.Add("version", "server log: \"ARK Version: \" line", version && !version->empty(),
              !version           ? "no log, or no version line in it"
              : version->empty() ? std::string("the version line is empty")
                                 : Given(*version));
    if (version) facts.ServerVersion = std::move(*version);
  });

  Guarded([&] {
    auto map = ScanLaunchMap(commandLine);
    notes.Add("map", "launch arguments: first argument", map.has_value(),
              map ? Given(*map) : "no argument after the executable path");
    if (map) facts.MapName = std::move(*map);
  });
}

void CollectServerInfo() {
  try {
    const DiscoveryInputs inputs{ReadCommandLineText(), SettingsFilePath(Profile.PluginDir),
                                 ServerLogPath(Profile.PluginDir), &Profile.VersionLog};
    CollectServerInfoFrom(Profile, inputs);
  } catch (...) {
  }
}

void ReadVersionFromLog() {
  try {
    if (auto version = Profile.VersionLog.Scan(ServerLogPath(Profile.PluginDir))) {
      Profile.ServerVersion = std::move(*version);
    }
  } catch (...) {
  }
}

}  // namespace vesperline
