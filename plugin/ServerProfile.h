// The plugin's whole memory: the server facts gathered at start-up, the heartbeat endpoint and the
// controls of the heartbeat thread. One instance per loaded module.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "discovery/ServerLog.h"

namespace vesperline {

// The endpoint every heartbeat is posted to; fixed when the plugin is built.
inline constexpr std::string_view kHeartbeatUrl = VESPERLINE_HEARTBEAT_URL;

// The facts about the server. An empty text, a port of 0 and a player limit of -1 mean that the
// fact is not known.
struct ServerFacts {
  std::string Token;
  std::string ServerIp;
  std::int32_t ServerPort = 0;
  std::string SessionName;
  std::string MapName;
  std::int32_t PlayerLimit = -1;
  std::string ServerVersion;
  std::string ModList;
  bool IsPve = false;
  // The directory of the plugin's module file, with its trailing separator; empty when unknown.
  std::string PluginDir;
};

struct ServerProfile : ServerFacts {
  const std::string HeartbeatUrl{kHeartbeatUrl};
  // True from a successful start-up until unload begins; the heartbeat thread runs while it is.
  std::atomic<bool> Running{false};
  std::thread HeartbeatThread;
  // How far the server's log has been read while the version is unknown, so that each heartbeat
  // reads only what the server has appended since. Start-up and the heartbeats share it.
  VersionLogReader VersionLog;
};

// The module's one profile.
extern ServerProfile Profile;

}  // namespace vesperline
