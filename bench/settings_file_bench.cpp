// Start-up's read of a settings file of about 100 KB: one pass for all five lookups, as the engine
// reads the file's lines, beside the bare read of the same file into memory, which no reading of
// it can beat.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "discovery/ServerFile.h"
#include "discovery/SettingsFile.h"

namespace {

// A GameUserSettings.ini grown to about 100 KB the way real ones grow: many sections of engine
// and game settings, with the values the plugin asks for near the end.
const std::string& LargeSettingsFile() {
  static const std::string path = [] {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "vesperline-bench-GameUserSettings.ini";
    std::ofstream out(file, std::ios::binary);
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
    return file.string();
  }();
  return path;
}

// The five lookups of start-up, in one pass over the file.
void BM_StartUpReadAllKeys(benchmark::State& state) {
  const std::string& path = LargeSettingsFile();
  const std::vector<vesperline::IniLookup> lookups{{"SessionName", ""},
                                                   {"MaxPlayers", "/Script/Engine.GameSession"},
                                                   {"ActiveMods", "ServerSettings"},
                                                   {"bServerPVE", "ServerSettings"},
                                                   {"serverPVE", "ServerSettings"}};
  for (auto _ : state) benchmark::DoNotOptimize(vesperline::ReadIniValues(path, lookups));
  state.SetLabel(std::to_string(std::filesystem::file_size(path) / 1024) + " KB");
}
BENCHMARK(BM_StartUpReadAllKeys)->Unit(benchmark::kMicrosecond);

// The peer: the whole file read into memory and nothing more.
void BM_ReadTheFileAlone(benchmark::State& state) {
  const std::string& path = LargeSettingsFile();
  for (auto _ : state) benchmark::DoNotOptimize(vesperline::ReadServerFile(path));
}
BENCHMARK(BM_ReadTheFileAlone)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
