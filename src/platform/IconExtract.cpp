#include "platform/IconExtract.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

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

ExtractedIcon ExtractFromIconFile(Bytes file, std::int32_t index) {
  const std::uint16_t count = U16(file, 4);
  if (index < 0)
    return NoIcon("an .ico file has no icon resource IDs (index " + std::to_string(index) + ")");
  if (static_cast<std::uint32_t>(index) >= count) {
    return NoIcon("icon index " + std::to_string(index) + " past the " + std::to_string(count) +
                  " images of the .ico file");
  }
  const std::uint64_t entry = kIconDirSize + static_cast<std::uint64_t>(index) * kIconDirEntrySize;
  const std::uint32_t size = U32(file, entry + 8);
  const std::uint32_t offset = U32(file, entry + 12);
  if (size == 0 || !Fits(file, offset, size)) {
    return NoIcon("image " + std::to_string(index) + " of the .ico file (entry at offset " +
                  Hex(entry) + ") lies outside the file: offset " + Hex(offset) + ", size " +
                  Hex(size));
  }
  ExtractedIcon result;
  result.outcome = IconOutcome::Found;
  result.ico.reserve(kIconDirSize + kIconDirEntrySize + size);
  PutU16(result.ico, 0);
  PutU16(result.ico, 1);
  PutU16(result.ico, 1);
  const auto head = file.subspan(entry, 8);
  result.ico.insert(result.ico.end(), head.begin(), head.end());
  PutU32(result.ico, size);
  PutU32(result.ico, static_cast<std::uint32_t>(kIconDirSize + kIconDirEntrySize));
  const auto image = file.subspan(offset, size);
  result.ico.insert(result.ico.end(), image.begin(), image.end());
  return result;
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

  Bytes file_;
  std::vector<Section> sections_;
  bool hasResources_ = false;
  std::uint32_t rsrcFileOffset_ = 0;
  std::uint32_t rsrcSize_ = 0;  // bytes of resource data readable from its start
};

std::string PeResources::Open() {
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
  const std::uint16_t sectionCount = U16(file_, coff + 2);
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
  const std::uint32_t rsrcRva = U32(file_, optional + resourceEntry);
  const std::uint32_t rsrcDirSize = U32(file_, optional + resourceEntry + 4);
  if (rsrcRva == 0 || rsrcDirSize == 0) return "the program has no resources";

  const std::uint64_t table = optional + optionalSize;
  if (!Fits(file_, table, sectionCount * kSectionHeaderSize)) {
    return "section table at offset " + Hex(table) + " (" + std::to_string(sectionCount) +
           " sections) runs past the end of the file";
  }
  sections_.reserve(sectionCount);
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t at = table + i * kSectionHeaderSize;
    Section section;
    section.virtualAddress = U32(file_, at + 12);
    section.rawOffset = U32(file_, at + 20);
    const std::uint64_t raw = U32(file_, at + 16);
    if (section.rawOffset >= file_.size()) continue;
    section.rawSize =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(raw, file_.size() - section.rawOffset));
    sections_.push_back(section);
  }
  for (const Section& section : sections_) {
    if (rsrcRva >= section.virtualAddress && rsrcRva - section.virtualAddress < section.rawSize) {
      const std::uint32_t delta = rsrcRva - section.virtualAddress;
      rsrcFileOffset_ = section.rawOffset + delta;
      rsrcSize_ = section.rawSize - delta;
      hasResources_ = true;
      return {};
    }
  }
  return "resource directory RVA " + Hex(rsrcRva) + " lies in no section data of the file";
}

std::optional<Bytes> PeResources::MapRva(std::uint64_t rva, std::uint64_t size) const {
  for (const Section& section : sections_) {
    if (rva < section.virtualAddress) continue;
    const std::uint64_t delta = rva - section.virtualAddress;
    if (delta >= section.rawSize || size > section.rawSize - delta) continue;
    return file_.subspan(section.rawOffset + delta, size);
  }
  return std::nullopt;
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

std::optional<Bytes> PeResources::Data(const ResourceEntry& nameEntry,
                                       const std::array<std::uint32_t, 2>& path,
                                       std::string& error) const {
  const Bytes rsrc = file_.subspan(rsrcFileOffset_, rsrcSize_);
  std::uint32_t dataOffset = nameEntry.offset;
  if (nameEntry.isDir) {
    // The language level: the first language is taken. A directory that
    // leads back to the root or the type directory would loop.
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
    dataOffset = language.offset;
  }
  if (!Fits(rsrc, dataOffset, kDataEntrySize)) {
    error = "resource data entry at file offset " + Hex(FileOffset(dataOffset)) +
            " lies outside the resource data";
    return std::nullopt;
  }
  const std::uint32_t rva = U32(rsrc, dataOffset);
  const std::uint32_t size = U32(rsrc, dataOffset + 4);
  auto data = MapRva(rva, size);
  if (!data) {
    error = "resource data (entry at file offset " + Hex(FileOffset(dataOffset)) + ": RVA " +
            Hex(rva) + ", size " + Hex(size) + ") lies outside the file's section data";
  }
  return data;
}

ExtractedIcon ExtractFromPe(Bytes file, std::int32_t index) {
  PeResources pe(file);
  std::string error = pe.Open();
  if (!pe.HasResources()) return NoIcon(error);

  const auto groups = pe.TypeDir(kRtGroupIcon, error);
  if (!groups) return NoIcon(error.empty() ? "the program has no icon groups" : error);

  // Pick the group: by position for index >= 0, by resource ID otherwise.
  std::optional<ResourceEntry> chosen;
  if (index >= 0) {
    if (static_cast<std::uint32_t>(index) < groups->total) {
      chosen = pe.Entry(*groups, static_cast<std::uint32_t>(index));
    }
  } else {
    const std::int64_t id = -static_cast<std::int64_t>(index);
    for (std::uint32_t i = groups->named; i < groups->total && !chosen; ++i) {
      const ResourceEntry entry = pe.Entry(*groups, i);
      if (!entry.named && entry.id == id) chosen = entry;
    }
  }
  if (!chosen) {
    return NoIcon(index >= 0 ? "icon index " + std::to_string(index) + " past the " +
                                   std::to_string(groups->total) + " icon groups of the program"
                             : "the program has no icon group with ID " +
                                   std::to_string(-static_cast<std::int64_t>(index)));
  }
  const auto group = pe.Data(*chosen, {0u, groups->offset}, error);
  if (!group) return NoIcon(error);

  if (!Fits(*group, 0, kIconDirSize) || U16(*group, 0) != 0 || U16(*group, 2) != 1) {
    return NoIcon("icon group resource is not an icon directory (reserved 0, type 1)");
  }
  const std::uint16_t memberCount = U16(*group, 4);
  if (!Fits(*group, kIconDirSize, memberCount * kGroupEntrySize)) {
    return NoIcon("icon group claims " + std::to_string(memberCount) + " images, more than its " +
                  std::to_string(group->size()) + " bytes hold");
  }

  std::string iconError;
  const auto icons = pe.TypeDir(kRtIcon, iconError);
  if (!icons) return NoIcon(iconError.empty() ? "the program has no icon images" : iconError);
  std::unordered_map<std::uint32_t, ResourceEntry> iconsById;
  for (std::uint32_t i = icons->named; i < icons->total; ++i) {
    const ResourceEntry entry = pe.Entry(*icons, i);
    if (!entry.named) iconsById.emplace(entry.id, entry);
  }

  // Members whose image is missing or damaged are left out. A member naming
  // an image already taken is skipped, and the images together may not
  // exceed the file, so a small hostile file cannot make a huge icon.
  struct Member {
    Bytes head;  // width, height, colours, reserved, planes, bit count
    Bytes image;
  };
  std::vector<Member> members;
  std::unordered_set<std::uint16_t> taken;
  std::uint64_t imageBytes = 0;
  for (std::uint32_t i = 0; i < memberCount; ++i) {
    const std::uint64_t at = kIconDirSize + i * kGroupEntrySize;
    const std::uint16_t id = U16(*group, at + 12);
    const auto found = iconsById.find(id);
    if (found == iconsById.end() || !taken.insert(id).second) continue;
    const auto image = pe.Data(found->second, {0u, icons->offset}, iconError);
    if (!image || image->empty() || image->size() > file.size() - imageBytes) continue;
    imageBytes += image->size();
    members.push_back({group->subspan(at, 8), *image});
  }
  if (members.empty()) {
    return NoIcon("none of the " + std::to_string(memberCount) +
                  " images of the icon group is present" +
                  (iconError.empty() ? std::string() : ": " + iconError));
  }

  ExtractedIcon result;
  result.outcome = IconOutcome::Found;
  const std::uint64_t headerSize = kIconDirSize + members.size() * kIconDirEntrySize;
  result.ico.reserve(headerSize + imageBytes);
  PutU16(result.ico, 0);
  PutU16(result.ico, 1);
  PutU16(result.ico, static_cast<std::uint16_t>(members.size()));
  std::uint64_t offset = headerSize;
  for (const Member& member : members) {
    result.ico.insert(result.ico.end(), member.head.begin(), member.head.end());
    PutU32(result.ico, static_cast<std::uint32_t>(member.image.size()));
    PutU32(result.ico, static_cast<std::uint32_t>(offset));
    offset += member.image.size();
  }
  for (const Member& member : members) {
    result.ico.insert(result.ico.end(), member.image.begin(), member.image.end());
  }
  return result;
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
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    return NoIcon(name + ": " + (ec ? ec.message() : "not a regular file"));
  }
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) return NoIcon(name + ": " + ec.message());
  if (size > kMaxFileSize) {
    return NoIcon(name + ": " + std::to_string(size) +
                  " bytes, larger than the 256 MiB read for icons");
  }
#ifndef _WIN32
  // Mapped, not read: a library of many megabytes is touched only where its
  // headers and icon resources lie.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return NoIcon(name + ": cannot be opened");
  void* mapped = size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
  ::close(fd);
  if (size && mapped == MAP_FAILED) return NoIcon(name + ": cannot be mapped");
  const std::span<const std::byte> bytes(static_cast<const std::byte*>(mapped),
                                         static_cast<std::size_t>(size));
  ExtractedIcon result = ExtractIconFromBytes(bytes, index);
  if (mapped) ::munmap(mapped, size);
#else
  std::ifstream in(file, std::ios::binary);
  if (!in) return NoIcon(name + ": cannot be opened");
  std::vector<std::byte> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.gcount() != static_cast<std::streamsize>(bytes.size())) {
    return NoIcon(name + ": read failed after " + std::to_string(in.gcount()) + " bytes");
  }
  ExtractedIcon result = ExtractIconFromBytes(bytes, index);
#endif
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
  if (IsIconFile(file)) return U16(file, 4);
  return 0;
}

}  // namespace orbel::platform
