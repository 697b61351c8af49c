// The checker's warnings about the launch line: where the server itself does otherwise than the
// admin wrote, why, and how to write it. They need a command line; without one, nothing is said.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Decimal.h"
#include "common/Text.h"
#include "tools/check/warnings/Warnings.h"

namespace vesperline::check {

namespace {

// The fix every warning about a first argument with blanks gives, for the two kinds of launcher.
constexpr char kHowToQuote[] =
    "In a .bat file or a server manager, put the whole first argument in double quotes, with no "
    "quotes inside it";
// The mod list in the form the game reads whole: the ids with no blank beside a comma.
std::string WithoutBlanks(std::string_view list) {
  std::string out;
  for (const char c : list) {
    if (c != ' ' && c != '\t') out += c;
  }
  return out;
}

// The ids of a mod list alone, joined by commas: no blanks, no empty places.
std::string CleanModList(std::string_view list) {
  std::string clean;
  for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1) {
    end = list.find(',', start);
    const std::string id =
        WithoutBlanks(list.substr(start, end == std::string_view::npos ? end : end - start));
    if (id.empty()) continue;
    if (!clean.empty()) clean += ',';
    clean += id;
  }
  return clean;
}

bool IsModList(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789,") == std::string_view::npos;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t") + 1 - start);
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
  return Enclosed("\"", text, "\"");
}

// The text without its double quotes, for a fix that puts it in quotes of its own.
std::string WithoutQuotes(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c != '"') out += c;
  }
  return out;
}

// What the server takes from its launch line and its settings file, as a clause: the session name
// it shows (the map URL's, else the settings file's) and the port it listens on (the launch line's,
// else the game's default); and what the heartbeat sends of the two, which may come from elsewhere
// (the port from config.json), or that the plugin sends nothing.
std::string WhatTheServerTakes(const Discovery& found) {
  const LaunchLine& line = found.Launch;
  const std::optional<std::string> launchName = ScanLaunchSessionName(line);
  const std::string& fileName = found.Info.FileSessionName;
  const std::string name = launchName.value_or(fileName);
  std::string takes = launchName          ? "shows the session name " + Quoted(name)
                      : !fileName.empty() ? "shows the settings file's session name " + Quoted(name)
                                          : std::string("gets no session name");
  const std::int32_t port = ScanLaunchPort(line).Port().value_or(0);
  const std::int32_t listens = port >= 1 ? port : kGameDefaultPort;
  takes += port >= 1 ? " and listens on port " + std::to_string(port)
                     : " and listens on the game's default port, " + std::to_string(listens);
  if (!found.Usable) return takes + " (the plugin sends no heartbeat: see the verdict)";
  const ServerFacts& facts = found.Facts;
  // The heartbeat sends the name only up to a password in it, which the name's own warning tells.
  const bool sameName = facts.SessionName == WithoutPasswords(name);
  const bool samePort = facts.ServerPort == listens;
  if (sameName && samePort) return takes + " (the heartbeat sends the same)";
  takes += " (the heartbeat sends ";
  takes += sameName                    ? std::string("the same name")
           : facts.SessionName.empty() ? std::string("no name")
                                       : "the name " + Quoted(facts.SessionName);
  takes += samePort ? std::string(" and the same port")
                    : " and the port " + std::to_string(facts.ServerPort) +
                          (found.Gate.Launch ? "" : ", config.json's");
  return takes + ")";
}

// The key of the '?' option in whose value the byte at `at` of text lies ("SessionName"), for a
// fix that quotes that value; empty when the byte lies in no such value.
std::string KeyOfTheValueAt(std::string_view text, std::size_t at) {
  const std::size_t question = text.rfind('?', at);
  if (question == std::string_view::npos) return {};
  const std::size_t equals = text.find('=', question);
  if (equals == std::string_view::npos || equals >= at) return {};
  return std::string(text.substr(question + 1, equals - question - 1));
}

// The fix in a Linux start script for a first argument whose value of key holds blanks: the same
// quotes around the whole argument, or quotes inside it around that value alone, as a container's
// start script writes them; the first alone when no '?' option's value holds the blanks.
std::string HowToQuoteInAScript(std::string_view key) {
  std::string how = "in a Linux start script, ";
  if (key.empty()) {
    how += "do the same (in a systemd unit's ExecStart= line that form works too";
  } else {
    how += Enclosed("either do the same, or leave the argument unquoted and write ", key,
                    "=\\\"...\\\" with the ");
    how += LowerAscii(key) == "sessionname" ? "name" : "value";
    how += " between those quotes (in a systemd unit's ExecStart= line the same two forms work";
  }
  return how +
         ": systemd, like the shell, splits at blanks outside quotes and removes the quotes it "
         "reads)";
}

// The tokens of the engine's line after the map URL, in order.
std::vector<std::string> TokensAfterTheUrl(const LaunchLine& line) {
  std::vector<std::string> tokens;
  std::size_t position = 0;
  (void)NextEngineToken(line.EngineLine, position);
  while (std::optional<std::string> token = NextEngineToken(line.EngineLine, position)) {
    tokens.push_back(std::move(*token));
  }
  return tokens;
}

// A character that looks like the hyphen-minus of a dash option, as a guide, a word processor or
// a chat writes it in its place, in UTF-8.
struct LookAlikeDash {
  std::string_view Bytes;
  std::string_view Name;
};
constexpr LookAlikeDash kLookAlikeDashes[] = {
    {"\xE2\x80\x90", "a hyphen (U+2010)"},
    {"\xE2\x80\x91", "a non-breaking hyphen (U+2011)"},
    {"\xE2\x80\x92", "a figure dash (U+2012)"},
    {"\xE2\x80\x93", "an en dash (U+2013)"},
    {"\xE2\x80\x94", "an em dash (U+2014)"},
    {"\xE2\x80\x95", "a horizontal bar (U+2015)"},
    {"\xE2\x88\x92", "a minus sign (U+2212)"},
    {"\xEF\xB9\xA3", "a small hyphen-minus (U+FE63)"},
    {"\xEF\xBC\x8D", "a fullwidth hyphen-minus (U+FF0D)"},
};

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The look-alike a word begins with, right before an ASCII letter, as in
// "\u2013WinLiveMaxPlayers=50"; nothing for any other word.
const LookAlikeDash* LookAlikeDashOf(std::string_view word) {
  for (const LookAlikeDash& dash : kLookAlikeDashes) {
    if (word.starts_with(dash.Bytes) && word.size() > dash.Bytes.size() &&
        IsAsciiLetter(word[dash.Bytes.size()])) {
      return &dash;
    }
  }
  return nullptr;
}

// The text with each look-alike that begins a word as a dash option's dash written as '-', for a
// fix that is to work when applied.
std::string WithPlainDashes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const LookAlikeDash* dash = i == 0 || text[i - 1] == ' ' || text[i - 1] == '\t'
                                    ? LookAlikeDashOf(text.substr(i))
                                    : nullptr;
    if (dash == nullptr) {
      out += text[i++];
      continue;
    }
    out += '-';
    i += dash->Bytes.size();
  }
  return out;
}

// A dash option, or one written with a look-alike dash, which was meant as one (and has a warning
// of its own): either is no part of a name or a map cut off at a blank.
bool IsDashToken(std::string_view token) {
  return (token.starts_with('-') && token.size() > 1) || LookAlikeDashOf(token) != nullptr;
}

// A password inside the name the server takes: every player sees it in the game's server browser.
void WarnOfAPasswordInTheName(const LaunchLine& line, std::vector<Warning>& warnings) {
  const std::optional<std::string> name = ScanLaunchSessionName(line);
  if (!name || !HoldsPassword(*name)) return;
  const std::string sent = WithoutPasswords(*name);
  warnings.push_back(
      "The server's own session name holds a password: it takes " + Quoted(*name) +
      " for its name, which every player sees in the game's server browser. The heartbeat sends "
      "the name only up to the password (" +
      (sent.empty() ? std::string("nothing, so no name at all") : Quoted(sent)) +
      "). End the name before the password: close its quotes right after the name, so that the "
      "password option is an argument of its own.");
}

// The words of text between blanks.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = text.find_first_not_of(" \t", i);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
    words.push_back(text.substr(start, end - start));
    i = end;
  }
  return words;
}

// Dash options inside a first argument that is quoted as a whole (a .bat file that put the whole
// line after the program in one pair of quotes): the server reads no option inside quotes, and
// takes the options for part of its map or of the last '?' option's value.
bool WarnOfDashOptionsInsideTheFirstArgument(const Discovery& found,
                                             std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  if (!line.MapUrl || line.Arguments.size() < 2) return false;
  const std::string_view first = line.Arguments[1].Value;
  const std::vector<std::string_view> words = Words(first);
  std::size_t dash = 1;
  while (dash < words.size() && !IsDashToken(words[dash])) ++dash;
  if (first.starts_with('-') || dash >= words.size()) return false;
  const std::string_view head = first.substr(0, words[dash].data() - first.data());
  std::vector<std::string> options;
  for (std::size_t i = dash; i < words.size(); ++i) {
    if (IsDashToken(words[i])) options.emplace_back(words[i]);
  }
  std::string warning = "The server's first argument " + Quoted(first) + " holds the dash option" +
                        (options.size() == 1 ? " " : "s ") + Listed(options) +
                        ": the server puts an argument with blanks in quotes as a whole and "
                        "reads no option inside quotes, so it takes the map " +
                        Quoted(line.Map.value_or("")) + " and " + WhatTheServerTakes(found);
  if (line.Map && HoldsPassword(*line.Map)) {
    const std::string sent = WithoutPasswords(*line.Map);
    warning += "; its map holds a password, which the heartbeat cuts off (it sends the map " +
               (sent.empty() ? std::string("not at all") : Quoted(sent)) + ")";
  }
  warnings.push_back(warning +
                     ". Close the quotes after the map URL, so that each dash option is an "
                     "argument of its own: " +
                     Quoted(Trimmed(head)) + " " +
                     WithPlainDashes(Trimmed(first.substr(head.size()))) + ".");
  return true;
}

// A program path with blanks and no quotes: Windows takes its first word for the program and the
// rest of it for the server's first arguments.
bool WarnOfAnUnquotedProgramPath(const Discovery& found, std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  if (line.Text.starts_with('"') || line.Arguments.size() < 2) return false;
  const auto endsWithExe = [](std::string_view value) {
    return value.size() >= 4 && LowerAscii(value.substr(value.size() - 4)) == ".exe";
  };
  if (endsWithExe(line.Arguments[0].Value)) return false;
  for (std::size_t i = 1; i < line.Arguments.size(); ++i) {
    const CommandLineArgument& argument = line.Arguments[i];
    if (argument.Value.find('?') != std::string::npos) return false;
    if (!endsWithExe(argument.Value)) continue;
    const std::string path = line.Text.substr(0, argument.End);
    warnings.push_back(
        "The program path " + Quoted(path) +
        " holds a blank and is not in double quotes: Windows takes " +
        Quoted(line.Arguments[0].Value) + " for the program and the rest of the path for the " +
        "server's first arguments, so the server " +
        (line.MapUrl ? "takes the map " + Quoted(line.Map.value_or("")) + " and " +
                           WhatTheServerTakes(found)
                     : std::string("starts its default map and reads no '?' option")) +
        ". Put the path in double quotes: " + Quoted(path) + ".");
    return true;
  }
  return false;
}

// A dash option first: the engine takes no map URL from it and starts its default map.
bool WarnOfADashOptionBeforeTheMap(const LaunchLine& line, std::vector<Warning>& warnings) {
  if (line.MapUrl || line.Arguments.size() < 2) return false;
  std::size_t position = 0;
  const std::optional<std::string> first = NextEngineToken(line.EngineLine, position);
  if (!first || !first->starts_with('-')) return false;
  std::string warning = "The server's first argument is the dash option " + Quoted(*first) +
                        ", so it starts its default map and reads no '?' option at all";
  for (std::size_t i = 2; i < line.Arguments.size(); ++i) {
    const std::string& value = line.Arguments[i].Value;
    if (value.starts_with('-') || value.find('?') == std::string::npos) continue;
    warning += ", not those of " + Quoted(value) + " (neither does the plugin)";
    break;
  }
  warnings.push_back(warning +
                     ". Write the map and its '?' options first, right after the program, and "
                     "the dash options after them.");
  return true;
}

// The first argument quoted whole with quotes of its own inside: the engine quotes it whole once
// more, and its map URL ends at the first inner quote.
bool WarnOfQuotesInsideAWholeQuotedArgument(const Discovery& found,
                                            std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  if (!line.MapUrl || line.Arguments.size() < 2) return false;
  const std::string& first = line.Arguments[1].Value;
  if (first.starts_with('-') || first.find(' ') == std::string::npos ||
      first.find('"') == std::string::npos) {
    return false;
  }
  warnings.push_back(
      "The server's first argument " + Quoted(first) +
      " holds a space and double quotes of its own: the server puts such an argument in quotes "
      "as a whole, so its map URL ends at the first quote inside, " +
      Quoted(*line.MapUrl) + ", and it " + WhatTheServerTakes(found) + ". " + kHowToQuote + ": " +
      Quoted(WithoutQuotes(first)) + "; " +
      HowToQuoteInAScript(KeyOfTheValueAt(first, first.find(' '))) + ".");
  return true;
}

// A quote never closed: everything up to the line's end is one argument.
bool WarnOfAnUnclosedQuote(const Discovery& found, std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  if (!line.EndsInsideQuotes || line.Arguments.size() < 2) return false;
  const std::string rest = line.Text.substr(line.UnclosedQuoteAt);
  std::string warning = "The double quote before " + Quoted(rest.substr(1)) +
                        " is never closed, so everything up to the end of the line belongs to "
                        "one argument";
  if (line.MapUrl && line.Arguments.back().Start == line.Arguments[1].Start) {
    warning += ", the server's first: it " + WhatTheServerTakes(found);
  }
  warnings.push_back(warning + ". Close the quote where the value ends.");
  return true;
}

// A tab inside the first argument ends the engine's map URL, although Windows kept it in.
bool WarnOfATabInTheFirstArgument(const Discovery& found, std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  if (!line.MapUrl || line.Arguments.size() < 2) return false;
  const std::string& first = line.Arguments[1].Value;
  const std::size_t tab = first.find('\t');
  if (tab == std::string::npos || first.starts_with('-')) return false;
  warnings.push_back("The server's first argument holds a tab after " +
                     Quoted(first.substr(0, tab)) +
                     ": the server's map URL ends at it, so the server " +
                     WhatTheServerTakes(found) + ". Write a space instead of the tab.");
  return true;
}

// The map URL ends at a blank, and what follows it is no dash option but words or '?' options:
// the server takes them for arguments of their own and ignores them. '?' options written after a
// dash option are not the server's either.
void WarnOfTheFirstArgument(const Discovery& found, std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  const std::vector<std::string> tokens = TokensAfterTheUrl(line);
  std::size_t ignored = 0;
  while (ignored < tokens.size() && !IsDashToken(tokens[ignored])) ++ignored;
  if (ignored > 0) {
    std::string rest;
    bool onlyOptions = true;
    std::string joined = *line.MapUrl;
    for (std::size_t i = 0; i < ignored; ++i) {
      rest += (i == 0 ? "" : " ") + tokens[i];
      onlyOptions = onlyOptions && tokens[i].starts_with('?');
      joined += tokens[i];
    }
    const std::vector<std::string> unseen = QuestionOptions(rest);
    std::string warning = "The server's first argument ends at the blank after " +
                          Quoted(*line.MapUrl) + ": it takes " + Quoted(rest) +
                          " for separate arguments and ignores them, so it " +
                          WhatTheServerTakes(found);
    if (!unseen.empty()) {
      warning += ", and it never sees " + Listed(unseen) + " (neither does the plugin)";
    }
    // Options set apart by blanks ("?MaxPlayers=40 ?RCONEnabled=True") need only the blanks gone;
    // words need quotes around the whole argument, or around the name where Wine passes the line
    // on.
    if (onlyOptions) {
      warning += ". Delete the blanks before the '?': " + Quoted(joined);
    } else {
      // Blanks before a '?' would end up in the option before it, once the argument is whole.
      const std::string key = KeyOfTheValueAt(*line.MapUrl, line.MapUrl->size());
      std::string whole = WithoutQuotes(*line.MapUrl + " " + rest);
      for (std::size_t at; (at = whole.find(" ?")) != std::string::npos;) whole.erase(at, 1);
      warning +=
          std::string(". ") + kHowToQuote + ": " + Quoted(whole) + "; " + HowToQuoteInAScript(key);
    }
    warnings.push_back(warning + ".");
  }
  std::vector<std::string> late;
  for (std::size_t i = ignored; i < tokens.size(); ++i) {
    if (IsDashToken(tokens[i])) continue;
    for (std::string& option : QuestionOptions(tokens[i])) late.push_back(std::move(option));
  }
  if (!late.empty()) {
    warnings.push_back(Listed(late) + (late.size() == 1 ? " stands" : " stand") +
                       " after the server's first argument, where neither the server nor the "
                       "plugin reads '?' options: write " +
                       (late.size() == 1 ? "it" : "them") +
                       " onto the first argument, right after the map and its other options.");
  }
}

// ?SessionName= given twice in the map URL: the first counts.
void WarnOfTwoSessionNames(const LaunchLine& line, std::vector<Warning>& warnings) {
  const std::string lowered = LowerAscii(*line.MapUrl);
  std::size_t count = 0;
  for (std::size_t at = lowered.find(kSessionNameKey); at != std::string::npos;
       at = lowered.find(kSessionNameKey, at + 1)) {
    ++count;
  }
  if (count < 2) return;
  const std::optional<std::string> name = ScanLaunchSessionName(line);
  warnings.push_back({"The first argument gives ?SessionName= " + std::to_string(count) +
                          " times: the server takes the first, " +
                          (name ? Quoted(*name) : std::string("an empty one")) +
                          ", and so does the heartbeat. Delete the others.",
                      WarningWeight::kAside});
}

// The limit the admin asks for without -WinLiveMaxPlayers=, which the game keeps at 70.
void WarnOfThePlayerLimit(const Discovery& found, std::vector<Warning>& warnings) {
  const ServerInfoSources& info = found.Info;
  const std::optional<std::int32_t>& winLive = info.LaunchWinLiveMaxPlayers.Value;
  if (winLive && *winLive >= 1) return;
  // What the admin asks for, in the order the admin most likely set them.
  std::vector<std::string> asks;
  std::optional<std::int32_t> asked;
  const auto ask = [&](std::string_view what, std::optional<std::int32_t> limit) {
    if (!limit || *limit <= 0 || *limit == kGamePlayerLimit) return;
    asks.push_back(std::string(what) + " asks for " + std::to_string(*limit));
    if (!asked) asked = limit;
  };
  ask("The settings file's MaxPlayers",
      info.FileMaxPlayers.empty() ? std::nullopt : ParseDecimal32(info.FileMaxPlayers));
  ask("?MaxPlayers=", info.LaunchMaxPlayers.Value);
  ask("-MaxPlayers=", info.LaunchDashMaxPlayers.Value);
  if (!asked) return;
  warnings.push_back(
      Listed(asks) + ", but the server keeps " + std::to_string(kGamePlayerLimit) +
      " players unless its launch line has -WinLiveMaxPlayers=N (it even writes " +
      std::to_string(kGamePlayerLimit) +
      " back into the settings file), as admins of this game report; the heartbeat sends " +
      std::to_string(found.Facts.PlayerLimit) +
      ". Add -WinLiveMaxPlayers=" + std::to_string(*asked) + " to the launch line.");
}

// The mods the game loads are -mods='s; ActiveMods alone loads none.
void WarnOfTheMods(const Discovery& found, std::vector<Warning>& warnings) {
  const ServerInfoSources& info = found.Info;
  if (info.FileActiveMods.empty()) return;
  if (!info.LaunchMods) {
    warnings.push_back(
        "The settings file's ActiveMods lists " + Quoted(info.FileActiveMods) +
        ", but the launch line has no -mods=: the game loads the mods given with -mods= (admins "
        "report that ActiveMods alone loads none), while the heartbeat sends ActiveMods' list. "
        "Add -mods=" +
        WithoutBlanks(info.FileActiveMods) + " to the launch line.");
  } else if (CleanModList(*info.LaunchMods) != CleanModList(info.FileActiveMods)) {
    // Lists that differ only in blanks and empty places are the same mods; a loose list has a
    // warning of its own.
    warnings.push_back({"-mods= gives " + Quoted(*info.LaunchMods) +
                            " and the settings file's ActiveMods " + Quoted(info.FileActiveMods) +
                            ": the game loads the mods of -mods=, and the heartbeat sends them; "
                            "ActiveMods is ignored.",
                        WarningWeight::kAside});
  }
}

// ?ServerPVE= and the settings file disagree: the launch option decides.
void WarnOfPve(const Discovery& found, std::vector<Warning>& warnings) {
  const ServerInfoSources& info = found.Info;
  if (!info.LaunchPve) return;
  const bool bKey = !info.FileBServerPve.empty();
  const std::string& file = bKey ? info.FileBServerPve : info.FileServerPve;
  if (file.empty()) return;
  // A launch value that is neither True nor False has a warning of its own.
  if (!IsTrueOrFalse(*info.LaunchPve)) return;
  const bool launchPve = LowerAscii(*info.LaunchPve) == "true";
  if (launchPve == (LowerAscii(file) == "true")) return;
  warnings.push_back({"?ServerPVE=" + *info.LaunchPve + " on the launch line and " +
                          (bKey ? "bServerPVE=" : "ServerPVE=") + file +
                          " in the settings file disagree: the launch option decides, so the "
                          "server runs as " +
                          (launchPve ? "PvE" : "PvP") + " and the heartbeat says so.",
                      WarningWeight::kAside});
}

// config.json's port is sent, whatever port the server listens on.
void WarnOfAnotherPort(const LaunchLine& line, const Discovery& found,
                       std::vector<Warning>& warnings) {
  const std::int32_t filePort = found.Gate.Port.Value;
  if (found.Gate.Launch || filePort < 1) return;
  const LaunchPort launch = ScanLaunchPort(line);
  const std::optional<std::int32_t> port = launch.Port();
  if (!port || *port < 1 || *port == filePort) return;
  const std::string key = launch.Deciding() == &launch.Question ? "?Port=" : "-port=";
  // A cluster's maps often share one install and its config.json: a number there fits one map
  // and breaks every other, so only 0 is the fix.
  const bool cluster = LowerAscii(line.EngineLine).find("-clusterid=") != std::string::npos;
  warnings.push_back(
      "config.json \"port\" is " + std::to_string(filePort) + " while the launch line gives " +
      key + std::to_string(*port) + ": the heartbeat sends " + std::to_string(filePort) +
      ", so players who pick the server from the list are sent to a port it does not listen "
      "on. " +
      (cluster ? std::string("This server is one of a cluster (-clusterid=), whose servers often "
                             "share one config.json: give \"port\": 0, so that each server "
                             "sends the port of its own launch line.")
               : "Give \"port\": " + std::to_string(*port) +
                     ", or 0 to take the launch line's port (the way to run several servers "
                     "from one install)."));
}

// -mods=928102, 931877: the blank after the comma ends the argument, and with it the list.
bool WarnOfAModListSplitAtABlank(const LaunchLine& line, std::vector<Warning>& warnings) {
  for (std::size_t i = 1; i < line.Arguments.size(); ++i) {
    const std::string& value = line.Arguments[i].Value;
    const std::size_t key = LowerAscii(value).find(kModsKey);
    if (key == std::string::npos) continue;
    const std::string list = value.substr(key + kModsKey.size());
    if (!list.ends_with(',')) return false;
    std::string rest;
    for (std::size_t j = i + 1; j < line.Arguments.size() && IsModList(line.Arguments[j].Value);
         ++j) {
      rest += (rest.empty() ? "" : " ") + line.Arguments[j].Value;
    }
    if (rest.empty()) return false;
    warnings.push_back("-mods= ends at the blank after " + Quoted(list) +
                       ": the game gets the list " + Quoted(list) + " and takes " + Quoted(rest) +
                       " for arguments of its own, so it loads only the mods before the blank; "
                       "the heartbeat sends " +
                       Quoted(list) + " too. Write the list without blanks: -mods=" +
                       WithoutBlanks(list + rest) + ".");
    return true;
  }
  return false;
}

// The dash options with a value that the checker warns of: the key as looked for (lowered, with
// its '='), as an admin writes it, what the server loses when it reads no value there, and whether
// the heartbeat takes it through the engine's value reader, which reads no key right after a
// letter or digit (-mods= is taken from its own argument; -MaxPlayers= gives no published fact).
struct DashKey {
  std::string_view Key;
  std::string_view Written;
  std::string_view Lost;
  bool PublishedThroughValueReader;
};
constexpr DashKey kDashKeys[] = {
    {kWinLiveMaxPlayersKey, "-WinLiveMaxPlayers=", "the player limit stays the game's 70", true},
    {kDashPortKey, "-port=", "the port is not taken from it", true},
    {"-mods=", "-mods=", "no mod is loaded from it", false},
    {"-maxplayers=", "-MaxPlayers=", "nothing is taken from it", false},
};

// -WinLiveMaxPlayers 50: a blank instead of '=', so the server reads no value from the key.
void WarnOfABlankInsteadOfEquals(const LaunchLine& line, std::vector<Warning>& warnings) {
  for (std::size_t i = 1; i + 1 < line.Arguments.size(); ++i) {
    const std::string lowered = LowerAscii(line.Arguments[i].Value) + '=';
    const std::string& next = line.Arguments[i + 1].Value;
    if (next.empty() || next.starts_with('-')) continue;
    for (const DashKey& key : kDashKeys) {
      if (lowered != key.Key) continue;
      const std::string value = key.Key == "-mods=" ? WithoutBlanks(next) : std::string(next);
      warnings.push_back(line.Arguments[i].Value + " " + next +
                         " has a blank instead of '=': the server reads no value from " +
                         line.Arguments[i].Value + " and takes " + Quoted(next) +
                         " for an argument of its own, so " + std::string(key.Lost) + ". Write " +
                         std::string(key.Written) + value + ".");
    }
  }
}

// A dash key glued to the word before it (-NoBattlEye-WinLiveMaxPlayers=50): the server looks for
// its options only where no letter or digit comes first, so it reads none there.
void WarnOfADashKeyAfterALetter(const LaunchLine& line, std::vector<Warning>& warnings) {
  const std::string_view engine = line.EngineLine;
  const std::string lowered = LowerAscii(engine);
  for (const DashKey& key : kDashKeys) {
    if (!key.PublishedThroughValueReader || FindDashKey(engine, key.Key)) continue;
    bool quoted = false;
    for (std::size_t at = 0; at < engine.size(); ++at) {
      if (engine[at] == '"') quoted = !quoted;
      if (quoted || at == 0 || lowered.compare(at, key.Key.size(), key.Key) != 0 ||
          !std::isalnum(static_cast<unsigned char>(engine[at - 1]))) {
        continue;
      }
      const std::size_t start = engine.find_last_of(" \t", at) + 1;  // npos + 1 is 0
      const std::size_t end = std::min(engine.find_first_of(" \t", at), engine.size());
      const std::string word(engine.substr(start, end - start));
      const std::string fixed = word.substr(0, at - start) + " " + word.substr(at - start);
      warnings.push_back(Quoted(word) + " has no blank before " + std::string(key.Written) +
                         ": the server reads no option right after a letter or digit, so " +
                         std::string(key.Lost) + ". Write a blank before it: " + fixed + ".");
      break;
    }
  }
}

// A dash password option with nothing behind its '=' but blanks and another option, as a start
// script writes -ServerAdminPassword=${ADMIN_PASSWORD} with the variable unset: the engine's value
// reader passes over the blanks and takes that option for the password, which anyone can then
// read off the launch line.
void WarnOfAnEmptyDashPassword(const LaunchLine& line, std::vector<Warning>& warnings) {
  const std::string_view engine = line.EngineLine;
  bool quoted = false;
  for (std::size_t at = 0; at < engine.size(); ++at) {
    const bool start = !quoted && engine[at] == '-' &&
                       (at == 0 || !std::isalnum(static_cast<unsigned char>(engine[at - 1])));
    if (engine[at] == '"') quoted = !quoted;
    if (!start) continue;
    const std::size_t equals = engine.find_first_of("= \t\"", at);
    if (equals == std::string_view::npos || engine[equals] != '=' ||
        LowerAscii(engine.substr(at, equals - at)).find("password") == std::string::npos) {
      continue;
    }
    const std::size_t next = engine.find_first_not_of(" \t\r\n", equals + 1);
    if (next == equals + 1 || next == std::string_view::npos || engine[next] != '-') continue;
    const std::string key(engine.substr(at, equals + 1 - at));
    const std::string taken(engine.substr(next, engine.find_first_of(" \t\r\n,)", next) - next));
    warnings.push_back(key +
                       " is followed by a blank and no value: the server reads on past the "
                       "blank and takes the next option, " +
                       taken +
                       ", for the password, which anyone who sees the launch line can read. " +
                       "Write the password right after '=', or delete " + key +
                       " (in a start script, give the variable that should fill it a value).");
  }
}

// ?Port= and -port= both given, with different ports.
void WarnOfTwoPorts(const LaunchLine& line, const Discovery& found,
                    std::vector<Warning>& warnings) {
  const LaunchNumber question = LaunchNumberFrom(line, kQuestionPortKey);
  const LaunchNumber dash = LaunchNumberFrom(line, kDashPortKey);
  if (!question.Value || !dash.Value || *question.Value < 1 || *dash.Value < 1 ||
      *question.Value == *dash.Value) {
    return;
  }
  const std::string sent =
      found.Gate.Launch
          ? "the heartbeat sends " + std::to_string(found.Facts.ServerPort) +
                ", from ?Port=, which the plugin reads first"
          : "the heartbeat sends config.json's port, " + std::to_string(found.Facts.ServerPort);
  warnings.push_back("The launch line gives ?Port=" + std::to_string(*question.Value) +
                     " and -port=" + std::to_string(*dash.Value) +
                     ", two different ports; which of them the server listens on is not "
                     "known, and " +
                     sent +
                     ". Give the server one port: delete one of them, or make both the same.");
}

// -MaxPlayers= beside a different -WinLiveMaxPlayers=, which alone the game takes.
void WarnOfTwoPlayerLimits(const Discovery& found, std::vector<Warning>& warnings) {
  const ServerInfoSources& info = found.Info;
  const std::optional<std::int32_t>& winLive = info.LaunchWinLiveMaxPlayers.Value;
  const std::optional<std::int32_t>& dash = info.LaunchDashMaxPlayers.Value;
  if (!winLive || *winLive < 1 || !dash || *dash == *winLive) return;
  warnings.push_back({"The launch line gives -MaxPlayers=" + std::to_string(*dash) +
                          " beside -WinLiveMaxPlayers=" + std::to_string(*winLive) +
                          ": the game takes -WinLiveMaxPlayers=, and the heartbeat sends " +
                          std::to_string(found.Facts.PlayerLimit) + ". Delete -MaxPlayers=" +
                          std::to_string(*dash) + ", which only misleads.",
                      WarningWeight::kAside});
}

// Curly quotes, as a guide or a word processor writes them: no quotes to Windows or the server.
bool WarnOfCurlyQuotes(const LaunchLine& line, std::vector<Warning>& warnings) {
  constexpr std::string_view kCurly[] = {"\xE2\x80\x9C", "\xE2\x80\x9D", "\xE2\x80\x9E"};
  const std::size_t program = line.Arguments.empty() ? 0 : line.Arguments[0].End;
  // The rest of the line with each curly quote made straight, built by appending: g++ 12 takes a
  // replace inside the string for an overlapping copy at -O3 and fails the build.
  const std::string_view text = std::string_view(line.Text).substr(program);
  std::string rest;
  bool found = false;
  for (std::size_t i = 0; i < text.size();) {
    const auto curly =
        std::find_if(std::begin(kCurly), std::end(kCurly),
                     [&](std::string_view quote) { return text.substr(i).starts_with(quote); });
    if (curly == std::end(kCurly)) {
      rest += text[i++];
      continue;
    }
    rest += '"';
    i += curly->size();
    found = true;
  }
  if (!found) return false;
  const std::optional<std::string> name = ScanLaunchSessionName(line);
  warnings.push_back(
      "The launch line holds curly quotes (\xE2\x80\x9C \xE2\x80\x9D), as a guide or a word "
      "processor writes them: neither Windows nor the server takes them for quotes, so the blanks "
      "between them split the argument, and the server " +
      (name ? "shows the session name " + Quoted(*name) : std::string("gets no session name")) +
      ". Write straight double quotes instead: " + std::string(Trimmed(rest)));
  return true;
}

// Options written with a look-alike of the hyphen-minus, copied from a guide or a chat: neither
// the server nor the plugin takes them for options.
void WarnOfLookAlikeDashes(const Discovery& found, std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  std::vector<std::string> written;
  std::vector<std::string> names;
  std::vector<std::string> fixed;
  std::vector<std::string> lost;
  const auto lose = [&](std::string what) {
    if (std::find(lost.begin(), lost.end(), what) == lost.end()) lost.push_back(std::move(what));
  };
  for (std::size_t i = 1; i < line.Arguments.size(); ++i) {
    for (const std::string_view word : Words(line.Arguments[i].Value)) {
      const LookAlikeDash* dash = LookAlikeDashOf(word);
      if (dash == nullptr) continue;
      written.push_back(Quoted(word));
      if (std::find(names.begin(), names.end(), dash->Name) == names.end()) {
        names.emplace_back(dash->Name);
      }
      // Built by appending: g++ 12 warns falsely of overlapping copies in "-" + a temporary.
      std::string option = "-";
      option.append(word.substr(dash->Bytes.size()));
      fixed.push_back(option);
      const std::string key = LowerAscii(option);
      if (key.starts_with(kWinLiveMaxPlayersKey)) {
        lose("the player limit stays " + std::to_string(found.Facts.PlayerLimit));
      } else if (key.starts_with(kDashPortKey)) {
        lose("the port is not taken from it");
      } else if (key.starts_with(kModsKey)) {
        lose("no mod is loaded from it");
      } else if (key.find("password") != std::string::npos) {
        lose("the server goes without that password");
      }
    }
  }
  if (written.empty()) return;
  const bool one = written.size() == 1;
  std::string warning = "The launch line writes " + Listed(written) + " with " + Listed(names) +
                        " where the hyphen-minus, -, belongs, as a guide, a word processor or a "
                        "chat writes it: neither the server nor the plugin takes " +
                        (one ? "it for an option" : "them for options");
  if (!lost.empty()) warning += ", so " + Listed(lost);
  warnings.push_back(warning + ". Type the dash anew, as - on the keyboard: " + Listed(fixed) +
                     ".");
}

// A start script saved with Windows line ends: the shell keeps the CR at the end of each line as
// part of that line's last argument, and a line ended by '\' goes on no further, since the
// backslash quotes the CR instead of the line break.
void WarnOfCarriageReturns(const LaunchLine& line, std::vector<Warning>& warnings) {
  if (line.Text.find('\r') == std::string::npos) return;
  std::vector<std::string> holding;
  bool alone = false;
  for (std::size_t i = 1; i < line.Arguments.size(); ++i) {
    const std::string& value = line.Arguments[i].Value;
    if (value.find('\r') == std::string::npos) continue;
    if (value.find_first_not_of("\r") == std::string::npos) {
      alone = true;
    } else {
      holding.push_back(Quoted(value));
    }
  }
  std::string warning =
      "The launch line holds a carriage return (CR, shown as \\u000d)" +
      (holding.empty() ? std::string() : " at the end of " + Listed(holding)) +
      ": the start script that runs the server was saved with Windows line ends (CR LF), and the "
      "shell keeps each line's CR as part of its last argument. ";
  warning += alone ? "A line that ends with \\ goes on no further: the \\ quotes the CR instead of "
                     "the line break, so the server gets an argument that is a CR alone and "
                     "never sees the options on the lines after it (the shell runs them as "
                     "commands of their own). "
                   : "The plugin and the server's own reader of its options pass over a CR at "
                     "an argument's end, but not one inside a value in double quotes (a path "
                     "with a blank, say): the server keeps it as part of that value. ";
  // Options lost on the lines after a broken continuation change what the server takes; a CR at
  // an argument's end alone changes nothing the heartbeat reports.
  warnings.push_back({warning +
                          "Convert the script to Unix line ends: dos2unix followed by the "
                          "script's name, or in its editor choose LF line ends (in Notepad++: "
                          "Edit, EOL Conversion, Unix (LF)), then start the server again.",
                      alone ? WarningWeight::kOutcome : WarningWeight::kAside});
}

// ?WinLiveMaxPlayers= in the map URL: the game reads the player limit from the dash option alone.
void WarnOfAQuestionWinLiveMaxPlayers(const Discovery& found, std::vector<Warning>& warnings) {
  const std::optional<std::string_view> value = QuestionOption(found.Launch, "?winlivemaxplayers=");
  if (!value) return;
  const std::string asked = std::string(Trimmed(WithoutQuotes(*value)));
  const std::optional<std::int32_t>& dash = found.Info.LaunchWinLiveMaxPlayers.Value;
  const std::optional<std::int32_t> number = ParseDecimal32(asked);
  // The dash option gives the same limit already: the '?' one only misleads.
  if (dash && number && *dash == *number) return;
  std::string warning = "?WinLiveMaxPlayers=" + asked +
                        " in the server's map URL is not the option: the game takes the player "
                        "limit from -WinLiveMaxPlayers= alone, an argument of its own after the "
                        "map URL, so the server keeps " +
                        std::to_string(found.Facts.PlayerLimit) +
                        " players, and the heartbeat sends " +
                        std::to_string(found.Facts.PlayerLimit) + ". ";
  warning += dash ? "Change -WinLiveMaxPlayers=" + std::to_string(*dash) +
                        " to -WinLiveMaxPlayers=" + asked +
                        " if that is the limit you mean, and delete ?WinLiveMaxPlayers=" + asked +
                        "."
                  : "Write -WinLiveMaxPlayers=" + asked +
                        " after the map URL instead, and delete ?WinLiveMaxPlayers=" + asked + ".";
  warnings.push_back(std::move(warning));
}

// A mod list with blanks inside it or an empty place (a comma at either end, two in a row): the
// game gets the list as written, and the heartbeat sends it so. A list split at a blank into
// arguments of their own has a warning of its own.
void WarnOfALooseModList(const Discovery& found, std::vector<Warning>& warnings) {
  const std::optional<std::string>& list = found.Info.LaunchMods;
  if (!list) return;
  std::vector<std::string> faults;
  std::size_t blanks = 0;
  bool besideCommas = true;
  for (std::size_t i = 0; i < list->size(); ++i) {
    if ((*list)[i] != ' ' && (*list)[i] != '\t') continue;
    ++blanks;
    const std::size_t before = list->find_last_not_of(" \t", i);
    const std::size_t after = list->find_first_not_of(" \t", i);
    besideCommas = besideCommas && ((before != std::string::npos && (*list)[before] == ',') ||
                                    (after != std::string::npos && (*list)[after] == ','));
  }
  if (blanks > 0) {
    faults.emplace_back(!besideCommas ? "blanks inside it"
                        : blanks == 1 ? "a blank beside a comma"
                                      : "blanks beside its commas");
  }
  if (list->starts_with(',')) faults.emplace_back("a comma before the first id");
  if (list->find(",,") != std::string::npos) faults.emplace_back("two commas in a row");
  if (list->ends_with(',')) faults.emplace_back("a comma after the last id");
  if (faults.empty()) return;
  const std::string clean = CleanModList(*list);
  if (clean.empty()) {
    warnings.push_back("-mods= gives " + Quoted(*list) +
                       ", commas without a single id: the game gets no mod from it, and the "
                       "heartbeat sends it as written. Write the mods' ids there, joined by "
                       "commas, or delete -mods=.");
    return;
  }
  warnings.push_back("-mods= gives " + Quoted(*list) + ", with " + Listed(faults) +
                     ": the game gets the list as written, and so does the server list, which "
                     "the heartbeat sends it to. Write the list with the ids alone, joined by "
                     "commas: -mods=" +
                     clean + ".");
}

// ?ServerPVE with no value: the plugin reads no PvE value from it.
void WarnOfABareServerPve(const Discovery& found, std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  if (!line.MapUrl || found.Info.LaunchPve) return;
  const std::string url = LowerAscii(*line.MapUrl);
  constexpr std::string_view kKey = "?serverpve";
  for (std::size_t at = url.find(kKey); at != std::string::npos; at = url.find(kKey, at + 1)) {
    std::size_t end = at + kKey.size();
    if (end < url.size() && url[end] == '=') ++end;
    if (end < url.size() && url[end] != '?') continue;
    const std::string written = line.MapUrl->substr(at, end - at);
    warnings.push_back(
        written +
        " stands in the server's map URL with no value: the plugin counts only "
        "?ServerPVE=True as PvE, so " +
        (found.Facts.IsPve ? std::string("it takes PvE from the settings file instead, which says "
                                         "PvE")
                           : std::string("PvE counts as off, and the heartbeat says the server "
                                         "is not PvE")) +
        "; what the server itself makes of it is not known. Write ?ServerPVE=True for PvE, or "
        "?ServerPVE=False.");
    return;
  }
}

}  // namespace

void WarnOfLaunchLine(const Discovery& found, std::vector<Warning>& warnings) {
  const LaunchLine& line = found.Launch;
  if (line.Text.empty()) return;
  WarnOfAPasswordInTheName(line, warnings);
  // The shapes that end the server's map URL elsewhere than the admin meant; each explains the
  // whole of what the server then takes, so at most one of them is told.
  const bool shape =
      WarnOfAnUnquotedProgramPath(found, warnings) ||
      WarnOfADashOptionBeforeTheMap(line, warnings) ||
      WarnOfQuotesInsideAWholeQuotedArgument(found, warnings) ||
      WarnOfAnUnclosedQuote(found, warnings) || WarnOfATabInTheFirstArgument(found, warnings) ||
      WarnOfDashOptionsInsideTheFirstArgument(found, warnings) || WarnOfCurlyQuotes(line, warnings);
  if (line.MapUrl) {
    if (!shape) WarnOfTheFirstArgument(found, warnings);
    WarnOfTwoSessionNames(line, warnings);
  }
  WarnOfLookAlikeDashes(found, warnings);
  WarnOfCarriageReturns(line, warnings);
  WarnOfABlankInsteadOfEquals(line, warnings);
  WarnOfADashKeyAfterALetter(line, warnings);
  WarnOfAnEmptyDashPassword(line, warnings);
  const bool splitMods = WarnOfAModListSplitAtABlank(line, warnings);
  if (!splitMods) WarnOfALooseModList(found, warnings);
  WarnOfTwoPorts(line, found, warnings);
  WarnOfAQuestionWinLiveMaxPlayers(found, warnings);
  WarnOfThePlayerLimit(found, warnings);
  WarnOfTwoPlayerLimits(found, warnings);
  if (!splitMods) WarnOfTheMods(found, warnings);
  WarnOfABareServerPve(found, warnings);
  WarnOfPve(found, warnings);
  WarnOfAnotherPort(line, found, warnings);
}

// ?ServerPVE= with a value that is neither True nor False, as admins write 1 or yes: the heartbeat
// counts only True as PvE, and nobody has tested what the server makes of it.
void WarnOfAnUnclearPveOption(const Discovery& found, std::vector<Warning>& warnings) {
  const std::optional<std::string>& value = found.Info.LaunchPve;
  if (found.Launch.Text.empty() || !value || IsTrueOrFalse(*value)) return;
  // The value comes from the launch line with its passwords marked, as every message quotes it.
  warnings.push_back("?ServerPVE=" + *value + " on the launch line is neither True nor False: " +
                     PveNeitherTrueNorFalse(*value) +
                     ". Write ?ServerPVE=True or ?ServerPVE=False.");
}

}  // namespace vesperline::check
