// What the checker reads out of a Windows PE image, a DLL or a program, without loading it: the
// DLLs it imports and the version its version resource names. The bytes may be anything: a
// download cut short, another file saved under the name, or bytes made to mislead. Every place is
// checked against the image's size before it is read, every walk has a bound, and bytes that are
// no such image give nothing.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesperline::check {

// A file version as Windows keeps it: four numbers, compared in order.
struct FileVersion {
  std::array<std::uint16_t, 4> Parts{};
  friend auto operator<=>(const FileVersion&, const FileVersion&) = default;
};

// "1.2.3", with the fourth number only when it is not zero: "1.2.3.4".
std::string VersionText(const FileVersion& version);

// The bytes begin as a PE image does: a DOS header that leads to the PE signature, and an
// optional header of a 32-bit or a 64-bit image with room for its data directories.
bool IsPeImage(std::string_view image);

// IsPeImage, and the bytes of each section its table lists lie inside them: an image cut short,
// as a download or a copy that broke off leaves it, is none, however right its beginning.
bool IsWholePeImage(std::string_view image);

// The names of the DLLs a PE image imports, as the image writes them; empty when the bytes are no
// PE image or have no imports.
std::vector<std::string> ImportedLibraries(std::string_view image);

// The file version in the image's version resource (the numbers of its fixed part, which
// Explorer's Properties show as "File version"); nothing when the bytes are no PE image or carry
// no version resource.
std::optional<FileVersion> ImageVersion(std::string_view image);

}  // namespace vesperline::check
