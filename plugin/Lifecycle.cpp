#include "plugin/Lifecycle.h"

#include <thread>

#include "heartbeat/Submission.h"
#include "platform/Platform.h"
#include "plugin/Heartbeat.h"
#include "plugin/ServerProfile.h"

namespace vesperline {

namespace {

void SendOnline() {
  SendHeartbeat("online");
}

// The host releases the plugin's module once Plugin_Unload returns, and a callback copy it
// destroys after that would run code that is gone. A host whose request outlives the wait (a
// service that is down, a request that takes its full timeout) gets the module kept loaded
// instead, for the rest of the process.
void LetTheHostReleaseCallbacks() {
  if (!WaitForCallbacksReleased()) platform::PinPluginModule();
}

// The sleep of the heartbeat thread; written before the thread starts, so its start orders it.
SleepFunction gHeartbeatSleep = &platform::SleepMilliseconds;

}  // namespace

bool WaitForNextHeartbeat(const std::atomic<bool>& running, SleepFunction sleep) {
  for (int tick = 0; tick < kTicksPerHeartbeat; ++tick) {
    if (!running.load(std::memory_order_seq_cst)) break;
    sleep(kTickMilliseconds);
  }
  return running.load(std::memory_order_seq_cst);
}

void RunHeartbeatSchedule(const std::atomic<bool>& running, SleepFunction sleep,
                          BeatFunction beat) {
  while (WaitForNextHeartbeat(running, sleep)) {
    // The thread lives inside the game server: whatever a heartbeat throws (memory exhaustion, an
    // error of the host's request service) costs that heartbeat, never the process.
    try {
      beat();
    } catch (...) {
    }
  }
}

void HeartbeatLoop() {
  RunHeartbeatSchedule(Profile.Running, gHeartbeatSleep, &SendOnline);
}

bool IsReporting() {
  return Profile.Running.load(std::memory_order_seq_cst) || Profile.HeartbeatThread.joinable();
}

void StartReporting(SleepFunction sleep) {
  Profile.Running.store(true, std::memory_order_seq_cst);
  gHeartbeatSleep = sleep;
  Profile.HeartbeatThread = std::thread(&HeartbeatLoop);
}

void StopReporting() {
  Profile.Running.store(false, std::memory_order_seq_cst);
  if (Profile.HeartbeatThread.joinable()) {
    Profile.HeartbeatThread.join();
    Profile.HeartbeatThread = std::thread();
  }
  try {
    SendHeartbeat("offline");
  } catch (...) {
    LetTheHostReleaseCallbacks();
    throw;
  }
  LetTheHostReleaseCallbacks();
}

}  // namespace vesperline
