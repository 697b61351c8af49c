// The heartbeat schedule and the start and stop of reporting.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

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
  std::vector<std::uint32_t> sleepLengths;
  std::vector<long long> beatTimes;
  int stopAfterBeats = 3;
  int stopAtSleep = -1;
  bool beatThrows = false;
};
FakeTime* gTime = nullptr;

void FakeSleep(std::uint32_t ms) {
  ++gTime->sleeps;
  gTime->sleepLengths.push_back(ms);
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
  for (const std::uint32_t length : time_.sleepLengths) ASSERT_EQ(length, 100u);
}

TEST_F(ScheduleTest, TheTimeAHeartbeatTakesAddsToThePeriod) {
  time_.beatTakesMs = 2500;
  RunHeartbeatSchedule(time_.running, &FakeSleep, &FakeBeat);
  EXPECT_EQ(time_.beatTimes, (std::vector<long long>{60000, 122500, 185000}));
}

TEST_F(ScheduleTest, AStopEndsTheWaitAfterAtMostOneSleep) {
  time_.stopAtSleep = 250;
  RunHeartbeatSchedule(time_.running, &FakeSleep, &FakeBeat);
  EXPECT_EQ(time_.sleeps, 250);
  EXPECT_TRUE(time_.beatTimes.empty());
}

TEST_F(ScheduleTest, AStoppedScheduleNeitherSleepsNorBeats) {
  time_.running = false;
  RunHeartbeatSchedule(time_.running, &FakeSleep, &FakeBeat);
  EXPECT_EQ(time_.sleeps, 0);
  EXPECT_TRUE(time_.beatTimes.empty());
}

TEST_F(ScheduleTest, AHeartbeatThatThrowsCostsOnlyThatHeartbeat) {
  time_.beatThrows = true;
  RunHeartbeatSchedule(time_.running, &FakeSleep, &FakeBeat);
  EXPECT_EQ(time_.beatTimes, (std::vector<long long>{60000, 120000, 180000}));
}

// ---- Reporting on real threads ------------------------------------------------------------

// A tick of one millisecond instead of a hundred: a heartbeat every 0.6 s.
void QuickSleep(std::uint32_t) {
  std::this_thread::sleep_for(1ms);
}

class ReportingTest : public test::IdentifiedServerTest {
 protected:
  static std::vector<std::string> Statuses() {
    std::vector<std::string> statuses;
    for (const simhost::RecordedRequest& request : simhost::Requests()) {
      const std::size_t at = request.body.find("\"status\":\"");
      statuses.push_back(
          at == std::string::npos
              ? "?"
              : request.body.substr(at + 10, request.body.find('"', at + 10) - at - 10));
    }
    return statuses;
  }
};

TEST_F(ReportingTest, UnloadWithinTheFirstMinuteSendsOnlyOffline) {
  StartReporting(&platform::SleepMilliseconds);
  EXPECT_TRUE(Profile.Running.load());
  EXPECT_TRUE(Profile.HeartbeatThread.joinable());
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(simhost::Requests().empty()) << "no heartbeat during start-up";

  const auto before = Clock::now();
  StopReporting();
  EXPECT_LT(Clock::now() - before, 2s) << "the join ends a wait after one tick";
  EXPECT_FALSE(Profile.Running.load());
  EXPECT_FALSE(Profile.HeartbeatThread.joinable());
  ASSERT_EQ(Statuses(), (std::vector<std::string>{"offline"}));
  EXPECT_EQ(simhost::Requests()[0].thread, std::this_thread::get_id());
}

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

TEST_F(ReportingTest, OnlineHeartbeatsKeepComingOnTheWorker) {
  StartReporting(&QuickSleep);
  ASSERT_TRUE(simhost::WaitForRequests(2, 20s));
  StopReporting();
  const auto statuses = Statuses();
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses.back(), "offline");
  for (std::size_t i = 0; i + 1 < statuses.size(); ++i) EXPECT_EQ(statuses[i], "online");
}

TEST_F(ReportingTest, ASecondUnloadSendsAnotherOffline) {
  StartReporting(&platform::SleepMilliseconds);
  StopReporting();
  StopReporting();
  EXPECT_EQ(Statuses(), (std::vector<std::string>{"offline", "offline"}));
}

TEST_F(ReportingTest, AFailingRequestServiceNeitherStopsTheScheduleNorTheProcess) {
  simhost::RequestBehaviour failing;
  failing.throws = true;
  simhost::SetRequestBehaviour(failing);
  StartReporting(&QuickSleep);
  ASSERT_TRUE(simhost::WaitForRequests(3, 30s)) << "the worker went on after each failure";
  // On the host's thread the error passes to the host.
  EXPECT_THROW(StopReporting(), std::runtime_error);
  EXPECT_FALSE(Profile.HeartbeatThread.joinable());
}

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
  // One request per heartbeat: roughly 0.6 s apart on the quick tick, never an immediate retry.
  for (std::size_t i = 1; i + 1 < requests.size(); ++i) {
    EXPECT_GE(requests[i].at - requests[i - 1].at, 500ms);
  }
}

}  // namespace
}  // namespace vesperline
