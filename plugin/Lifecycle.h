// Start-up, the heartbeat schedule and shut-down, behind the two exported entry points.
#pragma once

#include <atomic>
#include <cstdint>

namespace vesperline {

using SleepFunction = void (*)(std::uint32_t milliseconds);
using BeatFunction = void (*)();

// The pause between heartbeats is this many ticks of kTickMilliseconds; the flag is checked
// before every tick, so a stop ends a wait after at most one tick.
inline constexpr int kTicksPerHeartbeat = 600;
inline constexpr std::uint32_t kTickMilliseconds = 100;

// Waits up to kTicksPerHeartbeat ticks while running is true. Returns running as it then stands.
bool WaitForNextHeartbeat(const std::atomic<bool>& running, SleepFunction sleep);

// Until running is cleared: wait, then beat. An error that leaves a beat drops that heartbeat
// only; the schedule goes on.
void RunHeartbeatSchedule(const std::atomic<bool>& running, SleepFunction sleep, BeatFunction beat);

// The body of the heartbeat thread: the schedule with the system's sleep and "online" heartbeats.
void HeartbeatLoop();

// True from a start of reporting until the next stop, also when the thread could not be created.
bool IsReporting();

// Sets Running and starts the heartbeat thread on the given sleep. Errors of the thread facility
// pass to the caller with Running left true.
void StartReporting(SleepFunction sleep);

// Clears Running, joins the heartbeat thread if there is one, sends "offline" and waits (at most
// two seconds) until the host has let go of every heartbeat callback; when the host still holds
// one then, the plugin's module stays loaded for the rest of the process. The wait comes before
// an error of the "offline" post passes to the caller.
void StopReporting();

}  // namespace vesperline
