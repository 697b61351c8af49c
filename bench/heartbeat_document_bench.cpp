// Building the heartbeat document for an empty, a busy and a huge server, with our writer and, on
// the same document, with RapidJSON's Writer as the yardstick; and the size of each body.
#include <benchmark/benchmark.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "heartbeat/Document.h"

namespace vesperline {
namespace {

// Player names as they come: mostly ASCII, some Latin letters with accents, Cyrillic, CJK and the
// odd emoji, all valid UTF-8.
const char* const kNames[] = {
    "Rex",      "xXDinoSlayerXx", "Jörg",        "Łukasz",          "Анна Каренина",
    "李雷",     "Sven the Tamer", "Mønster",     "Chloé",           "🦖 Raptor 🦖",
    "Tamer_42", "Gänseblümchen",  "Pterodactyl", "Δημήτρης",        "JustAnotherSurvivor",
    "Renée",    "Ødegaard",       "北海道の熊",  "Captain Obvious", "Zoë"};

const char* const kCharacters[] = {"Human", "Bob",         "Éowyn", "Grug", "Сергей",
                                   "Nomad", "Survivor #7", "Ada",   "Kōji", "Mira"};

// A realistic server: token, address, a long session name, map, version and a mod list.
ServerFacts MakeFacts() {
  ServerFacts facts;
  facts.Token = "5f3c9a1e7b2d4c6f8a0e1d3b5c7a9f2e4d6b8c0a";
  facts.ServerIp = "203.0.113.7";
  facts.ServerPort = 7777;
  facts.SessionName = "Vesperline PvE | 3x Taming | 2x XP | Boosted Breeding | Discord: vesper";
  facts.MapName = "TheIsland_WP";
  facts.PlayerLimit = 70;
  facts.ServerVersion = "52.1";
  facts.ModList = "928708,931877,929420,930494,928501";
  facts.IsPve = true;
  return facts;
}

std::vector<PlayerEntry> MakeRoster(std::size_t count) {
  std::mt19937 random(20240601);
  std::vector<PlayerEntry> roster;
  roster.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    PlayerEntry player;
    player.Name = kNames[i % std::size(kNames)];
    player.CharName = kCharacters[(i * 7) % std::size(kCharacters)];
    static constexpr char kHex[] = "0123456789abcdef";
    for (int digit = 0; digit < 32; ++digit) player.EosId.push_back(kHex[random() % 16]);
    player.PlayerDataId = static_cast<std::uint32_t>(random());
    roster.push_back(std::move(player));
  }
  return roster;
}

std::string BuildWithRapidJson(const ServerFacts& facts, const std::string& status,
                               std::int32_t playerCount, std::int32_t dayNumber,
                               const std::vector<PlayerEntry>& roster) {
  using rapidjson::SizeType;
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  auto string = [&](const std::string& text) {
    writer.String(text.data(), static_cast<SizeType>(text.size()));
  };
  writer.StartObject();
  writer.Key("token");
  string(facts.Token);
  writer.Key("ip");
  string(facts.ServerIp);
  writer.Key("port");
  writer.Int(facts.ServerPort);
  writer.Key("status");
  string(status);
  if (!facts.SessionName.empty()) {
    writer.Key("name");
    string(facts.ServerVersion.empty() ? facts.SessionName
                                       : facts.SessionName + " (v" + facts.ServerVersion + ")");
  }
  if (!facts.MapName.empty()) {
    writer.Key("map");
    string(facts.MapName);
  }
  if (facts.PlayerLimit > 0) {
    writer.Key("player_max");
    writer.Int(facts.PlayerLimit);
  }
  if (playerCount >= 0) {
    writer.Key("player_current");
    writer.Int(playerCount);
  }
  if (dayNumber >= 0) {
    writer.Key("day");
    writer.Int(dayNumber);
  }
  if (!facts.ServerVersion.empty()) {
    writer.Key("version");
    string(facts.ServerVersion);
  }
  writer.Key("is_pve");
  writer.Bool(facts.IsPve);
  if (!facts.ModList.empty()) {
    writer.Key("mods");
    string(facts.ModList);
  }
  writer.Key("players");
  writer.StartArray();
  for (const PlayerEntry& player : roster) {
    writer.StartObject();
    writer.Key("name");
    string(player.Name);
    writer.Key("char_name");
    string(player.CharName);
    writer.Key("eos_id");
    string(player.EosId);
    writer.Key("player_data_id");
    writer.Uint(player.PlayerDataId);
    writer.EndObject();
  }
  writer.EndArray();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

// The comparison is only fair on the same bytes: stop at once if the two writers disagree.
void CheckSameDocument(const ServerFacts& facts, const std::vector<PlayerEntry>& roster) {
  const std::string ours = BuildHeartbeatDocument(facts, "online", 42, 1234, roster);
  const std::string theirs = BuildWithRapidJson(facts, "online", 42, 1234, roster);
  if (ours != theirs) {
    std::fprintf(stderr, "The writers disagree for %zu players:\n%s\n%s\n", roster.size(),
                 ours.c_str(), theirs.c_str());
    std::abort();
  }
}

void BM_Ours(benchmark::State& state) {
  const ServerFacts facts = MakeFacts();
  const std::vector<PlayerEntry> roster = MakeRoster(static_cast<std::size_t>(state.range(0)));
  CheckSameDocument(facts, roster);
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string document = BuildHeartbeatDocument(facts, "online", 42, 1234, roster);
    bytes += document.size();
    benchmark::DoNotOptimize(document.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  // The size of the body itself, which the operators' guide in README gives for these servers.
  state.counters["body_bytes"] =
      static_cast<double>(BuildHeartbeatDocument(facts, "online", 42, 1234, roster).size());
}

void BM_RapidJson(benchmark::State& state) {
  const ServerFacts facts = MakeFacts();
  const std::vector<PlayerEntry> roster = MakeRoster(static_cast<std::size_t>(state.range(0)));
  const std::string status = "online";
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string document = BuildWithRapidJson(facts, status, 42, 1234, roster);
    bytes += document.size();
    benchmark::DoNotOptimize(document.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

BENCHMARK(BM_Ours)->Arg(0)->Arg(70)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RapidJson)->Arg(0)->Arg(70)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vesperline

BENCHMARK_MAIN();
