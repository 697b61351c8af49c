// A small DLL the platform tests load from a folder of their choosing: it tells the module path
// the platform layer finds for the module that holds its code, as the plugin finds its own.
#include <string>

#include "platform/Platform.h"

extern "C" __declspec(dllexport) const char* ProbeModulePath() {
  static std::string path;
  path = vesperline::platform::PluginModulePath();
  return path.c_str();
}
