#include "platform/icons/PeResources.h"

#include <algorithm>

namespace orbel::platform::iconfile {
namespace {

constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kResourceDirSize = 16;
constexpr std::uint64_t kResourceEntrySize = 8;
constexpr std::uint64_t kDataEntrySize = 16;

}  // namespace

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
  auto after = std::upper_bound(
      sections_.begin(), sections_.end(), rva,
      [](std::uint64_t value, const Section& section) { return value < section.virtualAddress; });
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

}  // namespace orbel::platform::iconfile
