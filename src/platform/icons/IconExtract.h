// Icons read from the files a registration names: the icon group resources of
// PE programs and libraries (EXE, DLL, OCX, CPL) and the images of .ico files,
// counted the way the Windows shell counts them. Files may come from other
// machines and be hostile; every offset and size is checked before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace orbel::platform {

enum class IconOutcome {
  Found,     // `ico` holds the icon
  NoIcon,    // file unreadable or missing, or a program, library or icon file without an icon
             // at that index
  Unusable,  // the file was read but is neither a PE program or library nor an .ico file: the
             // shell gives a handle that is no usable icon (callers show position -1)
};

struct ExtractedIcon {
  IconOutcome outcome = IconOutcome::NoIcon;
  std::vector<std::byte> ico;  // a complete .ico file (ICONDIR, entries, image data) of one group
  std::string error;           // for NoIcon and Unusable: what was wrong, with an offset if useful
};

// The icon at `index` of a PE or .ico file held in `file`. An index of 0 or
// more counts icon groups of a PE in resource-directory order; a negative
// index names the PE icon group whose resource ID is -index. An .ico file is
// one icon, index 0, with all its sizes.
ExtractedIcon ExtractIconFromBytes(std::span<const std::byte> file, std::int32_t index);

// Reads `file` and extracts as above. Anything but a regular file, files
// larger than 256 MiB and failed reads give NoIcon.
ExtractedIcon ExtractIconFromFile(const std::filesystem::path& file, std::int32_t index);

// The number of icons the shell counts in the file: icon groups in a PE,
// 1 for an .ico. 0 when there are none or the file is not readable as
// either.
std::int32_t CountIcons(std::span<const std::byte> file);

}  // namespace orbel::platform
