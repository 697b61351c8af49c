// Strict reading of JSON with a parser independent of the plugin's writer (nlohmann/json, target
// vesperline_json_parser), for the tests and the fuzz targets alike.
#pragma once

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

namespace vesperline::test {

// Objects keep their members in document order.
using Json = nlohmann::ordered_json;

// Parses text as exactly one JSON value. False, with the reason in error when given, on anything
// RFC 8259 does not allow (invalid UTF-8, raw control characters, trailing bytes other than white
// space) and on an object that repeats a member name.
inline bool ParseStrictJson(const std::string& text, Json& value, std::string* error = nullptr) {
  std::vector<std::set<std::string>> open;
  std::string repeated;
  const Json::parser_callback_t watch = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) {
      open.emplace_back();
    } else if (event == Json::parse_event_t::object_end) {
      open.pop_back();
    } else if (event == Json::parse_event_t::key &&
               !open.back().insert(parsed.get<std::string>()).second) {
      repeated = parsed.get<std::string>();
    }
    return true;
  };
  try {
    value = Json::parse(text, watch);
  } catch (const Json::exception& failure) {
    if (error != nullptr) *error = failure.what();
    return false;
  }
  if (!repeated.empty() && error != nullptr) *error = "the member \"" + repeated + "\" is repeated";
  return repeated.empty();
}

}  // namespace vesperline::test
