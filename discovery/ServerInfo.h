// The descriptive facts of the server gathered at start-up: session name, player limit, mods,
// PvE flag, version and map, each from its own sources in its own order of precedence.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/ServerFacts.h"
#include "discovery/ServerLog.h"
#include "discovery/SourceNote.h"
#include "plugin/ServerProfile.h"

namespace vesperline {

// Where the settings file and the log lie: five directory levels above the plugin's directory
// (which ends with a separator; empty means the current directory), written with the system's
// separator.
std::string SettingsFilePath(const std::string& pluginDir);
std::string ServerLogPath(const std::string& pluginDir);

// The paths and the command line discovery reads; the plugin uses its own, a checker any others.
struct DiscoveryInputs {
  std::string CommandLine;
  std::string SettingsFile;
  std::string ServerLog;
  // The reader that remembers how far the log has been read, so that later scans go on from
  // there (the plugin's own); none for a scan of the whole log.
  VersionLogReader* LogReader = nullptr;
};

// Fills SessionName, PlayerLimit, ModList, IsPve, ServerVersion and MapName of facts, each only
// when one of its sources gives a value: the session name from the launch arguments, else the
// settings file (any section); the player limit from the settings file, else (when that leaves it
// at 0 or less) the launch arguments; the mods from the settings file, else the launch
// arguments; the PvE flag from the settings file's bServerPVE, else ServerPVE; the version from
// the log; the map from the launch arguments. The settings file is read once for all of its
// values. Notes, when given, receive what each source gave. Never throws.
void CollectServerInfoFrom(ServerFacts& facts, const DiscoveryInputs& inputs,
                           std::vector<SourceNote>* notes = nullptr);

}  // namespace vesperline
