// Start-up discovery of the server's facts, as the plugin runs it on its own profile.
#pragma once

namespace vesperline {

// Finds the plugin's directory, reads token, address and port from config.json there (the port
// from the launch arguments when the file gives none above 0). True when all three are usable.
bool LoadConfig();

// Fills the session name, player limit, mods, PvE flag, version and map from the launch
// arguments, the server's settings file and its log, each by its own precedence.
void CollectServerInfo();

// Takes the version from the last marker line of the server's log, when there is one.
void ReadVersionFromLog();

}  // namespace vesperline
