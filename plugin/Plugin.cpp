// The two entry points the plugin host calls, under their undecorated names.
#include "platform/Platform.h"
#include "plugin/Lifecycle.h"
#include "plugin/ServerProfile.h"

#if defined(_WIN32)
#define VESPERLINE_EXPORT extern "C" __declspec(dllexport)
#else
#define VESPERLINE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VESPERLINE_EXPORT void Plugin_Init() {
  // A host that calls Plugin_Init again while the plugin reports would have the profile rewritten
  // under the heartbeat thread's feet; the plugin goes on as it was.
  if (vesperline::IsReporting()) return;
  // A module kept loaded past an earlier unload comes back with the facts of its last run; each
  // start-up begins from the values of a first load.
  vesperline::ResetProfile();
  if (!vesperline::DiscoverServerFacts()) return;
  vesperline::StartReporting(&vesperline::platform::SleepMilliseconds);
}

VESPERLINE_EXPORT void Plugin_Unload() {
  vesperline::StopReporting();
}
