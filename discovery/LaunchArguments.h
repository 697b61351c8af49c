// The server's launch arguments: the keys the plugin understands on the process command line,
// read the way the server itself reads them. The command line is split once into arguments; the
// '?' options count only inside the server's first argument (the one that holds the map), the
// dash options wherever they stand. Keys are found without regard to ASCII case; values are cut
// from the command line with their case. The scanners say what they found, so that start-up and
// an admin's checker can both tell where a value came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesperline {

inline constexpr std::string_view kQuestionPortKey = "?port=";
inline constexpr std::string_view kDashPortKey = "-port=";
inline constexpr std::string_view kSessionNameKey = "?sessionname=";
// The player-limit keys in the order they are looked for; the first that occurs decides, unless
// kWinLiveMaxPlayersKey gives a limit of 1 or more, which the game honours ahead of everything.
inline constexpr std::string_view kMaxPlayersKeys[] = {
    "?maxplayers=", "-maxplayers=", "-winlivemaxplayers="};
inline constexpr std::string_view kWinLiveMaxPlayersKey = kMaxPlayersKeys[2];
inline constexpr std::string_view kModsKey = "-mods=";
inline constexpr std::string_view kServerPveKey = "?serverpve=";

// One argument of the command line: its bytes from Start up to, not including, End.
struct LaunchArgument {
  std::size_t Start = 0;
  std::size_t End = 0;
};

// The command line split the way the server splits it, once for every scan.
//
// Arguments are separated by runs of spaces and tabs outside quotes. A double quote written `\"`
// pairs with the next `\"`, any other double quote with the next double quote that has no
// backslash right before it; the blanks between a pair belong to the argument. A quote that has no
// partner further on groups nothing. This is how the server reads both a manager's line, with its
// whole first argument in quotes, and the line Wine builds for a Linux container, where a quote
// inside an argument is written `\"`.
struct LaunchLine {
  std::string Text;     // the command line, UTF-8
  std::string Lowered;  // the same with the ASCII letters in lower case, where keys are found
  std::vector<LaunchArgument> Arguments;
  // The index in Arguments of the server's first argument: the one that holds the map. Nothing
  // when no map follows the executable path; then no '?' option is read.
  std::optional<std::size_t> First;
  // The map, as ScanLaunchMap takes it from Text.
  std::optional<std::string> Map;
};

LaunchLine SplitLaunchLine(std::string commandLine);

// The text of one argument of the line, quotes included.
std::string_view ArgumentText(const LaunchLine& line, const LaunchArgument& argument);

// The position of the first occurrence of key in the lowered command line, compared byte for
// byte; nothing when it does not occur.
std::optional<std::size_t> FindLaunchKey(std::string_view lowered, std::string_view key);

// The value of a '?' option (a lower-case key with its '?' and '='): behind the key's first
// occurrence inside the first argument, up to the next '?' or the end of the first argument.
// Nothing when the first argument does not hold the key; an option written after the first
// argument is not the server's.
std::optional<std::string_view> QuestionOption(const LaunchLine& line, std::string_view key);

// What one number key of the command line gave.
struct LaunchNumber {
  std::string_view Key;               // the key looked for, in lower case; empty when none was
  bool Found = false;                 // the key occurs where it counts
  std::optional<std::int32_t> Value;  // the decimal number right behind it, when there is one
};

// The number behind a lower-case key: a '?' key's value inside the first argument, a dash key's
// first occurrence anywhere. The digits stand right after the key; whatever follows them is
// ignored.
LaunchNumber LaunchNumberFrom(const LaunchLine& line, std::string_view key);

// What the two port keys gave.
struct LaunchPort {
  LaunchNumber Question;             // "?port=", inside the first argument
  std::optional<LaunchNumber> Dash;  // "-port=", looked at only when "?port=" gives no port above 0

  // The key that gives the port: "?port=" when its number is 1 or more; else "-port=" when its
  // number converts; else "?port=" when its number converts (0 or negative); else none.
  const LaunchNumber* Deciding() const;
  std::optional<std::int32_t> Port() const;
};

// The game port and where it came from.
LaunchPort ScanLaunchPort(const LaunchLine& line);

// The session name: the value of "?sessionname=" in the first argument, with each `\"` in it
// read as '"', then without the double quotes, apostrophes, spaces and tabs at either end.
// Nothing when the key does not occur there or the name is empty.
std::optional<std::string> ScanLaunchSessionName(const LaunchLine& line);

// The player limit from the first of kMaxPlayersKeys that occurs (the later keys are not looked
// at, even when its value does not convert); its Key is that key. Found is false when none
// occurs.
LaunchNumber ScanLaunchMaxPlayers(const LaunchLine& line);

// The mod list: from behind "-mods=" to the end of the argument that holds it, with each `\"` in
// it read as '"', then without the double quotes, spaces and tabs at either end. Nothing when the
// key does not occur or the list is empty.
std::optional<std::string> ScanLaunchMods(const LaunchLine& line);

// The PvE option: the value of "?serverpve=" in the first argument, with each `\"` read as '"' and
// without the double quotes, spaces and tabs at either end (the quotes that group the argument are
// no part of it). Nothing when the key does not occur there or the value is empty.
std::optional<std::string> ScanLaunchPve(const LaunchLine& line);

// The map: the first argument after the executable path, cut before its first '?' or space and
// stripped of double quotes and backslashes at both ends. A token that is exactly "start" or ends
// in ".exe" (any case) is passed over for the next space-separated one; when none follows, that
// token is the result. Nothing when no token follows the executable path.
std::optional<std::string> ScanLaunchMap(std::string_view commandLine);

// The process's command line as UTF-8, read anew at every call.
std::string ReadCommandLineText();

}  // namespace vesperline
