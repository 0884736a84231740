// Icon group resources (RT_GROUP_ICON) of a PE file: choosing a group, its
// member count, and its members' images found among the icon resources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/icons/IcoFile.h"
#include "platform/icons/PeResources.h"

namespace orbel::platform::iconfile {

inline constexpr std::uint32_t kRtIcon = 3;
inline constexpr std::uint32_t kRtGroupIcon = 14;

// The icon group entry for `index`: by position for 0 or more, by resource ID
// otherwise.
std::optional<ResourceEntry> PickGroup(const PeResources& pe, const ResourceDir& groups,
                                       std::int32_t index);

// Why PickGroup found nothing for `index`.
std::string NoGroupMessage(std::int32_t index, const ResourceDir& groups);

// The number of members of an icon group resource, or an error.
std::optional<std::uint16_t> GroupMemberCount(Bytes group, std::string& error);

// The images of a group's members. Members whose image is missing or
// damaged are left out. A member naming an image already taken is skipped,
// and the images together may not exceed the file, so a small hostile file
// cannot make a huge icon.
std::vector<IconImage> GroupImages(const PeResources& pe, Bytes file, Bytes group,
                                   std::uint16_t count, const ResourceDir& icons,
                                   std::string& error);

}  // namespace orbel::platform::iconfile
