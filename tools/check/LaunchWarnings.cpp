// The checker's warnings about the launch line: where the server itself does otherwise than the
// admin wrote, why, and how to write it. They need a command line; without one, nothing is said.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Decimal.h"
#include "common/Text.h"
#include "tools/check/Check.h"
#include "tools/check/Warnings.h"

namespace vesperline::check {

namespace {

// The player limit the game keeps unless -WinLiveMaxPlayers= says otherwise.
constexpr std::int32_t kGameDefaultPlayers = 70;

// An argument that is a dash option, also when a launcher put it in quotes.
bool IsDashOption(std::string_view argument) {
  while (argument.starts_with("\\\"") || argument.starts_with("\"")) {
    argument.remove_prefix(argument.front() == '\\' ? 2 : 1);
  }
  return argument.starts_with('-');
}

// The '?' options in text, each as "?Key=" (or "?Key" for one without a value), as written.
std::vector<std::string> QuestionOptions(std::string_view text) {
  std::vector<std::string> options;
  for (std::size_t at = text.find('?'); at != std::string_view::npos; at = text.find('?', at + 1)) {
    const std::size_t end = text.find_first_of("?= \t\"", at + 1);
    std::string option(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (option.size() < 2) continue;
    if (end != std::string_view::npos && text[end] == '=') option += '=';
    options.push_back(std::move(option));
  }
  return options;
}

std::string Quoted(std::string_view text) {
  return Enclosed("\"", MaskLaunchPasswords(text), "\"");
}

// What the server takes from its first argument: the session name it shows and its port.
std::string WhatTheServerTakes(const LaunchLine& line) {
  const std::optional<std::string> name = ScanLaunchSessionName(line);
  const LaunchNumber port = LaunchNumberFrom(line, kQuestionPortKey);
  std::string takes = name ? "shows the session name " + Quoted(*name) : "gets no session name";
  takes += port.Value ? " and listens on port " + std::to_string(*port.Value)
                      : " and listens on its default port";
  return takes;
}

// The first argument ends at a blank outside quotes, and what follows it is no dash option but a
// word or '?' options: the server takes them for arguments of their own and ignores them. '?'
// options written after a dash option are not the server's either.
void WarnOfTheFirstArgument(const LaunchLine& line, std::vector<std::string>& warnings) {
  const std::size_t first = *line.First;
  std::size_t last = first;
  while (last + 1 < line.Arguments.size() &&
         !IsDashOption(ArgumentText(line, line.Arguments[last + 1]))) {
    ++last;
  }
  if (last != first) {
    const std::string_view text = line.Text;
    const LaunchArgument& head = line.Arguments[first];
    const std::size_t restStart = line.Arguments[first + 1].Start;
    const std::size_t restEnd = line.Arguments[last].End;
    const std::vector<std::string> unseen =
        QuestionOptions(text.substr(restStart, restEnd - restStart));
    std::string warning =
        "The server's first argument ends at the blank after " + Quoted(ArgumentText(line, head)) +
        ": it takes " + Quoted(text.substr(restStart, restEnd - restStart)) +
        " for separate arguments and ignores them, so it " + WhatTheServerTakes(line);
    if (!unseen.empty()) {
      warning += ", and it never sees " + Listed(unseen) + " (neither does the plugin)";
    }
    // Options set apart by blanks ("?MaxPlayers=40 ?RCONEnabled=True") need only the blanks gone;
    // words need quotes around the whole argument, or around the name where Wine passes the line
    // on.
    bool onlyOptions = true;
    std::string joined;
    for (std::size_t i = first; i <= last; ++i) {
      const std::string_view piece = ArgumentText(line, line.Arguments[i]);
      onlyOptions = onlyOptions && (i == first || piece.starts_with('?'));
      joined += piece;
    }
    if (onlyOptions) {
      warning += ". Delete the blanks before the '?': " + Quoted(joined);
    } else {
      warning +=
          ". In a .bat file or a server manager, put the whole first argument in double "
          "quotes: " +
          Quoted(text.substr(head.Start, restEnd - head.Start)) +
          "; in a Linux start script, write SessionName=\\\"...\\\" with the name between "
          "those quotes";
    }
    warning += ".";
    warnings.push_back(std::move(warning));
  }
  std::vector<std::string> late;
  for (std::size_t i = last + 1; i < line.Arguments.size(); ++i) {
    for (std::string& option : QuestionOptions(ArgumentText(line, line.Arguments[i]))) {
      if (!IsDashOption(ArgumentText(line, line.Arguments[i]))) late.push_back(std::move(option));
    }
  }
  if (!late.empty()) {
    warnings.push_back(Listed(late) + (late.size() == 1 ? " stands" : " stand") +
                       " after the server's first argument, where neither the server nor the "
                       "plugin reads '?' options: write " +
                       (late.size() == 1 ? "it" : "them") +
                       " onto the first argument, right after the map and its other options.");
  }
}

// ?SessionName= given twice in the first argument: the first counts.
void WarnOfTwoSessionNames(const LaunchLine& line, std::vector<std::string>& warnings) {
  const LaunchArgument& first = line.Arguments[*line.First];
  const std::string_view lowered =
      std::string_view(line.Lowered).substr(first.Start, first.End - first.Start);
  std::size_t count = 0;
  for (std::size_t at = lowered.find(kSessionNameKey); at != std::string_view::npos;
       at = lowered.find(kSessionNameKey, at + 1)) {
    ++count;
  }
  if (count < 2) return;
  const std::optional<std::string> name = ScanLaunchSessionName(line);
  warnings.push_back("The first argument gives ?SessionName= " + std::to_string(count) +
                     " times: the server takes the first, " +
                     (name ? Quoted(*name) : std::string("an empty one")) +
                     ", and so does the heartbeat. Delete the others.");
}

// The limit the admin asks for without -WinLiveMaxPlayers=, which the game keeps at 70.
void WarnOfThePlayerLimit(const LaunchLine& line, const Discovery& found,
                          std::vector<std::string>& warnings) {
  const ServerInfoSources& info = found.Info;
  const std::optional<std::int32_t>& winLive = info.LaunchWinLiveMaxPlayers.Value;
  if (winLive && *winLive >= 1) return;
  // What the admin asks for, first the source the plugin prefers.
  std::vector<std::string> asks;
  std::optional<std::int32_t> asked;
  const auto ask = [&](std::string_view what, std::optional<std::int32_t> limit) {
    if (!limit || *limit <= 0 || *limit == kGameDefaultPlayers) return;
    asks.push_back(std::string(what) + " asks for " + std::to_string(*limit));
    if (!asked) asked = limit;
  };
  ask("The settings file's MaxPlayers",
      info.FileMaxPlayers.empty() ? std::nullopt : ParseDecimal32(info.FileMaxPlayers));
  ask("?MaxPlayers=", LaunchNumberFrom(line, kMaxPlayersKeys[0]).Value);
  if (!asked) return;
  const std::int32_t sent = found.Facts.PlayerLimit;
  warnings.push_back(
      Listed(asks) + ", but the server keeps " + std::to_string(kGameDefaultPlayers) +
      " players unless its launch line has -WinLiveMaxPlayers=N, as admins of this game report; " +
      (sent > 0 ? "the heartbeat sends " + std::to_string(sent)
                : std::string("the heartbeat sends no limit")) +
      ". Add -WinLiveMaxPlayers=" + std::to_string(*asked) + " to the launch line.");
}

// The mods the game loads are -mods='s; ActiveMods alone loads none.
void WarnOfTheMods(const Discovery& found, std::vector<std::string>& warnings) {
  const ServerInfoSources& info = found.Info;
  if (info.FileActiveMods.empty()) return;
  if (!info.LaunchMods) {
    warnings.push_back(
        "The settings file's ActiveMods lists " + Quoted(info.FileActiveMods) +
        ", but the launch line has no -mods=: the game loads the mods given with -mods= (admins "
        "report that ActiveMods alone loads none), while the heartbeat sends ActiveMods' list. "
        "Add -mods=" +
        info.FileActiveMods + " to the launch line.");
  } else if (*info.LaunchMods != info.FileActiveMods) {
    warnings.push_back("-mods= gives " + Quoted(*info.LaunchMods) +
                       " and the settings file's ActiveMods " + Quoted(info.FileActiveMods) +
                       ": the game loads the mods of -mods=, and the heartbeat sends them; "
                       "ActiveMods is ignored.");
  }
}

// ?ServerPVE= and the settings file disagree: the launch option decides.
void WarnOfPve(const Discovery& found, std::vector<std::string>& warnings) {
  const ServerInfoSources& info = found.Info;
  if (!info.LaunchPve) return;
  const bool bKey = !info.FileBServerPve.empty();
  const std::string& file = bKey ? info.FileBServerPve : info.FileServerPve;
  if (file.empty()) return;
  const bool launchPve = LowerAscii(*info.LaunchPve) == "true";
  if (launchPve == (LowerAscii(file) == "true")) return;
  warnings.push_back("?ServerPVE=" + *info.LaunchPve + " on the launch line and " +
                     (bKey ? "bServerPVE=" : "ServerPVE=") + file +
                     " in the settings file disagree: the launch option decides, so the server "
                     "runs as " +
                     (launchPve ? "PvE" : "PvP") + " and the heartbeat says so.");
}

// config.json's port is sent, whatever port the server listens on.
void WarnOfAnotherPort(const LaunchLine& line, const Discovery& found,
                       std::vector<std::string>& warnings) {
  const std::int32_t filePort = found.Gate.Port.Value;
  if (found.Gate.Launch || filePort < 1) return;
  const LaunchPort launch = ScanLaunchPort(line);
  const std::optional<std::int32_t> port = launch.Port();
  if (!port || *port < 1 || *port == filePort) return;
  const std::string key = launch.Deciding() == &launch.Question ? "?Port=" : "-port=";
  warnings.push_back("config.json \"port\" is " + std::to_string(filePort) +
                     " while the launch line gives " + key + std::to_string(*port) +
                     ": the heartbeat sends " + std::to_string(filePort) +
                     ", so players who pick the server from the list are sent to a port it does "
                     "not listen on. Give \"port\": " +
                     std::to_string(*port) +
                     ", or 0 to take the launch line's port (the way to run several servers "
                     "from one install).");
}

}  // namespace

void WarnOfLaunchLine(const Discovery& found, std::vector<std::string>& warnings) {
  const LaunchLine& line = found.Launch;
  if (line.Text.empty()) return;
  if (line.First) {
    WarnOfTheFirstArgument(line, warnings);
    WarnOfTwoSessionNames(line, warnings);
  }
  WarnOfThePlayerLimit(line, found, warnings);
  WarnOfTheMods(found, warnings);
  WarnOfPve(found, warnings);
  WarnOfAnotherPort(line, found, warnings);
}

}  // namespace vesperline::check
