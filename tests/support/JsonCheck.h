// The check of every heartbeat document a test produces, and its dump for the schema validation
// that runs after the tests (tests/validate_heartbeat_documents.py). The members, their order and
// their types are the business of the golden documents, the schema and the fuzz target.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/StrictJson.h"

namespace vesperline::test {

// Writes the document to its own file in the directory named by VESPERLINE_DOCUMENT_DUMP, when
// that is set.
inline void DumpDocument(const std::string& document) {
  const char* dir = std::getenv("VESPERLINE_DOCUMENT_DUMP");
  if (dir == nullptr || *dir == '\0') return;
  static int count = 0;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test == nullptr ? std::string("outside-tests")
                                     : std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const std::filesystem::path path(dir);
  std::filesystem::create_directories(path);
  std::ofstream file(path / (name + "." + std::to_string(++count) + ".json"), std::ios::binary);
  file << document;
}

// Checks that a heartbeat document is one strict JSON object in compact form (no white space
// outside its strings, no line break at its end), gives the parsed value and dumps the document.
inline ::testing::AssertionResult CheckHeartbeatDocument(const std::string& document, Json& value) {
  DumpDocument(document);
  std::string error;
  if (!ParseStrictJson(document, value, &error)) {
    return ::testing::AssertionFailure() << error << " in " << ::testing::PrintToString(document);
  }
  // nlohmann writes compact JSON with the escapes the heartbeat uses, so a compact document reads
  // back to itself byte for byte.
  if (!value.is_object() || value.dump() != document) {
    return ::testing::AssertionFailure()
           << "not one compact object: " << ::testing::PrintToString(document);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace vesperline::test
