// The operations of the plugin host that the plugin calls, and nothing else of the host.
// A build against the real host and a build against the simulated host see the same shapes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if defined(_WIN32)
#if defined(VESPERLINE_BUILDING_HOST)
#define VESPERLINE_HOST_API __declspec(dllexport)
#else
#define VESPERLINE_HOST_API __declspec(dllimport)
#endif
#else
#define VESPERLINE_HOST_API __attribute__((visibility("default")))
#endif

// The engine's world object; the plugin only passes its address along.
struct UWorld;

// The engine's string: an array of UTF-16 code units, usually zero-terminated within ArrayNum.
struct FString {
  char16_t* Data;
  int32_t ArrayNum;
  int32_t ArrayMax;
  // Builds an engine string from 8-bit text; its storage comes from the engine allocator.
  VESPERLINE_HOST_API FString(const char* text);
};

// Entry address of the engine function with the given name ("Class.Function(types)").
VESPERLINE_HOST_API void* GetAddress(const std::string& name);

// Address of the named member ("Class.Member") inside the object at the given address.
VESPERLINE_HOST_API std::uint64_t GetAddress(const void* object, const std::string& name);

namespace AsaApi {

class IApiUtils {
 public:
  virtual ~IApiUtils() = default;
  // The current world, or null when none is loaded.
  virtual UWorld* GetWorld() = 0;
};

// The host's utility object.
VESPERLINE_HOST_API IApiUtils& GetApiUtils();

}  // namespace AsaApi

namespace API {

class Requests {
 public:
  // The host's single request service.
  VESPERLINE_HOST_API static Requests& Get();

  // Sends a POST and eventually (or never) calls the callback with the outcome and the response
  // text. The host keeps its own copies of everything it still needs after returning.
  VESPERLINE_HOST_API bool CreatePostRequest(const std::string& url,
                                             const std::function<void(bool, std::string)>& callback,
                                             const std::string& post_data,
                                             const std::string& content_type,
                                             std::vector<std::string> headers);
};

}  // namespace API
