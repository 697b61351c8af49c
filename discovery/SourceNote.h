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

// Collects notes for a caller that asked for them; the plugin itself asks for none, and then
// nothing is recorded.
class SourceNotes {
 public:
  explicit SourceNotes(std::vector<SourceNote>* notes) : notes_(notes) {}

  // True when notes are being collected, so that a detail that costs work is worth making.
  bool Wanted() const { return notes_ != nullptr; }

  void Add(std::string_view fact, std::string_view source, bool used, std::string detail) {
    if (notes_ != nullptr) {
      notes_->push_back({std::string(fact), std::string(source), used, std::move(detail)});
    }
  }

 private:
  std::vector<SourceNote>* notes_;
};

}  // namespace vesperline
