// The simulated host's request transport, through which a host program performs the plugin's
// requests for real on a thread of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "heartbeat/Document.h"
#include "heartbeat/Submission.h"
#include "plugin/Lifecycle.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Callback = std::function<void(bool, std::string)>;

// A transport like the development host's: it keeps the callback copy on a worker thread for a
// while, then calls it with a failure and lets go of it.
class RequestTransportTest : public test::IdentifiedServerTest {
 protected:
  void TearDown() override {
    if (worker_.joinable()) worker_.join();
    test::PluginTest::TearDown();
  }

  void UseTransport(std::chrono::milliseconds takes, bool accepts) {
    simhost::SetRequestTransport(
        [this, takes, accepts](const simhost::RecordedRequest& request, Callback callback) {
          seenBody_ = request.body;
          seenUrl_ = request.url;
          worker_ = std::thread([takes, callback = std::move(callback)]() mutable {
            std::this_thread::sleep_for(takes);
            callback(false, "connection refused");
            callback = nullptr;
          });
          return accepts;
        });
  }

  std::thread worker_;
  std::string seenBody_;
  std::string seenUrl_;
};

TEST_F(RequestTransportTest, RecordsTheRequestHandsItOverAndAnswersWithTheTransportsResult) {
  UseTransport(50ms, false);
  std::atomic<int> calls{0};
  const std::string document = BuildHeartbeatDocument(Profile, "online", 0, 1, {});
  const bool accepted = API::Requests::Get().CreatePostRequest(
      "https://heartbeat.example.com/plugin/heartbeat", [&](bool, std::string) { ++calls; },
      document, "application/json", {});
  EXPECT_FALSE(accepted);
  EXPECT_EQ(calls.load(), 0) << "the transport calls back later, on its own thread";
  worker_.join();
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(simhost::CallbacksCalled(), 1u);
  ASSERT_EQ(simhost::Requests().size(), 1u);
  EXPECT_EQ(seenBody_, document);
  EXPECT_EQ(seenUrl_, "https://heartbeat.example.com/plugin/heartbeat");
}

TEST_F(RequestTransportTest, UnloadWaitsUntilTheTransportHasLetGoOfTheCallback) {
  UseTransport(300ms, true);
  const auto before = Clock::now();
  StopReporting();
  const auto took = Clock::now() - before;
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 1900ms);
  EXPECT_EQ(HeartbeatCallback::LiveCount(), 0);
  EXPECT_EQ(simhost::CallbacksCalled(), 1u);
}

TEST_F(RequestTransportTest, ResetGoesBackToTheRecordedBehaviour) {
  UseTransport(0ms, false);
  simhost::Reset();
  EXPECT_TRUE(API::Requests::Get().CreatePostRequest(
      "https://x.example/plugin/heartbeat", {},
      BuildHeartbeatDocument(Profile, "online", -1, -1, {}), "application/json", {}));
  EXPECT_TRUE(seenUrl_.empty()) << "the transport is gone after Reset";
}

}  // namespace
}  // namespace vesperline
