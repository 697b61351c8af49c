// The plugin file in a host process with server files of hundreds of megabytes, made on the fly:
// the process's peak memory stays within a bound that does not grow with the files. Linux only,
// where the system tells a process's peak memory.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <string>

#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMegabyte = 1024 * 1024;
// What the plugin may hold beyond a run with small files: a few blocks and texts of a few
// kilobytes. Each file below is ten times larger or more.
constexpr long kAllowedKilobytes = 24 * 1024;

// Appends size bytes of one value to out, a block at a time.
void AppendRepeated(std::ofstream& out, char byte, std::size_t size) {
  const std::string block(kMegabyte, byte);
  for (std::size_t left = size; left > 0;) {
    const std::size_t now = std::min(left, block.size());
    out.write(block.data(), static_cast<std::streamsize>(now));
    left -= now;
  }
}

class LinuxMemoryTest : public ::testing::Test {
 protected:
  LinuxMemoryTest() {
    server_.WriteConfig(R"({"token": "t", "ip": "203.0.113.7", "port": 7777})");
    fs::create_directories(SettingsFile().parent_path());
    fs::create_directories(LogFile().parent_path());
  }

  fs::path SettingsFile() const { return server_.SettingsFile(); }
  fs::path LogFile() const { return server_.Log(); }

  // Loads the plugin and unloads it at once.
  test::HostRun RunHost() const {
    return test::RunHost({"--plugin-dir", test::Utf8FromPath(server_.PluginDir()), "--run-ms", "0",
                          "--", "TheIsland_WP"});
  }

  // Loads the plugin, unloads it at once, and gives its "offline" document and the process's peak
  // memory in KiB.
  std::pair<nlohmann::json, long> Run() {
    const test::HostRun run = RunHost();
    EXPECT_EQ(run.exitCode, 0) << run.summary;
    EXPECT_EQ(run.requests.size(), 1u) << run.summary;
    if (run.requests.empty()) return {nlohmann::json(), run.peakKilobytes};
    const nlohmann::json request = nlohmann::json::parse(run.requests.back());
    return {nlohmann::json::parse(request.at("body").get<std::string>()), run.peakKilobytes};
  }

  // The peak memory of a run with small files of the same kinds.
  long SmallFilesPeak() {
    test::WriteFile(SettingsFile(), "[ServerSettings]\r\nActiveMods=1,2\r\n");
    test::WriteFile(LogFile(), "LogInit: ARK Version: 74.24\r\n");
    return Run().second;
  }

  test::ServerTree server_;
};

TEST_F(LinuxMemoryTest, EndlessLinesInTheSettingsFileAndAfterTheLogsMarker) {
  const long small = SmallFilesPeak();
  {
    std::ofstream settings(SettingsFile(), std::ios::binary | std::ios::trunc);
    settings << "[ServerSettings]\r\nActiveMods=1,2\r\n[";
    AppendRepeated(settings, 'S', 100 * kMegabyte);  // a section name
    settings << "]\r\nSessionName=";
    AppendRepeated(settings, 'n', 200 * kMegabyte);  // and a line that never ends
    std::ofstream log(LogFile(), std::ios::binary | std::ios::trunc);
    log << "LogInit: Build: ++UE5\r\nLogInit: ARK Version: ";
    AppendRepeated(log, 'v', 250 * kMegabyte);
  }
  const auto [document, peak] = Run();
  EXPECT_LE(peak, small + kAllowedKilobytes) << "with small files: " << small << " KiB";
  EXPECT_EQ(document.value("mods", ""), "1,2");
  EXPECT_EQ(document.value("name", ""),
            std::string(4096, 'n') + " (v" + std::string(256, 'v') + ")");
}

// A log saved as UTF-16, which is read decoded a block at a time.
TEST_F(LinuxMemoryTest, ABigUnicodeLogWithoutTheMarker) {
  const long small = SmallFilesPeak();
  {
    std::u16string lines;
    while (lines.size() < kMegabyte / 2) lines += u"[2026.12.06-10.00.00:000][  0]LogNet: Join\r\n";
    const std::string bytes = test::Utf16LeBytes(lines);
    std::ofstream log(LogFile(), std::ios::binary | std::ios::trunc);
    log << "\xFF\xFE";
    for (int i = 0; i < 300; ++i) log << bytes;
  }
  const auto [document, peak] = Run();
  EXPECT_LE(peak, small + kAllowedKilobytes) << "with small files: " << small << " KiB";
  EXPECT_FALSE(document.contains("version"));
}

// A config.json of a hundred megabytes (a log saved under its name) is not read: the plugin stays
// idle, as without one.
TEST_F(LinuxMemoryTest, AHugeConfigJson) {
  const long small = SmallFilesPeak();
  {
    std::ofstream config(server_.PluginDir() / "config.json", std::ios::binary | std::ios::trunc);
    config << R"({"token": "t", "ip": "203.0.113.7", "port": 7777})";
    AppendRepeated(config, ' ', 100 * kMegabyte);
  }
  const test::HostRun run = RunHost();
  EXPECT_EQ(run.exitCode, 0) << run.summary;
  EXPECT_TRUE(run.requests.empty()) << run.summary;
  EXPECT_LE(run.peakKilobytes, small + kAllowedKilobytes)
      << "with small files: " << small << " KiB";
}

}  // namespace
}  // namespace vesperline
