// Times the version scan over a log file, for comparison with reading the same file with cat.
//
//   vesperline-log-scan FILE              scans FILE, prints the version and the seconds taken
//   vesperline-log-scan --generate FILE MB  writes a realistic server log of about MB megabytes
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "discovery/ServerLog.h"

namespace {

int Generate(const char* path, long megabytes) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937 random(7);
  const char* categories[] = {"LogNet",   "LogStreaming",      "LogShooterGameMode",
                              "LogEOS",   "LogWorldPartition", "LogPhysics",
                              "LogOnline"};
  const char* messages[] = {
      "Join succeeded: Survivor",
      "Warning: Failed to read file '../../../ShooterGame/Content/Maps/Foo.umap' error.",
      "Display: Player Loaded Level",
      "NotifyAcceptingConnection accepted from: 198.51.100.23:52611",
      "Verbose: World Partition streaming source moved, updating cells in range of 12800",
      "Error: [LogEOSSessions] UpdateSession failed, retrying in 30 seconds"};
  std::string line;
  const long long target = megabytes * 1024LL * 1024LL;
  long long written = 0;
  long long lineNumber = 0;
  while (written < target) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "[2026.12.06-10.%02lld.%02lld:%03lld][%3lld]",
                  lineNumber / 3600 % 60, lineNumber / 60 % 60, lineNumber % 1000,
                  lineNumber % 999);
    line = stamp;
    line += categories[random() % std::size(categories)];
    line += ": ";
    line += messages[random() % std::size(messages)];
    // The version line comes early in a real log, as the server writes it while starting.
    if (lineNumber == 40) line = "[2026.12.06-10.00.00:040][  0]LogInit: ARK Version: 74.24";
    line += "\r\n";
    out << line;
    written += static_cast<long long>(line.size());
    ++lineNumber;
  }
  return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--generate") {
    return Generate(argv[2], std::atol(argv[3]));
  }
  if (argc != 2) {
    std::cerr << "usage: vesperline-log-scan FILE | --generate FILE MB\n";
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto version = vesperline::ScanVersionLog(argv[1]);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::cout << "version " << (version ? *version : std::string("(none)")) << " seconds "
            << took.count() << "\n";
  return 0;
}
