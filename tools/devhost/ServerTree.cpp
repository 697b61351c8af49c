#include "tools/devhost/ServerTree.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <stdexcept>

namespace devhost {

namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text, std::ios::openmode mode) {
  std::ofstream out(path, std::ios::binary | mode);
  out << text;
  out.flush();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// A log line's time stamp as the server writes it: [2025.01.31-12.34.56:789].
std::string LogStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "[%04d.%02d.%02d-%02d.%02d.%02d:%03d]", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

}  // namespace

ServerTree::ServerTree(fs::path root) : root_(fs::absolute(std::move(root))) {}

fs::path ServerTree::GameDir() const {
  return root_ / "ShooterGame";
}

fs::path ServerTree::PluginDir() const {
  return GameDir() / "Binaries" / "Win64" / "ArkApi" / "Plugins" / "Vesperline";
}

fs::path ServerTree::PluginFile() const {
  return PluginDir() / "Vesperline.so";
}

fs::path ServerTree::SettingsFile() const {
  return GameDir() / "Saved" / "Config" / "WindowsServer" / "GameUserSettings.ini";
}

fs::path ServerTree::LogFile() const {
  return GameDir() / "Saved" / "Logs" / "ShooterGame.log";
}

fs::path ServerTree::Executable() const {
  return GameDir() / "Binaries" / "Win64" / "ArkAscendedServer.exe";
}

void ServerTree::LayOut(const fs::path& builtPlugin, const ServerSetup& setup) const {
  fs::create_directories(PluginDir());
  fs::create_directories(SettingsFile().parent_path());
  fs::create_directories(LogFile().parent_path());
  fs::copy_file(builtPlugin, PluginFile(), fs::copy_options::overwrite_existing);

  WriteText(PluginDir() / "config.json",
            "{\n  \"token\": \"" + setup.token + "\",\n  \"ip\": \"" + setup.publicIp +
                "\",\n  \"port\": " + std::to_string(setup.port) + "\n}\n",
            std::ios::trunc);

  // Written by Windows tools, so with CR LF line ends.
  WriteText(SettingsFile(),
            "[ServerSettings]\r\n"
            "ServerPassword=\r\n"
            "ServerAdminPassword=change-me\r\n"
            "ServerPVE=True\r\n"
            "ActiveMods=" +
                setup.mods +
                "\r\n"
                "DifficultyOffset=1.000000\r\n"
                "\r\n"
                "[/Script/Engine.GameSession]\r\n"
                "MaxPlayers=" +
                std::to_string(setup.maxPlayers) +
                "\r\n"
                "\r\n"
                "[SessionSettings]\r\n"
                "SessionName=" +
                setup.sessionName +
                "\r\n"
                "Port=" +
                std::to_string(setup.port) + "\r\n",
            std::ios::trunc);

  // A fresh log, as the server starts one at every launch; the version comes a little later.
  WriteText(LogFile(),
            "Log file open, " + LogStamp() + "\r\n" + LogStamp() +
                "[  0]LogInit: Build: ++UE5+Release-5.2-CL-0\r\n" + LogStamp() +
                "[  0]LogInit: Command Line: " + setup.map + "?listen\r\n",
            std::ios::trunc);
}

void ServerTree::AppendVersionLine(const ServerSetup& setup) const {
  WriteText(LogFile(), LogStamp() + "[  0]ARK Version: " + setup.version + "\r\n", std::ios::app);
}

std::vector<std::string> ServerTree::LaunchArguments(const ServerSetup& setup) const {
  return {Executable().string(),
          setup.map + "?listen?SessionName=" + setup.sessionName + "?MaxPlayers=" +
              std::to_string(setup.maxPlayers) + "?Port=" + std::to_string(setup.port),
          "-mods=" + setup.mods, "-NoBattlEye"};
}

}  // namespace devhost
