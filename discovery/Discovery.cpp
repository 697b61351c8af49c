#include "discovery/Discovery.h"

#include "platform/Platform.h"
#include "plugin/ServerProfile.h"

namespace vesperline {

bool LoadConfig() {
  const std::string path = platform::PluginModulePath();
  const std::size_t cut = path.find_last_of("\\/");
  Profile.PluginDir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  return false;
}

void CollectServerInfo() {}

void ReadVersionFromLog() {}

}  // namespace vesperline
