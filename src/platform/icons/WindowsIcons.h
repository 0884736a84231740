// Icons as the Windows shell gives them: ExtractIconW on the path a
// registration names, for the classes of this computer and of computers
// reached through the network. Images of registries keep IconExtract's
// reader over their own files. Windows only.
#pragma once

#ifdef _WIN32

#include <cstdint>
#include <string>

#include "platform/api/RegistryApi.h"
#include "platform/icons/IconExtract.h"

namespace orbel::platform {

// The icon at `index` of `file` (environment references expanded first), as
// a one-image .ico of the size the shell gives (32 by 32 pixels, 32 bits per
// pixel). The shell's "not an icon file" answer gives Unusable, no icon at
// that index NoIcon. A file from a registry that is not this computer's
// (`thisComputer` false) is opened only when it is one of this computer's
// drives (LocalFileForShell); a network or device path gives NoIcon.
ExtractedIcon ExtractIconWithShell(const std::string& file, std::int32_t index, bool thisComputer);

// Whether the classes read below `root` are this computer's own.
bool IsThisComputersRegistry(RegistryApi& api, HKey root);

// Whether the icons of classes read below `root` come from the shell: true
// for this computer's and network computers' keys, false for an image's.
bool ShellGivesIconsFor(RegistryApi& api, HKey root);

}  // namespace orbel::platform

#endif  // _WIN32
