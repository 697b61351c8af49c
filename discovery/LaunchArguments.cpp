#include "discovery/LaunchArguments.h"

#include "common/Decimal.h"
#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
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

// A text value as the server reads it: each `\"` is a quote of the value's own, and the quotes
// that grouped it into its argument, the blanks they held and the given further bytes at either
// end are no part of it.
std::optional<std::string> CleanValue(std::string_view raw, std::string_view alsoStripped) {
  std::string value;
  value.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == '"') continue;
    value += raw[i];
  }
  const std::string stripped = std::string("\" \t").append(alsoStripped);
  const std::string_view kept = StripEnds(value, stripped);
  if (kept.empty()) return std::nullopt;
  return std::string(kept);
}

// Finds the partner of each double quote in one pass along the line. A failed search is
// remembered, so that a line full of quotes without partners costs no more than one pass.
class QuotePartners {
 public:
  explicit QuotePartners(std::string_view line) : line_(line) {}

  // The position of the partner of the quote at `at`, or npos.
  std::size_t Of(std::size_t at) {
    const bool escaped = IsEscaped(at);
    std::size_t& noneFrom = escaped ? noEscapedFrom_ : noPlainFrom_;
    if (at + 1 >= noneFrom) return std::string_view::npos;
    for (std::size_t i = at + 1; i < line_.size(); ++i) {
      if (line_[i] == '"' && IsEscaped(i) == escaped) return i;
    }
    noneFrom = at + 1;
    return std::string_view::npos;
  }

 private:
  bool IsEscaped(std::size_t at) const { return at > 0 && line_[at - 1] == '\\'; }

  std::string_view line_;
  std::size_t noPlainFrom_ = std::string_view::npos;
  std::size_t noEscapedFrom_ = std::string_view::npos;
};

std::vector<LaunchArgument> SplitArguments(std::string_view line) {
  std::vector<LaunchArgument> arguments;
  QuotePartners partners(line);
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) break;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) {
      if (line[i] == '"') {
        const std::size_t partner = partners.Of(i);
        if (partner != std::string_view::npos) {
          i = partner + 1;
          continue;
        }
      }
      ++i;
    }
    arguments.push_back({start, i});
  }
  return arguments;
}

// The token the map scan takes last: where it starts and how long it is.
struct MapToken {
  std::size_t Start = 0;
  std::size_t Length = 0;
};

bool IsPassedOverAsMap(std::string_view token) {
  if (token == "start") return true;
  return token.size() >= 4 && LowerAscii(token.substr(token.size() - 4)) == ".exe";
}

std::string MapFromToken(std::string_view commandLine, MapToken token) {
  return std::string(StripEnds(commandLine.substr(token.Start, token.Length), "\"\\"));
}

std::optional<MapToken> FindMapToken(std::string_view commandLine) {
  const std::size_t n = commandLine.size();
  // Behind the executable path, which is in double quotes when it holds a space.
  if (n == 0) return std::nullopt;
  const bool quoted = commandLine[0] == '"';
  std::size_t pos = quoted ? commandLine.find('"', 1) : commandLine.find(' ');
  if (pos == std::string_view::npos) return std::nullopt;
  if (quoted) ++pos;
  std::optional<MapToken> map;
  for (;;) {
    while (pos < n && commandLine[pos] == ' ') ++pos;
    if (pos >= n) return map;
    const std::size_t end = commandLine.find_first_of("? ", pos);
    map = MapToken{pos, (end == std::string_view::npos ? n : end) - pos};
    // A launcher word or a further piece of an unquoted executable path is not the map; the
    // next argument is tried, but only within the run of space-separated arguments.
    if (!IsPassedOverAsMap(MapFromToken(commandLine, *map))) return map;
    if (end == std::string_view::npos || commandLine[end] == '?') return map;
    pos = end;
  }
}

}  // namespace

LaunchLine SplitLaunchLine(std::string commandLine) {
  LaunchLine line;
  line.Text = std::move(commandLine);
  line.Lowered = LowerAscii(line.Text);
  line.Arguments = SplitArguments(line.Text);
  if (const std::optional<MapToken> map = FindMapToken(line.Text)) {
    line.Map = MapFromToken(line.Text, *map);
    // The argument that holds the map token; the map scan skips only spaces, so a token may begin
    // with a tab that the split counts as a blank.
    for (std::size_t i = 0; i < line.Arguments.size(); ++i) {
      if (line.Arguments[i].End > map->Start) {
        line.First = i;
        break;
      }
    }
  }
  return line;
}

std::string_view ArgumentText(const LaunchLine& line, const LaunchArgument& argument) {
  return std::string_view(line.Text).substr(argument.Start, argument.End - argument.Start);
}

std::optional<std::size_t> FindLaunchKey(std::string_view lowered, std::string_view key) {
  const std::size_t at = lowered.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  return at;
}

std::optional<std::string_view> QuestionOption(const LaunchLine& line, std::string_view key) {
  if (!line.First) return std::nullopt;
  const LaunchArgument& first = line.Arguments[*line.First];
  const std::string_view lowered =
      std::string_view(line.Lowered).substr(first.Start, first.End - first.Start);
  const std::optional<std::size_t> at = FindLaunchKey(lowered, key);
  if (!at) return std::nullopt;
  const std::string_view argument = ArgumentText(line, first);
  const std::size_t start = *at + key.size();
  const std::size_t end = argument.find('?', start);
  return argument.substr(start, end == std::string_view::npos ? end : end - start);
}

LaunchNumber LaunchNumberFrom(const LaunchLine& line, std::string_view key) {
  LaunchNumber number;
  number.Key = key;
  std::optional<std::string_view> value;
  if (key.starts_with('?')) {
    value = QuestionOption(line, key);
  } else if (const std::optional<std::size_t> at = FindLaunchKey(line.Lowered, key)) {
    value = std::string_view(line.Text).substr(*at + key.size());
  }
  if (!value) return number;
  number.Found = true;
  number.Value = ParseDecimal32(*value);
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

LaunchPort ScanLaunchPort(const LaunchLine& line) {
  LaunchPort port;
  port.Question = LaunchNumberFrom(line, kQuestionPortKey);
  if (!port.Question.Value || *port.Question.Value < 1) {
    port.Dash = LaunchNumberFrom(line, kDashPortKey);
  }
  return port;
}

std::optional<std::string> ScanLaunchSessionName(const LaunchLine& line) {
  const std::optional<std::string_view> value = QuestionOption(line, kSessionNameKey);
  if (!value) return std::nullopt;
  return CleanValue(*value, "'");
}

LaunchNumber ScanLaunchMaxPlayers(const LaunchLine& line) {
  for (const std::string_view candidate : kMaxPlayersKeys) {
    LaunchNumber number = LaunchNumberFrom(line, candidate);
    if (number.Found) return number;
  }
  return {};
}

std::optional<std::string> ScanLaunchMods(const LaunchLine& line) {
  const std::optional<std::size_t> at = FindLaunchKey(line.Lowered, kModsKey);
  if (!at) return std::nullopt;
  // The key lies inside an argument, since it holds no blank.
  std::size_t end = line.Text.size();
  for (const LaunchArgument& argument : line.Arguments) {
    if (argument.Start <= *at && *at < argument.End) end = argument.End;
  }
  const std::size_t start = *at + kModsKey.size();
  return CleanValue(std::string_view(line.Text).substr(start, end - start), "");
}

std::optional<std::string> ScanLaunchPve(const LaunchLine& line) {
  const std::optional<std::string_view> value = QuestionOption(line, kServerPveKey);
  if (!value) return std::nullopt;
  return CleanValue(*value, "");
}

std::optional<std::string> ScanLaunchMap(std::string_view commandLine) {
  const std::optional<MapToken> map = FindMapToken(commandLine);
  if (!map) return std::nullopt;
  return MapFromToken(commandLine, *map);
}

std::string ReadCommandLineText() {
  return platform::ProcessCommandLine();
}

}  // namespace vesperline
