// The two entry points the plugin host calls, under their undecorated names.
#include "discovery/Discovery.h"
#include "platform/Platform.h"
#include "plugin/Lifecycle.h"

#if defined(_WIN32)
#define VESPERLINE_EXPORT extern "C" __declspec(dllexport)
#else
#define VESPERLINE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VESPERLINE_EXPORT void Plugin_Init() {
  if (!vesperline::LoadConfig()) return;
  vesperline::CollectServerInfo();
  vesperline::StartReporting(&vesperline::platform::SleepMilliseconds);
}

VESPERLINE_EXPORT void Plugin_Unload() {
  vesperline::StopReporting();
}
