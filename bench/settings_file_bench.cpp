// One settings-file lookup, file read included, on a settings file of about 100 KB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "discovery/SettingsFile.h"

namespace {

// A GameUserSettings.ini grown to about 100 KB the way real ones grow: many sections of engine
// and game settings, with the values the plugin asks for near the end.
std::string WriteLargeSettingsFile() {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "vesperline-bench-GameUserSettings.ini";
  std::ofstream out(path, std::ios::binary);
  int line = 0;
  for (int section = 0; out.tellp() < 100 * 1024; ++section) {
    out << "[/Script/ShooterGame.Section" << section << "]\r\n";
    for (int key = 0; key < 40; ++key, ++line) {
      out << "SettingNumber" << line << "=" << (line * 7919 % 10007) << ".000000\r\n";
    }
  }
  out << "[/Script/Engine.GameSession]\r\nMaxPlayers=70\r\n";
  out << "[ServerSettings]\r\nActiveMods=928102,931877\r\nbServerPVE=False\r\n";
  out << "[SessionSettings]\r\nSessionName=Benchmark Island\r\n";
  return path.string();
}

void BM_ReadIniValue(benchmark::State& state) {
  static const std::string path = WriteLargeSettingsFile();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vesperline::ReadIniValue(path, "ActiveMods", "ServerSettings"));
  }
  state.SetLabel(std::to_string(std::filesystem::file_size(path) / 1024) + " KB");
}
BENCHMARK(BM_ReadIniValue)->Unit(benchmark::kMicrosecond);

// The same lookup on text already in memory: what the scan alone costs.
void BM_FindIniValue(benchmark::State& state) {
  static const std::string path = WriteLargeSettingsFile();
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) {
    benchmark::DoNotOptimize(vesperline::FindIniValue(text, "ActiveMods", "ServerSettings"));
  }
}
BENCHMARK(BM_FindIniValue)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
