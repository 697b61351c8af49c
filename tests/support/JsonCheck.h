// Strict reading of JSON documents with a parser independent of the plugin's writer (nlohmann/json,
// target vesperline_json_parser), the shape of the heartbeat document, and the dump of every
// checked heartbeat document for the schema validation that runs after the tests.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vesperline::test {

// Objects keep their members in document order.
using Json = nlohmann::ordered_json;

// Parses text as exactly one JSON value. Fails on anything RFC 8259 does not allow (invalid UTF-8,
// raw control characters, trailing bytes other than white space) and on an object that repeats a
// member name.
inline ::testing::AssertionResult ParseStrictJson(const std::string& text, Json& value) {
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
  } catch (const Json::exception& error) {
    return ::testing::AssertionFailure()
           << error.what() << "\n  in: " << ::testing::PrintToString(text);
  }
  if (!repeated.empty()) {
    return ::testing::AssertionFailure()
           << "the member \"" << repeated << "\" is repeated in " << ::testing::PrintToString(text);
  }
  return ::testing::AssertionSuccess();
}

// The members of the heartbeat document in their order, and whether each is always present.
struct MemberRule {
  const char* name;
  Json::value_t type;
  bool always;
};
inline constexpr std::array<MemberRule, 13> kHeartbeatMembers{{
    {"token", Json::value_t::string, true},
    {"ip", Json::value_t::string, true},
    {"port", Json::value_t::number_integer, true},
    {"status", Json::value_t::string, true},
    {"name", Json::value_t::string, false},
    {"map", Json::value_t::string, false},
    {"player_max", Json::value_t::number_integer, false},
    {"player_current", Json::value_t::number_integer, false},
    {"day", Json::value_t::number_integer, false},
    {"version", Json::value_t::string, false},
    {"is_pve", Json::value_t::boolean, true},
    {"mods", Json::value_t::string, false},
    {"players", Json::value_t::array, true},
}};
inline constexpr std::array<const char*, 4> kPlayerMembers{"name", "char_name", "eos_id",
                                                           "player_data_id"};

// Writes the document to its own file in the directory named by VESPERLINE_DOCUMENT_DUMP, when
// that is set, for the schema validation run after the tests; a document meant to be rejected goes
// to its subdirectory "invalid", where the validation must reject it too.
inline void DumpDocument(const std::string& document, bool meantToBeValid = true) {
  const char* dir = std::getenv("VESPERLINE_DOCUMENT_DUMP");
  if (dir == nullptr || *dir == '\0') return;
  static int count = 0;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test == nullptr ? std::string("outside-tests")
                                     : std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  std::filesystem::path path(dir);
  if (!meantToBeValid) path /= "invalid";
  std::filesystem::create_directories(path);
  std::ofstream file(path / (name + "." + std::to_string(++count) + ".json"), std::ios::binary);
  file << document;
}

// Checks a heartbeat document: one strict JSON object with no white space outside its strings,
// its members in their order with their types, the optional ones absent rather than empty, and
// players as objects of exactly their four members. Dumps the document (see DumpDocument) and
// gives the parsed value. A document meant to be rejected is dumped as such.
inline ::testing::AssertionResult CheckHeartbeatDocument(const std::string& document, Json& value,
                                                         bool meantToBeValid = true) {
  DumpDocument(document, meantToBeValid);
  if (auto parsed = ParseStrictJson(document, value); !parsed) return parsed;
  auto failure = [&] {
    ::testing::AssertionResult result = ::testing::AssertionFailure();
    result << "in " << ::testing::PrintToString(document) << ":\n  ";
    return result;
  };
  // nlohmann writes compact JSON with the escapes the heartbeat uses (\" \\ \b \f \n \r \t and
  // \u00xx for the other control bytes, UTF-8 as it is), so a compact document reads back to
  // itself byte for byte.
  if (value.dump() != document) {
    return failure() << "not in compact form; compact it reads " << value.dump();
  }
  if (!value.is_object()) return failure() << "not an object";
  std::size_t rule = 0;
  for (const auto& [name, member] : value.items()) {
    while (rule < kHeartbeatMembers.size() && name != kHeartbeatMembers[rule].name) {
      if (kHeartbeatMembers[rule].always) {
        return failure() << "\"" << kHeartbeatMembers[rule].name << "\" missing or out of order";
      }
      ++rule;
    }
    if (rule == kHeartbeatMembers.size()) return failure() << "\"" << name << "\" unexpected here";
    const bool typed = kHeartbeatMembers[rule].type == Json::value_t::number_integer
                           ? member.is_number_integer()
                           : member.type() == kHeartbeatMembers[rule].type;
    if (!typed) return failure() << "\"" << name << "\" has the type " << member.type_name();
    if (member.is_string() && member.get<std::string>().empty() &&
        !kHeartbeatMembers[rule].always) {
      return failure() << "\"" << name << "\" is empty instead of absent";
    }
    ++rule;
  }
  if (rule != kHeartbeatMembers.size()) return failure() << "\"players\" is not the last member";
  for (const Json& player : value["players"]) {
    if (!player.is_object() || player.size() != kPlayerMembers.size()) {
      return failure() << "a player is not an object of four members: " << player.dump();
    }
    std::size_t at = 0;
    for (const auto& [name, member] : player.items()) {
      if (name != kPlayerMembers[at])
        return failure() << "player member " << name << " out of place";
      const bool last = at + 1 == kPlayerMembers.size();
      if (last ? !member.is_number_unsigned() || member.get<std::uint64_t>() > 4294967295u
               : !member.is_string()) {
        return failure() << "player member " << name << " is " << member.dump();
      }
      ++at;
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace vesperline::test
