// EscapeJson of any bytes: the result between double quotes is one JSON string that a strict
// parser accepts, reading back as the text the bytes stand for (valid UTF-8 exactly as it is,
// other bytes as Latin-1), escaped in the one form the heartbeat promises; and the writer never
// needs more room than it promises.
// Input: the bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "heartbeat/Json.h"

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
  FUZZ_CHECK(read == ReferenceUtf8(text));
  // And in the one form the heartbeat promises: a quote and a backslash behind a backslash, the
  // short escapes \b \f \n \r \t, \u00xx for the other control bytes, everything else as it is;
  // which is how a strict JSON writer writes that string.
  FUZZ_CHECK(nlohmann::json(read).dump() == "\"" + escaped + "\"");

  // The writer, into exactly the room it asks for.
  const std::size_t room = MaxEscapedJsonSize(size);
  const std::unique_ptr<char[]> buffer(new char[room == 0 ? 1 : room]);
  const char* end = WriteEscapedJson(buffer.get(), text);
  FUZZ_CHECK(static_cast<std::size_t>(end - buffer.get()) <= room);
  FUZZ_CHECK(std::string_view(buffer.get(), static_cast<std::size_t>(end - buffer.get())) ==
             escaped);
  return 0;
}
