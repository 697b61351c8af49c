#include "tools/check/mask/Mask.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "common/CommandLine.h"
#include "common/Text.h"
#include "discovery/LaunchArguments.h"

namespace vesperline::check {

namespace {

bool IsKeyCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool HoldsPassword(std::string_view key) {
  return LowerAscii(key).find("password") != std::string::npos;
}

// The bytes a mark never replaces: they make the line's shape.
bool IsStructural(char c) {
  return c == '"' || c == '\\' || IsBlank(c);
}

// Which bytes of a text belong to a password's value. Each reading adds the ranges it takes;
// a byte is marked when any range holds it. A range is counted at its two ends and the counts are
// summed once at the end, so that ranges however many and however they overlap cost no more than
// their number, and each byte is looked at once.
class ValueMarks {
 public:
  explicit ValueMarks(std::size_t bytes) : edges_(bytes + 1, 0) {}

  // [from, to); an empty range still counts as a password found.
  void Add(std::size_t from, std::size_t to) {
    found_ = true;
    if (from >= to) return;
    ++edges_[from];
    --edges_[to];
  }

  bool Found() const { return found_; }

  // Calls mark(i) for every byte i that some range holds, in order.
  template <typename Mark>
  void ForEachMarked(Mark mark) const {
    std::ptrdiff_t open = 0;
    for (std::size_t i = 0; i + 1 < edges_.size(); ++i) {
      open += edges_[i];
      if (open > 0) mark(i);
    }
  }

 private:
  std::vector<std::ptrdiff_t> edges_;
  bool found_ = false;
};

// The first position at or after a given one where a byte passes a test, for positions that never
// go back: each search goes on from where the last one ended when that is still ahead, so that all
// of them together pass over the text once.
template <typename Test>
class ForwardSearch {
 public:
  ForwardSearch(std::string_view text, Test test) : text_(text), test_(test) {}

  std::size_t From(std::size_t from) {
    if (found_ == std::string_view::npos || found_ < from) {
      found_ = from;
      while (found_ < text_.size() && !test_(text_[found_])) ++found_;
    }
    return found_;
  }

 private:
  std::string_view text_;
  Test test_;
  std::size_t found_ = std::string_view::npos;  // none yet
};

// The arguments after `after` that carry on a password's value: up to a '?', and not into an
// argument beginning with '-'. Arguments that an earlier value's carrying on reached already are
// not gone through again: from them on, it would mark the same. offsets gives where each
// argument's value starts among the bytes of all of them.
void AddContinuation(const std::vector<CommandLineArgument>& arguments,
                     const std::vector<std::size_t>& offsets, std::size_t after,
                     std::size_t& carriedThrough, ValueMarks& marks) {
  if (after < carriedThrough) return;
  for (std::size_t b = after + 1; b < arguments.size(); ++b) {
    const std::string& value = arguments[b].Value;
    if (value.starts_with('-')) return;
    carriedThrough = b;
    const std::size_t question = value.find('?');
    marks.Add(offsets[b], offsets[b] + (question == std::string::npos ? value.size() : question));
    if (question != std::string::npos) return;
  }
}

// Where a password's value that starts at start ends inside its argument: at the next '?', or
// where a blank is followed by another dash option (an argument whose quote was never closed holds
// the options after the password too, and the server reads those as options); npos when it runs
// to the argument's end.
std::size_t ValueEnd(std::string_view value, std::size_t start) {
  for (std::size_t i = start; i < value.size(); ++i) {
    if (value[i] == '?') return i;
    if (IsBlank(value[i]) && i + 2 < value.size() && value[i + 1] == '-' &&
        !IsBlank(value[i + 2])) {
      return i;
    }
  }
  return std::string_view::npos;
}

// The password values as the admin wrote them, argument by argument of Windows' split, after the
// program: what a password that lost its quotes or was cut apart was meant to be, whether or not
// the server takes all of it. The ranges are among the bytes of all the arguments' values.
void MarkWrittenValues(const std::vector<CommandLineArgument>& arguments,
                       const std::vector<std::size_t>& offsets, ValueMarks& marks) {
  std::size_t carriedThrough = 0;
  for (std::size_t a = 1; a < arguments.size(); ++a) {
    const std::string& value = arguments[a].Value;
    // -ServerAdminPassword Pa55word: the next argument is the value meant.
    if (value.size() > 1 && value[0] == '-' && value.find('=') == std::string::npos &&
        HoldsPassword(value)) {
      if (a + 1 < arguments.size()) {
        marks.Add(offsets[a + 1], offsets[a + 1] + arguments[a + 1].Value.size());
        AddContinuation(arguments, offsets, a + 1, carriedThrough, marks);
      }
      continue;
    }
    for (std::size_t equals = value.find('='); equals != std::string::npos;
         equals = value.find('=', equals + 1)) {
      std::size_t key = equals;
      while (key > 0 && IsKeyCharacter(value[key - 1])) --key;
      if (!HoldsPassword(std::string_view(value).substr(key, equals - key))) continue;
      const std::size_t end = ValueEnd(value, equals + 1);
      if (end != std::string::npos) {
        marks.Add(offsets[a] + equals + 1, offsets[a] + end);
        equals = end;
        continue;
      }
      marks.Add(offsets[a] + equals + 1, offsets[a] + value.size());
      AddContinuation(arguments, offsets, a, carriedThrough, marks);
      break;
    }
  }
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The password values as the server takes them from the engine's line. A '?' option of the map
// URL whose key holds "password" runs to the next '?' or the URL's end, blanks and dash options
// inside a URL quoted whole included. A dash option whose key holds "password" is found and read
// as the engine's own value reader finds and reads one (FindDashKey, DashOption): outside double
// quotes, not behind an ASCII letter or digit; its value inside its quotes, else after blanks up
// to the next blank, ',' or ')', unless what the blanks lead to is the next dash option. The
// ranges are among the bytes of the engine's line.
void MarkTakenValues(std::string_view engine, ValueMarks& marks) {
  if (const std::optional<std::string> url = MapUrlOf(engine)) {
    std::size_t start = engine.find_first_not_of(" \t\r\n\v\f");
    if (engine[start] == '"') ++start;
    const std::size_t end = start + url->size();
    for (std::size_t equals = engine.find('=', start); equals < end;
         equals = engine.find('=', equals + 1)) {
      std::size_t key = equals;
      while (key > start && IsKeyCharacter(engine[key - 1])) --key;
      if (key == start || engine[key - 1] != '?' ||
          !HoldsPassword(engine.substr(key, equals - key))) {
        continue;
      }
      marks.Add(equals + 1, std::min(engine.find('?', equals + 1), end));
    }
  }
  ForwardSearch quote(engine, [](char c) { return c == '"'; });
  ForwardSearch lead(engine, [](char c) { return !(IsBlank(c) || c == '\r' || c == '\n'); });
  ForwardSearch stop(
      engine, [](char c) { return IsBlank(c) || c == '\r' || c == '\n' || c == ',' || c == ')'; });
  bool quoted = false;
  bool afterLetterOrDigit = false;
  for (std::size_t at = 0; at < engine.size(); ++at) {
    const char c = engine[at];
    if (c == '-' && !quoted && !afterLetterOrDigit) {
      std::size_t equals = at + 1;
      while (equals < engine.size() && IsKeyCharacter(engine[equals])) ++equals;
      if (equals < engine.size() && engine[equals] == '=' &&
          HoldsPassword(engine.substr(at + 1, equals - at - 1))) {
        const std::size_t value = equals + 1;
        const std::size_t first = lead.From(value);
        if (value < engine.size() && engine[value] == '"') {
          marks.Add(value + 1, quote.From(value + 1));
        } else if (first > value && first < engine.size() && engine[first] == '-') {
          // Past blanks, the reader comes to the next option: the admin left the value empty,
          // and the option, which the server reads as one too, stays shown.
          marks.Add(first, first);
        } else {
          marks.Add(first, stop.From(first));
        }
      }
    }
    if (c == '"') quoted = !quoted;
    afterLetterOrDigit = IsAsciiLetterOrDigit(c);
  }
}

// A byte that the line does not hold and that no reading of it takes for anything but a letter.
char FreeMark(std::string_view line) {
  bool used[32] = {};
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32) used[byte] = true;
  }
  for (unsigned char mark = 1; mark < 32; ++mark) {
    if (mark >= '\t' && mark <= '\r') continue;
    if (!used[mark]) return static_cast<char>(mark);
  }
  return '\0';
}

// The end of a value that MaskKeyValues masks, beginning at start.
std::size_t KeyValueEnd(std::string_view text, std::size_t start) {
  if (start < text.size() && (text[start] == '"' || text[start] == '\'')) {
    const std::size_t close = text.find(text[start], start + 1);
    return close == std::string_view::npos ? text.size() : close + 1;
  }
  std::size_t end = start;
  while (end < text.size() && !IsBlank(text[end]) && text[end] != '?' && text[end] != '&' &&
         text[end] != ';') {
    ++end;
  }
  return end;
}

// A value as MaskKeyValues shows it: masked whole, the quotes around it kept.
std::string MaskedValue(std::string_view value) {
  if (value.empty()) return {};
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  if (quoted) return value.front() + std::string(kMaskedPassword) + value.back();
  if (value.front() == '"' || value.front() == '\'') {
    return value.front() + std::string(kMaskedPassword);
  }
  return std::string(kMaskedPassword);
}

// Where a dash key holding "password" and written without '=' ends, when a word starts at start;
// npos otherwise.
std::size_t DashPasswordKeyEnd(std::string_view text, std::size_t start) {
  if (start >= text.size() || text[start] != '-') return std::string_view::npos;
  std::size_t end = start + 1;
  while (end < text.size() && IsKeyCharacter(text[end])) ++end;
  if (end == start + 1 || (end < text.size() && !IsBlank(text[end]))) {
    return std::string_view::npos;
  }
  return HoldsPassword(text.substr(start + 1, end - start - 1)) ? end : std::string_view::npos;
}

}  // namespace

MarkedLine MarkLaunchPasswords(std::string_view commandLine) {
  MarkedLine marked{std::string(commandLine), '\0'};
  std::vector<std::size_t> sources;
  const SplitLine split = SplitCommandLine(commandLine, &sources);
  std::vector<std::size_t> offsets;
  std::size_t offset = 0;
  for (const CommandLineArgument& argument : split.Arguments) {
    offsets.push_back(offset);
    offset += argument.Value.size();
  }
  // The value meant and the value taken may differ: both are masked.
  ValueMarks written(offset);
  MarkWrittenValues(split.Arguments, offsets, written);
  std::vector<std::size_t> engineSources;
  const std::string engine = EngineCommandLine(split.Arguments, &engineSources);
  ValueMarks taken(engine.size());
  MarkTakenValues(engine, taken);
  if (!written.Found() && !taken.Found()) return marked;
  marked.Mark = FreeMark(commandLine);
  if (marked.Mark == '\0') {
    // A line that holds every possible mark is not shown at all rather than shown in part.
    marked.Text.assign(kMaskedPassword);
    return marked;
  }
  // The plugin takes its mod list from behind the first -mods= of the arguments, also from inside
  // a value the server takes for a password (a first argument quoted whole). The heartbeat
  // publishes the list, so it is no secret the report could keep; it stays shown, so that the
  // marked line gives the same list.
  std::size_t modsFrom = 0;
  std::size_t modsTo = 0;
  for (std::size_t a = 1; a < split.Arguments.size(); ++a) {
    const std::string& value = split.Arguments[a].Value;
    const std::size_t at = LowerAscii(value).find(kModsKey);
    if (at == std::string::npos) continue;
    modsFrom = offsets[a] + at;
    modsTo = offsets[a] + value.size();
    break;
  }
  const auto mark = [&](std::size_t valueByte) {
    const std::size_t at = sources[valueByte];
    if (!IsStructural(marked.Text[at])) marked.Text[at] = marked.Mark;
  };
  written.ForEachMarked(mark);
  taken.ForEachMarked([&](std::size_t i) {
    const std::size_t source = engineSources[i];
    if (source != std::string_view::npos && (source < modsFrom || source >= modsTo)) mark(source);
  });
  return marked;
}

std::string Unmarked(std::string_view text, char mark) {
  if (mark == '\0') return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != mark) {
      out += text[i++];
      continue;
    }
    std::size_t end = i;
    for (;;) {
      while (end < text.size() && text[end] == mark) ++end;
      std::size_t next = end;
      while (next < text.size() && IsStructural(text[next])) ++next;
      if (next == text.size() || text[next] != mark) break;
      end = next;
    }
    out += kMaskedPassword;
    i = end;
  }
  return out;
}

std::string MaskKeyValues(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const bool wordStart = i == 0 || IsBlank(text[i - 1]);
    if (const std::size_t keyEnd = wordStart ? DashPasswordKeyEnd(text, i) : std::string_view::npos;
        keyEnd != std::string_view::npos) {
      std::size_t valueStart = keyEnd;
      while (valueStart < text.size() && IsBlank(text[valueStart])) ++valueStart;
      const std::size_t valueEnd = KeyValueEnd(text, valueStart);
      out.append(text.substr(i, valueStart - i));
      out += MaskedValue(text.substr(valueStart, valueEnd - valueStart));
      i = valueEnd;
      continue;
    }
    out += text[i];
    if (text[i] != '=') {
      ++i;
      continue;
    }
    std::size_t key = i;
    while (key > 0 && IsKeyCharacter(text[key - 1])) --key;
    ++i;
    if (!HoldsPassword(text.substr(key, i - 1 - key))) continue;
    const std::size_t end = KeyValueEnd(text, i);
    out += MaskedValue(text.substr(i, end - i));
    i = end;
  }
  return out;
}

std::string MaskText(std::string_view text) {
  // A word in front stands for the program, which a launch line's reading passes over.
  const MarkedLine marked = MarkLaunchPasswords("x " + std::string(text));
  const std::string launch = Unmarked(marked.Text, marked.Mark);
  return MaskKeyValues(std::string_view(launch).substr(launch.starts_with("x ") ? 2 : 0));
}

bool EndsInsidePassword(std::string_view text) {
  // A letter put after the text is masked with the value when the value runs on to the end; one
  // put after a blank is, when the text ends with a password key written without '='.
  for (const std::string_view more : {"x", " x"}) {
    std::string probe(text);
    probe += more;
    if (MaskKeyValues(probe).back() != 'x') return true;
  }
  return false;
}

namespace {

// Where the user name and password of a proxy's address begin and end ([first, second)), or
// nothing when it holds none.
std::optional<std::pair<std::size_t, std::size_t>> ProxyCredentials(std::string_view proxy) {
  const std::size_t at = proxy.rfind('@');
  if (at == std::string_view::npos) return std::nullopt;
  std::size_t start = 0;
  const std::string lowered = LowerAscii(proxy.substr(0, at));
  for (const std::string_view name : {"http=", "https=", "ftp=", "socks="}) {
    if (lowered.starts_with(name)) start = name.size();
  }
  std::size_t scheme = start;
  while (scheme < at && (IsKeyCharacter(proxy[scheme]) || proxy[scheme] == '+' ||
                         proxy[scheme] == '-' || proxy[scheme] == '.')) {
    ++scheme;
  }
  if (scheme > start && proxy.substr(scheme, at - scheme).starts_with("://")) start = scheme + 3;
  return std::pair{start, at};
}

// The text with every occurrence of what replaced by with.
std::string Replaced(std::string_view text, std::string_view what, std::string_view with) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; !what.empty() && (at = text.find(what, from)) != std::string_view::npos;
       from = at + what.size()) {
    out.append(text.substr(from, at - from)).append(with);
  }
  return out.append(text.substr(from));
}

}  // namespace

std::string MaskProxy(std::string_view proxy) {
  const auto credentials = ProxyCredentials(proxy);
  if (!credentials) return std::string(proxy);
  const auto [start, at] = *credentials;
  return std::string(proxy.substr(0, start)) + "***" + std::string(proxy.substr(at));
}

std::string MaskProxyIn(std::string_view text, std::string_view proxy) {
  const auto credentials = ProxyCredentials(proxy);
  if (!credentials) return std::string(text);
  std::string out = Replaced(text, proxy, MaskProxy(proxy));
  // A transport that takes the first '@' for the end of the password names the rest of the
  // password as part of the proxy's host. The longest part first, so that a shorter one is
  // found only where the longer is not.
  const auto [start, at] = *credentials;
  for (std::size_t from = start; from < at; ++from) {
    if (from == start || proxy[from - 1] == ':' || proxy[from - 1] == '@') {
      out = Replaced(out, std::string(proxy.substr(from, at - from)) + "@", "***@");
    }
  }
  return out;
}

std::string MaskToken(std::string_view token) {
  // Characters, not bytes: a UTF-8 sequence is kept whole or masked whole.
  std::vector<std::string_view> characters;
  for (std::size_t i = 0; i < token.size();) {
    std::size_t end = i + 1;
    while (end < token.size() && (static_cast<unsigned char>(token[end]) & 0xC0) == 0x80) ++end;
    characters.push_back(token.substr(i, end - i));
    i = end;
  }
  const std::size_t count = characters.size();
  if (count < 8) return std::string(count, '*');
  std::string masked;
  masked.append(characters[0]).append(characters[1]);
  masked.append(count - 4, '*');
  masked.append(characters[count - 2]).append(characters[count - 1]);
  return masked;
}

}  // namespace vesperline::check
