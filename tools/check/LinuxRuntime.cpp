// The Linux checker ships on its own, to run on any host whose C library is that of Debian 12,
// Ubuntu 22.04 or later, so the C++ runtime is linked into it. That runtime, built by g++ 12
// against the C library 2.36, calls arc4random, which older C libraries lack, for
// std::random_device, which the checker never uses; the link sends the call here instead
// (-Wl,--wrap=arc4random), to the kernel's random numbers, which every such library reaches.
#include <sys/random.h>

#include <cerrno>
#include <cstdint>

extern "C" std::uint32_t __wrap_arc4random() {
  std::uint32_t value = 0;
  // Four bytes come whole once the kernel's pool is ready; only a signal cuts the wait short.
  while (getrandom(&value, sizeof value, 0) < 0 && errno == EINTR) {
  }
  return value;
}
