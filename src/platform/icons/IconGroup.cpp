#include "platform/icons/IconGroup.h"

#include <unordered_map>
#include <unordered_set>

namespace orbel::platform::iconfile {
namespace {

constexpr std::uint64_t kGroupEntrySize = 14;

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

}  // namespace

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

}  // namespace orbel::platform::iconfile
