#include "discovery/ServerInfo.h"

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

// A '?' option the server did not get: it reads them from its map URL only.
constexpr char kAbsentFromUrl[] =
    "absent from the server's map URL (its first argument as it reads it)";
constexpr char kAbsentOrEmptyFromUrl[] =
    "absent from the server's map URL (its first argument as it reads it), or empty";

// A name or mod list as published: up to a password written into it; empty counts as absent.
std::optional<std::string> Publishable(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  std::string kept = WithoutPasswords(*value);
  if (kept.empty()) return std::nullopt;
  return kept;
}

// What a text source gave, for the notes. A value holding a password is not quoted: the notes
// are shown to the admin, and pasted into support requests.
std::string TextDetail(const std::optional<std::string>& value) {
  if (!value) return "absent or empty";
  if (!HoldsPassword(*value)) return Given(*value);
  const std::optional<std::string> kept = Publishable(value);
  if (!kept) return "holds nothing but a password (see the warnings), so it counts as absent";
  return "gave a value holding a password (see the warnings); sent up to it: \"" + *kept + "\"";
}

std::optional<std::string> NonEmpty(const std::string& value) {
  if (value.empty()) return std::nullopt;
  return value;
}

// What a launch key of the player limit gave.
std::string LimitDetail(const LaunchNumber& number) {
  if (!number.Found) return number.Key.starts_with('?') ? kAbsentFromUrl : "absent";
  if (!number.Value) return "not followed by a number";
  return "gave " + std::to_string(*number.Value);
}

// -WinLiveMaxPlayers= when it gives a limit of 1 or more, which alone changes the game's limit.
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
    sources.LaunchMaxPlayers = LaunchNumberFrom(launch, kQuestionMaxPlayersKey);
    sources.LaunchDashMaxPlayers = LaunchNumberFrom(launch, kDashMaxPlayersKey);
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
    if (const std::optional<std::string> name = Publishable(sources.LaunchSessionName)) {
      facts.SessionName = *name;
    } else if (const std::optional<std::string> file =
                   Publishable(NonEmpty(sources.FileSessionName));
               facts.SessionName.empty() && file) {
      facts.SessionName = *file;
    }
    facts.PlayerLimit = WinLiveLimit(sources).value_or(kGamePlayerLimit);
    if (const std::optional<std::string> mods = Publishable(sources.LaunchMods)) {
      facts.ModList = *mods;
    } else if (const std::optional<std::string> file =
                   Publishable(NonEmpty(sources.FileActiveMods))) {
      facts.ModList = *file;
    }
    const std::string& pve = sources.LaunchPve                ? *sources.LaunchPve
                             : sources.FileBServerPve.empty() ? sources.FileServerPve
                                                              : sources.FileBServerPve;
    if (!pve.empty()) facts.IsPve = LowerAscii(pve) == "true";
    if (sources.Version) facts.ServerVersion = *sources.Version;
    if (sources.LaunchMap) facts.MapName = *sources.LaunchMap;
  });
  KeepPasswordsOut(facts);
  if (sourcesOut != nullptr) *sourcesOut = std::move(sources);
}

void KeepPasswordsOut(ServerFacts& facts) {
  RunGuarded([&] {
    // Every member is bound, so that a member added to the facts breaks the build here until its
    // author says whether it is published text. The token, address, port, limit and PvE flag are
    // not: the token goes to the service alone, and the rest are numbers and an address.
    [[maybe_unused]] auto& [token, ip, port, name, map, limit, version, mods, pve] = facts;
    for (std::string* text : {&name, &map, &version, &mods}) {
      // Written only when cut, so that a later call on the heartbeat's thread changes nothing
      // that start-up already held to the rule.
      if (HoldsPassword(*text)) *text = WithoutPasswords(*text);
    }
  });
}

void AddServerInfoNotes(const ServerInfoSources& sources, SourceNotes& notes) {
  constexpr std::string_view kSessionFile = "settings file, any section: SessionName";
  const bool launchName = Publishable(sources.LaunchSessionName).has_value();
  AddNote(notes, "session name", "launch argument ?SessionName=", launchName,
          sources.LaunchSessionName ? TextDetail(sources.LaunchSessionName)
                                    : std::string(kAbsentOrEmptyFromUrl));
  if (launchName) {
    AddNote(notes, "session name", kSessionFile, false, "not read: the launch argument decides");
  } else {
    AddNote(notes, "session name", kSessionFile,
            Publishable(NonEmpty(sources.FileSessionName)).has_value(),
            TextDetail(NonEmpty(sources.FileSessionName)));
  }

  // The player limit: -WinLiveMaxPlayers= alone changes the game's own; the other keys are
  // listed for the admin who set them, as the game passes them over.
  const std::optional<std::int32_t> winLive = WinLiveLimit(sources);
  const LaunchNumber& winLiveKey = sources.LaunchWinLiveMaxPlayers;
  AddNote(notes, "player limit", "launch argument -WinLiveMaxPlayers=", winLive.has_value(),
          LimitDetail(winLiveKey) + (winLiveKey.Value && !winLive ? ", which is not above 0" : ""));
  AddNote(notes, "player limit", "the game's own limit", !winLive,
          winLive ? std::string("not read: -WinLiveMaxPlayers= decides")
                  : "gave " + std::to_string(kGamePlayerLimit) +
                        ", which the game keeps without -WinLiveMaxPlayers=");
  constexpr char kNotTaken[] = "; the game does not take it";
  AddNote(notes, "player limit", "settings file [/Script/Engine.GameSession] MaxPlayers", false,
          sources.FileMaxPlayers.empty() ? std::string("absent or empty")
                                         : Given(sources.FileMaxPlayers) + kNotTaken);
  for (const LaunchNumber* key : {&sources.LaunchMaxPlayers, &sources.LaunchDashMaxPlayers}) {
    const std::string source = key == &sources.LaunchMaxPlayers ? "launch argument ?MaxPlayers="
                                                                : "launch argument -MaxPlayers=";
    AddNote(notes, "player limit", source, false,
            LimitDetail(*key) + (key->Found ? kNotTaken : ""));
  }

  constexpr std::string_view kModsFile = "settings file [ServerSettings] ActiveMods";
  const bool launchMods = Publishable(sources.LaunchMods).has_value();
  AddNote(notes, "mods", "launch argument -mods=", launchMods, TextDetail(sources.LaunchMods));
  if (launchMods) {
    AddNote(notes, "mods", kModsFile, false, "not read: the launch argument -mods= decides");
  } else {
    AddNote(notes, "mods", kModsFile, Publishable(NonEmpty(sources.FileActiveMods)).has_value(),
            TextDetail(NonEmpty(sources.FileActiveMods)));
  }

  constexpr std::string_view kPveFile = "settings file [ServerSettings] bServerPVE";
  AddNote(notes, "PvE", "launch argument ?ServerPVE=", sources.LaunchPve.has_value(),
          sources.LaunchPve ? Given(*sources.LaunchPve) : std::string(kAbsentOrEmptyFromUrl));
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

  AddNote(notes, "map", "launch arguments: map URL", Publishable(sources.LaunchMap).has_value(),
          sources.LaunchMap ? TextDetail(sources.LaunchMap)
                            : "none on the launch line, so the server starts its default map");
}

void ReadVersionFromLog(ServerFacts& facts, VersionLogReader& log, const std::string& pluginDir) {
  RunGuarded([&] {
    if (std::optional<std::string> version = log.Scan(ServerLogPath(pluginDir))) {
      facts.ServerVersion = std::move(*version);
      KeepPasswordsOut(facts);
    }
  });
}

}  // namespace vesperline
