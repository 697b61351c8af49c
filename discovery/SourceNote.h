// What discovery looked at for each fact, for an admin who wants to know why a fact holds what
// it holds.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vesperline {

// One source looked at for one fact, in the order they were looked at: whether it gave the value
// the fact now holds, and what it held or why it was passed over.
struct SourceNote {
  // "token", "ip", "port", "session name", "player limit", "mods", "PvE", "version", "map"
  std::string Fact;
  // e.g. "launch argument ?SessionName=", "settings file [ServerSettings] ActiveMods"
  std::string Source;
  bool Used = false;
  std::string Detail;
};

using SourceNotes = std::vector<SourceNote>;

inline void AddNote(SourceNotes& notes, std::string_view fact, std::string_view source, bool used,
                    std::string detail) {
  notes.push_back({std::string(fact), std::string(source), used, std::move(detail)});
}

}  // namespace vesperline
