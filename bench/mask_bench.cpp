// The checker's masking of a launch line's passwords over 1 and 4 MiB of "password= " repeated,
// each word a password key whose empty value the words after it carry on, beside the same lengths
// of plain words: each byte is marked once, whatever the line holds, so the time grows with the
// line's length alone and a line of passwords costs about what a plain one does.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "tools/check/mask/Mask.h"

namespace {

std::string LineOf(std::string_view word, std::size_t bytes) {
  std::string text = "\"C:\\ARK\\ArkAscendedServer.exe\" TheIsland_WP?listen ";
  while (text.size() < bytes) text += word;
  return text;
}

void Mask(benchmark::State& state, std::string_view word) {
  const std::string text = LineOf(word, static_cast<std::size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    benchmark::DoNotOptimize(vesperline::check::MarkLaunchPasswords(text));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_MaskPasswords(benchmark::State& state) {
  Mask(state, "password= ");
}
BENCHMARK(BM_MaskPasswords)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// The peer: plain words of the same length, which hold no password.
void BM_MaskPlainWords(benchmark::State& state) {
  Mask(state, "plainword ");
}
BENCHMARK(BM_MaskPlainWords)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
