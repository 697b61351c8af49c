// The checker's reader of Windows PE images over any bytes, as a plugin file may hold anything: it
// reads nothing outside them and ends soon (the sanitizers and libFuzzer's time limit see to
// both), and what it gives holds together: a whole image, imports and a version come only from a
// PE image, the imports are at most the reader's 1,024 names of at most 260 bytes each, without a
// zero byte, and a version comes with the fixed part's signature somewhere in the bytes.
// Input: the bytes of a file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "tools/check/warnings/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vesperline;
  const std::string_view image = fuzz::AsText(data, size);
  const bool isImage = check::IsPeImage(image);
  FUZZ_CHECK(isImage || !check::IsWholePeImage(image));
  const std::vector<std::string> imports = check::ImportedLibraries(image);
  const std::optional<check::FileVersion> version = check::ImageVersion(image);
  FUZZ_CHECK(isImage || (imports.empty() && !version));
  FUZZ_CHECK(imports.size() <= 1024);
  for (const std::string& name : imports) {
    FUZZ_CHECK(name.size() <= 260 && name.find('\0') == std::string::npos);
  }
  FUZZ_CHECK(!version || image.find(std::string_view("\xBD\x04\xEF\xFE", 4)) != image.npos);
  return 0;
}
