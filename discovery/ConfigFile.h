// The plugin's own configuration file, config.json beside the plugin's module file, and the
// start-up gate that decides whether the plugin reports at all.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ServerFacts.h"
#include "discovery/LaunchArguments.h"
#include "discovery/SourceNote.h"

namespace vesperline {

inline constexpr std::string_view kConfigFileName = "config.json";

// The largest config.json read, in bytes. The file needs three short values; a larger one is
// taken for a mistake (a log or a dump saved under the name) and counts as missing, so that it
// cannot fill the server's memory.
inline constexpr std::uint64_t kMaxConfigFileBytes = 64 * 1024;

// How the lookup of one key of config.json went.
enum class JsonKeyOutcome {
  kFound,       // a value was taken (a text may still be empty)
  kNoKey,       // the key in double quotes does not occur (keys are matched with their case)
  kNoColon,     // no ':' follows it
  kNoValue,     // a text: no two more quotes follow; a number: nothing but blanks follows
  kQuoted,      // a number in quotes, which does not count
  kNotANumber,  // no decimal number in the signed 32-bit range follows
};

// What config.json gave for a text key.
struct JsonText {
  std::string Value;
  JsonKeyOutcome Outcome = JsonKeyOutcome::kNoKey;
  // The first byte after the ':' and the blanks is no double quote, so a value found is the next
  // quoted text further on (another key's name, say), not this key's own.
  bool ValueUnquoted = false;
};

// What config.json gave for a number key; Value is 0 unless one was taken.
struct JsonNumber {
  std::int32_t Value = 0;
  JsonKeyOutcome Outcome = JsonKeyOutcome::kNoKey;
};

// The value of key in text: the first occurrence of the key in double quotes anywhere in the text
// (case and nesting do not matter), then the first ':' after it, then the bytes between the next
// two double quotes, unchanged (a backslash is an ordinary byte). This is deliberately not a JSON
// parser; the rules are the file's documented format.
JsonText LookUpJsonString(std::string_view text, std::string_view key);

// The number of key in text: found like LookUpJsonString up to the ':', then the blanks, tabs and
// line breaks after it are skipped and the rest is read as a decimal number.
JsonNumber LookUpJsonInt(std::string_view text, std::string_view key);

// LookUpJsonString's value: empty when the key gave none.
std::string ReadJsonString(std::string_view text, std::string_view key);

// LookUpJsonInt's value: 0 when the key or ':' is missing, the value is quoted or no number, or it
// lies outside the signed 32-bit range.
std::int32_t ReadJsonInt(std::string_view text, std::string_view key);

// The directory part of a path, up to and including its last '\' or '/'; empty when it has none.
std::string DirectoryOf(std::string_view path);

// True when the facts allow a heartbeat: token and address not empty and a port of 1 or more.
bool HasUsableConfig(const ServerFacts& facts);

// What the start-up gate looked at.
struct ConfigSources {
  bool FileFound = false;
  JsonText Token;
  JsonText Ip;
  JsonNumber Port;
  // The command line's ports, looked at only when the file gives no port above 0.
  std::optional<LaunchPort> Launch;
};

// The start-up gate. Fills Token, ServerIp and ServerPort of facts from the text of config.json
// (nothing when the file could not be opened) and tells whether the result is usable. Each of the
// three is replaced, also with empty text or 0. When the file gives a port of 0 or less,
// launch is called once and the launch-argument port, when there is one, replaces it. Without a
// file nothing is changed and launch is not called. Sources, when given, receive
// what each source gave. Never throws: an error (memory exhaustion) makes the result false.
bool LoadConfig(ServerFacts& facts, const std::optional<std::string>& configText,
                const std::function<const LaunchLine&()>& launch, ConfigSources* sources = nullptr);

// For the token, the address and the port, each source the gate looked at, what it gave and why
// a source was passed over; the token's own value never appears in them.
void AddConfigNotes(const ConfigSources& sources, const ServerFacts& facts, SourceNotes& notes);

}  // namespace vesperline
