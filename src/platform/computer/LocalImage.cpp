#include "platform/computer/LocalImage.h"

#include <atomic>
#include <cstdlib>
#include <memory>

#include "platform/base/ProgramFolder.h"
#include "platform/formats/UserFileStore.h"
#include "platform/images/RegistryImage.h"
#include "platform/store/MemoryStore.h"

namespace fs = std::filesystem;

namespace orbel::platform {
namespace {

// What connecting to a computer by its name answers, after the name as given.
constexpr char kNotAnImagePath[] =
    ": off Windows another computer is read from its image, named by a path (a Wine "
    "prefix, a Windows folder, a hive or a .reg file; ./NAME for one in the current folder)";

std::atomic<HiveLogs> systemHiveLogs{HiveLogs::Apply};

bool HoldsSystemReg(const fs::path& prefix) {
  std::error_code ec;
  return fs::is_regular_file(prefix / "system.reg", ec);
}

}  // namespace

// Mounts `root` of an image: HKEY_LOCAL_MACHINE is the image's machine key,
// HKEY_CLASSES_ROOT its Software\Classes.
Status MountImageRoot(const RegistryImage& image, HKey root, Mount& out, std::string& error) {
  out.store = image.machine;
  out.driveFolder = image.driveFolder;
  out.node = image.machine->RootNode();
  if (root == HKeyLocalMachine) return kSuccess;
  if (root == HKeyClassesRoot) {
    Store::Node software = 0;
    Status status = image.machine->FindChild(out.node, "Software", software);
    if (status == kSuccess) status = image.machine->FindChild(software, "Classes", out.node);
    if (status != kSuccess) error = image.source.string() + ": holds no Software\\Classes key";
    return status;
  }
  error = image.source.string() + ": an image holds only HKEY_LOCAL_MACHINE";
  return kFileNotFound;
}

LocalImageChoice ChooseLocalImage(const EnvironmentLookup& environment,
                                  const fs::path& sampleRegistry) {
  if (auto chosen = environment("ORBEL_REGISTRY"); chosen && !chosen->empty()) {
    return {*chosen, "ORBEL_REGISTRY"};
  }
  fs::path prefix;
  if (auto wine = environment("WINEPREFIX"); wine && !wine->empty()) {
    prefix = *wine;
  } else if (auto home = environment("HOME"); home && !home->empty()) {
    prefix = fs::path(*home) / ".wine";
  }
  if (!prefix.empty() && HoldsSystemReg(prefix)) return {prefix, "Wine prefix"};
  return {sampleRegistry, "sample registry"};
}

fs::path SampleRegistryPath() {
  const fs::path relative = fs::path("sample") / "system.reg";
  fs::path found = FindDataFile(relative, ORBEL_SOURCE_DATA_DIR);
  // None there: the installed place, so that the message names where it belongs.
  if (found.empty()) found = InstalledDataFolder() / relative;
  return found;
}

bool NamesImagePath(std::string_view name) {
#ifdef _WIN32
  return name.find_first_of("\\/") != std::string_view::npos;
#else
  return name.find('/') != std::string_view::npos || (!name.empty() && name.front() == '~');
#endif
}

fs::path MachineNameToPath(std::string_view machine) {
  while (!machine.empty() && machine.front() == '\\') machine.remove_prefix(1);
  return fs::path(std::string(machine));
}

void SetSystemImageOptions(const ImageOptions& options) { systemHiveLogs = options.hiveLogs; }

ImageOptions SystemImageOptions() { return ImageOptions{systemHiveLogs.load()}; }

void SetUpPortableRegistry(PortableRegistry& registry, const LocalImageChoice& local,
                           std::shared_ptr<Store> user, std::function<ImageOptions()> options) {
  if (!options) options = [] { return ImageOptions{}; };
  auto image = std::make_shared<std::optional<RegistryImage>>();
  auto problem = std::make_shared<std::string>();
  auto load = [image, problem, path = local.path, options]() {
    if (!image->has_value() && problem->empty()) {
      *image = OpenRegistryImage(path, *problem, options());
    }
  };
  for (HKey root : {HKeyLocalMachine, HKeyClassesRoot}) {
    registry.MountRootLazily(root, [load, image, problem, root](Mount& out, std::string& error) {
      load();
      if (!image->has_value()) {
        error = *problem;
        return kBadDb;
      }
      return MountImageRoot(**image, root, out, error);
    });
  }
  if (!user) user = std::make_shared<MemoryStore>();
  registry.MountRoot(HKeyCurrentUser, Mount{user, user->RootNode(), std::nullopt});
  registry.SetConnector(
      [options](std::string_view machine, HKey root, Mount& out, std::string& error) {
        fs::path path = MachineNameToPath(machine);
        if (path.empty()) {
          error = "no computer named";
          return kBadNetPath;
        }
        // A computer name is never looked up here, even when a folder of that
        // name exists: another computer is reached only through its image.
        if (!NamesImagePath(path.string())) {
          error = std::string(machine) + kNotAnImagePath;
          return kBadNetPath;
        }
        // A path is opened exactly as given: guessing its case could open
        // another image whose name differs only in case.
        auto image = OpenRegistryImage(path, error, options());
        if (!image) return kBadNetPath;
        return MountImageRoot(*image, root, out, error);
      });
}

#ifndef _WIN32
RegistryApi& SystemRegistry() {
  static PortableRegistry* registry = [] {
    auto* made = new PortableRegistry();
    const auto environment = [](const char* name) -> std::optional<std::string> {
      const char* value = std::getenv(name);
      return value ? std::optional<std::string>(value) : std::nullopt;
    };
    SetUpPortableRegistry(*made, ChooseLocalImage(environment, SampleRegistryPath()),
                          std::make_shared<UserFileStore>(UserFileStore::DefaultFile(environment)),
                          SystemImageOptions);
    return made;
  }();
  return *registry;
}
#endif

std::string LocalRegistryProblem() { return SystemRegistry().RootProblem(HKeyLocalMachine); }

}  // namespace orbel::platform
