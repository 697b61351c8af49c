// Every host operation the plugin calls, made to fail in turn, on the heartbeat thread and on the
// host's thread: the process goes on, the failure costs exactly the values that depend on it,
// every document sent is still a valid heartbeat, engine memory balances, and only a failing
// request service reaches the caller, and only on the host's thread.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "heartbeat/Document.h"
#include "plugin/Heartbeat.h"
#include "plugin/Lifecycle.h"
#include "plugin/ServerProfile.h"
#include "simhost/SimHost.h"
#include "simhost/SimWorld.h"
#include "tests/support/JsonCheck.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

using namespace std::chrono_literals;
using test::Json;

// One failure and the rule it must keep.
struct Fault {
  const char* name;
  std::function<void()> inject;
  // Turns the document of a healthy world into the one this failure allows.
  std::function<void(Json&)> expect;
  // The failure hits one call only, so only the first heartbeat shows it.
  bool once = false;
  // The request service fails: the one failure that reaches the caller of a heartbeat.
  bool request = false;
  // Engine strings that cannot be given back per heartbeat: only when Free itself fails.
  std::size_t leakedPerHeartbeat = 0;
};

// The document of the healthy world the tests install.
Json Healthy(const std::string& status) {
  Json document = Json::parse(R"({"token":"tok-3f9","ip":"203.0.113.7","port":7777,"status":"",
    "player_current":3,"day":42,"version":"58.12","is_pve":false,"players":[
    {"name":"Alice","char_name":"Chief","eos_id":"0002aa","player_data_id":101},
    {"name":"Bob","char_name":"Keeper","eos_id":"0002bb","player_data_id":202},
    {"name":"Carol","char_name":"Tamer","eos_id":"0002cc","player_data_id":303}]})");
  document["status"] = status;
  return document;
}

std::function<void(Json&)> Clear(const char* member) {
  return [member](Json& document) {
    for (Json& player : document["players"]) {
      player[member] = player[member].is_string() ? Json("") : Json(0);
    }
  };
}

std::function<void(Json&)> Drop(std::vector<const char*> members) {
  return [members](Json& document) {
    for (const char* member : members) document.erase(member);
  };
}

void NoPlayers(Json& document) {
  document["players"] = Json::array();
}

void Unchanged(Json&) {}

Fault ResolutionFails(const char* name, std::function<void(Json&)> expect, std::size_t leaked = 0) {
  return {
      name,  [name] { simhost::SetResolutionThrows(name, true); }, std::move(expect), false, false,
      leaked};
}

// The first engine allocation of a heartbeat (the copy of the first player's name) or its second
// (the id the engine fills for that player) fails once: only that one text is left empty.
Fault FirstPlayersAllocationFails(std::size_t call, const char* member, const char* name) {
  return {name, [call] { simhost::SetAllocatorThrowsAt(call); },
          [member](Json& document) { document["players"][0][member] = ""; }, true};
}

const std::vector<Fault> kFaults = {
    ResolutionFails("UWorld.GameState", Drop({"day"})),
    ResolutionFails("UWorld.PlayerControllerList",
                    [](Json& document) {
                      document.erase("player_current");
                      NoPlayers(document);
                    }),
    ResolutionFails("AShooterGameState.DayNumber", Drop({"day"})),
    ResolutionFails("AController.PlayerState", Clear("name")),
    ResolutionFails("APlayerState.PlayerNamePrivate", Clear("name")),
    ResolutionFails("APlayerController.AcknowledgedPawn", Clear("char_name")),
    ResolutionFails("AShooterCharacter.PlayerName", Clear("char_name")),
    ResolutionFails("AShooterPlayerController.LinkedPlayerID", Clear("player_data_id")),
    ResolutionFails("FWeakObjectPtr.Get()", NoPlayers),
    ResolutionFails("AShooterPlayerController.GetUniqueNetIdAsString()", Clear("eos_id")),
    // Only the copies of the names take engine storage through the plugin's own Malloc.
    ResolutionFails("FMemory.Malloc(unsigned__int64,unsignedint)", Clear("name")),
    // The plugin only ever reallocates a null block, which is a Malloc: nothing is lost.
    ResolutionFails("FMemory.Realloc(void*,unsigned__int64,unsignedint)", Unchanged),
    // Without Free the texts are read all the same, but the name copies and the filled ids cannot
    // be given back: the one failure that leaks engine memory, two strings per player.
    ResolutionFails("FMemory.Free(void*)", Unchanged, 6),
    // The walk ends at the second weak pointer: the player before it is kept.
    {"WeakGetSecond", [] { simhost::SetWeakGetThrowsAt(2); },
     [](Json& document) { document["players"] = Json::array({document["players"][0]}); }, true},
    FirstPlayersAllocationFails(1, "name", "AllocationOfAName"),
    FirstPlayersAllocationFails(2, "eos_id", "AllocationOfAnId"),
    {"StringConstructor", [] { simhost::SetStringConstructorThrows(true); }, Clear("eos_id")},
    // The engine fills the id string, then throws: the string it filled still goes back.
    {"IdFilledThenThrows",
     [] {
       simhost::ChangeWorld([](simhost::SimWorldDescription& world) {
         for (simhost::SimPlayer& player : world.Players) {
           player.NetIdMode = simhost::NetIdBehaviour::kThrowsAfterFilling;
         }
       });
     },
     Clear("eos_id")},
    {"WorldAccessor", [] { simhost::SetWorldThrows(true); },
     [](Json& document) {
       document.erase("player_current");
       document.erase("day");
       NoPlayers(document);
     }},
    {"CreatePostRequest",
     [] {
       simhost::RequestBehaviour failing;
       failing.throws = true;
       simhost::SetRequestBehaviour(failing);
     },
     Unchanged, false, true},
};

// A tick of 200 microseconds: a heartbeat every eighth of a second or so.
void QuickSleep(std::uint32_t) {
  std::this_thread::sleep_for(200us);
}

class FaultInjectionTest : public test::PluginTest, public ::testing::WithParamInterface<Fault> {
 protected:
  void SetUp() override {
    test::PluginTest::SetUp();
    Profile.Token = "tok-3f9";
    Profile.ServerIp = "203.0.113.7";
    Profile.ServerPort = 7777;
    Profile.ServerVersion = "58.12";  // known, so that no heartbeat reads a log
    simhost::SimWorldDescription world;
    world.DayNumber = 42;
    world.Players = {simhost::SimPlayer{u"Alice", u"Chief", u"0002aa", 101},
                     simhost::SimPlayer{u"Bob", u"Keeper", u"0002bb", 202},
                     simhost::SimPlayer{u"Carol", u"Tamer", u"0002cc", 303}};
    simhost::InstallWorld(world);
  }

  // Checks every document sent: valid, and with the failure's effect on the first heartbeat (and
  // on every later one unless it hit one call only). Then the engine allocator must balance.
  void CheckDocuments(std::size_t firstOnHostThread) {
    const Fault& fault = GetParam();
    const auto requests = simhost::Requests();
    ASSERT_FALSE(requests.empty());
    for (std::size_t i = 0; i < requests.size(); ++i) {
      SCOPED_TRACE("document " + std::to_string(i));
      Json document;
      ASSERT_TRUE(test::CheckHeartbeatDocument(requests[i].body, document));
      const bool onHostThread = i >= firstOnHostThread;
      EXPECT_EQ(requests[i].thread == std::this_thread::get_id(), onHostThread);
      Json expected = Healthy(onHostThread ? "offline" : "online");
      if (i == 0 || !fault.once) fault.expect(expected);
      EXPECT_EQ(document, expected);
    }
    EXPECT_EQ(simhost::Allocator().live,
              simhost::WorldBlocks() + fault.leakedPerHeartbeat * requests.size());
    EXPECT_TRUE(simhost::UnknownNames().empty());
  }
};

TEST_P(FaultInjectionTest, OnTheHostsThread) {
  GetParam().inject();
  if (GetParam().request) {
    EXPECT_THROW(SendHeartbeat("offline"), std::runtime_error);
    EXPECT_THROW(StopReporting(), std::runtime_error);
  } else {
    EXPECT_NO_THROW(SendHeartbeat("offline"));
    EXPECT_NO_THROW(StopReporting());
  }
  ASSERT_EQ(simhost::Requests().size(), 2u);
  CheckDocuments(0);
}

TEST_P(FaultInjectionTest, OnTheHeartbeatThread) {
  GetParam().inject();
  StartReporting(&QuickSleep);
  // The schedule goes on after a heartbeat whose request failed.
  ASSERT_TRUE(simhost::WaitForRequests(GetParam().request ? 3 : 2, 20s));
  if (GetParam().request) {
    EXPECT_THROW(StopReporting(), std::runtime_error);
  } else {
    EXPECT_NO_THROW(StopReporting());
  }
  EXPECT_FALSE(Profile.HeartbeatThread.joinable());
  CheckDocuments(simhost::Requests().size() - 1);
}

// Each failure named after the operation, without the punctuation a test's name cannot hold.
INSTANTIATE_TEST_SUITE_P(EveryHostOperation, FaultInjectionTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           std::string name = info.param.name;
                           std::erase_if(name, [](char c) { return !std::isalnum(c); });
                           return name;
                         });

}  // namespace
}  // namespace vesperline
