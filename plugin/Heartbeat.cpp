#include "plugin/Heartbeat.h"

#include "discovery/ServerInfo.h"
#include "heartbeat/Document.h"
#include "heartbeat/Submission.h"
#include "plugin/ServerProfile.h"
#include "world/World.h"

namespace vesperline {

void SendHeartbeat(const std::string& status) {
  if (Profile.ServerVersion.empty()) {
    ReadVersionFromLog(Profile, Profile.VersionLog, Profile.PluginDir);
  }
  // A port below 1 never identifies a server: a start-up that failed on a negative port must not
  // report that server as going offline either.
  if (Profile.Token.empty() || Profile.ServerIp.empty() || Profile.ServerPort < 1) return;
  const std::int32_t playerCount = GetPlayerCount();
  const std::int32_t dayNumber = GetDayNumber();
  const std::vector<PlayerEntry> roster = GetPlayerRoster();
  SubmitHeartbeat(Profile.HeartbeatUrl,
                  BuildHeartbeatDocument(Profile, status, playerCount, dayNumber, roster));
}

}  // namespace vesperline
