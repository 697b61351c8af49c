// The two entry points the plugin host calls, under their undecorated names.
#include "discovery/ConfigFile.h"
#include "discovery/Discovery.h"
#include "discovery/LaunchArguments.h"
#include "platform/Platform.h"
#include "plugin/Lifecycle.h"
#include "plugin/ServerProfile.h"

#if defined(_WIN32)
#define VESPERLINE_EXPORT extern "C" __declspec(dllexport)
#else
#define VESPERLINE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Finds the plugin's own folder and runs start-up discovery there, with the process's command line
// and the profile's log reader, into the profile. True when the plugin is to report.
bool DiscoverServerFacts() {
  using namespace vesperline;
  try {
    Profile.PluginDir = DirectoryOf(platform::PluginModulePath());
    Discovery found =
        DiscoverServer({Profile.PluginDir, &ReadCommandLineText, &Profile.VersionLog});
    static_cast<ServerFacts&>(Profile) = std::move(found.Facts);
    return found.Usable;
  } catch (...) {
    // Discovery never lets an error out to the host; without its facts the plugin stays idle.
    return false;
  }
}

}  // namespace

VESPERLINE_EXPORT void Plugin_Init() {
  // A host that calls Plugin_Init again while the plugin reports would have the profile rewritten
  // under the heartbeat thread's feet; the plugin goes on as it was.
  if (vesperline::IsReporting()) return;
  // A module kept loaded past an earlier unload comes back with the facts of its last run; each
  // start-up begins from the values of a first load.
  vesperline::ResetProfile();
  if (!DiscoverServerFacts()) return;
  vesperline::StartReporting(&vesperline::platform::SleepMilliseconds);
}

VESPERLINE_EXPORT void Plugin_Unload() {
  vesperline::StopReporting();
}
