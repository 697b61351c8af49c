// What discovery looked at for each fact, for an admin who wants to know why a fact holds what
// it holds.
#pragma once

#include <string>

namespace vesperline {

// One source looked at for one fact, in the order they were looked at: whether it gave the value
// the fact now holds, and what it held or why it was passed over.
struct SourceNote {
  std::string Fact;  // "token", "ip", "port", "session name", "player limit", "mods", "PvE", ...
  std::string
      Source;  // e.g. "launch argument ?SessionName=", "settings file [ServerSettings] ActiveMods"
  bool Used = false;
  std::string Detail;
};

}  // namespace vesperline
