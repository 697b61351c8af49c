// The start-up facts of the real plugin file in a host process: config.json beside the module and
// the process's own command line.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

class ConfigDiscoveryTest : public ::testing::Test {
 protected:
  void WriteConfig(const std::string& bytes) { server_.WriteConfig(bytes); }

  // Loads and unloads the plugin with the given launch arguments; returns the documents of the
  // heartbeats it posted.
  std::vector<nlohmann::json> Run(const std::vector<std::string>& launchArguments) {
    std::vector<std::string> arguments{"--plugin-dir", test::Utf8FromPath(server_.PluginDir()),
                                       "--run-ms", "200", "--"};
    arguments.insert(arguments.end(), launchArguments.begin(), launchArguments.end());
    const test::HostRun run = test::RunHost(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::vector<nlohmann::json> documents;
    for (const std::string& request : run.requests) {
      documents.push_back(
          nlohmann::json::parse(nlohmann::json::parse(request).at("body").get<std::string>()));
    }
    return documents;
  }

  test::ServerTree server_;
};

const std::vector<std::string> kLaunch{
    "TheIsland_WP?listen?SessionName=My Server?Port=7777?QueryPort=27015", "-mods=123,456",
    "-WinLiveMaxPlayers=50"};

TEST_F(ConfigDiscoveryTest, ANotepadUnicodeConfigWithoutPortTakesThePortFromTheCommandLine) {
  WriteConfig(
      test::Utf16LeFile(u"{\r\n \"token\": \"t\u00f6ken-\U0001F996\",\r\n"
                        u" \"ip\": \"203.0.113.7\"\r\n}\r\n"));
  const std::vector<nlohmann::json> documents = Run(kLaunch);
  ASSERT_EQ(documents.size(), 1u);
  const nlohmann::json& offline = documents.back();
  EXPECT_EQ(offline.at("status"), "offline");
  EXPECT_EQ(offline.at("token"), "t\xC3\xB6ken-\xF0\x9F\xA6\x96");
  EXPECT_EQ(offline.at("ip"), "203.0.113.7");
  EXPECT_EQ(offline.at("port"), 7777);
  EXPECT_EQ(offline.at("name"), "My Server");
  EXPECT_EQ(offline.at("map"), "TheIsland_WP");
  EXPECT_EQ(offline.at("player_max"), 50);
  EXPECT_EQ(offline.at("mods"), "123,456");
  EXPECT_EQ(offline.at("is_pve"), false);
  EXPECT_FALSE(offline.contains("version"));
}

TEST_F(ConfigDiscoveryTest, TheServersSettingsFileAndLogFiveLevelsUpCompleteTheFacts) {
  WriteConfig("{\"token\": \"abc123\", \"ip\": \"203.0.113.7\", \"port\": 7777}\n");
  test::WriteFile(server_.SettingsFile(),
                  "[ServerSettings]\r\nActiveMods=928102,931877\r\nbServerPVE=True\r\n"
                  "[/Script/Engine.GameSession]\r\nMaxPlayers=70\r\n");
  test::WriteFile(server_.Log(), "[2026.12.06-10.00.00:000][  0]LogInit: ARK Version: 74.24\r\n");
  const std::vector<nlohmann::json> documents = Run(kLaunch);
  ASSERT_EQ(documents.size(), 1u);
  const nlohmann::json& offline = documents.back();
  EXPECT_EQ(offline.at("name"), "My Server (v74.24)");
  EXPECT_EQ(offline.at("version"), "74.24");
  EXPECT_EQ(offline.at("player_max"), 70) << "the settings file wins over -WinLiveMaxPlayers";
  EXPECT_EQ(offline.at("mods"), "928102,931877") << "the settings file wins over -mods";
  EXPECT_EQ(offline.at("is_pve"), true);
  EXPECT_EQ(offline.at("map"), "TheIsland_WP");
}

TEST_F(ConfigDiscoveryTest, APortInConfigWinsOverTheCommandLine) {
  WriteConfig("{\"token\": \"abc123\", \"ip\": \"203.0.113.7\", \"port\": 7000}\n");
  const std::vector<nlohmann::json> documents = Run(kLaunch);
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(documents.back().at("port"), 7000);
}

TEST_F(ConfigDiscoveryTest, WithoutConfigNothingIsPostedEvenWithAPortOnTheCommandLine) {
  EXPECT_TRUE(Run(kLaunch).empty());
}

TEST_F(ConfigDiscoveryTest, WithoutAnyPortNothingIsPosted) {
  WriteConfig("{\"token\": \"abc123\", \"ip\": \"203.0.113.7\", \"port\": 0}\n");
  EXPECT_TRUE(Run({"TheIsland_WP?listen"}).empty());
}

}  // namespace
}  // namespace vesperline
