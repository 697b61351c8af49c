#include "common/CommandLine.h"

namespace vesperline {

namespace {

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

}  // namespace vesperline
