// The hand-over of a heartbeat document to the host's request service.
#pragma once

#include <atomic>
#include <string>

namespace vesperline {

// The callback handed to the host with each request. It does nothing with the outcome, but every
// live instance (copies included) is counted, because its code belongs to the plugin's module and
// must not run after the module is released.
class HeartbeatCallback {
 public:
  HeartbeatCallback() noexcept;
  HeartbeatCallback(const HeartbeatCallback&) noexcept;
  HeartbeatCallback(HeartbeatCallback&&) noexcept;
  HeartbeatCallback& operator=(const HeartbeatCallback&) noexcept = default;
  HeartbeatCallback& operator=(HeartbeatCallback&&) noexcept = default;
  ~HeartbeatCallback();

  void operator()(bool success, std::string response) const noexcept;

  // How many instances are alive now.
  static int LiveCount() noexcept;

 private:
  static std::atomic<int> live_;
};

// Posts the document to the endpoint as "application/json" with no extra header. The result and
// the outcome are ignored; errors the host raises pass to the caller.
void SubmitHeartbeat(const std::string& endpoint, const std::string& document);

// Waits until the host has released every callback instance, polling every 10 ms, for at most
// two seconds in all, then a moment more. True when every instance was released in time.
bool WaitForCallbacksReleased();

}  // namespace vesperline
