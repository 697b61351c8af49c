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

// A '?' option the server did not get: it reads them from its first argument only.
constexpr char kAbsentFromFirst[] = "absent from the server's first argument";
constexpr char kAbsentOrEmptyFromFirst[] = "absent from the server's first argument, or empty";

// What a launch key of the player limit gave.
std::string LimitDetail(const LaunchNumber& number) {
  if (!number.Found) return number.Key.starts_with('?') ? kAbsentFromFirst : "absent";
  if (!number.Value) return "not followed by a number";
  return "gave " + std::to_string(*number.Value);
}

// The settings file's player limit, when it gives a number.
std::optional<std::int32_t> FilePlayerLimit(const ServerInfoSources& sources) {
  if (sources.FileMaxPlayers.empty()) return std::nullopt;
  return ParseDecimal32(sources.FileMaxPlayers);
}

// -WinLiveMaxPlayers= when it gives a limit of 1 or more, which the game honours first.
std::optional<std::int32_t> WinLiveLimit(const ServerInfoSources& sources) {
  const std::optional<std::int32_t>& value = sources.LaunchWinLiveMaxPlayers.Value;
  if (value && *value >= 1) return value;
  return std::nullopt;
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
  const LaunchLine& launch = inputs.Launch;
  RunGuarded([&] { sources.LaunchSessionName = ScanLaunchSessionName(launch); });
  RunGuarded([&] {
    sources.LaunchWinLiveMaxPlayers = LaunchNumberFrom(launch, kWinLiveMaxPlayersKey);
    sources.LaunchMaxPlayers = ScanLaunchMaxPlayers(launch);
  });
  RunGuarded([&] { sources.LaunchMods = ScanLaunchMods(launch); });
  RunGuarded([&] { sources.LaunchPve = ScanLaunchPve(launch); });
  RunGuarded([&] { sources.LaunchMap = launch.Map; });
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
    if (const std::optional<std::int32_t> winLive = WinLiveLimit(sources)) {
      facts.PlayerLimit = *winLive;
    } else {
      if (const std::optional<std::int32_t> limit = FilePlayerLimit(sources)) {
        facts.PlayerLimit = *limit;
      }
      if (facts.PlayerLimit <= 0 && sources.LaunchMaxPlayers.Value) {
        facts.PlayerLimit = *sources.LaunchMaxPlayers.Value;
      }
    }
    if (sources.LaunchMods) {
      facts.ModList = *sources.LaunchMods;
    } else if (!sources.FileActiveMods.empty()) {
      facts.ModList = sources.FileActiveMods;
    }
    const std::string& pve = sources.LaunchPve                ? *sources.LaunchPve
                             : sources.FileBServerPve.empty() ? sources.FileServerPve
                                                              : sources.FileBServerPve;
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
    AddNote(notes, "session name", "launch argument ?SessionName=", false, kAbsentOrEmptyFromFirst);
    AddNote(notes, "session name", kSessionFile, !sources.FileSessionName.empty(),
            GivenOrAbsent(sources.FileSessionName));
  }

  // The player limit: -WinLiveMaxPlayers= first, then the settings file, then the three launch
  // keys in the order they are looked for, the first that occurs deciding.
  const std::optional<std::int32_t> winLive = WinLiveLimit(sources);
  const std::string winLiveDecides = "not read: -WinLiveMaxPlayers= decides";
  const LaunchNumber& winLiveKey = sources.LaunchWinLiveMaxPlayers;
  AddNote(notes, "player limit", "launch argument -WinLiveMaxPlayers=", winLive.has_value(),
          LimitDetail(winLiveKey) + (winLiveKey.Value && !winLive ? ", which is not above 0" : ""));
  const std::optional<std::int32_t> fileLimit = FilePlayerLimit(sources);
  const bool fileDecides = !winLive && fileLimit && *fileLimit > 0;
  const std::string& maxPlayers = sources.FileMaxPlayers;
  AddNote(notes, "player limit", "settings file [/Script/Engine.GameSession] MaxPlayers",
          fileDecides,
          winLive              ? winLiveDecides
          : maxPlayers.empty() ? "absent or empty"
          : !fileLimit         ? Given(maxPlayers) + ", which is not a number"
          : fileDecides        ? Given(maxPlayers)
                               : Given(maxPlayers) + ", which is not above 0");
  constexpr std::string_view kLaunchKeys[] = {
      "?MaxPlayers=", "-MaxPlayers=", "-WinLiveMaxPlayers="};
  static_assert(std::size(kLaunchKeys) == std::size(kMaxPlayersKeys));
  const LaunchNumber& launch = sources.LaunchMaxPlayers;
  std::string_view deciding;
  for (std::size_t i = 0; i < std::size(kLaunchKeys); ++i) {
    const std::string source = "launch argument " + std::string(kLaunchKeys[i]);
    const bool isDeciding = launch.Found && launch.Key == kMaxPlayersKeys[i];
    if (winLive) {
      AddNote(notes, "player limit", source, false,
              kMaxPlayersKeys[i] == kWinLiveMaxPlayersKey ? "read first, above: it decides"
                                                          : winLiveDecides);
    } else if (fileDecides) {
      AddNote(notes, "player limit", source, false, "not read: the settings file decides");
    } else if (!deciding.empty()) {
      AddNote(notes, "player limit", source, false,
              "not read: " + std::string(deciding) + " occurs and decides");
    } else if (!isDeciding) {
      AddNote(notes, "player limit", source, false,
              LimitDetail(LaunchNumber{kMaxPlayersKeys[i], false, std::nullopt}));
    } else {
      deciding = kLaunchKeys[i];
      AddNote(notes, "player limit", source, launch.Value.has_value(), LimitDetail(launch));
    }
  }

  constexpr std::string_view kModsFile = "settings file [ServerSettings] ActiveMods";
  AddNote(notes, "mods", "launch argument -mods=", sources.LaunchMods.has_value(),
          GivenOrAbsent(sources.LaunchMods.value_or("")));
  if (sources.LaunchMods) {
    AddNote(notes, "mods", kModsFile, false, "not read: the launch argument -mods= decides");
  } else {
    AddNote(notes, "mods", kModsFile, !sources.FileActiveMods.empty(),
            GivenOrAbsent(sources.FileActiveMods));
  }

  constexpr std::string_view kPveFile = "settings file [ServerSettings] bServerPVE";
  AddNote(notes, "PvE", "launch argument ?ServerPVE=", sources.LaunchPve.has_value(),
          sources.LaunchPve ? Given(*sources.LaunchPve) : std::string(kAbsentOrEmptyFromFirst));
  if (sources.LaunchPve) {
    AddNote(notes, "PvE", kPveFile, false, "not read: the launch argument ?ServerPVE= decides");
  } else {
    AddNote(notes, "PvE", kPveFile, !sources.FileBServerPve.empty(),
            GivenOrAbsent(sources.FileBServerPve));
    if (sources.FileBServerPve.empty()) {
      AddNote(notes, "PvE", "settings file [ServerSettings] ServerPVE",
              !sources.FileServerPve.empty(), GivenOrAbsent(sources.FileServerPve));
    }
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
