// A running game world for the development host: players join and leave now and then, and the
// in-game day advances. Every change is made through the simulated host's world, which the plugin
// may read from its own thread at the same time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "simhost/SimWorld.h"

namespace devhost {

class WorldScript {
 public:
  // seed decides the order of joins and leaves, so that a run can be repeated.
  WorldScript(std::chrono::milliseconds eventEvery, std::chrono::milliseconds dayEvery,
              unsigned seed);

  // Installs the starting world on day 37, with a few players on or with everyone.
  void Start(bool everyone);

  // Makes the changes due by elapsed (time since Start) and returns what happened, one readable
  // line per change.
  std::vector<std::string> Advance(std::chrono::milliseconds elapsed);

  // Everyone who may ever be on the server.
  static const std::vector<simhost::SimPlayer>& Regulars();

 private:
  std::string Join();
  std::string Leave();

  std::chrono::milliseconds eventEvery_;
  std::chrono::milliseconds dayEvery_;
  std::chrono::milliseconds nextEvent_;
  std::chrono::milliseconds nextDay_;
  std::minstd_rand random_;
  std::vector<std::size_t> online_;  // indices into Regulars()
};

// A UTF-16 name as UTF-8 text for the terminal, control characters shown as escapes.
std::string Printable(const std::u16string& units);

}  // namespace devhost
