// Windows PE images made for the tests: stand-ins for a plugin file, cut down to what the checker
// reads out of one (the DLLs it imports and its version resource), laid out as the linker and
// windres lay out a real one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vesperline::test {

// A 64-bit image with one section, which holds the import directory with the libraries' names
// and, when a version is given, a version resource of that file version. The section's header is
// the table's entry at sectionIndex, behind as many empty ones.
std::string PeImage(const std::vector<std::string>& libraries,
                    std::optional<std::array<std::uint16_t, 4>> version = std::nullopt,
                    std::size_t sectionIndex = 0);

// Where PeImage puts the parts of its version resource, as places in the file: the root of the
// resource tree and the VS_VERSIONINFO block; and the block's size.
struct PeResourcePlaces {
  std::size_t Root = 0;
  std::size_t Block = 0;
  std::size_t BlockSize = 0;
};
PeResourcePlaces PeResourcesOf(std::size_t sectionIndex = 0);

// Writes the little-endian number of width bytes into image at the place.
void PutLittle(std::string& image, std::size_t at, std::uint32_t value, std::size_t width);

}  // namespace vesperline::test
