#include "heartbeat/Heartbeat.h"

#include "discovery/Discovery.h"
#include "heartbeat/Json.h"
#include "heartbeat/Submission.h"
#include "world/World.h"

namespace vesperline {

namespace {

void AppendStringMember(std::string& out, std::string_view prefix, std::string_view value) {
  out.append(prefix);
  AppendEscapedJson(out, value);
  out.push_back('"');
}

}  // namespace

std::string BuildHeartbeatDocument(const ServerFacts& facts, std::string_view status,
                                   std::int32_t playerCount, std::int32_t dayNumber,
                                   const std::vector<PlayerEntry>& roster) {
  std::string out;
  std::size_t estimate = 256 + facts.Token.size() + facts.SessionName.size() + facts.ModList.size();
  for (const PlayerEntry& player : roster) {
    estimate += 80 + player.Name.size() + player.CharName.size() + player.EosId.size();
  }
  out.reserve(estimate);

  AppendStringMember(out, "{\"token\":\"", facts.Token);
  AppendStringMember(out, ",\"ip\":\"", facts.ServerIp);
  out.append(",\"port\":");
  AppendDecimal(out, facts.ServerPort);
  AppendStringMember(out, ",\"status\":\"", status);
  if (!facts.SessionName.empty()) {
    out.append(",\"name\":\"");
    AppendEscapedJson(out, facts.SessionName);
    if (!facts.ServerVersion.empty()) {
      out.append(" (v");
      AppendEscapedJson(out, facts.ServerVersion);
      out.push_back(')');
    }
    out.push_back('"');
  }
  if (!facts.MapName.empty()) AppendStringMember(out, ",\"map\":\"", facts.MapName);
  if (facts.PlayerLimit > 0) {
    out.append(",\"player_max\":");
    AppendDecimal(out, facts.PlayerLimit);
  }
  if (playerCount >= 0) {
    out.append(",\"player_current\":");
    AppendDecimal(out, playerCount);
  }
  if (dayNumber >= 0) {
    out.append(",\"day\":");
    AppendDecimal(out, dayNumber);
  }
  if (!facts.ServerVersion.empty()) AppendStringMember(out, ",\"version\":\"", facts.ServerVersion);
  out.append(facts.IsPve ? ",\"is_pve\":true" : ",\"is_pve\":false");
  if (!facts.ModList.empty()) AppendStringMember(out, ",\"mods\":\"", facts.ModList);
  out.append(",\"players\":[");
  bool first = true;
  for (const PlayerEntry& player : roster) {
    if (!first) out.push_back(',');
    first = false;
    AppendStringMember(out, "{\"name\":\"", player.Name);
    AppendStringMember(out, ",\"char_name\":\"", player.CharName);
    AppendStringMember(out, ",\"eos_id\":\"", player.EosId);
    out.append(",\"player_data_id\":");
    AppendDecimal(out, player.PlayerDataId);
    out.push_back('}');
  }
  out.append("]}");
  return out;
}

void SendHeartbeat(const std::string& status) {
  if (Profile.ServerVersion.empty()) ReadVersionFromLog();
  // A port below 1 never identifies a server: a start-up that failed on a negative port must not
  // report that server as going offline either.
  if (Profile.Token.empty() || Profile.ServerIp.empty() || Profile.ServerPort < 1) return;
  const std::int32_t playerCount = GetPlayerCount();
  const std::int32_t dayNumber = GetDayNumber();
  const std::vector<PlayerEntry> roster = GetPlayerRoster();
  SubmitHeartbeat(BuildHeartbeatDocument(Profile, status, playerCount, dayNumber, roster));
}

}  // namespace vesperline
