// The directory tree of a dedicated server as the development host lays it out, with the plugin
// installed the way an admin installs it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace devhost {

// The facts the laid-out server states about itself, in its files and on its command line.
struct ServerSetup {
  std::string token = "vesperline-demo-token";
  std::string publicIp = "203.0.113.7";  // what the heartbeat reports; never contacted
  int port = 7777;
  std::string sessionName = "Vesperline Demo";
  std::string map = "TheIsland_WP";
  int maxPlayers = 70;
  std::string mods = "928102,931877";
  std::string version = "58.17";
};

class ServerTree {
 public:
  explicit ServerTree(std::filesystem::path root);

  const std::filesystem::path& Root() const { return root_; }
  // ShooterGame/: the server's own root, five levels above the plugin's directory.
  std::filesystem::path GameDir() const;
  std::filesystem::path PluginDir() const;
  std::filesystem::path PluginFile() const;
  std::filesystem::path SettingsFile() const;
  std::filesystem::path LogFile() const;
  std::filesystem::path Executable() const;

  // Creates the directories, copies the plugin file in and writes config.json, the settings file
  // and the start of a fresh log (without the version line). Throws std::exception on failure.
  void LayOut(const std::filesystem::path& builtPlugin, const ServerSetup& setup) const;

  // Appends the line announcing the game version to the log, as the server does shortly after it
  // starts.
  void AppendVersionLine(const ServerSetup& setup) const;

  // The server's launch arguments, executable path first, as the real server is started.
  std::vector<std::string> LaunchArguments(const ServerSetup& setup) const;

 private:
  std::filesystem::path root_;
};

}  // namespace devhost
