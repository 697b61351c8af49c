#include "tests/support/PeImages.h"

namespace vesperline::test {

namespace {

constexpr std::size_t kOptional = 0x58;
constexpr std::size_t kTable = kOptional + 240;
constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::size_t kSectionSize = 0x400;
// The resources in the second half of the section.
constexpr std::size_t kResources = 0x200;
constexpr std::size_t kBlockAt = 0x58;  // from the resources' start
constexpr std::size_t kBlockSize = 92;  // the block's header and key, then the fixed part

// The section's place in the file, past the headers and the table, aligned as a linker does.
std::size_t SectionData(std::size_t sectionIndex) {
  return (kTable + 40 * (sectionIndex + 1) + 0x1FF) & ~std::size_t{0x1FF};
}

}  // namespace

void PutLittle(std::string& image, std::size_t at, std::uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
}

PeResourcePlaces PeResourcesOf(std::size_t sectionIndex) {
  const std::size_t root = SectionData(sectionIndex) + kResources;
  return {root, root + kBlockAt, kBlockSize};
}

std::string PeImage(const std::vector<std::string>& libraries,
                    std::optional<std::array<std::uint16_t, 4>> version, std::size_t sectionIndex) {
  const std::size_t data = SectionData(sectionIndex);
  std::string image(data + kSectionSize, '\0');
  const auto put = [&](std::size_t at, std::uint32_t value, std::size_t width) {
    PutLittle(image, at, value, width);
  };
  image.replace(0, 2, "MZ");
  put(0x3C, 0x40, 4);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  put(0x44, 0x8664, 2);                                        // x64
  put(0x46, static_cast<std::uint32_t>(sectionIndex + 1), 2);  // sections
  put(0x54, 240, 2);                     // the size of a PE32+ optional header
  put(kOptional, 0x20B, 2);              // PE32+
  put(kOptional + 108, 16, 4);           // 16 data directories
  put(kOptional + 120, kSectionRva, 4);  // the imports, at the section's start
  const std::size_t section = kTable + 40 * sectionIndex;
  put(section + 8, kSectionSize, 4);
  put(section + 12, kSectionRva, 4);
  put(section + 16, kSectionSize, 4);
  put(section + 20, static_cast<std::uint32_t>(data), 4);
  std::size_t name = 20 * (libraries.size() + 1);
  for (std::size_t i = 0; i < libraries.size(); ++i) {
    put(data + 20 * i + 12, static_cast<std::uint32_t>(kSectionRva + name), 4);
    image.replace(data + name, libraries[i].size(), libraries[i]);
    name += libraries[i].size() + 1;
  }
  if (!version) return image;

  // The resource tree as windres writes it: the type (16, a version resource), the name (1) and
  // the language (U.S. English), each a directory of one entry, then the data entry that gives
  // the VS_VERSIONINFO block's address and size.
  const std::uint32_t resourceRva = kSectionRva + kResources;
  put(kOptional + 128, resourceRva, 4);
  put(kOptional + 132, static_cast<std::uint32_t>(kBlockAt + kBlockSize), 4);
  const std::size_t root = data + kResources;
  const struct {
    std::size_t At;
    std::uint32_t Id;
    std::uint32_t Leads;
  } levels[] = {{0x00, 16, 0x80000018}, {0x18, 1, 0x80000030}, {0x30, 0x409, 0x48}};
  for (const auto& level : levels) {
    put(root + level.At + 14, 1, 2);
    put(root + level.At + 16, level.Id, 4);
    put(root + level.At + 20, level.Leads, 4);
  }
  put(root + 0x48, static_cast<std::uint32_t>(resourceRva + kBlockAt), 4);
  put(root + 0x4C, static_cast<std::uint32_t>(kBlockSize), 4);
  const std::size_t block = root + kBlockAt;
  put(block, static_cast<std::uint32_t>(kBlockSize), 2);
  put(block + 2, 52, 2);
  const std::string key = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < key.size(); ++i) put(block + 6 + 2 * i, key[i], 2);
  put(block + 40, 0xFEEF04BD, 4);
  put(block + 44, 0x10000, 4);
  for (const std::size_t at : {block + 48, block + 56}) {  // the file and the product version
    put(at, static_cast<std::uint32_t>((*version)[0]) << 16 | (*version)[1], 4);
    put(at + 4, static_cast<std::uint32_t>((*version)[2]) << 16 | (*version)[3], 4);
  }
  return image;
}

}  // namespace vesperline::test
