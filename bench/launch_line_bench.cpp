// The launch line read as the server reads it (Windows' split, the engine's rebuilt line, its map
// URL and every scan start-up makes), over lines of 1 and 4 MB of quotes, backslashes and blanks,
// beside one plain pass over the same line (its ASCII letters lowered into a copy): the reading
// takes a fixed number of passes, whatever the line holds, so its time grows with the line's
// length alone.
#include <benchmark/benchmark.h>

#include <string>

#include "common/Text.h"
#include "discovery/LaunchArguments.h"

namespace {

// Quotes, backslashes and blanks in the runs that make each rule of the split work hardest, with
// keys the scans look for.
std::string HardLine(std::size_t bytes) {
  std::string text = "\"C:\\ARK\\ArkAscendedServer.exe\" TheIsland_WP?listen?SessionName=";
  const std::string pieces[] = {"\\\\\\\"", "\"\"\"",  " \"",      "\\",
                                "\t",       "?Port=1", "-mods=1,", "a\"b"};
  for (std::size_t i = 0; text.size() < bytes; ++i) text += pieces[(i * 7) % 8];
  return text;
}

void BM_ReadLaunchLine(benchmark::State& state) {
  const std::string text = HardLine(static_cast<std::size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    const vesperline::LaunchLine line = vesperline::ReadLaunchLine(text);
    benchmark::DoNotOptimize(vesperline::ScanLaunchSessionName(line));
    benchmark::DoNotOptimize(vesperline::ScanLaunchPort(line));
    benchmark::DoNotOptimize(vesperline::ScanLaunchMods(line));
    benchmark::DoNotOptimize(vesperline::LaunchNumberFrom(line, vesperline::kWinLiveMaxPlayersKey));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadLaunchLine)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// The peer: one pass over the same bytes.
void BM_OnePassOverTheLine(benchmark::State& state) {
  const std::string text = HardLine(static_cast<std::size_t>(state.range(0)) << 20);
  for (auto _ : state) benchmark::DoNotOptimize(vesperline::LowerAscii(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_OnePassOverTheLine)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
