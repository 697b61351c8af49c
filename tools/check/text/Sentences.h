// Pieces of the sentences the checker writes, shared by every part of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesperline::check {

// before, text and after joined.
std::string Enclosed(std::string_view before, std::string_view text, std::string_view after);

// A list for a sentence: "a", "a and b", "a, b and c".
std::string Listed(const std::vector<std::string>& items);

}  // namespace vesperline::check
