#include "simhost/SimHost.h"
#include "simhost/SimWorldHooks.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <unordered_map>

namespace simhost {

namespace {

using Clock = std::chrono::steady_clock;
using Callback = std::function<void(bool, std::string)>;

// Runs jobs at given times on the host's own thread, the way a real host finishes requests
// after CreatePostRequest has returned.
class Timer {
 public:
  void Add(Clock::time_point due, std::function<void()> job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
      jobs_.emplace(due, std::move(job));
    }
    wake_.notify_all();
  }

  // Drops every pending job without running it.
  void Clear() {
    std::multimap<Clock::time_point, std::function<void()>> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dropped.swap(jobs_);
    }
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (jobs_.empty()) {
        wake_.wait(lock);
        continue;
      }
      const auto due = jobs_.begin()->first;
      if (Clock::now() < due) {
        wake_.wait_until(lock, due);
        continue;
      }
      std::function<void()> job = std::move(jobs_.begin()->second);
      jobs_.erase(jobs_.begin());
      lock.unlock();
      job();
      job = nullptr;
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<Clock::time_point, std::function<void()>> jobs_;
  std::thread thread_;
};

struct State {
  std::mutex mutex;
  std::condition_variable requestArrived;

  std::unordered_map<std::string, std::uint64_t> members;
  std::unordered_map<std::string, void*> functions;
  std::set<std::string> throwingNames;
  std::vector<std::string> unknownNames;
  std::unordered_map<std::string, std::size_t> resolutions;

  std::atomic<UWorld*> world{nullptr};
  std::atomic<bool> worldThrows{false};

  AllocatorStats allocator;
  std::unordered_map<void*, std::uint64_t> blocks;
  std::size_t allocatorCalls = 0;
  std::size_t allocatorThrowsAt = 0;
  std::atomic<bool> stringConstructorThrows{false};

  RequestBehaviour behaviour;
  RequestTransport transport;
  std::vector<RecordedRequest> requests;
  std::atomic<std::size_t> callbacksCalled{0};
  std::vector<std::unique_ptr<Callback>> keptForever;
};

// Never destroyed: the timer thread and callbacks kept forever may outlive every static object.
State& TheState() {
  static State* state = new State();
  return *state;
}

Timer& TheTimer() {
  static Timer* timer = new Timer();
  return *timer;
}

void RegisterDefaults(State& s) {
  s.functions["FMemory.Malloc(unsigned__int64,unsignedint)"] =
      reinterpret_cast<void*>(&EngineMalloc);
  s.functions["FMemory.Realloc(void*,unsigned__int64,unsignedint)"] =
      reinterpret_cast<void*>(&EngineRealloc);
  s.functions["FMemory.Free(void*)"] = reinterpret_cast<void*>(&EngineFree);
  for (const auto& [name, offset] : world::MemberOffsets()) s.members[name] = offset;
  for (const auto& [name, function] : world::Functions()) s.functions[name] = function;
}

const bool kDefaultsRegistered = [] {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  RegisterDefaults(TheState());
  return true;
}();

// Counts one allocator call and throws when a test asked for it. Called with the lock held.
void CountAllocatorCall(State& s) {
  ++s.allocatorCalls;
  if (s.allocatorThrowsAt != 0 && s.allocatorCalls == s.allocatorThrowsAt) {
    s.allocatorThrowsAt = 0;
    throw std::bad_alloc();
  }
}

// Notes a request's size and alignment. A real engine ends the process when its allocator cannot
// serve a request; the simulated one throws instead, so that a test sees such a request without
// the process taking gigabytes. Called with the lock held.
void NoteRequest(State& s, std::uint64_t size, std::uint32_t alignment) {
  s.allocator.sizes.push_back(size);
  s.allocator.alignments.push_back(alignment);
  constexpr std::uint64_t kLargestServed = std::uint64_t{1} << 28;
  if (size > kLargestServed) throw std::bad_alloc();
}

template <typename Registry>
auto Resolve(State& s, const Registry& registry, const std::string& name) {
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.resolutions[name];
  if (s.throwingNames.count(name) != 0)
    throw std::runtime_error("resolution of " + name + " failed");
  const auto found = registry.find(name);
  if (found == registry.end()) {
    s.unknownNames.push_back(name);
    throw std::out_of_range("unknown engine name " + name);
  }
  return found->second;
}

class SimApiUtils final : public AsaApi::IApiUtils {
 public:
  UWorld* GetWorld() override {
    if (TheState().worldThrows.load()) throw std::runtime_error("world accessor failed");
    return TheState().world.load();
  }
};

}  // namespace

void SetMemberOffset(const std::string& name, std::uint64_t offset) {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  TheState().members[name] = offset;
}

std::uint64_t MemberOffset(const std::string& name) {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  return TheState().members.at(name);
}

void SetFunction(const std::string& name, void* function) {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  TheState().functions[name] = function;
}

void SetResolutionThrows(const std::string& name, bool throws) {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  if (throws) {
    TheState().throwingNames.insert(name);
  } else {
    TheState().throwingNames.erase(name);
  }
}

std::vector<std::string> UnknownNames() {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  return TheState().unknownNames;
}

std::size_t ResolutionCount(const std::string& name) {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  const auto found = TheState().resolutions.find(name);
  return found == TheState().resolutions.end() ? 0 : found->second;
}

void SetWorld(UWorld* world) {
  TheState().world.store(world);
}

void SetWorldThrows(bool throws) {
  TheState().worldThrows.store(throws);
}

void* EngineMalloc(std::uint64_t size, std::uint32_t alignment) {
  State& s = TheState();
  std::lock_guard<std::mutex> lock(s.mutex);
  CountAllocatorCall(s);
  NoteRequest(s, size, alignment);
  void* block = ::operator new(size == 0 ? 1 : static_cast<std::size_t>(size));
  s.blocks[block] = size;
  ++s.allocator.mallocs;
  ++s.allocator.live;
  return block;
}

void* EngineRealloc(void* block, std::uint64_t size, std::uint32_t alignment) {
  State& s = TheState();
  std::lock_guard<std::mutex> lock(s.mutex);
  CountAllocatorCall(s);
  ++s.allocator.reallocs;
  NoteRequest(s, size, alignment);
  void* grown = ::operator new(size == 0 ? 1 : static_cast<std::size_t>(size));
  if (block == nullptr) {
    ++s.allocator.mallocs;
    ++s.allocator.live;
  } else {
    const auto found = s.blocks.find(block);
    if (found == s.blocks.end()) throw std::logic_error("Realloc of a block the engine never gave");
    std::memcpy(grown, block,
                static_cast<std::size_t>(found->second < size ? found->second : size));
    ::operator delete(block);
    s.blocks.erase(found);
  }
  s.blocks[grown] = size;
  return grown;
}

void EngineFree(void* block) {
  if (block == nullptr) return;
  State& s = TheState();
  std::lock_guard<std::mutex> lock(s.mutex);
  const auto found = s.blocks.find(block);
  // A block the engine never gave (or gave back twice) would corrupt a real engine's heap; here it
  // is left alone and shows as a count that does not balance.
  if (found == s.blocks.end()) return;
  ::operator delete(block);
  s.blocks.erase(found);
  ++s.allocator.frees;
  --s.allocator.live;
}

AllocatorStats Allocator() {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  return TheState().allocator;
}

void SetAllocatorThrowsAt(std::size_t call) {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  TheState().allocatorThrowsAt = call == 0 ? 0 : TheState().allocatorCalls + call;
}

void SetStringConstructorThrows(bool throws) {
  TheState().stringConstructorThrows.store(throws);
}

void SetRequestBehaviour(const RequestBehaviour& behaviour) {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  TheState().behaviour = behaviour;
}

std::vector<RecordedRequest> Requests() {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  return TheState().requests;
}

bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) {
  State& s = TheState();
  std::unique_lock<std::mutex> lock(s.mutex);
  return s.requestArrived.wait_for(lock, timeout, [&] { return s.requests.size() >= count; });
}

std::size_t CallbacksCalled() {
  return TheState().callbacksCalled.load();
}

void SetRequestTransport(RequestTransport transport) {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  TheState().transport = std::move(transport);
}

void Reset() {
  world::DestroyAll();
  State& s = TheState();
  TheTimer().Clear();
  std::vector<std::unique_ptr<Callback>> dropped;
  std::lock_guard<std::mutex> lock(s.mutex);
  dropped.swap(s.keptForever);
  s.members.clear();
  s.functions.clear();
  RegisterDefaults(s);
  s.throwingNames.clear();
  s.unknownNames.clear();
  s.resolutions.clear();
  s.world.store(nullptr);
  s.worldThrows.store(false);
  for (const auto& block : s.blocks) ::operator delete(block.first);
  s.blocks.clear();
  s.allocator = AllocatorStats();
  s.allocatorCalls = 0;
  s.allocatorThrowsAt = 0;
  s.stringConstructorThrows.store(false);
  s.behaviour = RequestBehaviour();
  s.transport = nullptr;
  s.requests.clear();
  s.callbacksCalled.store(0);
}

}  // namespace simhost

// ---- The host operations ---------------------------------------------------------------------

FString::FString(const char* text) : Data(nullptr), ArrayNum(0), ArrayMax(0) {
  if (simhost::TheState().stringConstructorThrows.load()) throw std::bad_alloc();
  if (text == nullptr || *text == '\0') return;
  const std::size_t length = std::strlen(text);
  auto* units = static_cast<char16_t*>(simhost::EngineMalloc((length + 1) * sizeof(char16_t), 0));
  for (std::size_t i = 0; i < length; ++i) {
    units[i] = static_cast<unsigned char>(text[i]);
  }
  units[length] = 0;
  Data = units;
  ArrayNum = ArrayMax = static_cast<int32_t>(length + 1);
}

void* GetAddress(const std::string& name) {
  simhost::State& s = simhost::TheState();
  return simhost::Resolve(s, s.functions, name);
}

std::uint64_t GetAddress(const void* object, const std::string& name) {
  simhost::State& s = simhost::TheState();
  return reinterpret_cast<std::uint64_t>(object) + simhost::Resolve(s, s.members, name);
}

namespace AsaApi {

IApiUtils& GetApiUtils() {
  static simhost::SimApiUtils* utils = new simhost::SimApiUtils();
  return *utils;
}

}  // namespace AsaApi

namespace API {

Requests& Requests::Get() {
  static Requests* service = new Requests();
  return *service;
}

bool Requests::CreatePostRequest(const std::string& url,
                                 const std::function<void(bool, std::string)>& callback,
                                 const std::string& post_data, const std::string& content_type,
                                 std::vector<std::string> headers) {
  using simhost::Clock;
  simhost::State& s = simhost::TheState();
  simhost::RequestBehaviour behaviour;
  simhost::RequestTransport transport;
  simhost::RecordedRequest recorded;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    behaviour = s.behaviour;
    transport = s.transport;
    simhost::RecordedRequest request;
    request.url = url;
    request.hasCallback = static_cast<bool>(callback);
    request.body = post_data;
    request.contentType = content_type;
    request.headers = std::move(headers);
    request.thread = std::this_thread::get_id();
    request.at = Clock::now();
    if (transport) recorded = request;
    s.requests.push_back(std::move(request));
  }
  s.requestArrived.notify_all();

  if (transport) {
    // The transport gets a copy of its own; whether it is called is counted like the host's own.
    return transport(recorded, [copy = callback](bool success, std::string response) {
      if (copy) copy(success, std::move(response));
      simhost::TheState().callbacksCalled.fetch_add(1);
    });
  }

  if (behaviour.postDelay.count() > 0) std::this_thread::sleep_for(behaviour.postDelay);
  if (behaviour.throws) throw std::runtime_error("request service failed");

  // The host's own copy of the callback, as a real host keeps one for a request in flight.
  auto copy = std::make_shared<simhost::Callback>(callback);
  auto call = [copy, behaviour] {
    if (*copy) (*copy)(behaviour.callbackSuccess, behaviour.response);
    simhost::TheState().callbacksCalled.fetch_add(1);
  };
  auto keep = [copy, keepFor = behaviour.keepCallback](Clock::time_point from) {
    if (keepFor.count() < 0) {
      std::lock_guard<std::mutex> lock(simhost::TheState().mutex);
      simhost::TheState().keptForever.push_back(std::make_unique<simhost::Callback>(*copy));
    } else if (keepFor.count() > 0) {
      simhost::TheTimer().Add(from + keepFor, [copy] {});
    }
  };

  switch (behaviour.callback) {
    case simhost::CallbackMode::kNever:
      keep(Clock::now());
      break;
    case simhost::CallbackMode::kImmediately:
      call();
      keep(Clock::now());
      break;
    case simhost::CallbackMode::kLater: {
      const auto due = Clock::now() + behaviour.callbackDelay;
      simhost::TheTimer().Add(due, [call, keep] {
        call();
        keep(Clock::now());
      });
      break;
    }
  }
  if (behaviour.throwsAfterKeeping) throw std::runtime_error("request service failed late");
  return behaviour.result;
}

}  // namespace API
