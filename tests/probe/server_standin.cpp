// A stand-in for a running game server, which the checker's tests start from a server's folder
// with a command line of their choosing so that the checker finds it and reads that command line.
// It does nothing but wait to be ended. Its command line carries nothing for it; the file named by
// the environment variable VESPERLINE_STANDIN_READY is created once it runs, so that the test
// knows its command line is in place. It ends by itself after five minutes should the test not
// end it. With VESPERLINE_STANDIN_OTHER_ACCOUNT set, it stands for a server running under another
// account: on Linux it makes itself undumpable, so that the system refuses to show where its
// executable lies to a process without the power to trace others, as it refuses one of another
// user.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

int main() {
#if defined(__linux__)
  if (std::getenv("VESPERLINE_STANDIN_OTHER_ACCOUNT") != nullptr) prctl(PR_SET_DUMPABLE, 0);
#endif
  if (const char* ready = std::getenv("VESPERLINE_STANDIN_READY"))
    std::ofstream{ready} << "ready\n";
  std::this_thread::sleep_for(std::chrono::minutes(5));
  return 0;
}
