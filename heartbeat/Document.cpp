// The heartbeat document builder. It lives apart from SendHeartbeat so that programs running
// outside the game server (the admin's checker) can build the document without the host.
#include "heartbeat/Document.h"

#include <cstring>
#include <memory>

#include "heartbeat/Json.h"

namespace vesperline {

namespace {

// Writes the document into a buffer sized beforehand for the worst case, so that no piece needs
// a check for room of its own.
class DocumentWriter {
 public:
  explicit DocumentWriter(std::size_t capacity)
      : buffer_(std::make_unique_for_overwrite<char[]>(capacity)), end_(buffer_.get()) {}

  void Fixed(std::string_view text) {
    std::memcpy(end_, text.data(), text.size());
    end_ += text.size();
  }
  void Escaped(std::string_view text) { end_ = WriteEscapedJson(end_, text); }
  void Decimal(std::int64_t value) { end_ = WriteDecimal(end_, value); }
  // A string member: the fixed text up to the opening quote, the escaped value, the closing quote.
  void String(std::string_view prefix, std::string_view value) {
    Fixed(prefix);
    Escaped(value);
    *end_++ = '"';
  }

  std::string Take() const { return std::string(buffer_.get(), end_); }

 private:
  std::unique_ptr<char[]> buffer_;
  char* end_;
};

// The fixed text of the whole document (member names, quotes, separators) is well below this.
constexpr std::size_t kFixedDocumentSize = 256;
constexpr std::size_t kFixedPlayerSize = 64;

}  // namespace

std::string BuildHeartbeatDocument(const ServerFacts& facts, std::string_view status,
                                   std::int32_t playerCount, std::int32_t dayNumber,
                                   const std::vector<PlayerEntry>& roster) {
  // The version appears twice: in the display name and on its own.
  std::size_t capacity =
      kFixedDocumentSize + 5 * kMaxDecimalSize +
      MaxEscapedJsonSize(facts.Token.size() + facts.ServerIp.size() + status.size() +
                         facts.SessionName.size() + facts.MapName.size() +
                         2 * facts.ServerVersion.size() + facts.ModList.size());
  for (const PlayerEntry& player : roster) {
    capacity +=
        kFixedPlayerSize + kMaxDecimalSize +
        MaxEscapedJsonSize(player.Name.size() + player.CharName.size() + player.EosId.size());
  }
  DocumentWriter out(capacity);

  out.String("{\"token\":\"", facts.Token);
  out.String(",\"ip\":\"", facts.ServerIp);
  out.Fixed(",\"port\":");
  out.Decimal(facts.ServerPort);
  out.String(",\"status\":\"", status);
  if (!facts.SessionName.empty()) {
    // The display name is escaped in pieces; that equals escaping it whole, because no UTF-8
    // sequence can run across the ASCII " (v" and ")" between the pieces.
    out.Fixed(",\"name\":\"");
    out.Escaped(facts.SessionName);
    if (!facts.ServerVersion.empty()) {
      out.Fixed(" (v");
      out.Escaped(facts.ServerVersion);
      out.Fixed(")");
    }
    out.Fixed("\"");
  }
  if (!facts.MapName.empty()) out.String(",\"map\":\"", facts.MapName);
  if (facts.PlayerLimit > 0) {
    out.Fixed(",\"player_max\":");
    out.Decimal(facts.PlayerLimit);
  }
  if (playerCount >= 0) {
    out.Fixed(",\"player_current\":");
    out.Decimal(playerCount);
  }
  if (dayNumber >= 0) {
    out.Fixed(",\"day\":");
    out.Decimal(dayNumber);
  }
  if (!facts.ServerVersion.empty()) out.String(",\"version\":\"", facts.ServerVersion);
  out.Fixed(facts.IsPve ? ",\"is_pve\":true" : ",\"is_pve\":false");
  if (!facts.ModList.empty()) out.String(",\"mods\":\"", facts.ModList);
  out.Fixed(",\"players\":[");
  for (std::size_t i = 0; i < roster.size(); ++i) {
    const PlayerEntry& player = roster[i];
    out.String(i == 0 ? std::string_view("{\"name\":\"") : std::string_view(",{\"name\":\""),
               player.Name);
    out.String(",\"char_name\":\"", player.CharName);
    out.String(",\"eos_id\":\"", player.EosId);
    out.Fixed(",\"player_data_id\":");
    out.Decimal(player.PlayerDataId);
    out.Fixed("}");
  }
  out.Fixed("]}");
  return out.Take();
}

}  // namespace vesperline
