#include "discovery/LaunchArguments.h"

#include <algorithm>

#include "common/Decimal.h"
#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// White space as the engine's tokenizer knows it.
bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
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

constexpr std::string_view kQuotesAndBlanks = "\" \t";
constexpr std::string_view kQuotesAndWhiteSpace = "\" \t\r\n\v\f";
constexpr std::string_view kQuotesApostrophesAndBlanks = "\"' \t";

// The value without the given bytes at either end; nothing when that leaves it empty.
std::optional<std::string> Cleaned(std::string_view raw, std::string_view stripped) {
  const std::string_view kept = StripEnds(raw, stripped);
  if (kept.empty()) return std::nullopt;
  return std::string(kept);
}

// The position of the first occurrence of a lower-case key in text, compared without regard to
// ASCII case.
std::optional<std::size_t> FindCaseless(std::string_view text, std::string_view key) {
  if (key.empty() || text.size() < key.size()) return std::nullopt;
  for (std::size_t at = 0; at + key.size() <= text.size(); ++at) {
    std::size_t i = 0;
    while (i < key.size() && LowerAsciiByte(text[at + i]) == key[i]) ++i;
    if (i == key.size()) return at;
  }
  return std::nullopt;
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool EndsWithExe(std::string_view token) {
  return token.size() >= 4 && LowerAscii(token.substr(token.size() - 4)) == ".exe";
}

// A word of a name that holds a password: "password=" in any case, or a dash key holding
// "password" (-ServerAdminPassword hunter2), also behind the quotes a launcher put around it.
bool IsPasswordWord(std::string_view word) {
  const std::string lowered = LowerAscii(word);
  if (lowered.find("password=") != std::string::npos) return true;
  const std::string_view bare = StripEnds(lowered, "\"'");
  return bare.starts_with('-') && bare.find("password") != std::string_view::npos;
}

// Where WithoutPasswords cuts text: the start of the first password word, or npos.
std::size_t PasswordCut(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    if (i > start && IsPasswordWord(text.substr(start, i - start))) return start;
  }
  return std::string_view::npos;
}

}  // namespace

std::string EngineCommandLine(const std::vector<CommandLineArgument>& arguments,
                              std::vector<std::size_t>* sources) {
  constexpr std::size_t kAdded = std::string_view::npos;
  std::size_t length = 0;
  for (std::size_t i = 1; i < arguments.size(); ++i) length += arguments[i].Value.size() + 3;
  std::string line;
  line.reserve(length);
  if (sources != nullptr) {
    sources->clear();
    sources->reserve(length);
  }
  std::size_t made = arguments.empty() ? 0 : arguments.front().Value.size();
  const auto append = [&](std::string_view bytes, std::size_t from) {
    line.append(bytes);
    if (sources == nullptr) return;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      sources->push_back(from == kAdded ? kAdded : from + i);
    }
  };
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i].Value;
    append(" ", kAdded);
    if (argument.find(' ') == std::string_view::npos) {
      append(argument, made);
    } else {
      // A dash option is quoted from right after its '=', so that its key stays readable.
      std::size_t open = 0;
      if (argument.starts_with('-')) {
        const std::size_t equals = argument.find('=');
        if (equals != std::string_view::npos) open = equals + 1;
      }
      append(argument.substr(0, open), made);
      append("\"", kAdded);
      append(argument.substr(open), made + open);
      append("\"", kAdded);
    }
    made += argument.size();
  }
  return line;
}

std::optional<std::string> NextEngineToken(std::string_view engineLine, std::size_t& position) {
  std::size_t i = std::min(position, engineLine.size());
  while (i < engineLine.size() && IsWhiteSpace(engineLine[i])) ++i;
  if (i == engineLine.size()) {
    position = i;
    return std::nullopt;
  }
  std::string token;
  if (engineLine[i] == '"') {
    const std::size_t close = engineLine.find('"', i + 1);
    const std::size_t end = close == std::string_view::npos ? engineLine.size() : close;
    token = engineLine.substr(i + 1, end - i - 1);
    position = close == std::string_view::npos ? end : end + 1;
    return token;
  }
  bool quoted = false;
  const std::size_t start = i;
  for (; i < engineLine.size(); ++i) {
    if (engineLine[i] == '"') quoted = !quoted;
    if (!quoted && IsWhiteSpace(engineLine[i])) break;
  }
  position = i;
  return std::string(engineLine.substr(start, i - start));
}

std::optional<std::string> MapUrlOf(std::string_view engineLine) {
  std::size_t position = 0;
  std::optional<std::string> token = NextEngineToken(engineLine, position);
  if (!token || token->empty() || token->front() == '-') return std::nullopt;
  if (token->find('?') == std::string::npos && EndsWithExe(*token)) return std::nullopt;
  return token;
}

LaunchLine ReadLaunchLine(std::string commandLine) {
  LaunchLine line;
  line.Text = std::move(commandLine);
  SplitLine split = SplitCommandLine(line.Text);
  line.Arguments = std::move(split.Arguments);
  line.EndsInsideQuotes = split.EndsInsideQuotes;
  line.UnclosedQuoteAt = split.UnclosedQuoteAt;
  line.EngineLine = EngineCommandLine(line.Arguments);
  line.MapUrl = MapUrlOf(line.EngineLine);
  if (line.MapUrl) {
    const std::string_view url = *line.MapUrl;
    line.Map = std::string(StripEnds(url.substr(0, url.find('?')), "\"\\"));
  }
  return line;
}

std::optional<std::string_view> QuestionOption(const LaunchLine& line, std::string_view key) {
  if (!line.MapUrl) return std::nullopt;
  const std::string_view url = *line.MapUrl;
  const std::optional<std::size_t> at = FindCaseless(url, key);
  if (!at) return std::nullopt;
  const std::size_t start = *at + key.size();
  const std::size_t end = url.find('?', start);
  return url.substr(start, end == std::string_view::npos ? end : end - start);
}

std::optional<std::size_t> FindDashKey(std::string_view engineLine, std::string_view key) {
  if (key.empty()) return std::nullopt;
  bool quoted = false;
  bool afterLetterOrDigit = false;
  for (std::size_t at = 0; at < engineLine.size(); ++at) {
    const char c = engineLine[at];
    if (!quoted && !afterLetterOrDigit && LowerAsciiByte(c) == key.front() &&
        engineLine.size() - at >= key.size()) {
      std::size_t i = 1;
      while (i < key.size() && LowerAsciiByte(engineLine[at + i]) == key[i]) ++i;
      if (i == key.size()) return at;
    }
    if (c == '"') quoted = !quoted;
    afterLetterOrDigit = IsAsciiLetterOrDigit(c);
  }
  return std::nullopt;
}

std::optional<std::string_view> DashOption(std::string_view engineLine, std::string_view key) {
  const std::optional<std::size_t> at = FindDashKey(engineLine, key);
  if (!at) return std::nullopt;
  std::string_view value = engineLine.substr(*at + key.size());
  if (value.starts_with('"')) {
    value.remove_prefix(1);
    return value.substr(0, value.find('"'));
  }
  const std::size_t start = value.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return value.substr(value.size());
  value.remove_prefix(start);
  return value.substr(0, value.find_first_of(" \t\r\n,)"));
}

LaunchNumber LaunchNumberFrom(const LaunchLine& line, std::string_view key) {
  LaunchNumber number;
  number.Key = key;
  std::optional<std::string_view> value;
  if (key.starts_with('?')) {
    value = QuestionOption(line, key);
  } else {
    value = DashOption(line.EngineLine, key);
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
  return Cleaned(*value, kQuotesApostrophesAndBlanks);
}

std::optional<std::string> ScanLaunchMods(const LaunchLine& line) {
  for (std::size_t i = 1; i < line.Arguments.size(); ++i) {
    const std::string_view argument = line.Arguments[i].Value;
    if (const std::optional<std::size_t> at = FindCaseless(argument, kModsKey)) {
      return Cleaned(argument.substr(*at + kModsKey.size()), kQuotesAndWhiteSpace);
    }
  }
  return std::nullopt;
}

std::optional<std::string> ScanLaunchPve(const LaunchLine& line) {
  const std::optional<std::string_view> value = QuestionOption(line, kServerPveKey);
  if (!value) return std::nullopt;
  return Cleaned(*value, kQuotesAndBlanks);
}

std::string WithoutPasswords(std::string_view text) {
  const std::size_t cut = PasswordCut(text);
  if (cut == std::string_view::npos) return std::string(text);
  return std::string(StripEnds(text.substr(0, cut), kQuotesApostrophesAndBlanks));
}

bool HoldsPassword(std::string_view text) {
  return PasswordCut(text) != std::string_view::npos;
}

std::string ReadCommandLineText() {
  return platform::ProcessCommandLine();
}

}  // namespace vesperline
