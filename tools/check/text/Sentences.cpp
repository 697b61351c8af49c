#include "tools/check/text/Sentences.h"

namespace vesperline::check {

// Built by appending: g++ 12 at -O3 warns falsely of overlapping copies in a literal added to a
// temporary string.
std::string Enclosed(std::string_view before, std::string_view text, std::string_view after) {
  std::string joined;
  joined.reserve(before.size() + text.size() + after.size());
  joined.append(before).append(text).append(after);
  return joined;
}

std::string Listed(const std::vector<std::string>& items) {
  std::string list;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) list += i + 1 == items.size() ? " and " : ", ";
    list += items[i];
  }
  return list;
}

}  // namespace vesperline::check
