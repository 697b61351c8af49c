// The log's version scan over any log, fed in pieces cut anywhere: the piecewise scan, the scan of
// the whole text and a plain line-by-line reading (with the version's length limit) all give the
// same version.
// Input: the log text, then one byte that steers where it is cut.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/ServerLog.h"
#include "fuzz/FuzzSupport.h"

namespace {

using namespace vesperline;
using namespace vesperline::fuzz;

std::optional<std::string> ReferenceVersion(std::string_view log) {
  std::optional<std::string> version;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string_view::npos) end = log.size();
    const std::string_view line = log.substr(start, end - start);
    start = end + 1;
    const std::size_t at = line.find("ARK Version: ");
    if (at == std::string_view::npos) continue;
    std::string value(line.substr(at + 13));
    // At most 256 bytes are kept, unless only bytes the trimming removes anyway lie past them.
    if (value.find_first_not_of("\r ", 256) != std::string::npos) value = ReferenceCut(value, 256);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
      value.pop_back();
    version = value;
  }
  return version;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view log = AsText(data, size - 1);
  VersionScanner scanner;
  for (const std::string_view piece : CutPieces(log, data[size - 1])) {
    scanner.Feed(piece.data(), piece.size());
  }
  scanner.Finish();
  const std::optional<std::string> whole = FindVersionInLog(log);
  FUZZ_CHECK(scanner.Version() == whole);
  FUZZ_CHECK(whole == ReferenceVersion(log));
  return 0;
}
