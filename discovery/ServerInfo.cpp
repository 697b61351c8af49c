#include "discovery/ServerInfo.h"

#include <iterator>

#include "common/Decimal.h"
#include "common/Guard.h"
#include "common/Text.h"
#include "discovery/Discovery.h"
#include "discovery/SettingsFile.h"

namespace vesperline {

namespace {

std::string Given(std::string_view value) {
  return "gave \"" + std::string(value) + "\"";
}

std::string GivenOrAbsent(std::string_view value) {
  return value.empty() ? std::string("absent or empty") : Given(value);
}

// The settings file's player limit, when it gives a number.
std::optional<std::int32_t> FilePlayerLimit(const ServerInfoSources& sources) {
  if (sources.FileMaxPlayers.empty()) return std::nullopt;
  return ParseDecimal32(sources.FileMaxPlayers);
}

}  // namespace

void CollectServerInfo(ServerFacts& facts, const ServerInfoInputs& inputs,
                       ServerInfoSources* sourcesOut) {
  ServerInfoSources sources;
  // Every source first, each step guarded so that a failure costs only what that step reads. One
  // pass over the settings file answers every lookup.
  RunGuarded([&] {
    std::vector<IniLookup> lookups;
    for (const SettingsKey& key : kSettingsKeys) {
      lookups.push_back({std::string(key.Key), std::string(key.Section)});
    }
    const std::vector<std::string> values =
        ReadIniValues(inputs.SettingsFile, lookups, &sources.Settings);
    sources.FileSessionName = values[0];
    sources.FileMaxPlayers = values[1];
    sources.FileActiveMods = values[2];
    sources.FileBServerPve = values[3];
    sources.FileServerPve = values[4];
  });
  RunGuarded([&] { sources.LaunchSessionName = ScanLaunchSessionName(inputs.CommandLine); });
  RunGuarded([&] { sources.LaunchMaxPlayers = ScanLaunchMaxPlayers(inputs.CommandLine); });
  RunGuarded([&] { sources.LaunchMods = ScanLaunchMods(inputs.CommandLine); });
  RunGuarded([&] { sources.LaunchMap = ScanLaunchMap(inputs.CommandLine); });
  RunGuarded([&] {
    sources.Version = inputs.LogReader != nullptr
                          ? inputs.LogReader->Scan(inputs.ServerLog, &sources.Log)
                          : ScanVersionLog(inputs.ServerLog, &sources.Log);
  });

  // Then each fact by its precedence.
  RunGuarded([&] {
    if (sources.LaunchSessionName) {
      facts.SessionName = *sources.LaunchSessionName;
    } else if (facts.SessionName.empty() && !sources.FileSessionName.empty()) {
      facts.SessionName = sources.FileSessionName;
    }
    if (const std::optional<std::int32_t> limit = FilePlayerLimit(sources)) {
      facts.PlayerLimit = *limit;
    }
    if (facts.PlayerLimit <= 0 && sources.LaunchMaxPlayers.Value) {
      facts.PlayerLimit = *sources.LaunchMaxPlayers.Value;
    }
    if (!sources.FileActiveMods.empty()) {
      facts.ModList = sources.FileActiveMods;
    } else if (sources.LaunchMods) {
      facts.ModList = *sources.LaunchMods;
    }
    const std::string& pve =
        sources.FileBServerPve.empty() ? sources.FileServerPve : sources.FileBServerPve;
    if (!pve.empty()) facts.IsPve = LowerAscii(pve) == "true";
    if (sources.Version) facts.ServerVersion = *sources.Version;
    if (sources.LaunchMap) facts.MapName = *sources.LaunchMap;
  });
  if (sourcesOut != nullptr) *sourcesOut = std::move(sources);
}

void AddServerInfoNotes(const ServerInfoSources& sources, SourceNotes& notes) {
  constexpr std::string_view kSessionFile = "settings file, any section: SessionName";
  if (sources.LaunchSessionName) {
    AddNote(notes, "session name", "launch argument ?SessionName=", true,
            Given(*sources.LaunchSessionName));
    AddNote(notes, "session name", kSessionFile, false, "not read: the launch argument decides");
  } else {
    AddNote(notes, "session name", "launch argument ?SessionName=", false, "absent or empty");
    AddNote(notes, "session name", kSessionFile, !sources.FileSessionName.empty(),
            GivenOrAbsent(sources.FileSessionName));
  }

  const std::optional<std::int32_t> fileLimit = FilePlayerLimit(sources);
  const bool fileDecides = fileLimit && *fileLimit > 0;
  const std::string& maxPlayers = sources.FileMaxPlayers;
  AddNote(notes, "player limit", "settings file [/Script/Engine.GameSession] MaxPlayers",
          fileDecides,
          maxPlayers.empty() ? "absent or empty"
          : !fileLimit       ? Given(maxPlayers) + ", which is not a number"
          : fileDecides      ? Given(maxPlayers)
                             : Given(maxPlayers) + ", which is not above 0");
  // The launch keys in the order they are looked for: the first that occurs decides.
  constexpr std::string_view kLaunchKeys[] = {
      "?MaxPlayers=", "-MaxPlayers=", "-WinLiveMaxPlayers="};
  static_assert(std::size(kLaunchKeys) == std::size(kMaxPlayersKeys));
  const LaunchNumber& launch = sources.LaunchMaxPlayers;
  std::string_view deciding;
  for (std::size_t i = 0; i < std::size(kLaunchKeys); ++i) {
    const std::string source = "launch argument " + std::string(kLaunchKeys[i]);
    const bool isDeciding = launch.Found && launch.Key == kMaxPlayersKeys[i];
    if (fileDecides) {
      AddNote(notes, "player limit", source, false, "not read: the settings file decides");
    } else if (!deciding.empty()) {
      AddNote(notes, "player limit", source, false,
              "not read: " + std::string(deciding) + " occurs and decides");
    } else if (!isDeciding) {
      AddNote(notes, "player limit", source, false, "absent");
    } else {
      deciding = kLaunchKeys[i];
      AddNote(notes, "player limit", source, launch.Value.has_value(),
              launch.Value ? "gave " + std::to_string(*launch.Value)
                           : std::string("not followed by a number"));
    }
  }

  constexpr std::string_view kModsLaunch = "launch argument -mods=";
  AddNote(notes, "mods", "settings file [ServerSettings] ActiveMods",
          !sources.FileActiveMods.empty(), GivenOrAbsent(sources.FileActiveMods));
  if (!sources.FileActiveMods.empty()) {
    AddNote(notes, "mods", kModsLaunch, false, "not read: the settings file decides");
  } else {
    AddNote(notes, "mods", kModsLaunch, sources.LaunchMods.has_value(),
            GivenOrAbsent(sources.LaunchMods.value_or("")));
  }

  AddNote(notes, "PvE", "settings file [ServerSettings] bServerPVE",
          !sources.FileBServerPve.empty(), GivenOrAbsent(sources.FileBServerPve));
  if (sources.FileBServerPve.empty()) {
    AddNote(notes, "PvE", "settings file [ServerSettings] ServerPVE",
            !sources.FileServerPve.empty(), GivenOrAbsent(sources.FileServerPve));
  }

  const std::optional<std::string>& version = sources.Version;
  AddNote(notes, "version", "server log: \"ARK Version: \" line", version && !version->empty(),
          !version           ? "no log, or no version line in it"
          : version->empty() ? std::string("the version line is empty")
                             : Given(*version));

  AddNote(notes, "map", "launch arguments: first argument", sources.LaunchMap.has_value(),
          sources.LaunchMap ? Given(*sources.LaunchMap) : "no argument after the executable path");
}

void ReadVersionFromLog(ServerFacts& facts, VersionLogReader& log, const std::string& pluginDir) {
  RunGuarded([&] {
    if (std::optional<std::string> version = log.Scan(ServerLogPath(pluginDir))) {
      facts.ServerVersion = std::move(*version);
    }
  });
}

}  // namespace vesperline
