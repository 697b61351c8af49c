// Every fuzz target, called as a plain function, over its seeds (fuzz/corpus/<target>), its kept
// regressions (fuzz/regressions/<target>) and the test fixtures, so that each build (g++,
// sanitizers, Windows under Wine) checks the targets' properties on those inputs. A property that
// fails stops the process with its name; the input's path is written just before it runs.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

// The targets' entry points, renamed from LLVMFuzzerTestOneInput by the build.
#define VESPERLINE_FUZZ_TARGET(name) \
  extern "C" int VesperlineFuzz_##name(const std::uint8_t* data, std::size_t size);
#include "fuzz_targets.inc"
#undef VESPERLINE_FUZZ_TARGET

namespace vesperline {
namespace {

namespace fs = std::filesystem;

struct FuzzTarget {
  const char* name;
  int (*run)(const std::uint8_t* data, std::size_t size);
};

const std::vector<FuzzTarget> kTargets = {
#define VESPERLINE_FUZZ_TARGET(name) {#name, &VesperlineFuzz_##name},
#include "fuzz_targets.inc"
#undef VESPERLINE_FUZZ_TARGET
};

// The files of the directories, every level down; a directory that does not exist adds none.
std::vector<fs::path> FilesIn(const std::vector<fs::path>& dirs) {
  std::vector<fs::path> files;
  for (const fs::path& dir : dirs) {
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  return files;
}

class FuzzReplayTest : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzReplayTest, SeedsRegressionsAndFixturesKeepEveryProperty) {
  const fs::path source = test::PathFromUtf8(VESPERLINE_SOURCE_DIR);
  const std::string name = GetParam().name;
  const std::vector<fs::path> seeds = FilesIn({source / "fuzz" / "corpus" / name});
  ASSERT_FALSE(seeds.empty()) << "every target has seeds of its own";
  const std::vector<fs::path> files =
      FilesIn({source / "fuzz" / "corpus" / name, source / "fuzz" / "regressions" / name,
               source / "tests" / "fixtures"});
  for (const fs::path& file : files) {
    const std::string bytes = test::ReadFile(file);
    std::fprintf(stderr, "fuzz-%s: %s\n", name.c_str(), test::Utf8FromPath(file).c_str());
    std::fflush(stderr);
    EXPECT_EQ(GetParam().run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
  }
  // Inputs too short for their parts, and the empty one.
  for (std::size_t size = 0; size < 8; ++size) {
    const std::string bytes(size, '\x1e');
    EXPECT_EQ(GetParam().run(reinterpret_cast<const std::uint8_t*>(bytes.data()), size), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplayTest, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vesperline
