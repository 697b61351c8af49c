// The plugin file loaded by name in a host process, the way the real host loads it.
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

TEST(HostProgramTest, APluginWithoutConfigurationStaysIdleAndPostsNothing) {
  test::TempDir server;
  const auto pluginDir = server.Path() / "Binaries" / "Win64" / "ArkApi" / "Plugins" / "Vesperline";
  test::InstallPlugin(pluginDir);
  const test::HostRun run = test::RunHost(
      {"--plugin-dir", test::Utf8FromPath(pluginDir), "--run-ms", "300", "--unloads", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.requests.empty()) << run.output;
  ASSERT_FALSE(run.summary.empty()) << run.output;
}

}  // namespace
}  // namespace vesperline
