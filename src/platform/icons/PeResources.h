// The resources of a PE program or library: its headers and section table,
// and the walk of its resource directory (type, name, language) down to data.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/icons/IconBytes.h"

namespace orbel::platform::iconfile {

// A section of the file: where its data lies in memory and in the file.
struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t rawSize = 0;  // clamped to the file
  std::uint32_t rawOffset = 0;
};

// A resource directory: its place and the counts of its named and ID entries.
struct ResourceDir {
  std::uint32_t offset = 0;  // from the start of the resource data
  std::uint32_t named = 0;
  std::uint32_t total = 0;
};

// One entry of a resource directory, leading to a subdirectory or to a data entry.
struct ResourceEntry {
  bool named = false;
  std::uint32_t id = 0;  // for ID entries
  bool isDir = false;
  std::uint32_t offset = 0;  // from the start of the resource data
};

// The resource data of one PE file held in memory; every offset is checked before use.
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

}  // namespace orbel::platform::iconfile
