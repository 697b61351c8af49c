// The descriptive facts of the server gathered at start-up: session name, player limit, mods,
// PvE flag, version and map, each from its own sources in its own order of precedence.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/ServerFacts.h"
#include "discovery/LaunchArguments.h"
#include "discovery/ServerFile.h"
#include "discovery/ServerLog.h"
#include "discovery/SourceNote.h"

namespace vesperline {

// A key of the settings file that start-up reads, and the section it asks for it in (empty: any
// section). Keys are matched without regard to ASCII case.
struct SettingsKey {
  std::string_view Key;
  std::string_view Section;
};

// The settings file's keys, in the order ServerInfoSources lists their values.
inline constexpr SettingsKey kSettingsKeys[] = {
    {"SessionName", ""},
    {"MaxPlayers", "/Script/Engine.GameSession"},
    {"ActiveMods", "ServerSettings"},
    {"bServerPVE", "ServerSettings"},
    {"ServerPVE", "ServerSettings"},
};

// Where the descriptive facts come from.
struct ServerInfoInputs {
  const LaunchLine& Launch;
  std::string SettingsFile;
  std::string ServerLog;
  // The reader that remembers how far the log has been read, so that later scans go on from
  // there (the plugin's own); none for a scan of the whole log.
  VersionLogReader* LogReader = nullptr;
};

// What each source of the descriptive facts gave; empty text where a source gave none.
struct ServerInfoSources {
  FileRead Settings;
  std::string FileSessionName;                   // any section
  std::string FileMaxPlayers;                    // [/Script/Engine.GameSession]
  std::string FileActiveMods;                    // [ServerSettings]
  std::string FileBServerPve;                    // [ServerSettings] bServerPVE
  std::string FileServerPve;                     // [ServerSettings] ServerPVE, in any case
  std::optional<std::string> LaunchSessionName;  // the name the server itself takes
  LaunchNumber LaunchWinLiveMaxPlayers;          // -WinLiveMaxPlayers=, which alone decides
  LaunchNumber LaunchMaxPlayers;                 // ?MaxPlayers=, which the game does not take
  LaunchNumber LaunchDashMaxPlayers;             // -MaxPlayers=, likewise
  std::optional<std::string> LaunchMods;
  std::optional<std::string> LaunchPve;
  std::optional<std::string> LaunchMap;
  FileRead Log;
  std::optional<std::string> Version;
};

// Fills SessionName, PlayerLimit, ModList, IsPve, ServerVersion and MapName of facts, each only
// when one of its sources gives a value. Where the game honours a launch option over its settings
// file, the launch option decides:
// - the session name from the launch arguments, else the settings file (any section);
// - the player limit from -WinLiveMaxPlayers= when it gives 1 or more, else the game's own
//   kGamePlayerLimit, whatever ?MaxPlayers=, -MaxPlayers= or the settings file ask for;
// - the mods from -mods= when it gives a list, else the settings file;
// - the PvE flag from ?ServerPVE= when it gives a value, else the settings file's bServerPVE, else
//   its ServerPVE;
// - the version from the log; the map from the launch arguments.
// A name or mod list is published only up to a password written into it (WithoutPasswords); one
// left empty counts as absent, so that the next source decides. Every fact ends in
// KeepPasswordsOut. The settings file is read once for all of its values. Sources, when
// given, receive what each source gave. Never throws: a step that fails leaves its fact as it was.
void CollectServerInfo(ServerFacts& facts, const ServerInfoInputs& inputs,
                       ServerInfoSources* sources = nullptr);

// Holds every text fact the heartbeat publishes about the server (its name, map, version and
// mods) to the rule of WithoutPasswords, whatever source it came from: an admin's password must
// never reach a public list, and a fact read from a new source must not be able to forget it.
// Start-up and every later write of a fact end here. Never throws.
void KeepPasswordsOut(ServerFacts& facts);

// For each descriptive fact, every source looked at in order, what it gave and why a source was
// passed over.
void AddServerInfoNotes(const ServerInfoSources& sources, SourceNotes& notes);

// Takes the version from the last marker line of the server's log (five levels above the
// plugin's folder) into facts when the log has one, reading on from where the reader stopped.
// Never throws.
void ReadVersionFromLog(ServerFacts& facts, VersionLogReader& log, const std::string& pluginDir);

}  // namespace vesperline
