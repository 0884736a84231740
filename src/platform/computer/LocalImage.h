// This computer's registry off Windows, and other computers as images.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/api/PortableRegistry.h"
#include "platform/base/Environment.h"
#include "platform/images/RegistryImage.h"

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

// Mounts `root` of an image: HKEY_LOCAL_MACHINE is the image's machine key,
// HKEY_CLASSES_ROOT its Software\Classes; an image has no other root.
Status MountImageRoot(const RegistryImage& image, HKey root, Mount& out, std::string& error);

// Sets up `registry` as this computer's: HKEY_LOCAL_MACHINE (and
// HKEY_CLASSES_ROOT below it) from the chosen image, read when first used;
// HKEY_CURRENT_USER from `user` (in memory when none); other computers as
// images named by a path (NamesImagePath), a computer's name refused.
// `options` is asked at each opening of an image (default options when
// empty), so that a change takes effect at the next Connect or Refresh.
void SetUpPortableRegistry(PortableRegistry& registry, const LocalImageChoice& local,
                           std::shared_ptr<Store> user = nullptr,
                           std::function<ImageOptions()> options = {});

// How SystemRegistry opens images from now on: this computer's image when
// it is first read, and other computers' at each Connect. The companion and
// the window reach images only through ConnectRegistry, which takes no
// options, so the choice is kept here for the process.
void SetSystemImageOptions(const ImageOptions& options);
ImageOptions SystemImageOptions();

// The registry of this computer for the program: the Windows registry on
// Windows, elsewhere the stand-in set up from the process environment.
RegistryApi& SystemRegistry();

// What went wrong opening this computer's image, or empty.
std::string LocalRegistryProblem();

}  // namespace orbel::platform
