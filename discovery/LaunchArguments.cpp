#include "discovery/LaunchArguments.h"

#include <algorithm>

#include "common/Decimal.h"
#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {

// The text from behind the first occurrence of key to the end of the line; nothing when the key
// does not occur.
std::optional<std::string_view> RestAfterKey(std::string_view commandLine, std::string_view key) {
  const std::string lowered = LowerAscii(commandLine);
  const std::optional<std::size_t> at = FindLaunchKey(lowered, key);
  if (!at) return std::nullopt;
  return commandLine.substr(*at + key.size());
}

std::string_view StripEnds(std::string_view value, std::string_view bytes) {
  while (!value.empty() && bytes.find(value.front()) != std::string_view::npos) {
    value.remove_prefix(1);
  }
  while (!value.empty() && bytes.find(value.back()) != std::string_view::npos) {
    value.remove_suffix(1);
  }
  return value;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// How far the session name that starts at start runs. A '?' always ends it. Where the command line
// has an open double quote at start (a whole first argument in quotes, the way server managers
// write a name with spaces), the quote that closes it ends the name too. Outside quotes, a run of
// blanks followed by a dash option ends it before the run, so that the options written after the
// first argument (a cluster id, a password) never become part of the name; a dash followed by
// anything but a letter, as in "Rex - PvE", is part of it. Whether a position is inside quotes is
// counted from the start of the line.
std::size_t SessionNameLength(std::string_view line, std::size_t start) {
  const bool startsQuoted =
      std::count(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(start), '"') % 2 != 0;
  bool quoted = false;  // inside a quoted section opened within the name
  std::size_t i = start;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '?') break;
    if (c == '"') {
      if (startsQuoted) break;
      quoted = !quoted;
    } else if (!startsQuoted && !quoted && IsBlank(c)) {
      std::size_t next = i;
      while (next < line.size() && IsBlank(line[next])) ++next;
      if (next + 1 < line.size() && line[next] == '-' && IsAsciiLetter(line[next + 1])) break;
      i = next - 1;
    }
  }
  return i - start;
}

bool IsPassedOverAsMap(std::string_view token) {
  if (token == "start") return true;
  return token.size() >= 4 && LowerAscii(token.substr(token.size() - 4)) == ".exe";
}

}  // namespace

std::optional<std::size_t> FindLaunchKey(std::string_view lowered, std::string_view key) {
  const std::size_t at = lowered.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  return at;
}

LaunchNumber LaunchNumberFrom(std::string_view commandLine, std::string_view key) {
  LaunchNumber number;
  number.Key = key;
  const std::optional<std::string_view> rest = RestAfterKey(commandLine, key);
  if (!rest) return number;
  number.Found = true;
  number.Value = ParseDecimal32(*rest);
  return number;
}

const LaunchNumber* LaunchPort::Deciding() const {
  if (Question.Value && *Question.Value >= 1) return &Question;
  if (Dash && Dash->Value) return &*Dash;
  if (Question.Value) return &Question;
  return nullptr;
}

std::optional<std::int32_t> LaunchPort::Port() const {
  const LaunchNumber* deciding = Deciding();
  return deciding != nullptr ? deciding->Value : std::nullopt;
}

LaunchPort ScanLaunchPort(std::string_view commandLine) {
  LaunchPort port;
  port.Question = LaunchNumberFrom(commandLine, kQuestionPortKey);
  if (!port.Question.Value || *port.Question.Value < 1) {
    port.Dash = LaunchNumberFrom(commandLine, kDashPortKey);
  }
  return port;
}

std::optional<std::string> ScanLaunchSessionName(std::string_view commandLine) {
  const std::optional<std::string_view> rest = RestAfterKey(commandLine, kSessionNameKey);
  if (!rest) return std::nullopt;
  const std::size_t start = commandLine.size() - rest->size();
  const std::string_view name =
      StripEnds(rest->substr(0, SessionNameLength(commandLine, start)), "\"'");
  if (name.empty()) return std::nullopt;
  return std::string(name);
}

LaunchNumber ScanLaunchMaxPlayers(std::string_view commandLine) {
  for (const std::string_view candidate : kMaxPlayersKeys) {
    LaunchNumber number = LaunchNumberFrom(commandLine, candidate);
    if (number.Found) return number;
  }
  return {};
}

std::optional<std::string> ScanLaunchMods(std::string_view commandLine) {
  const std::optional<std::string_view> rest = RestAfterKey(commandLine, kModsKey);
  if (!rest) return std::nullopt;
  std::string_view mods = *rest;
  // A list in double quotes may hold spaces and ends at its closing quote; the quotes are no part
  // of it, since the service reads the value as ids. Without a closing quote only the opening one
  // goes, and a space or tab ends the list as it ends an unquoted one.
  if (!mods.empty() && mods.front() == '"') {
    mods.remove_prefix(1);
    const std::size_t close = mods.find('"');
    if (close != std::string_view::npos) {
      mods = mods.substr(0, close);
      if (mods.empty()) return std::nullopt;
      return std::string(mods);
    }
  }
  mods = mods.substr(0, mods.find_first_of(" \t"));
  if (mods.empty()) return std::nullopt;
  return std::string(mods);
}

std::optional<std::string> ScanLaunchMap(std::string_view commandLine) {
  const std::size_t n = commandLine.size();
  // Behind the executable path, which is in double quotes when it holds a space.
  if (n == 0) return std::nullopt;
  const bool quoted = commandLine[0] == '"';
  std::size_t pos = quoted ? commandLine.find('"', 1) : commandLine.find(' ');
  if (pos == std::string_view::npos) return std::nullopt;
  if (quoted) ++pos;
  std::optional<std::string> map;
  for (;;) {
    while (pos < n && commandLine[pos] == ' ') ++pos;
    if (pos >= n) return map;
    const std::size_t end = commandLine.find_first_of("? ", pos);
    const std::string_view token = commandLine.substr(pos, end - pos);
    map = std::string(StripEnds(token, "\"\\"));
    // A launcher word or a further piece of an unquoted executable path is not the map; the
    // next argument is tried, but only within the run of space-separated arguments.
    if (!IsPassedOverAsMap(*map)) return map;
    if (end == std::string_view::npos || commandLine[end] == '?') return map;
    pos = end;
  }
}

std::string ReadCommandLineText() {
  return platform::ProcessCommandLine();
}

}  // namespace vesperline
