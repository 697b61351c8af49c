// The server's launch arguments: the keys the plugin understands on the process command line,
// read the way the game server itself reads them, in three steps. Windows splits the line into
// arguments; the engine joins the arguments after the program into a line of its own, quoting
// those that hold a space; the first token of that line is the map URL, whose '?' options are the
// server's. Dash options count wherever they stand. Keys are found without regard to ASCII case;
// values keep their case. The scanners say what they found, so that start-up and an admin's
// checker can both tell where a value came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CommandLine.h"

namespace vesperline {

inline constexpr std::string_view kQuestionPortKey = "?port=";
inline constexpr std::string_view kDashPortKey = "-port=";
inline constexpr std::string_view kSessionNameKey = "?sessionname=";
inline constexpr std::string_view kQuestionMaxPlayersKey = "?maxplayers=";
inline constexpr std::string_view kDashMaxPlayersKey = "-maxplayers=";
inline constexpr std::string_view kWinLiveMaxPlayersKey = "-winlivemaxplayers=";
inline constexpr std::string_view kModsKey = "-mods=";
inline constexpr std::string_view kServerPveKey = "?serverpve=";

// The player limit the game keeps unless -WinLiveMaxPlayers= gives one of 1 or more: it neither
// takes ?MaxPlayers= nor the settings file's MaxPlayers, and rewrites the latter to this.
inline constexpr std::int32_t kGamePlayerLimit = 70;

// The command line as the server reads it, once for every scan.
struct LaunchLine {
  std::string Text;  // the command line, UTF-8
  // The arguments as Windows splits the line, the program first.
  std::vector<CommandLineArgument> Arguments;
  // A quote opened in the line is never closed, so the rest of the line belongs to one argument.
  bool EndsInsideQuotes = false;
  std::size_t UnclosedQuoteAt = 0;  // where that quote stands in Text
  // The line the engine builds from the arguments after the program and reads its options from.
  // It begins with a space, as the engine writes one before each argument.
  std::string EngineLine;
  // The first token of the engine's line: the map and the '?' options written onto it. Nothing
  // when the line has no token, or its first token is a dash option or the rest of a program
  // path; then the server starts its default map and reads no '?' option.
  std::optional<std::string> MapUrl;
  // The map: the URL up to its first '?', without quotes and backslashes at either end.
  std::optional<std::string> Map;
};

// The engine's line from the arguments after the program: each argument after one space; one that
// holds a space goes in double quotes, whole, or from right after its first '=' when it begins
// with '-' (-k=v w becomes -k="v w"). Quotes inside an argument are written as they are.
// When sources is given, it receives for every byte of the line the position of the byte it was
// made from among the bytes of all the arguments' values, the program's first, in their order;
// npos for the blanks and quotes the engine adds.
std::string EngineCommandLine(const std::vector<CommandLineArgument>& arguments,
                              std::vector<std::size_t>* sources = nullptr);

// The next token of the engine's line from position on, which it then moves past: white space
// (space, tab, CR, LF, vertical tab, form feed) skipped; from a leading double quote to the next
// one, the quotes dropped; otherwise up to the first white space outside double quotes, the quotes
// kept. Nothing when only white space is left.
std::optional<std::string> NextEngineToken(std::string_view engineLine, std::size_t& position);

// The first token of the engine's line, as the engine takes its map URL. Nothing when there is no
// token, the token is empty or begins with '-', or it holds no '?' and ends in ".exe" (any case):
// the rest of a program path written without quotes.
std::optional<std::string> MapUrlOf(std::string_view engineLine);

// The three steps over a command line.
LaunchLine ReadLaunchLine(std::string commandLine);

// The value of a '?' option (a lower-case key with its '?' and '='): behind the key's first
// occurrence in the map URL, up to the next '?' or the URL's end. Nothing without a map URL or
// when the URL does not hold the key.
std::optional<std::string_view> QuestionOption(const LaunchLine& line, std::string_view key);

// Where the engine's own value reader finds a dash key (lower case, with its '=') in its line:
// the first occurrence, compared without regard to ASCII case, that stands outside double quotes
// (the quote state toggles at every '"' of the line) and does not follow an ASCII letter or digit,
// so that x-WinLiveMaxPlayers=50 and a key inside a quoted name are no option. Nothing when there
// is none.
std::optional<std::size_t> FindDashKey(std::string_view engineLine, std::string_view key);

// The value the engine's reader takes behind a dash key found by FindDashKey: when it begins with
// '"', up to the next '"' or the line's end, without the quotes; otherwise, after blanks (space,
// tab, CR, LF), up to the first space, tab, CR, LF, ',' or ')'. Nothing when the key is not found.
std::optional<std::string_view> DashOption(std::string_view engineLine, std::string_view key);

// What one number key of the command line gave.
struct LaunchNumber {
  std::string_view Key;               // the key looked for, in lower case
  bool Found = false;                 // the key occurs where it counts
  std::optional<std::int32_t> Value;  // the decimal number right behind it, when there is one
};

// The number behind a lower-case key: a '?' key's value in the map URL, a dash key's value as the
// engine's reader takes it (DashOption), each read as C's atoi reads it: white space first, one
// sign, the digits up to the first other byte.
LaunchNumber LaunchNumberFrom(const LaunchLine& line, std::string_view key);

// What the two port keys gave.
struct LaunchPort {
  LaunchNumber Question;             // "?port=", in the map URL
  std::optional<LaunchNumber> Dash;  // "-port=", looked at only when "?port=" gives no port above 0

  // The key that gives the port: "?port=" when its number is 1 or more; else "-port=" when its
  // number converts; else "?port=" when its number converts (0 or negative); else none.
  const LaunchNumber* Deciding() const;
  std::optional<std::int32_t> Port() const;
};

// The game port and where it came from.
LaunchPort ScanLaunchPort(const LaunchLine& line);

// The session name the server itself takes: the value of "?sessionname=" in the map URL without
// the double quotes, apostrophes, spaces and tabs at either end. Nothing when the key does not
// occur there or the name is empty.
std::optional<std::string> ScanLaunchSessionName(const LaunchLine& line);

// The mod list: from behind the first "-mods=" in the arguments after the program to the end of
// the argument that holds it, without the double quotes and white space (a start script's CR
// included) at either end. Nothing when the key does not occur or the list is empty.
std::optional<std::string> ScanLaunchMods(const LaunchLine& line);

// The PvE option: the value of "?serverpve=" in the map URL without the double quotes, spaces and
// tabs at either end. Nothing when the key does not occur there or the value is empty.
std::optional<std::string> ScanLaunchPve(const LaunchLine& line);

// A name or mod list as the heartbeat may publish it: up to the first blank-separated word that
// holds "password=" in any case, or that begins with '-' and holds "password" (a server password
// written into the name, which would reach a public list); then without the double quotes,
// apostrophes, spaces and tabs at either end. Text without such a word comes back unchanged.
std::string WithoutPasswords(std::string_view text);

// True when WithoutPasswords cuts the text.
bool HoldsPassword(std::string_view text);

// The process's command line as UTF-8, read anew at every call.
std::string ReadCommandLineText();

}  // namespace vesperline
