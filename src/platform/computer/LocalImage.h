// This computer's registry off Windows, and other computers as images.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/api/PortableRegistry.h"
#include "platform/base/Environment.h"

namespace orbel::platform {

struct LocalImageChoice {
  std::filesystem::path path;
  std::string reason;  // why this one: "ORBEL_REGISTRY", "Wine prefix", "sample registry"
};

// The image that stands for this computer: ORBEL_REGISTRY when set, else the
// Wine prefix ($WINEPREFIX, else ~/.wine) when it holds system.reg, else the
// sample registry that ships with the program.
LocalImageChoice ChooseLocalImage(const EnvironmentLookup& environment,
                                  const std::filesystem::path& sampleRegistry);

// Where the sample registry is: beside the program, in the installed data
// folder found from the program's folder, or in the source tree for a program
// run from its build folder.
std::filesystem::path SampleRegistryPath();

// Whether a name given for another computer (leading backslashes removed) is
// the path of its image: it holds a "/" or begins with "~" (on Windows: it
// holds a "\\" or "/"). Any other name is a computer's.
bool NamesImagePath(std::string_view name);

// The name of another computer as a path: leading backslashes removed.
std::filesystem::path MachineNameToPath(std::string_view machine);

struct RegistryImage;

// Mounts `root` of an image: HKEY_LOCAL_MACHINE is the image's machine key,
// HKEY_CLASSES_ROOT its Software\Classes; an image has no other root.
Status MountImageRoot(const RegistryImage& image, HKey root, Mount& out, std::string& error);

// Sets up `registry` as this computer's: HKEY_LOCAL_MACHINE (and
// HKEY_CLASSES_ROOT below it) from the chosen image, read when first used;
// HKEY_CURRENT_USER from `user` (in memory when none); other computers as
// images named by a path (NamesImagePath), a computer's name refused.
void SetUpPortableRegistry(PortableRegistry& registry, const LocalImageChoice& local,
                           std::shared_ptr<Store> user = nullptr);

// The registry of this computer for the program: the Windows registry on
// Windows, elsewhere the stand-in set up from the process environment.
RegistryApi& SystemRegistry();

// What went wrong opening this computer's image, or empty.
std::string LocalRegistryProblem();

}  // namespace orbel::platform
