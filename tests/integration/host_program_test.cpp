// The plugin file loaded by name in a host process, the way the real host loads it.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "tests/support/TestSupport.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

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

#if !defined(_WIN32)
// A reader that opens a FIFO waits until something writes into it, which may be never. The
// plugin takes a FIFO for a missing file, so that start-up and unload return.
TEST(HostProgramTest, FifosInPlaceOfTheServersFilesCountAsMissing) {
  // Without a readable config.json the plugin stays idle and reads only the log, at unload; with
  // one it reads the settings file and the log at start-up.
  for (const bool configIsFifo : {true, false}) {
    test::TempDir server;
    const auto game = server.Path() / "ShooterGame";
    const auto pluginDir = game / "Binaries" / "Win64" / "ArkApi" / "Plugins" / "Vesperline";
    test::InstallPlugin(pluginDir);
    const auto settings = game / "Saved" / "Config" / "WindowsServer" / "GameUserSettings.ini";
    const auto log = game / "Saved" / "Logs" / "ShooterGame.log";
    std::filesystem::create_directories(settings.parent_path());
    std::filesystem::create_directories(log.parent_path());
    ASSERT_EQ(mkfifo(settings.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
    if (configIsFifo) {
      ASSERT_EQ(mkfifo((pluginDir / "config.json").c_str(), 0600), 0);
    } else {
      test::WriteFile(pluginDir / "config.json",
                      R"({"token": "t", "ip": "203.0.113.7", "port": 7777})");
    }
    const test::HostRun run = test::RunHost(
        {"--plugin-dir", test::Utf8FromPath(pluginDir), "--run-ms", "100", "--", "TheIsland_WP"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.requests.size(), configIsFifo ? 0u : 1u) << run.output;

    EXPECT_EQ(platform::InputFile(log.string()).Failure(), platform::OpenFailure::Pipe);
  }
  EXPECT_EQ(platform::InputFile("/dev/null").Failure(), platform::OpenFailure::Device);
}
#endif

}  // namespace
}  // namespace vesperline
