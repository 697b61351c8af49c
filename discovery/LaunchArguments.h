// The server's launch arguments: the keys the plugin understands on the process command line.
// Keys are found without regard to ASCII case; values are cut from the command line with their
// case. The scanners work on a command line handed to them and say what they found, so that
// start-up and an admin's checker can both tell where a value came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesperline {

inline constexpr std::string_view kQuestionPortKey = "?port=";
inline constexpr std::string_view kDashPortKey = "-port=";
inline constexpr std::string_view kSessionNameKey = "?sessionname=";
// The player-limit keys in the order they are looked for; the first that occurs decides.
inline constexpr std::string_view kMaxPlayersKeys[] = {
    "?maxplayers=", "-maxplayers=", "-winlivemaxplayers="};
inline constexpr std::string_view kModsKey = "-mods=";

// The position of the first occurrence of key in the lowered command line, compared byte for
// byte; nothing when it does not occur.
std::optional<std::size_t> FindLaunchKey(std::string_view lowered, std::string_view key);

// What one number key of the command line gave.
struct LaunchNumber {
  std::string_view Key;               // the key looked for, in lower case; empty when none was
  bool Found = false;                 // the key occurs
  std::optional<std::int32_t> Value;  // the decimal number right behind it, when there is one
};

// The number behind the first occurrence of key (a lower-case key); the digits stand right after
// the key and whatever follows them is ignored.
LaunchNumber LaunchNumberFrom(std::string_view commandLine, std::string_view key);

// What the two port keys gave.
struct LaunchPort {
  LaunchNumber Question;             // "?port="
  std::optional<LaunchNumber> Dash;  // "-port=", looked at only when "?port=" gives no port above 0

  // The key that gives the port: "?port=" when its number is 1 or more; else "-port=" when its
  // number converts; else "?port=" when its number converts (0 or negative); else none.
  const LaunchNumber* Deciding() const;
  std::optional<std::int32_t> Port() const;
};

// The game port and where it came from.
LaunchPort ScanLaunchPort(std::string_view commandLine);

// The session name: from behind "?sessionname=" to the next '?' or the end of the line (spaces
// included), without the double quotes and apostrophes at either end. It ends earlier at the
// double quote that closes a quoted section open where the name starts, and, outside double
// quotes, before blanks that a dash option ("-NoBattlEye") follows. Nothing when the key does not
// occur or the name is empty.
std::optional<std::string> ScanLaunchSessionName(std::string_view commandLine);

// The player limit from the first of kMaxPlayersKeys that occurs (the later keys are not looked
// at, even when its value does not convert); its Key is that key. Found is false when none
// occurs.
LaunchNumber ScanLaunchMaxPlayers(std::string_view commandLine);

// The mod list: from behind "-mods=" to the next space or tab or the end of the line, unchanged.
// A list that begins with a double quote runs to the next double quote instead, spaces included,
// and loses both quotes; without a closing quote it loses its opening one. Nothing when the key
// does not occur or the list is empty.
std::optional<std::string> ScanLaunchMods(std::string_view commandLine);

// The map: the first argument after the executable path, cut before its first '?' or space and
// stripped of double quotes and backslashes at both ends. A token that is exactly "start" or ends
// in ".exe" (any case) is passed over for the next space-separated one; when none follows, that
// token is the result. Nothing when no token follows the executable path.
std::optional<std::string> ScanLaunchMap(std::string_view commandLine);

// The process's command line as UTF-8, read anew at every call.
std::string ReadCommandLineText();

}  // namespace vesperline
