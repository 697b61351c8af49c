// The heartbeat schedule, the start and stop of reporting, and the wait for the host to let go
// of the plugin's callback.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "heartbeat/Submission.h"
#include "platform/Platform.h"
#include "plugin/Lifecycle.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- The schedule, on a simulated clock -----------------------------------------------------

// The state the fake sleep and beat share; the schedule runs on the test's own thread.
struct FakeTime {
  std::atomic<bool> running{true};
  long long nowMs = 0;
  long long beatTakesMs = 0;
  int sleeps = 0;
  std::vector<long long> beatTimes;
  int stopAfterBeats = 3;
  int stopAtSleep = -1;
  bool beatThrows = false;
};
FakeTime* gTime = nullptr;

void FakeSleep(std::uint32_t ms) {
  ++gTime->sleeps;
  gTime->nowMs += ms;
  if (gTime->sleeps == gTime->stopAtSleep) gTime->running = false;
}

void FakeBeat() {
  gTime->beatTimes.push_back(gTime->nowMs);
  gTime->nowMs += gTime->beatTakesMs;
  if (static_cast<int>(gTime->beatTimes.size()) >= gTime->stopAfterBeats) gTime->running = false;
  if (gTime->beatThrows) throw std::runtime_error("heartbeat failed");
}

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override { gTime = &time_; }
  void TearDown() override { gTime = nullptr; }
  FakeTime time_;
};

TEST_F(ScheduleTest, SixHundredSleepsOfOneHundredMillisecondsBeforeEachHeartbeat) {
  RunHeartbeatSchedule(time_.running, &FakeSleep, &FakeBeat);
  EXPECT_EQ(time_.beatTimes, (std::vector<long long>{60000, 120000, 180000}));
  EXPECT_EQ(time_.sleeps, 1800);
}

TEST_F(ScheduleTest, TheTimeAHeartbeatTakesAddsToThePeriodAndAnErrorCostsOnlyThatHeartbeat) {
  time_.beatTakesMs = 2500;
  time_.beatThrows = true;
  RunHeartbeatSchedule(time_.running, &FakeSleep, &FakeBeat);
  EXPECT_EQ(time_.beatTimes, (std::vector<long long>{60000, 122500, 185000}));
}

TEST_F(ScheduleTest, AStopEndsTheWaitAfterAtMostOneSleep) {
  time_.stopAtSleep = 250;
  RunHeartbeatSchedule(time_.running, &FakeSleep, &FakeBeat);
  EXPECT_EQ(time_.sleeps, 250);
  EXPECT_TRUE(time_.beatTimes.empty());
}

// ---- Reporting on real threads ------------------------------------------------------------

// A tick of one millisecond instead of a hundred: a heartbeat every 0.6 s.
void QuickSleep(std::uint32_t) {
  std::this_thread::sleep_for(1ms);
}

// A server the profile identifies (token, address and port), so heartbeats are posted.
class ReportingTest : public test::PluginTest {
 protected:
  void SetUp() override {
    test::PluginTest::SetUp();
    Profile.Token = "token";
    Profile.ServerIp = "203.0.113.7";
    Profile.ServerPort = 7777;
  }
  static std::vector<std::string> Statuses() {
    std::vector<std::string> statuses;
    for (const simhost::RecordedRequest& request : simhost::Requests()) {
      statuses.push_back(nlohmann::json::parse(request.body).at("status"));
    }
    return statuses;
  }
};

TEST_F(ReportingTest, UnloadDuringAHeartbeatWaitsForItThenSendsOffline) {
  simhost::RequestBehaviour slow;
  slow.postDelay = 800ms;
  simhost::SetRequestBehaviour(slow);
  StartReporting(&QuickSleep);
  ASSERT_TRUE(simhost::WaitForRequests(1, 10s));

  const auto before = Clock::now();
  StopReporting();
  EXPECT_GE(Clock::now() - before, 300ms) << "unload waited for the heartbeat being posted";
  const auto requests = simhost::Requests();
  ASSERT_EQ(Statuses(), (std::vector<std::string>{"online", "offline"}));
  EXPECT_NE(requests[0].thread, std::this_thread::get_id());
  EXPECT_EQ(requests[1].thread, std::this_thread::get_id());
}

TEST_F(ReportingTest, ASecondUnloadSendsAnotherOffline) {
  StartReporting(&platform::SleepMilliseconds);
  StopReporting();
  StopReporting();
  EXPECT_EQ(Statuses(), (std::vector<std::string>{"offline", "offline"}));
}

// A request service that refuses: "online" heartbeats keep coming from the worker on schedule,
// roughly 0.6 s apart on the quick tick, and none is retried.
TEST_F(ReportingTest, ARequestServiceThatRefusesIsNotRetried) {
  simhost::RequestBehaviour refusing;
  refusing.result = false;
  refusing.callbackSuccess = false;
  refusing.response = "503 Service Unavailable";
  simhost::SetRequestBehaviour(refusing);
  StartReporting(&QuickSleep);
  ASSERT_TRUE(simhost::WaitForRequests(2, 20s));
  StopReporting();
  const auto requests = simhost::Requests();
  const auto statuses = Statuses();
  EXPECT_EQ(statuses.back(), "offline");
  for (std::size_t i = 0; i + 1 < statuses.size(); ++i) EXPECT_EQ(statuses[i], "online");
  for (std::size_t i = 1; i + 1 < requests.size(); ++i) {
    EXPECT_GE(requests[i].at - requests[i - 1].at, 500ms);
  }
}

// ---- The wait for the host to let go of the callback ---------------------------------------

// How long an unload (with its "offline" heartbeat) takes under the given host behaviour.
Clock::duration TimeUnload(const simhost::RequestBehaviour& behaviour) {
  simhost::SetRequestBehaviour(behaviour);
  const auto before = Clock::now();
  StopReporting();
  return Clock::now() - before;
}

// A host that keeps its copy of the callback a while, or calls it late and then lets go: unload
// returns only once every copy is gone. Only lower bounds on the time: a busy machine is slower.
TEST_F(ReportingTest, UnloadWaitsUntilTheHostHasLetGoOfTheCallback) {
  simhost::RequestBehaviour keeping;
  keeping.keepCallback = 500ms;
  EXPECT_GE(TimeUnload(keeping), 450ms);
  EXPECT_EQ(HeartbeatCallback::LiveCount(), 0);

  simhost::RequestBehaviour late;
  late.callback = simhost::CallbackMode::kLater;
  late.callbackDelay = 300ms;
  EXPECT_GE(TimeUnload(late), 250ms);
  EXPECT_EQ(HeartbeatCallback::LiveCount(), 0);
  EXPECT_EQ(simhost::CallbacksCalled(), 2u) << "the first host calls back at once, the second late";
}

// A host that never lets go costs the unload its two seconds, not more (the generous bound is for
// a busy machine); the plugin then stays loaded, which a host process shows.
TEST_F(ReportingTest, UnloadGivesUpOnAHostThatNeverLetsGo) {
  simhost::RequestBehaviour hoarding;
  hoarding.callback = simhost::CallbackMode::kNever;
  hoarding.keepCallback = -1ms;
  const auto took = TimeUnload(hoarding);
  EXPECT_GE(took, 1900ms);
  EXPECT_LT(took, 20s);
  EXPECT_EQ(HeartbeatCallback::LiveCount(), 1);
}

}  // namespace
}  // namespace vesperline
