// JSON values of the checker's own reports, every text through the one escaping of the heartbeat.
#pragma once

#include <string>
#include <string_view>

#include "heartbeat/Json.h"

namespace vesperline::check {

inline std::string JsonString(std::string_view text) {
  std::string json(1, '"');
  json.append(EscapeJson(text)).append(1, '"');
  return json;
}

inline std::string JsonTextOrNull(std::string_view text) {
  return text.empty() ? std::string("null") : JsonString(text);
}

}  // namespace vesperline::check
