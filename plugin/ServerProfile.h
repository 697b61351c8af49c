// The plugin's whole memory: the server facts gathered at start-up, the heartbeat endpoint and the
// controls of the heartbeat thread. One instance per loaded module.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "common/ServerFacts.h"
#include "discovery/ServerLog.h"

namespace vesperline {

// The endpoint every heartbeat is posted to; fixed when the plugin is built.
inline constexpr std::string_view kHeartbeatUrl = VESPERLINE_HEARTBEAT_URL;

struct ServerProfile : ServerFacts {
  // The directory of the plugin's module file, with its trailing separator; empty when unknown.
  // Every file the plugin reads lies relative to it.
  std::string PluginDir;
  const std::string HeartbeatUrl{kHeartbeatUrl};
  // True from a successful start-up until unload begins; the heartbeat thread runs while it is.
  std::atomic<bool> Running{false};
  std::thread HeartbeatThread;
  // How far the server's log has been read while the version is unknown, so that each heartbeat
  // reads only what the server has appended since. Start-up and the heartbeats share it.
  VersionLogReader VersionLog;
};

// The module's one profile. It is destroyed with the module's static objects only when no
// heartbeat thread can still read it (see ServerProfile.cpp).
extern ServerProfile& Profile;

// Puts every server fact, PluginDir and the remembered log position back to their values at
// load.
void ResetProfile();

}  // namespace vesperline
