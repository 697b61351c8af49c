// The hand-over to the host's request service and the wait for the host to let go of callbacks.
#include <gtest/gtest.h>

#include <chrono>

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

class SubmissionTest : public test::IdentifiedServerTest {
 protected:
  // How long an unload (with its "offline" heartbeat) takes under the given host behaviour.
  static Clock::duration TimeUnload(const simhost::RequestBehaviour& behaviour) {
    simhost::SetRequestBehaviour(behaviour);
    const auto before = Clock::now();
    StopReporting();
    return Clock::now() - before;
  }
};

TEST_F(SubmissionTest, PostsExactlyTheFiveArguments) {
  const std::string document = BuildHeartbeatDocument(Profile, "online", 3, 12, {});
  SubmitHeartbeat(Profile.HeartbeatUrl, document);
  const auto requests = simhost::Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].url, Profile.HeartbeatUrl);
  EXPECT_EQ(requests[0].url, std::string(kHeartbeatUrl));
  EXPECT_TRUE(requests[0].hasCallback);
  EXPECT_EQ(requests[0].body, document);
  EXPECT_EQ(requests[0].contentType, "application/json");
  EXPECT_TRUE(requests[0].headers.empty());
}

TEST_F(SubmissionTest, TheCallbackIgnoresFailureAndTheResultIsNotExamined) {
  simhost::RequestBehaviour failing;
  failing.result = false;
  failing.callbackSuccess = false;
  failing.response = "<html>502 Bad Gateway</html>";
  simhost::SetRequestBehaviour(failing);
  SubmitHeartbeat(Profile.HeartbeatUrl, BuildHeartbeatDocument(Profile, "online", -1, -1, {}));
  EXPECT_EQ(simhost::CallbacksCalled(), 1u);
  EXPECT_EQ(simhost::Requests().size(), 1u) << "nothing is retried";
}

TEST_F(SubmissionTest, EveryCallbackCopyIsCounted) {
  EXPECT_EQ(HeartbeatCallback::LiveCount(), 0);
  {
    HeartbeatCallback first;
    HeartbeatCallback second = first;
    HeartbeatCallback third = std::move(second);
    EXPECT_EQ(HeartbeatCallback::LiveCount(), 3);
  }
  EXPECT_EQ(HeartbeatCallback::LiveCount(), 0);
}

TEST_F(SubmissionTest, AHostThatDropsTheCallbackAtOnceCostsNoWait) {
  simhost::RequestBehaviour dropping;
  dropping.keepCallback = 0ms;
  EXPECT_LT(TimeUnload(dropping), 500ms);
  EXPECT_EQ(HeartbeatCallback::LiveCount(), 0);
}

TEST_F(SubmissionTest, UnloadWaitsWhileTheHostKeepsTheCallback) {
  simhost::RequestBehaviour keeping;
  keeping.keepCallback = 500ms;
  const auto took = TimeUnload(keeping);
  EXPECT_GE(took, 450ms);
  EXPECT_LT(took, 1900ms);
  EXPECT_EQ(HeartbeatCallback::LiveCount(), 0);
}

TEST_F(SubmissionTest, UnloadWaitsForALateCallbackThenItsRelease) {
  simhost::RequestBehaviour late;
  late.callback = simhost::CallbackMode::kLater;
  late.callbackDelay = 300ms;
  late.keepCallback = 0ms;
  const auto took = TimeUnload(late);
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 1900ms);
  EXPECT_EQ(simhost::CallbacksCalled(), 1u);
}

TEST_F(SubmissionTest, UnloadGivesUpAfterTwoSecondsOnAHostThatNeverLetsGo) {
  simhost::RequestBehaviour hoarding;
  hoarding.callback = simhost::CallbackMode::kNever;
  hoarding.keepCallback = -1ms;
  const auto took = TimeUnload(hoarding);
  EXPECT_GE(took, 1900ms);
  EXPECT_LT(took, 5s);
}

}  // namespace
}  // namespace vesperline
