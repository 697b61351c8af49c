#include "heartbeat/Submission.h"

#include <chrono>
#include <functional>
#include <vector>

#include "host/AsaApi.h"
#include "platform/Platform.h"

namespace vesperline {

std::atomic<int> HeartbeatCallback::live_{0};

HeartbeatCallback::HeartbeatCallback() noexcept {
  live_.fetch_add(1);
}
HeartbeatCallback::HeartbeatCallback(const HeartbeatCallback&) noexcept {
  live_.fetch_add(1);
}
HeartbeatCallback::HeartbeatCallback(HeartbeatCallback&&) noexcept {
  live_.fetch_add(1);
}
HeartbeatCallback::~HeartbeatCallback() {
  live_.fetch_sub(1);
}

void HeartbeatCallback::operator()(bool, std::string) const noexcept {}

int HeartbeatCallback::LiveCount() noexcept {
  return live_.load();
}

void SubmitHeartbeat(const std::string& endpoint, const std::string& document) {
  const std::function<void(bool, std::string)> callback{HeartbeatCallback()};
  API::Requests::Get().CreatePostRequest(endpoint, callback, document, "application/json", {});
}

bool WaitForCallbacksReleased() {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (HeartbeatCallback::LiveCount() > 0) {
    if (Clock::now() >= deadline) return false;
    platform::SleepMilliseconds(10);
  }
  // The thread that released the last instance counted it down inside the destructor, which is
  // the plugin's code, and is still on its way out of it. Nothing inside the module can tell when
  // it has left; this short wait narrows that window, it does not close it.
  platform::SleepMilliseconds(10);
  return true;
}

}  // namespace vesperline
