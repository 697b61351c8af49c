// The checker's model of one server: it runs the plugin's own start-up discovery over a plugin
// folder and a launch command line, outside the game server, and holds what the plugin would
// report or why it would not, the sources of every fact and the warnings. The report (report/)
// shows this model as text and as JSON.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ServerFacts.h"
#include "discovery/SourceNote.h"
#include "platform/Platform.h"
#include "tools/check/find/ServerProcess.h"
#include "tools/check/launch/LogCommandLine.h"
#include "tools/check/warnings/Warnings.h"

namespace vesperline::check {

// What the checker is asked to look at.
struct CheckInputs {
  // The plugin's folder in the form the plugin keeps it: ending with a separator.
  std::string PluginDir;
  // The folder was not named, so the checker took the folder that holds its own executable.
  bool PluginDirIsOwnFolder = false;
  // The folder was not named, so the checker took the plugin folder of the one server running.
  bool PluginDirOfRunningServer = false;
  // The server's launch command line; nothing when there is none.
  std::optional<std::string> CommandLine;
  // Where it came from, or why there is none.
  CommandLineOrigin Origin;
  // What was dropped in front of a command line pasted from a .bat file (cmd's start and its
  // switches); empty when nothing was.
  std::string DroppedLauncher;
  // The plugin folder is that of the server process Origin names, found running: its files are
  // read as that process sees them (its root folder and mounts, its user, Wine's names; see
  // RunAsServerSees), and PluginDir is the folder as the process sees it.
  bool AsTheServerSees = false;
  // With AsTheServerSees, the plugin folder as it was named on this machine, to be compared with
  // the one the server sees (a volume's folder, say, with a file mounted over one of its files);
  // empty when it was not named.
  std::string NamedPluginDir;
};

// One file the plugin reads.
struct FileCheck {
  std::string Role;       // "config.json", "settings file", "server log"
  std::string Path;       // the path the plugin opens
  std::string ShownPath;  // the same, absolute and normalised, for the admin
  bool Found = false;
  std::string Encoding;  // how it was decoded (TextEncodingName); empty when not found
  std::string State;     // how it was found, for a reader (see FileState)
  // What the path leads to, as the plugin would open it; nothing when nothing is there.
  std::optional<platform::FileIdentity> Identity;
};

// Everything the checker found out.
struct CheckReport {
  std::string PluginDir;
  bool PluginDirIsOwnFolder = false;
  bool PluginDirOfRunningServer = false;
  bool PluginDirExists = false;
  // The server's user may not enter a folder on the way to the plugin folder.
  bool PluginDirRefused = false;
  // The files were read as the server process Origin names sees them; where it sees other files
  // than the checker (Origin.Place.Root), the report's paths are the server's own.
  bool AsTheServerSees = false;
  // The command line with its passwords marked (see Mask.h), as every message quotes it.
  std::optional<std::string> CommandLine;
  // The mark; every text of the report is shown with its runs of marks masked.
  char Mark = '\0';
  std::string DroppedLauncher;  // as CheckInputs says
  CommandLineOrigin Origin;
  // The line the engine rebuilt at the server's last start, as the server's log states it: read to
  // be compared with a running server's command line, or to be read in place of a command line
  // when there is none (see LogCommandLine.h).
  std::optional<LogCommandLine> LogLine;
  std::vector<FileCheck> Files;  // config.json, the settings file, the log, in that order
  // What the plugin folder's path leads to; nothing when nothing is there.
  std::optional<platform::FileIdentity> PluginDirIdentity;
  ServerFacts Facts;
  std::vector<SourceNote> Notes;
  // The plugin file is in the plugin folder, so that the plugin host loads the plugin at all.
  bool PluginFileFound = true;
  // The plugin file as the checker read it, never loading it: its version above all.
  PluginFileLook PluginFile;
  // The plugin would run, its start-up gate would pass, and its heartbeats would be posted.
  bool WouldReport = false;
  // Why the plugin would not report, each a short sentence; empty when it would. Without the
  // plugin file, the first says so, and the others why the plugin would stay idle once it runs.
  std::vector<std::string> IdleReasons;
  // What would make the plugin behave otherwise than the admin meant, or not run at all, whatever
  // the verdict (see FindWarnings), in the order of their subjects; the report shows them in its
  // reading order.
  std::vector<Warning> Warnings;
  // The status of the heartbeat the report shows: "online", as the plugin sends every minute, or
  // the status --post sends.
  std::string DocumentStatus = "online";
  // Why the checker could not read the server's files as the server sees them, a sentence with its
  // remedy; empty when it read them. The verdict is then unknown.
  std::string NotRead;
};

// Runs the plugin's discovery over the inputs exactly as the plugin runs it at start-up. The
// descriptive facts are gathered even when the plugin would stay idle, for the admin's sake.
CheckReport RunCheck(const CheckInputs& inputs);

// RunCheck for each of several servers of one install, which also warns each server that would
// post the same token, address and port as another: the service takes the two for one server.
std::vector<CheckReport> RunChecks(const std::vector<CheckInputs>& inputs);

// The heartbeat document the plugin would send now, without the live world part (player count,
// day and roster), with the report's DocumentStatus and the token masked unless showToken is set;
// nothing when it would send none. What the plugin publishes holds no password.
std::optional<std::string> WouldSendDocument(const CheckReport& report, bool showToken);

// The verdict's name in the JSON report and for scripts: "report", "idle", "not loaded" when
// the plugin host finds no plugin file to load, or "unknown" when the checker could not read the
// server's files.
std::string_view VerdictName(const CheckReport& report);

}  // namespace vesperline::check
