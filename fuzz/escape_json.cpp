// EscapeJson of any bytes: the result between double quotes is one JSON string that a strict
// parser accepts, reading back as the text the bytes stand for (valid UTF-8 exactly as it is,
// other bytes as Latin-1); and the writer never needs more room than it promises.
// Input: the bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "heartbeat/Json.h"
#include "tests/support/Utf8Reference.h"

using namespace vesperline;
using namespace vesperline::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = AsText(data, size);
  const std::string escaped = EscapeJson(text);

  nlohmann::json parsed;
  try {
    parsed = nlohmann::json::parse("\"" + escaped + "\"");
  } catch (const nlohmann::json::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    Fail("the escaped text is a JSON string", __FILE__, __LINE__);
  }
  FUZZ_CHECK(parsed.is_string());
  const std::string& read = parsed.get_ref<const std::string&>();
  FUZZ_CHECK(read == test::ReferenceUtf8(text));
  if (IsValidUtf8(text)) FUZZ_CHECK(read == text);

  // The writer, into exactly the room it asks for.
  const std::size_t room = MaxEscapedJsonSize(size);
  const std::unique_ptr<char[]> buffer(new char[room == 0 ? 1 : room]);
  const char* end = WriteEscapedJson(buffer.get(), text);
  FUZZ_CHECK(static_cast<std::size_t>(end - buffer.get()) <= room);
  FUZZ_CHECK(std::string_view(buffer.get(), static_cast<std::size_t>(end - buffer.get())) ==
             escaped);
  return 0;
}
