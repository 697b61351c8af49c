// The checker's reader of Windows PE images: the version resource of real images, and of images
// broken in each of the ways that could lead a reader outside the bytes or round in circles. The
// real ones: on Windows the plugin file and the checker built here, and everywhere a DLL that
// mingw-w64 built (fuzz/corpus/pe_image/a_dll_built_by_mingw_with_version_1_2_3_4: a DllMain that
// imports GetTickCount, linked with -nostdlib, and a version resource of 1.2.3.4 from windres).
#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>

#include "common/Version.h"
#include "tests/support/PeImages.h"
#include "tests/support/TestSupport.h"
#include "tools/check/warnings/PeImage.h"

namespace vesperline::check {
namespace {

using test::PutLittle;

constexpr FileVersion kOwn{
    {kVersionParts[0], kVersionParts[1], kVersionParts[2], kVersionParts[3]}};
constexpr FileVersion kSample{{1, 2, 3, 4}};

std::string Sample() {
  return test::PeImage({"KERNEL32.dll"}, kSample.Parts);
}

// The sample with little-endian numbers written over it: at a place, of a width.
struct Edit {
  std::size_t At;
  std::uint32_t Value;
  std::size_t Width;
};
std::string Broken(std::initializer_list<Edit> edits) {
  std::string image = Sample();
  for (const Edit& edit : edits) PutLittle(image, edit.At, edit.Value, edit.Width);
  return image;
}

// A real file, read whole at once: the checker built with the sanitizers is large.
std::string Real(const std::string& path) {
  std::ifstream in(test::PathFromUtf8(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

TEST(PeImageTest, ReadsTheVersionOfRealImagesAndNothingFromBrokenOnes) {
#if defined(_WIN32)
  constexpr bool kBuiltForWindows = true;
#else
  constexpr bool kBuiltForWindows = false;
#endif
  const test::PeResourcePlaces places = test::PeResourcesOf();
  const std::size_t block = places.Block;
  const std::size_t root = places.Root;
  const std::string mingw =
      Real(VESPERLINE_SOURCE_DIR "/fuzz/corpus/pe_image/a_dll_built_by_mingw_with_version_1_2_3_4");
  const struct {
    const char* what;
    std::string image;
    bool isImage;
    std::optional<FileVersion> version;
  } cases[] = {
      {"a DLL built by mingw-w64 with windres's resource", mingw, true, kSample},
      // Here they are ELF files, which are no PE image.
      {"the plugin file built here", Real(VESPERLINE_PLUGIN_FILE), kBuiltForWindows,
       kBuiltForWindows ? std::optional(kOwn) : std::nullopt},
      {"the checker built here", Real(VESPERLINE_CHECK_PROGRAM), kBuiltForWindows,
       kBuiltForWindows ? std::optional(kOwn) : std::nullopt},
      {"the stand-in", Sample(), true, kSample},
      {"no bytes", "", false, std::nullopt},
      {"a DOS header alone", "MZ" + std::string(62, '\0'), false, std::nullopt},
      {"no version resource", test::PeImage({"KERNEL32.dll"}), true, std::nullopt},
      {"another signature in the fixed part", Broken({{block + 40, 0xFEEF04BE, 4}}), true,
       std::nullopt},
      {"another key", Broken({{block + 6 + 2 * 14, 'X', 2}}), true, std::nullopt},
      {"a value shorter than the fixed part", Broken({{block + 2, 51, 2}}), true, std::nullopt},
      {"a block shorter than its fixed part", Broken({{block, 91, 2}}), true, std::nullopt},
      {"a data entry whose size runs past the file", Broken({{root + 0x4C, 0xFFFFFFFF, 4}}), true,
       std::nullopt},
      {"a data entry outside every section", Broken({{root + 0x48, 0x7000, 4}}), true,
       std::nullopt},
      {"a type given by name", Broken({{root + 0x10, 0x80000010, 4}}), true, std::nullopt},
      {"a tree that leads back to its root", Broken({{root + 0x14, 0x80000000, 4}}), true,
       std::nullopt},
      {"a directory of 131070 entries, past the file, none a version",
       Broken({{root + 12, 0xFFFFFFFF, 4}, {root + 0x10, 17, 4}}), true, std::nullopt},
  };
  for (const auto& check : cases) {
    SCOPED_TRACE(check.what);
    EXPECT_EQ(IsPeImage(check.image), check.isImage);
    EXPECT_EQ(ImageVersion(check.image), check.version);
  }
  EXPECT_TRUE(IsWholePeImage(mingw));
  EXPECT_EQ(ImportedLibraries(mingw), std::vector<std::string>{"KERNEL32.dll"});
  EXPECT_EQ(VersionText(kSample), "1.2.3.4");
  EXPECT_EQ(VersionText({{0, 10, 0, 0}}), "0.10.0");
}

// An image cut short anywhere, as a download that broke off: no version until its whole block is
// there, and the whole version from then on; a whole image only with its last byte.
TEST(PeImageTest, AnImageCutShortGivesItsVersionOnlyWhole) {
  const std::string image = Sample();
  const test::PeResourcePlaces places = test::PeResourcesOf();
  for (std::size_t size = 0; size <= image.size(); ++size) {
    const std::optional<FileVersion> expected =
        size >= places.Block + places.BlockSize ? std::optional(kSample) : std::nullopt;
    const std::string_view cut = std::string_view(image).substr(0, size);
    ASSERT_EQ(ImageVersion(cut), expected) << size;
    ASSERT_EQ(IsWholePeImage(cut), size == image.size()) << size;
  }
}

}  // namespace
}  // namespace vesperline::check
