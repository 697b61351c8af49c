#include "tools/check/launch/PastedLine.h"

#include "common/Text.h"

namespace vesperline::check {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::size_t SkipBlanks(std::string_view line, std::size_t at) {
  while (at < line.size() && IsBlank(line[at])) ++at;
  return at;
}

// The end of the word at `at`: a quoted one runs to its closing quote.
std::size_t WordEnd(std::string_view line, std::size_t at) {
  bool quoted = false;
  for (; at < line.size(); ++at) {
    if (line[at] == '"') quoted = !quoted;
    if (!quoted && IsBlank(line[at])) break;
  }
  return at;
}

}  // namespace

PastedLine WithoutStart(std::string_view line) {
  const std::size_t word = SkipBlanks(line, 0);
  const std::size_t wordEnd = WordEnd(line, word);
  if (LowerAscii(line.substr(word, wordEnd - word)) != "start" || wordEnd == line.size()) {
    return {std::string(line), {}};
  }
  std::size_t at = SkipBlanks(line, wordEnd);
  // The first quoted word is the window's title, however empty.
  if (at < line.size() && line[at] == '"') at = SkipBlanks(line, WordEnd(line, at));
  // Switches; three of them take the next word as their value when it is not written onto them.
  while (at < line.size() && line[at] == '/') {
    const std::size_t end = WordEnd(line, at);
    const std::string name = LowerAscii(line.substr(at + 1, end - at - 1));
    at = SkipBlanks(line, end);
    if (name == "d" || name == "node" || name == "affinity")
      at = SkipBlanks(line, WordEnd(line, at));
  }
  std::size_t dropped = at;
  while (dropped > 0 && IsBlank(line[dropped - 1])) --dropped;
  return {std::string(line.substr(at)), std::string(line.substr(word, dropped - word))};
}

}  // namespace vesperline::check
