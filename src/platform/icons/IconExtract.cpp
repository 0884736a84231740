#include "platform/icons/IconExtract.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/base/SafeFile.h"

namespace orbel::platform {
namespace {

constexpr std::uint64_t kMaxFileSize = 256ull * 1024 * 1024;
constexpr std::uint32_t kRtIcon = 3;
constexpr std::uint32_t kRtGroupIcon = 14;
constexpr std::uint64_t kIconDirSize = 6;
constexpr std::uint64_t kIconDirEntrySize = 16;
constexpr std::uint64_t kGroupEntrySize = 14;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kResourceDirSize = 16;
constexpr std::uint64_t kResourceEntrySize = 8;
constexpr std::uint64_t kDataEntrySize = 16;

using Bytes = std::span<const std::byte>;

bool Fits(Bytes data, std::uint64_t offset, std::uint64_t length) {
  return offset <= data.size() && length <= data.size() - offset;
}

// Callers check the range with Fits first.
std::uint16_t U16(Bytes data, std::uint64_t offset) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(data[offset]) |
                                    (std::to_integer<unsigned>(data[offset + 1]) << 8));
}

std::uint32_t U32(Bytes data, std::uint64_t offset) {
  return static_cast<std::uint32_t>(U16(data, offset)) |
         (static_cast<std::uint32_t>(U16(data, offset + 2)) << 16);
}

void PutU16(std::vector<std::byte>& out, std::uint16_t value) {
  out.push_back(static_cast<std::byte>(value & 0xFF));
  out.push_back(static_cast<std::byte>(value >> 8));
}

void PutU32(std::vector<std::byte>& out, std::uint32_t value) {
  PutU16(out, static_cast<std::uint16_t>(value & 0xFFFF));
  PutU16(out, static_cast<std::uint16_t>(value >> 16));
}

std::string Hex(std::uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

ExtractedIcon Fail(IconOutcome outcome, std::string error) {
  ExtractedIcon result;
  result.outcome = outcome;
  result.error = std::move(error);
  return result;
}

ExtractedIcon NoIcon(std::string error) { return Fail(IconOutcome::NoIcon, std::move(error)); }

// ---- .ico files ----

// True when `file` starts with an ICONDIR whose entries all lie in the file.
bool IsIconFile(Bytes file) {
  if (!Fits(file, 0, kIconDirSize)) return false;
  const std::uint16_t count = U16(file, 4);
  return U16(file, 0) == 0 && U16(file, 2) == 1 && count >= 1 &&
         Fits(file, kIconDirSize, count * kIconDirEntrySize);
}

// One image of an icon: its directory head (width, height, colours, reserved,
// planes, bit count) and its bytes.
struct IconImage {
  Bytes head;
  Bytes image;
};

// A complete .ico file of `images`, in that order.
std::vector<std::byte> BuildIco(const std::vector<IconImage>& images) {
  std::uint64_t imageBytes = 0;
  for (const IconImage& image : images) imageBytes += image.image.size();
  const std::uint64_t headerSize = kIconDirSize + images.size() * kIconDirEntrySize;
  std::vector<std::byte> ico;
  ico.reserve(headerSize + imageBytes);
  PutU16(ico, 0);
  PutU16(ico, 1);
  PutU16(ico, static_cast<std::uint16_t>(images.size()));
  std::uint64_t offset = headerSize;
  for (const IconImage& image : images) {
    ico.insert(ico.end(), image.head.begin(), image.head.end());
    PutU32(ico, static_cast<std::uint32_t>(image.image.size()));
    PutU32(ico, static_cast<std::uint32_t>(offset));
    offset += image.image.size();
  }
  for (const IconImage& image : images) ico.insert(ico.end(), image.image.begin(), image.image.end());
  return ico;
}

ExtractedIcon Found(const std::vector<IconImage>& images) {
  ExtractedIcon result;
  result.outcome = IconOutcome::Found;
  result.ico = BuildIco(images);
  return result;
}

// An .ico file is one icon, index 0, with all its sizes. Images whose data
// lies outside the file are left out, and so are images past the file's size
// in all, so that entries naming the same bytes cannot make a huge icon.
ExtractedIcon ExtractFromIconFile(Bytes file, std::int32_t index) {
  if (index != 0) {
    return NoIcon("an .ico file holds one icon, index 0 (index " + std::to_string(index) + ")");
  }
  const std::uint16_t count = U16(file, 4);
  std::vector<IconImage> images;
  std::string firstError;
  std::uint64_t imageBytes = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = kIconDirSize + i * kIconDirEntrySize;
    const std::uint32_t size = U32(file, entry + 8);
    const std::uint32_t offset = U32(file, entry + 12);
    if (size == 0 || !Fits(file, offset, size)) {
      if (firstError.empty()) {
        firstError = "image " + std::to_string(i) + " of the .ico file (entry at offset " +
                     Hex(entry) + ") lies outside the file: offset " + Hex(offset) + ", size " +
                     Hex(size);
      }
      continue;
    }
    if (size > file.size() - imageBytes) continue;
    imageBytes += size;
    images.push_back({file.subspan(entry, 8), file.subspan(offset, size)});
  }
  if (images.empty()) {
    return NoIcon("none of the " + std::to_string(count) + " images of the .ico file is present: " +
                  firstError);
  }
  return Found(images);
}

// ---- PE files ----

struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t rawSize = 0;  // clamped to the file
  std::uint32_t rawOffset = 0;
};

struct ResourceDir {
  std::uint32_t offset = 0;  // from the start of the resource data
  std::uint32_t named = 0;
  std::uint32_t total = 0;
};

struct ResourceEntry {
  bool named = false;
  std::uint32_t id = 0;  // for ID entries
  bool isDir = false;
  std::uint32_t offset = 0;  // from the start of the resource data
};

class PeResources {
 public:
  explicit PeResources(Bytes file) : file_(file) {}

  // Reads the headers and locates the resource data. Returns an empty string
  // when HasResources(), else what was missing or damaged.
  std::string Open();

  bool HasResources() const { return hasResources_; }

  // The file range of `size` bytes at `rva`, when it lies in one section's
  // data inside the file.
  std::optional<Bytes> MapRva(std::uint64_t rva, std::uint64_t size) const;

  // Reads the directory header at `offset` and checks that its entries fit.
  std::optional<ResourceDir> ReadDir(std::uint32_t offset, std::string& error) const;
  ResourceEntry Entry(const ResourceDir& dir, std::uint32_t i) const;

  // Follows a name-level entry down to its first language's data. `path`
  // holds the directories above it (root, type), which it may not lead back to.
  std::optional<Bytes> Data(const ResourceEntry& nameEntry,
                            const std::array<std::uint32_t, 2>& path, std::string& error) const;

  // The subdirectory of the root for resource type `type`, if any.
  std::optional<ResourceDir> TypeDir(std::uint32_t type, std::string& error) const;

 private:
  std::uint64_t FileOffset(std::uint64_t resourceOffset) const {
    return rsrcFileOffset_ + resourceOffset;
  }
  std::string ReadHeaders(std::uint64_t& table, std::uint16_t& sectionCount,
                          std::uint32_t& rsrcRva);
  void ReadSections(std::uint64_t table, std::uint16_t count);
  // The section whose data holds `rva`, or nullptr.
  const Section* SectionAt(std::uint64_t rva) const;
  std::optional<std::uint32_t> LanguageData(const ResourceEntry& nameEntry,
                                            const std::array<std::uint32_t, 2>& path,
                                            std::string& error) const;

  Bytes file_;
  std::vector<Section> sections_;  // by address, none overlapping another
  bool hasResources_ = false;
  std::uint32_t rsrcFileOffset_ = 0;
  std::uint32_t rsrcSize_ = 0;  // bytes of resource data readable from its start
};

// Checks the MZ, PE and optional headers; gives the section table's offset,
// the section count and the resource directory's RVA.
std::string PeResources::ReadHeaders(std::uint64_t& table, std::uint16_t& sectionCount,
                                     std::uint32_t& rsrcRva) {
  if (!Fits(file_, 0, 0x40)) return "MZ header cut short (file of " + Hex(file_.size()) + " bytes)";
  const std::uint32_t peOffset = U32(file_, 0x3C);
  if (!Fits(file_, peOffset, 4)) {
    return "program header offset " + Hex(peOffset) + " (at 0x3c) lies outside the file";
  }
  if (U16(file_, peOffset) == 0x454E) {  // "NE"
    return "16-bit NE program at offset " + Hex(peOffset) + ": its icons are not read";
  }
  if (U32(file_, peOffset) != 0x00004550) {
    return "no PE signature at offset " + Hex(peOffset) + " (an MS-DOS or other program)";
  }
  const std::uint64_t coff = peOffset + 4ull;
  if (!Fits(file_, coff, 20)) return "COFF header at offset " + Hex(coff) + " cut short";
  sectionCount = U16(file_, coff + 2);
  const std::uint16_t optionalSize = U16(file_, coff + 16);
  const std::uint64_t optional = coff + 20;
  if (!Fits(file_, optional, optionalSize) || optionalSize < 2) {
    return "optional header at offset " + Hex(optional) + " cut short";
  }
  const std::uint16_t magic = U16(file_, optional);
  std::uint64_t countField = 0;
  if (magic == 0x10b) {
    countField = 92;
  } else if (magic == 0x20b) {
    countField = 108;
  } else {
    return "unknown optional header magic " + Hex(magic) + " at offset " + Hex(optional);
  }
  const std::uint64_t resourceEntry = countField + 4 + 2 * 8;
  if (optionalSize < countField + 4 || U32(file_, optional + countField) <= 2 ||
      optionalSize < resourceEntry + 8) {
    return "the program has no resource directory entry";
  }
  rsrcRva = U32(file_, optional + resourceEntry);
  const std::uint32_t rsrcDirSize = U32(file_, optional + resourceEntry + 4);
  if (rsrcRva == 0 || rsrcDirSize == 0) return "the program has no resources";
  table = optional + optionalSize;
  if (!Fits(file_, table, sectionCount * kSectionHeaderSize)) {
    return "section table at offset " + Hex(table) + " (" + std::to_string(sectionCount) +
           " sections) runs past the end of the file";
  }
  return {};
}

// Keeps the sections with data in the file, sorted by address. A section
// whose addresses overlap one with lower addresses is left out (the Windows
// loader refuses such files), so that each address lies in one section and
// is found by a binary search, whatever the number of sections.
void PeResources::ReadSections(std::uint64_t table, std::uint16_t count) {
  std::vector<Section> all;
  all.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t at = table + i * kSectionHeaderSize;
    Section section;
    section.virtualAddress = U32(file_, at + 12);
    section.rawOffset = U32(file_, at + 20);
    const std::uint64_t raw = U32(file_, at + 16);
    if (section.rawOffset >= file_.size()) continue;
    section.rawSize =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(raw, file_.size() - section.rawOffset));
    if (section.rawSize > 0) all.push_back(section);
  }
  std::stable_sort(all.begin(), all.end(), [](const Section& a, const Section& b) {
    return a.virtualAddress < b.virtualAddress;
  });
  std::uint64_t end = 0;
  for (const Section& section : all) {
    if (!sections_.empty() && section.virtualAddress < end) continue;
    sections_.push_back(section);
    end = std::uint64_t{section.virtualAddress} + section.rawSize;
  }
}

std::string PeResources::Open() {
  std::uint64_t table = 0;
  std::uint16_t sectionCount = 0;
  std::uint32_t rsrcRva = 0;
  if (std::string error = ReadHeaders(table, sectionCount, rsrcRva); !error.empty()) return error;
  ReadSections(table, sectionCount);
  const Section* section = SectionAt(rsrcRva);
  if (!section) {
    return "resource directory RVA " + Hex(rsrcRva) + " lies in no section data of the file";
  }
  const std::uint32_t delta = rsrcRva - section->virtualAddress;
  rsrcFileOffset_ = section->rawOffset + delta;
  rsrcSize_ = section->rawSize - delta;
  hasResources_ = true;
  return {};
}

const Section* PeResources::SectionAt(std::uint64_t rva) const {
  auto after = std::upper_bound(sections_.begin(), sections_.end(), rva,
                                [](std::uint64_t value, const Section& section) {
                                  return value < section.virtualAddress;
                                });
  if (after == sections_.begin()) return nullptr;
  const Section& section = *(after - 1);
  return rva - section.virtualAddress < section.rawSize ? &section : nullptr;
}

std::optional<Bytes> PeResources::MapRva(std::uint64_t rva, std::uint64_t size) const {
  const Section* section = SectionAt(rva);
  if (!section) return std::nullopt;
  const std::uint64_t delta = rva - section->virtualAddress;
  if (size > section->rawSize - delta) return std::nullopt;
  return file_.subspan(section->rawOffset + delta, size);
}

std::optional<ResourceDir> PeResources::ReadDir(std::uint32_t offset, std::string& error) const {
  const Bytes rsrc = file_.subspan(rsrcFileOffset_, rsrcSize_);
  if (!Fits(rsrc, offset, kResourceDirSize)) {
    error = "resource directory at file offset " + Hex(FileOffset(offset)) +
            " lies outside the resource data";
    return std::nullopt;
  }
  ResourceDir dir;
  dir.offset = offset;
  dir.named = U16(rsrc, offset + 12);
  dir.total = dir.named + U16(rsrc, offset + 14);
  if (!Fits(rsrc, offset + kResourceDirSize, dir.total * kResourceEntrySize)) {
    error = "resource directory at file offset " + Hex(FileOffset(offset)) + " claims " +
            std::to_string(dir.total) + " entries, more than the resource data holds";
    return std::nullopt;
  }
  return dir;
}

ResourceEntry PeResources::Entry(const ResourceDir& dir, std::uint32_t i) const {
  const Bytes rsrc = file_.subspan(rsrcFileOffset_, rsrcSize_);
  const std::uint64_t at = dir.offset + kResourceDirSize + i * kResourceEntrySize;
  const std::uint32_t name = U32(rsrc, at);
  const std::uint32_t target = U32(rsrc, at + 4);
  ResourceEntry entry;
  entry.named = (name & 0x80000000u) != 0;
  entry.id = name & 0x7FFFFFFFu;
  entry.isDir = (target & 0x80000000u) != 0;
  entry.offset = target & 0x7FFFFFFFu;
  return entry;
}

std::optional<ResourceDir> PeResources::TypeDir(std::uint32_t type, std::string& error) const {
  const auto root = ReadDir(0, error);
  if (!root) return std::nullopt;
  for (std::uint32_t i = root->named; i < root->total; ++i) {
    const ResourceEntry entry = Entry(*root, i);
    if (entry.named || entry.id != type) continue;
    if (!entry.isDir || entry.offset == 0) {
      error = "resource type " + std::to_string(type) + " at file offset " +
              Hex(FileOffset(kResourceDirSize + i * kResourceEntrySize)) +
              " does not lead to a directory";
      return std::nullopt;
    }
    return ReadDir(entry.offset, error);
  }
  return std::nullopt;
}

// The offset of the data entry of a name-level entry's first language (or of
// the entry itself when it leads straight to data).
std::optional<std::uint32_t> PeResources::LanguageData(const ResourceEntry& nameEntry,
                                                       const std::array<std::uint32_t, 2>& path,
                                                       std::string& error) const {
  if (!nameEntry.isDir) return nameEntry.offset;
  // A directory that leads back to the root or the type directory would loop.
  for (std::uint32_t ancestor : path) {
    if (nameEntry.offset == ancestor) {
      error = "resource directory at file offset " + Hex(FileOffset(nameEntry.offset)) +
              " loops back to a directory above it";
      return std::nullopt;
    }
  }
  const auto languages = ReadDir(nameEntry.offset, error);
  if (!languages) return std::nullopt;
  if (languages->total == 0) {
    error = "resource directory at file offset " + Hex(FileOffset(nameEntry.offset)) +
            " has no language entries";
    return std::nullopt;
  }
  const ResourceEntry language = Entry(*languages, 0);
  if (language.isDir) {
    error = "resource directory at file offset " + Hex(FileOffset(nameEntry.offset)) +
            " nests deeper than three levels";
    return std::nullopt;
  }
  return language.offset;
}

std::optional<Bytes> PeResources::Data(const ResourceEntry& nameEntry,
                                       const std::array<std::uint32_t, 2>& path,
                                       std::string& error) const {
  const auto dataOffset = LanguageData(nameEntry, path, error);
  if (!dataOffset) return std::nullopt;
  const Bytes rsrc = file_.subspan(rsrcFileOffset_, rsrcSize_);
  if (!Fits(rsrc, *dataOffset, kDataEntrySize)) {
    error = "resource data entry at file offset " + Hex(FileOffset(*dataOffset)) +
            " lies outside the resource data";
    return std::nullopt;
  }
  const std::uint32_t rva = U32(rsrc, *dataOffset);
  const std::uint32_t size = U32(rsrc, *dataOffset + 4);
  auto data = MapRva(rva, size);
  if (!data) {
    error = "resource data (entry at file offset " + Hex(FileOffset(*dataOffset)) + ": RVA " +
            Hex(rva) + ", size " + Hex(size) + ") lies outside the file's section data";
  }
  return data;
}

// The icon group entry for `index`: by position for 0 or more, by resource ID
// otherwise.
std::optional<ResourceEntry> PickGroup(const PeResources& pe, const ResourceDir& groups,
                                       std::int32_t index) {
  if (index >= 0) {
    if (static_cast<std::uint32_t>(index) >= groups.total) return std::nullopt;
    return pe.Entry(groups, static_cast<std::uint32_t>(index));
  }
  const std::int64_t id = -static_cast<std::int64_t>(index);
  for (std::uint32_t i = groups.named; i < groups.total; ++i) {
    const ResourceEntry entry = pe.Entry(groups, i);
    if (!entry.named && entry.id == id) return entry;
  }
  return std::nullopt;
}

std::string NoGroupMessage(std::int32_t index, const ResourceDir& groups) {
  if (index >= 0) {
    return "icon index " + std::to_string(index) + " past the " + std::to_string(groups.total) +
           " icon groups of the program";
  }
  return "the program has no icon group with ID " +
         std::to_string(-static_cast<std::int64_t>(index));
}

// The number of members of an icon group resource, or an error.
std::optional<std::uint16_t> GroupMemberCount(Bytes group, std::string& error) {
  if (!Fits(group, 0, kIconDirSize) || U16(group, 0) != 0 || U16(group, 2) != 1) {
    error = "icon group resource is not an icon directory (reserved 0, type 1)";
    return std::nullopt;
  }
  const std::uint16_t count = U16(group, 4);
  if (!Fits(group, kIconDirSize, count * kGroupEntrySize)) {
    error = "icon group claims " + std::to_string(count) + " images, more than its " +
            std::to_string(group.size()) + " bytes hold";
    return std::nullopt;
  }
  return count;
}

// The ID entries of the icon image directory, by ID.
std::unordered_map<std::uint32_t, ResourceEntry> IconsById(const PeResources& pe,
                                                           const ResourceDir& icons) {
  std::unordered_map<std::uint32_t, ResourceEntry> byId;
  for (std::uint32_t i = icons.named; i < icons.total; ++i) {
    const ResourceEntry entry = pe.Entry(icons, i);
    if (!entry.named) byId.emplace(entry.id, entry);
  }
  return byId;
}

// The images of a group's members. Members whose image is missing or
// damaged are left out. A member naming an image already taken is skipped,
// and the images together may not exceed the file, so a small hostile file
// cannot make a huge icon.
std::vector<IconImage> GroupImages(const PeResources& pe, Bytes file, Bytes group,
                                   std::uint16_t count, const ResourceDir& icons,
                                   std::string& error) {
  const auto byId = IconsById(pe, icons);
  std::vector<IconImage> images;
  std::unordered_set<std::uint16_t> taken;
  std::uint64_t imageBytes = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t at = kIconDirSize + i * kGroupEntrySize;
    const std::uint16_t id = U16(group, at + 12);
    const auto found = byId.find(id);
    if (found == byId.end() || !taken.insert(id).second) continue;
    const auto image = pe.Data(found->second, {0u, icons.offset}, error);
    if (!image || image->empty() || image->size() > file.size() - imageBytes) continue;
    imageBytes += image->size();
    images.push_back({group.subspan(at, 8), *image});
  }
  return images;
}

ExtractedIcon ExtractFromPe(Bytes file, std::int32_t index) {
  PeResources pe(file);
  std::string error = pe.Open();
  if (!pe.HasResources()) return NoIcon(error);

  const auto groups = pe.TypeDir(kRtGroupIcon, error);
  if (!groups) return NoIcon(error.empty() ? "the program has no icon groups" : error);
  const auto chosen = PickGroup(pe, *groups, index);
  if (!chosen) return NoIcon(NoGroupMessage(index, *groups));
  const auto group = pe.Data(*chosen, {0u, groups->offset}, error);
  if (!group) return NoIcon(error);
  const auto count = GroupMemberCount(*group, error);
  if (!count) return NoIcon(error);

  std::string iconError;
  const auto icons = pe.TypeDir(kRtIcon, iconError);
  if (!icons) return NoIcon(iconError.empty() ? "the program has no icon images" : iconError);
  const auto images = GroupImages(pe, file, *group, *count, *icons, iconError);
  if (images.empty()) {
    return NoIcon("none of the " + std::to_string(*count) + " images of the icon group is present" +
                  (iconError.empty() ? std::string() : ": " + iconError));
  }
  return Found(images);
}

bool StartsWithMz(Bytes file) {
  return file.size() >= 2 && file[0] == std::byte{'M'} && file[1] == std::byte{'Z'};
}

}  // namespace

ExtractedIcon ExtractIconFromBytes(std::span<const std::byte> file, std::int32_t index) {
  if (StartsWithMz(file)) return ExtractFromPe(file, index);
  if (IsIconFile(file)) return ExtractFromIconFile(file, index);
  return Fail(IconOutcome::Unusable,
              file.empty() ? "the file is empty"
                           : "the file is neither a program or library nor an .ico file");
}

ExtractedIcon ExtractIconFromFile(const std::filesystem::path& file, std::int32_t index) {
  const std::string name = file.string();
  // Read, not mapped: a file that shrinks or a damaged volume then gives a
  // failed read instead of SIGBUS, and no FIFO or device is opened. The last
  // file read is kept while its size and time stay the same: the rows of an
  // entry, and many entries, name the same large library.
  struct LastFile {
    std::filesystem::path path;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time;
    std::vector<std::byte> bytes;
  };
  static LastFile last;
  std::error_code code;
  const auto status = std::filesystem::status(file, code);
  const bool regular = !code && std::filesystem::is_regular_file(status);
  const std::uintmax_t size = regular ? std::filesystem::file_size(file, code) : 0;
  const auto time = regular && !code ? std::filesystem::last_write_time(file, code)
                                     : std::filesystem::file_time_type{};
  if (!regular || code || last.path != file || last.size != size || last.time != time) {
    last = LastFile{};
    std::string error;
    if (!ReadRegularFile(file, kMaxFileSize, last.bytes, error)) {
      last = LastFile{};
      return NoIcon(name + ": " + error);
    }
    if (regular && !code && last.bytes.size() == size) {
      last.path = file;
      last.size = size;
      last.time = time;
    }
  }
  ExtractedIcon result = ExtractIconFromBytes(last.bytes, index);
  if (!result.error.empty()) result.error = name + ": " + result.error;
  return result;
}

std::int32_t CountIcons(std::span<const std::byte> file) {
  if (StartsWithMz(file)) {
    PeResources pe(file);
    pe.Open();
    if (!pe.HasResources()) return 0;
    std::string error;
    const auto groups = pe.TypeDir(kRtGroupIcon, error);
    return groups ? static_cast<std::int32_t>(groups->total) : 0;
  }
  if (IsIconFile(file)) return 1;
  return 0;
}

}  // namespace orbel::platform
