// The plugin file in host processes that treat it the way hosts in the field do: releasing it
// while their requests still hold its callback, loading it again after the admin changed files,
// calling Plugin_Init twice, ending without unloading it, or meeting an error from the last post.
// Whatever the host does, its process must not die for it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"
#include "tests/support/TestSupport.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace vesperline {
namespace {

// A server the plugin reports, with the host's options and the launch arguments of the run.
class HostProgramTest : public ::testing::Test {
 protected:
  HostProgramTest() {
    server_.WriteConfig("{\"token\": \"first-token\", \"ip\": \"203.0.113.7\", \"port\": 7777}");
  }

  test::HostRun Run(std::vector<std::string> options) {
    options.insert(options.begin(), {"--plugin-dir", test::Utf8FromPath(server_.PluginDir())});
    options.insert(options.end(), {"--", "TheIsland_WP?listen"});
    return test::RunHost(options);
  }

  static nlohmann::json Body(const std::string& request) {
    return nlohmann::json::parse(nlohmann::json::parse(request).at("body").get<std::string>());
  }

  static nlohmann::json Summary(const test::HostRun& run) {
    return run.summary.empty() ? nlohmann::json() : nlohmann::json::parse(run.summary);
  }

  test::ServerTree server_;
};

TEST(HostProgramIdleTest, AnIdlePluginPostsNothingAndIsReleasedForReal) {
  const test::ServerTree server;
  const test::HostRun run = test::RunHost({"--plugin-dir", test::Utf8FromPath(server.PluginDir()),
                                           "--run-ms", "300", "--unloads", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.requests.empty()) << run.output;
  // Nothing held the callback, so nothing kept the module: a reload would load a new file.
  EXPECT_EQ(nlohmann::json::parse(run.summary).at("mapped_after_release"), false) << run.output;
}

// A reload while the service is unreachable: the host's request for the "offline" heartbeat holds
// the callback longer than the unload waits, the host releases the plugin, the admin puts other
// files in place, and the host loads it again. The held callback is released after both.
TEST_F(HostProgramTest, AHostThatHoldsTheCallbackPastTheUnloadCanReloadThePluginWithOtherFiles) {
  test::WriteFile(server_.SettingsFile(), "[SessionSettings]\nSessionName=First\n");
  test::WriteFile(server_.Log(), "ARK Version: 1.0\n");
  test::WriteFile(server_.PluginDir() / "config.second.json",
                  "{\"token\": \"second-token\", \"ip\": \"198.51.100.9\", \"port\": 7000}");
  // The second server's log is longer than the first, with its version where the first log's
  // reading stopped long before: only a reading from its beginning finds it.
  test::WriteFile(server_.Root() / "ShooterGame" / "Saved.second" / "Logs" / "ShooterGame.log",
                  "ARK Version: 2.0\n" + std::string(100, '.') + "\n");
  const test::HostRun run =
      Run({"--run-ms", "200", "--callback", "never", "--keep-callback-ms", "3000", "--reload",
           "--reload-rename", "config.json=config.first.json", "--reload-rename",
           "config.second.json=config.json", "--reload-rename",
           "../../../../../Saved=../../../../../Saved.first", "--reload-rename",
           "../../../../../Saved.second=../../../../../Saved", "--linger-ms", "3500"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(run.requests.size(), 2u) << run.output;
  const nlohmann::json first = Body(run.requests[0]);
  EXPECT_EQ(first.at("token"), "first-token");
  EXPECT_EQ(first.at("name"), "First (v1.0)");
  // The reloaded plugin is the same module, yet it starts from nothing, as a first load does.
  const nlohmann::json second = Body(run.requests[1]);
  EXPECT_EQ(second.at("token"), "second-token");
  EXPECT_EQ(second.at("ip"), "198.51.100.9");
  EXPECT_EQ(second.at("port"), 7000);
  EXPECT_FALSE(second.contains("name"));
  EXPECT_EQ(second.at("version"), "2.0");
  EXPECT_EQ(Summary(run).at("mapped_after_release"), true) << run.output;
}

TEST_F(HostProgramTest, AnErrorFromTheOfflinePostWaitsForTheCallbackBeforeItReachesTheHost) {
  const test::HostRun run = Run({"--run-ms", "200", "--callback", "never", "--keep-callback-ms",
                                 "3000", "--post-throw-after-keeping", "--linger-ms", "3500"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.requests.size(), 1u) << run.output;
  EXPECT_EQ(Summary(run).at("unload_error"), "request service failed late") << run.output;
  EXPECT_EQ(Summary(run).at("mapped_after_release"), true) << run.output;
}

TEST_F(HostProgramTest, AProcessThatEndsWithoutUnloadingThePluginExitsCleanly) {
  const test::HostRun run = Run({"--run-ms", "300", "--no-unload"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.requests.empty()) << run.output;
}

TEST_F(HostProgramTest, ASecondPluginInitWhileReportingChangesNothing) {
  const test::HostRun run = Run({"--run-ms", "300", "--inits", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(run.requests.size(), 1u) << run.output;
  EXPECT_EQ(Body(run.requests[0]).at("status"), "offline");
}

#if !defined(_WIN32)
// A reader that opens a FIFO waits until something writes into it, which may be never. The
// plugin takes a FIFO for a missing file, so that start-up and unload return; a device or a path
// the system refuses is missing too, and says why.
TEST(HostProgramFileTest, FifosInPlaceOfTheServersFilesCountAsMissing) {
  // Without a readable config.json the plugin stays idle and reads only the log, at unload; with
  // one it reads the settings file and the log at start-up.
  for (const bool configIsFifo : {true, false}) {
    const test::ServerTree server;
    std::filesystem::create_directories(server.SettingsFile().parent_path());
    std::filesystem::create_directories(server.Log().parent_path());
    ASSERT_EQ(mkfifo(server.SettingsFile().c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(server.Log().c_str(), 0600), 0);
    if (configIsFifo) {
      ASSERT_EQ(mkfifo((server.PluginDir() / "config.json").c_str(), 0600), 0);
    } else {
      server.WriteConfig(R"({"token": "t", "ip": "203.0.113.7", "port": 7777})");
    }
    const test::HostRun run = test::RunHost({"--plugin-dir", test::Utf8FromPath(server.PluginDir()),
                                             "--run-ms", "100", "--", "TheIsland_WP"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.requests.size(), configIsFifo ? 0u : 1u) << run.output;

    EXPECT_EQ(platform::InputFile(server.Log().string()).Failure(), platform::OpenFailure::Pipe);
  }
  EXPECT_EQ(platform::InputFile("/dev/null").Failure(), platform::OpenFailure::Device);
  const platform::InputFile refused(std::string(300, 'x'));
  EXPECT_EQ(refused.Failure(), platform::OpenFailure::Other);
  EXPECT_NE(refused.FailureMessage(), "");
}
#endif

}  // namespace
}  // namespace vesperline
