// Start-up discovery of the server's facts: the one sequence that both the plugin, at start-up,
// and the admin's checker run. First the gate (config.json, with the port from the launch
// arguments when the file gives none), then the descriptive facts (the launch arguments, the
// server's settings file and its log).
#pragma once

#include <functional>
#include <string>

#include "common/ServerFacts.h"
#include "discovery/ConfigFile.h"
#include "discovery/LaunchArguments.h"
#include "discovery/ServerFile.h"
#include "discovery/ServerInfo.h"
#include "discovery/ServerLog.h"
#include "discovery/SourceNote.h"

namespace vesperline {

struct DiscoveryInputs {
  // The plugin's folder, ending with a separator; empty for the current folder. config.json lies
  // in it, the server's settings file and log five folders above it.
  std::string PluginDir;
  // Gives the server's launch command line; called at most once, and only when a step needs it.
  std::function<std::string()> CommandLine;
  // The reader that remembers how far the log has been read, so that later scans of the log go on
  // from there (the plugin's own); none for a scan of the whole log.
  VersionLogReader* LogReader = nullptr;
  // How the path of each of the server's files is found before it is opened; the path unchanged
  // when empty, as the plugin leaves it (Windows, and Wine around the plugin, find the files
  // themselves). The Linux checker finds the files of a server under Wine in any case, as Wine
  // does.
  std::function<std::string(const std::string&)> FindPath = nullptr;
};

struct DiscoveryOptions {
  // Go on past a failed gate and gather every fact. The plugin stops there and stays idle; the
  // checker goes on, to show an admin everything.
  bool PastFailedGate = false;
  // Note every source looked at, what it gave and why it was passed over.
  bool WithNotes = false;
};

struct Discovery {
  bool Usable = false;  // the gate's verdict: a token, an address and a port of 1 or more
  ServerFacts Facts;
  FileRead Config;         // config.json
  FileRead Settings;       // the settings file (not read after a failed gate, unless asked)
  FileRead Log;            // the log (likewise)
  ConfigSources Gate;      // what config.json and the launch ports gave the gate
  LaunchLine Launch;       // the command line as split for the scans (empty when none was read)
  ServerInfoSources Info;  // what each source of the descriptive facts gave (likewise)
  SourceNotes Notes;       // when asked for
};

// Runs start-up discovery over the inputs. Never throws.
Discovery DiscoverServer(const DiscoveryInputs& inputs, const DiscoveryOptions& options = {});

// The files discovery reads, from the plugin's folder (which ends with a separator; empty means
// the current folder): config.json in it, and five directory levels above it the server's
// settings file and log, written with the system's separator.
std::string ConfigFilePath(const std::string& pluginDir);
std::string SettingsFilePath(const std::string& pluginDir);
std::string ServerLogPath(const std::string& pluginDir);

}  // namespace vesperline
