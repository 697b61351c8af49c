#include "heartbeat/Submission.h"

#include <chrono>
#include <functional>
#include <vector>

#include "host/AsaApi.h"
#include "platform/Platform.h"
#include "plugin/ServerProfile.h"

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

void SubmitHeartbeat(const std::string& document) {
  const std::function<void(bool, std::string)> callback{HeartbeatCallback()};
  API::Requests::Get().CreatePostRequest(Profile.HeartbeatUrl, callback, document,
                                         "application/json", {});
}

void WaitForCallbacksReleased() {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (HeartbeatCallback::LiveCount() > 0 && Clock::now() < deadline) {
    platform::SleepMilliseconds(10);
  }
}

}  // namespace vesperline
