#include "common/CommandLine.h"

namespace vesperline {

std::string JoinProcessArguments(std::string_view nulSeparated) {
  std::string line;
  std::size_t start = 0;
  bool first = true;
  while (start < nulSeparated.size()) {
    std::size_t end = nulSeparated.find('\0', start);
    if (end == std::string_view::npos) end = nulSeparated.size();
    const std::string_view argument = nulSeparated.substr(start, end - start);
    if (!first) line.push_back(' ');
    if (first && argument.find(' ') != std::string_view::npos) {
      line.push_back('"');
      line.append(argument);
      line.push_back('"');
    } else {
      line.append(argument);
    }
    first = false;
    start = end + 1;
  }
  return line;
}

}  // namespace vesperline
