// The plugin's own configuration file, config.json beside the plugin's module file, and the
// start-up gate that decides whether the plugin reports at all.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/SourceNote.h"
#include "common/ServerFacts.h"
#include "plugin/ServerProfile.h"

namespace vesperline {

inline constexpr std::string_view kConfigFileName = "config.json";

// The value of key in text: the first occurrence of the key in double quotes anywhere in the text
// (case and nesting do not matter), then the first ':' after it, then the bytes between the next
// two double quotes, unchanged (a backslash is an ordinary byte). Empty when any of these is
// missing. This is deliberately not a JSON parser; the rules are the file's documented format.
std::string ReadJsonString(std::string_view text, std::string_view key);

// The number of key in text: found like ReadJsonString up to the ':', then the blanks, tabs and
// line breaks after it are skipped and the rest is read as a decimal number. 0 when the key or
// ':' is missing, the value is quoted or no number, or it lies outside the signed 32-bit range.
std::int32_t ReadJsonInt(std::string_view text, std::string_view key);

// The directory part of a path, up to and including its last '\' or '/'; empty when it has none.
std::string DirectoryOf(std::string_view path);

// True when the facts allow a heartbeat: token and address not empty and a port of 1 or more.
bool HasUsableConfig(const ServerFacts& facts);

// Fills Token, ServerIp and ServerPort of facts from the text of config.json (nothing when the
// file could not be opened) and tells whether the result is usable. Each of the three is
// replaced, also with empty text or 0. When the file gives a port of 0 or less, commandLine is
// called once and the launch-argument port, when there is one, replaces it. Without a file
// nothing is changed and commandLine is not called. Notes, when given, receive for the token, the
// address and the port each source looked at, what it gave and why a source was passed over; the
// token's own value never appears in them.
bool ApplyConfig(ServerFacts& facts, const std::optional<std::string>& configText,
                 const std::function<std::string()>& commandLine,
                 std::vector<SourceNote>* notes = nullptr);

}  // namespace vesperline
