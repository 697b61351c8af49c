#include "common/CommandLine.h"

#include <vector>

namespace vesperline {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

void AppendArgument(std::string& line, std::string_view argument) {
  const bool quoted = argument.empty() || argument.find_first_of(" \t") != std::string_view::npos;
  if (quoted) line.push_back('"');
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '"') line.append(backslashes + 1, '\\');
    backslashes = c == '\\' ? backslashes + 1 : 0;
    line.push_back(c);
  }
  if (quoted) {
    line.append(backslashes, '\\');
    line.push_back('"');
  }
}

}  // namespace

std::string JoinProcessArguments(std::string_view nulSeparated) {
  std::string line;
  std::size_t start = 0;
  while (start < nulSeparated.size()) {
    std::size_t end = nulSeparated.find('\0', start);
    if (end == std::string_view::npos) end = nulSeparated.size();
    if (start != 0) line.push_back(' ');
    AppendArgument(line, nulSeparated.substr(start, end - start));
    start = end + 1;
  }
  return line;
}

SplitLine SplitCommandLine(std::string_view line, std::vector<std::size_t>* sources) {
  SplitLine split;
  const std::size_t n = line.size();
  if (n == 0) return split;
  // Where each byte of the values came from, when asked; a vector of nothing otherwise.
  std::vector<std::size_t> unused;
  std::vector<std::size_t>& from = sources != nullptr ? *sources : unused;
  from.clear();
  const auto put = [&](std::string& value, char c, std::size_t at) {
    value.push_back(c);
    if (sources != nullptr) from.push_back(at);
  };

  // The program: no escapes, and a quote at its start runs to the next quote.
  CommandLineArgument program;
  std::size_t i = 0;
  if (line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    const std::size_t end = close == std::string_view::npos ? n : close;
    for (std::size_t at = 1; at < end; ++at) put(program.Value, line[at], at);
    i = close == std::string_view::npos ? n : close + 1;
    split.EndsInsideQuotes = close == std::string_view::npos;
    split.UnclosedQuoteAt = 0;
  } else {
    for (; i < n && !IsBlank(line[i]); ++i) put(program.Value, line[i], i);
  }
  program.End = i;
  split.Arguments.push_back(std::move(program));

  // The arguments after it. quotes counts the quotes of the current run the way Windows does: odd
  // while quoting is open.
  unsigned quotes = 0;
  std::size_t openedAt = 0;
  std::size_t backslashes = 0;
  CommandLineArgument* current = nullptr;
  while (i < n) {
    const char c = line[i];
    if (IsBlank(c) && quotes == 0) {
      if (current != nullptr) current->End = i;
      current = nullptr;
      backslashes = 0;
      ++i;
      continue;
    }
    if (current == nullptr) {
      split.Arguments.push_back({{}, i, n});
      current = &split.Arguments.back();
    }
    std::string& value = current->Value;
    if (c == '\\') {
      put(value, c, i);
      ++backslashes;
      ++i;
      continue;
    }
    if (c != '"') {
      put(value, c, i);
      backslashes = 0;
      ++i;
      continue;
    }
    // A double quote: the backslashes right before it are halved; an odd one out makes it
    // literal, otherwise it counts towards quoting.
    value.resize(value.size() - backslashes / 2);
    if (sources != nullptr) from.resize(from.size() - backslashes / 2);
    if (backslashes % 2 == 1) {
      value.back() = '"';
      if (sources != nullptr) from.back() = i;
    } else if (++quotes == 1) {
      openedAt = i;
    }
    backslashes = 0;
    ++i;
    // The rest of the run: every third quote is a literal one.
    while (i < n && line[i] == '"') {
      if (++quotes == 3) {
        put(value, '"', i);
        quotes = 0;
      } else if (quotes == 1) {
        openedAt = i;
      }
      ++i;
    }
    if (quotes == 2) quotes = 0;
  }
  if (quotes != 0) {
    split.EndsInsideQuotes = true;
    split.UnclosedQuoteAt = openedAt;
  }
  return split;
}

}  // namespace vesperline
