// The simulated plugin host: implements every host operation the plugin calls, and lets tests and
// the development host steer and observe it. Thread-safe: the plugin calls it from its heartbeat
// thread while a test steers it from another.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/AsaApi.h"

#if defined(_WIN32)
#if defined(VESPERLINE_BUILDING_HOST)
#define SIMHOST_API __declspec(dllexport)
#else
#define SIMHOST_API __declspec(dllimport)
#endif
#else
#define SIMHOST_API __attribute__((visibility("default")))
#endif

namespace simhost {

// ---- Name resolution -------------------------------------------------------------------------

// Registers the offset of a member ("Class.Member") within its objects.
SIMHOST_API void SetMemberOffset(const std::string& name, std::uint64_t offset);
SIMHOST_API std::uint64_t MemberOffset(const std::string& name);

// Registers the function an engine function name ("Class.Function(types)") resolves to.
SIMHOST_API void SetFunction(const std::string& name, void* function);

// Makes every resolution of the name (member or function) throw std::runtime_error.
SIMHOST_API void SetResolutionThrows(const std::string& name, bool throws);

// Every name asked for that is not registered (such a lookup throws std::out_of_range).
SIMHOST_API std::vector<std::string> UnknownNames();

// How many times each name was resolved, in total.
SIMHOST_API std::size_t ResolutionCount(const std::string& name);

// ---- World ---------------------------------------------------------------------------------

SIMHOST_API void SetWorld(UWorld* world);
// Makes the world accessor throw std::runtime_error.
SIMHOST_API void SetWorldThrows(bool throws);

// ---- Engine allocator ----------------------------------------------------------------------

SIMHOST_API void* EngineMalloc(std::uint64_t size, std::uint32_t alignment);
SIMHOST_API void* EngineRealloc(void* block, std::uint64_t size, std::uint32_t alignment);
SIMHOST_API void EngineFree(void* block);

struct AllocatorStats {
  std::size_t mallocs = 0;           // blocks handed out (by Malloc or by Realloc of a null block)
  std::size_t reallocs = 0;          // Realloc calls, null block included
  std::size_t frees = 0;             // non-null blocks given back
  std::size_t live = 0;              // blocks handed out and not given back
  std::vector<std::uint64_t> sizes;  // the size asked for by every Malloc and Realloc, in order
  std::vector<std::uint32_t> alignments;  // the alignment asked for by each of them, in order
};
SIMHOST_API AllocatorStats Allocator();
// The allocator throws std::bad_alloc on its n-th call from now (1 = the next); 0 never.
SIMHOST_API void SetAllocatorThrowsAt(std::size_t call);

// Makes the host's FString constructor throw std::bad_alloc, as it would when the engine
// allocator fails; the constructor of an empty string allocates nothing, so this is its only way
// to fail.
SIMHOST_API void SetStringConstructorThrows(bool throws);

// ---- Request service -----------------------------------------------------------------------

enum class CallbackMode {
  kNever,        // the callback is never called
  kImmediately,  // called before CreatePostRequest returns, on the calling thread
  kLater,        // called after callbackDelay from the host's own thread
};

struct RequestBehaviour {
  bool result = true;   // what CreatePostRequest returns
  bool throws = false;  // CreatePostRequest throws std::runtime_error instead
  // CreatePostRequest takes the request, keeps its copy of the callback as below, and only then
  // throws std::runtime_error, as a host whose request service fails late does.
  bool throwsAfterKeeping = false;
  std::chrono::milliseconds postDelay{0};  // CreatePostRequest takes this long to return
  CallbackMode callback = CallbackMode::kImmediately;
  bool callbackSuccess = true;
  std::string response = "ok";
  std::chrono::milliseconds callbackDelay{0};
  // How long the host keeps its copy of the callback after CreatePostRequest returned (or after
  // calling it later); negative: never lets go of it.
  std::chrono::milliseconds keepCallback{0};
};

struct RecordedRequest {
  std::string url;
  bool hasCallback = false;
  std::string body;
  std::string contentType;
  std::vector<std::string> headers;
  std::thread::id thread;
  std::chrono::steady_clock::time_point at;
};

SIMHOST_API void SetRequestBehaviour(const RequestBehaviour& behaviour);
SIMHOST_API std::vector<RecordedRequest> Requests();
// Waits until at least count requests have been recorded or the timeout passes; true if they were.
SIMHOST_API bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout);
// How many callbacks the host has called so far.
SIMHOST_API std::size_t CallbacksCalled();

// Performs requests for real. It is given each recorded request and the host's own copy of the
// plugin's callback; it must return at once (its result is what CreatePostRequest returns), do
// the request on a thread of its own, call the callback with the real outcome and then let go of
// the callback promptly, since the plugin's unload waits for that.
using RequestTransport = std::function<bool(const RecordedRequest& request,
                                            std::function<void(bool, std::string)> callback)>;

// With a transport set, every CreatePostRequest is still recorded and then handed to it, in
// place of the behaviour above; an empty one restores the behaviour. Reset removes it.
SIMHOST_API void SetRequestTransport(RequestTransport transport);

// ---- Whole host ----------------------------------------------------------------------------

// Back to the initial state: default behaviour, no requests, no world, no failures, the default
// registrations, allocator counters at zero. Callbacks still held are dropped, those kept forever
// included, so only a process that still has the plugin's code loaded may call it.
SIMHOST_API void Reset();

}  // namespace simhost
