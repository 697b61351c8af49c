#include "tools/check/warnings/PeImage.h"

#include <algorithm>

namespace vesperline::check {

namespace {

// The data directories looked at, by their index in the optional header.
constexpr std::uint32_t kImportDirectory = 1;
constexpr std::uint32_t kResourceDirectory = 2;

// The resource type of a version resource (RT_VERSION).
constexpr std::uint32_t kVersionType = 16;

// The loader takes no image of more sections than this; a count beyond it comes from crafted or
// broken bytes, and walking such a table for every address would keep the checker busy.
constexpr std::uint32_t kMaxSections = 96;

// The headers of a PE image, as far as the checker reads them. Every offset is a place in the
// file, checked against its size before a byte is read there; no sum of offsets can overflow, as
// each is below 2^32 and the sums are taken in 64 bits.
class PeView {
 public:
  explicit PeView(std::string_view image) : image_(image) {
    // The DOS header points to the PE header; its optional header (PE32 or PE32+) holds the data
    // directories, and the section table behind it maps an address in the loaded image to a
    // place in the file.
    if (!Fits(0, 64) || image.substr(0, 2) != "MZ") return;
    const std::uint64_t pe = Little(0x3C, 4);
    if (!Fits(pe, 24) || image.substr(pe, 4) != std::string_view("PE\0\0", 4)) return;
    const std::uint32_t sections = Little(pe + 6, 2);
    const std::uint32_t optionalSize = Little(pe + 20, 2);
    const std::uint64_t optional = pe + 24;
    if (!Fits(optional, 2)) return;
    const std::uint32_t magic = Little(optional, 2);
    if (magic != 0x20B && magic != 0x10B) return;
    directories_ = optional + (magic == 0x20B ? 112 : 96);
    // The directories the header has room for, of the sixteen there can be.
    const std::uint64_t end = std::min<std::uint64_t>(optional + optionalSize, image.size());
    directoryCount_ =
        end > directories_
            ? static_cast<std::uint32_t>(std::min<std::uint64_t>((end - directories_) / 8, 16))
            : 0;
    table_ = optional + optionalSize;
    sectionCount_ = std::min(sections, kMaxSections);
    valid_ = directoryCount_ > kImportDirectory;
  }

  bool Valid() const { return valid_; }

  bool Fits(std::uint64_t at, std::uint64_t size) const {
    return at <= image_.size() && size <= image_.size() - at;
  }

  // The little-endian number of width bytes at a place that Fits.
  std::uint32_t Little(std::uint64_t at, std::size_t width) const {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
      value = value << 8 | static_cast<unsigned char>(image_[at + i]);
    }
    return value;
  }

  // The address of a data directory in the loaded image; 0 when the image has none.
  std::uint32_t Directory(std::uint32_t index) const {
    if (!valid_ || index >= directoryCount_) return 0;
    return Little(directories_ + 8ull * index, 4);
  }

  // The place in the file of an address in the loaded image, or nothing when no section holds it.
  std::optional<std::uint64_t> OffsetOf(std::uint32_t rva) const {
    for (std::uint32_t s = 0; s < sectionCount_ && Fits(table_ + s * 40ull, 40); ++s) {
      const std::uint64_t header = table_ + s * 40ull;
      const std::uint32_t virtualSize = Little(header + 8, 4);
      const std::uint32_t address = Little(header + 12, 4);
      const std::uint32_t rawSize = Little(header + 16, 4);
      const std::uint32_t rawAt = Little(header + 20, 4);
      if (rva >= address && rva - address < std::max(virtualSize, rawSize)) {
        return std::uint64_t{rawAt} + (rva - address);
      }
    }
    return std::nullopt;
  }

  // Every section's bytes, as the table places them in the file, lie inside it.
  bool SectionsInside() const {
    for (std::uint32_t s = 0; s < sectionCount_; ++s) {
      const std::uint64_t header = table_ + s * 40ull;
      if (!Fits(header, 40) || !Fits(Little(header + 20, 4), Little(header + 16, 4))) return false;
    }
    return true;
  }

  std::string_view Bytes(std::uint64_t at, std::uint64_t size) const {
    return Fits(at, size) ? image_.substr(at, size) : std::string_view();
  }

 private:
  std::string_view image_;
  bool valid_ = false;
  std::uint64_t directories_ = 0;
  std::uint32_t directoryCount_ = 0;
  std::uint64_t table_ = 0;
  std::uint32_t sectionCount_ = 0;
};

// One entry of a resource directory: the place of the directory or data entry it leads to, as an
// offset from the resource section's start.
struct ResourceEntry {
  std::uint32_t Offset = 0;
  bool Directory = false;
};

// In the resource directory at the given offset from the resource section's start (at base in the
// file), the entry with the given number, or the first entry when id is nothing. Named entries
// come before numbered ones, and a number is never a name, whose field has its high bit set. A
// directory lists at most 2 * 65535 entries, so the walk ends soon whatever the counts say.
std::optional<ResourceEntry> ResourceChild(const PeView& view, std::uint64_t base,
                                           std::uint32_t offset, std::optional<std::uint32_t> id) {
  const std::uint64_t at = base + offset;
  if (!view.Fits(at, 16)) return std::nullopt;
  const std::uint32_t count = view.Little(at + 12, 2) + view.Little(at + 14, 2);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = at + 16 + 8ull * i;
    if (!view.Fits(entry, 8)) return std::nullopt;
    const std::uint32_t name = view.Little(entry, 4);
    const std::uint32_t data = view.Little(entry + 4, 4);
    if (!id || name == *id) return ResourceEntry{data & 0x7FFFFFFFu, (data & 0x80000000u) != 0};
  }
  return std::nullopt;
}

// The file version in a VS_VERSIONINFO block: its length, the length of its value and its type,
// the key "VS_VERSION_INFO" in UTF-16 with its terminator, padding to four bytes, then the fixed
// part (VS_FIXEDFILEINFO), which begins with its signature and holds the file version at 8.
std::optional<FileVersion> FixedFileVersion(std::string_view block) {
  constexpr std::size_t kKeyAt = 6;
  constexpr std::string_view kKey = "VS_VERSION_INFO";
  constexpr std::size_t kFixedAt = (kKeyAt + 2 * (kKey.size() + 1) + 3) & ~std::size_t{3};
  constexpr std::size_t kFixedSize = 52;
  if (block.size() < kFixedAt + kFixedSize) return std::nullopt;
  const auto little = [&](std::size_t at, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
      value = value << 8 | static_cast<unsigned char>(block[at + i]);
    }
    return value;
  };
  if (little(0, 2) < kFixedAt + kFixedSize || little(2, 2) < kFixedSize) return std::nullopt;
  for (std::size_t i = 0; i <= kKey.size(); ++i) {
    const std::uint32_t unit = little(kKeyAt + 2 * i, 2);
    if (unit != (i < kKey.size() ? static_cast<unsigned char>(kKey[i]) : 0u)) return std::nullopt;
  }
  if (little(kFixedAt, 4) != 0xFEEF04BDu) return std::nullopt;
  const std::uint32_t high = little(kFixedAt + 8, 4);
  const std::uint32_t low = little(kFixedAt + 12, 4);
  return FileVersion{{static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                      static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)}};
}

}  // namespace

std::string VersionText(const FileVersion& version) {
  const std::size_t parts = version.Parts[3] != 0 ? 4 : 3;
  std::string text;
  for (std::size_t i = 0; i < parts; ++i) {
    if (i != 0) text += '.';
    text += std::to_string(version.Parts[i]);
  }
  return text;
}

bool IsPeImage(std::string_view image) {
  return PeView(image).Valid();
}

bool IsWholePeImage(std::string_view image) {
  const PeView view(image);
  return view.Valid() && view.SectionsInside();
}

std::vector<std::string> ImportedLibraries(std::string_view image) {
  std::vector<std::string> names;
  const PeView view(image);
  const std::uint32_t importRva = view.Directory(kImportDirectory);
  if (importRva == 0) return names;
  const std::optional<std::uint64_t> descriptors = view.OffsetOf(importRva);
  if (!descriptors) return names;
  // Twenty bytes a library, the name's address at 12; a descriptor of zeros ends the list. A
  // plugin imports a handful of libraries; a list that goes on past kMaxLibraries, or a name
  // outside the file, shows bytes that are no import list, and the walk ends there.
  constexpr std::size_t kMaxLibraries = 1024;
  for (std::uint64_t at = *descriptors; view.Fits(at, 20) && names.size() < kMaxLibraries;
       at += 20) {
    if (image.substr(at, 20).find_first_not_of('\0') == std::string_view::npos) break;
    const std::optional<std::uint64_t> name = view.OffsetOf(view.Little(at + 12, 4));
    if (!name || !view.Fits(*name, 1)) break;
    const std::string_view rest = image.substr(*name, 260);
    names.emplace_back(rest.substr(0, rest.find('\0')));
  }
  return names;
}

std::optional<FileVersion> ImageVersion(std::string_view image) {
  // The resource tree has three levels: the type (a version resource), the resource's name (the
  // first, as Windows takes it: an image carries one) and its language (the first), which leads
  // to a data entry, whose address and size give the VS_VERSIONINFO block. A fixed number of
  // steps down, so that no loop in the tree can hold the walk.
  const PeView view(image);
  const std::uint32_t resourceRva = view.Directory(kResourceDirectory);
  if (resourceRva == 0) return std::nullopt;
  const std::optional<std::uint64_t> base = view.OffsetOf(resourceRva);
  if (!base) return std::nullopt;
  std::optional<ResourceEntry> entry = ResourceChild(view, *base, 0, kVersionType);
  for (int level = 0; level < 2 && entry && entry->Directory; ++level) {
    entry = ResourceChild(view, *base, entry->Offset, std::nullopt);
  }
  if (!entry || entry->Directory || !view.Fits(*base + entry->Offset, 16)) return std::nullopt;
  const std::uint64_t dataEntry = *base + entry->Offset;
  const std::optional<std::uint64_t> data = view.OffsetOf(view.Little(dataEntry, 4));
  const std::uint32_t size = view.Little(dataEntry + 4, 4);
  if (!data || !view.Fits(*data, size)) return std::nullopt;
  return FixedFileVersion(view.Bytes(*data, size));
}

}  // namespace vesperline::check
