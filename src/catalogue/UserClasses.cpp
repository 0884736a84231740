#include "catalogue/UserClasses.h"

#include <algorithm>
#include <fstream>
#include <span>
#include <string_view>

#include "platform/base/Text.h"
#include "platform/formats/RegText.h"
#include "platform/images/RegistryImage.h"
#include "platform/store/MemoryStore.h"
#ifdef ORBEL_HAVE_HIVEX
#include "platform/formats/HiveStore.h"
#endif

namespace orbel {
namespace {

namespace fs = std::filesystem;
using platform::Store;

std::string ReadHead(const fs::path& file, std::size_t count) {
  std::ifstream in(file, std::ios::binary);
  std::string head(count, '\0');
  in.read(head.data(), static_cast<std::streamsize>(count));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head;
}

// Keys of an export: those of the current user, without the root's name.
std::optional<std::string> CurrentUserKey(std::string_view path) {
  const std::size_t cut = path.find('\\');
  const std::string root = platform::AsciiUpper(path.substr(0, cut));
  if (root != "HKEY_CURRENT_USER" && root != "HKCU") return std::nullopt;
  return std::string(cut == std::string_view::npos ? "" : path.substr(cut + 1));
}

std::optional<UserClasses> OpenText(const fs::path& file, const platform::RegTextKeyMap& map,
                                    std::string& error) {
  auto store = std::make_shared<platform::MemoryStore>();
  store->SetWritable(false);
  const platform::RegTextResult result = platform::LoadRegistryTextFile(file, *store, map);
  if (!result.ok) {
    error = file.string() + ": " + result.error;
    return std::nullopt;
  }
  UserClasses classes;
  classes.store = std::move(store);
  for (const auto& issue : result.issues) {
    classes.warnings.push_back(file.string() + ": line " + std::to_string(issue.line) + ": " +
                               issue.message);
  }
  return classes;
}

#ifdef ORBEL_HAVE_HIVEX
// Whether the Software key `software` of a user hive holds classes of its
// own: Windows makes Software\Classes of NTUSER.DAT a link to the profile's
// UsrClass.dat (a key whose value SymbolicLinkValue is a REG_LINK), which a
// file read alone cannot follow.
bool HoldsClasses(Store& hive, Store::Node software) {
  // Damage is not taken for a link: the reading reports it.
  Store::Node classes = 0;
  if (const auto status = hive.FindChild(software, "Classes", classes);
      status != platform::kSuccess) {
    return status != platform::kFileNotFound;
  }
  std::uint32_t type = 0, size = 0;
  if (hive.GetValueInfo(classes, "SymbolicLinkValue", type, size) == platform::kSuccess &&
      type == platform::REG_LINK) {
    return false;
  }
  std::string first;
  return hive.SubkeyName(classes, 0, first) != platform::kNoMoreItems;
}

// The classes hive of the profile a user hive lies in: the file when it is
// there (its name matched without regard to case), else where it belongs.
fs::path ClassesHiveBeside(const fs::path& userHive) {
  const fs::path relative = "AppData/Local/Microsoft/Windows/UsrClass.dat";
  const fs::path profile = userHive.parent_path().empty() ? "." : userHive.parent_path();
  if (auto found = platform::FindNoCase(profile, relative)) return *found;
  return profile / relative;
}
#endif

std::optional<UserClasses> OpenHive(const fs::path& file, std::string& error,
                                    platform::HiveLogs logs) {
#ifdef ORBEL_HAVE_HIVEX
  std::string openError;
  std::shared_ptr<Store> hive = platform::HiveStore::Open(file, openError, logs);
  if (!hive) {
    error = openError;
    return std::nullopt;
  }
  // A user hive (NTUSER.DAT) holds Software at its root, its classes below
  // it; a classes hive (UsrClass.dat) holds them at its root, CLSID among
  // them unless the user registered none.
  Store::Node node = 0;
  const bool classesAtRoot = hive->FindChild(hive->RootNode(), "CLSID", node) == platform::kSuccess;
  UserClasses classes;
  if (!classesAtRoot && hive->FindChild(hive->RootNode(), "Software", node) == platform::kSuccess) {
    if (!HoldsClasses(*hive, node)) {
      error = file.string() +
              ": a user hive (NTUSER.DAT) without classes of its own: Windows keeps a user's "
              "classes in the profile's classes hive, to which Software\\Classes here only "
              "links; give that hive instead: " +
              ClassesHiveBeside(file).string();
      return std::nullopt;
    }
    classes.store = std::move(hive);
  } else {
    classes.store = std::make_shared<platform::PrefixStore>(
        std::vector<std::string>{"Software", "Classes"}, std::move(hive));
  }
  return classes;
#else
  (void)logs;
  error = file.string() + ": reading hive files needs libhivex, which this build lacks";
  return std::nullopt;
#endif
}

}  // namespace

std::optional<UserClasses> OpenUserClasses(const fs::path& path, std::string& error,
                                           platform::HiveLogs logs) {
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    error = path.string() + ": no such file or folder";
    return std::nullopt;
  }
  const auto asIs = [](std::string_view key) { return std::string(key); };
  if (fs::is_directory(status)) {
    if (auto reg = platform::FindNoCase(path, "user.reg"); reg && fs::is_regular_file(*reg, ec)) {
      return OpenText(*reg, asIs, error);
    }
    error = path.string() + ": no user.reg in this folder (not a Wine prefix)";
    return std::nullopt;
  }
  const std::string head = ReadHead(path, 256);
  if (head.starts_with("regf")) return OpenHive(path, error, logs);
  if (platform::LooksLikeRegistryText(
          std::span(reinterpret_cast<const std::byte*>(head.data()), head.size()))) {
    if (head.find("WINE REGISTRY") != std::string::npos) return OpenText(path, asIs, error);
    auto classes = OpenText(path, CurrentUserKey, error);
    Store::Node node = 0;
    const Store::Node root = classes ? classes->store->RootNode() : 0;
    if (classes && (classes->store->FindChild(root, "Software", node) != platform::kSuccess ||
                    classes->store->FindChild(node, "Classes", node) != platform::kSuccess)) {
      error = path.string() + ": no HKEY_CURRENT_USER\\Software\\Classes keys in this export";
      return std::nullopt;
    }
    return classes;
  }
  error = path.string() + ": not a classes hive, user.reg, .reg export or Wine prefix";
  return std::nullopt;
}

std::vector<std::pair<std::string, fs::path>> UsersOfWindowsImage(const fs::path& driveFolder) {
  std::vector<std::pair<std::string, fs::path>> users;
  const auto folder = platform::FindNoCase(driveFolder, "Users");
  if (!folder) return users;
  std::error_code ec;
  for (fs::directory_iterator it(*folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code statError;
    if (!it->is_directory(statError)) continue;
    const auto hive =
        platform::FindNoCase(it->path(), "AppData/Local/Microsoft/Windows/UsrClass.dat");
    if (hive && fs::is_regular_file(*hive, statError)) {
      users.emplace_back(it->path().filename().string(), *hive);
    }
  }
  std::sort(users.begin(), users.end());
  return users;
}

std::vector<std::pair<std::string, fs::path>> UsersOfImage(const fs::path& image) {
  std::vector<std::pair<std::string, fs::path>> users;
  std::error_code ec;
  if (!fs::is_directory(image, ec)) return users;
  if (auto reg = platform::FindNoCase(image, "user.reg"); reg && fs::is_regular_file(*reg, ec)) {
    // Wine keeps one user per prefix; its profile folder names it.
    std::string name = "user.reg";
    if (const auto folder = platform::FindNoCase(image, "drive_c/users")) {
      for (fs::directory_iterator it(*folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        std::error_code statError;
        if (it->is_directory(statError) && !platform::EqualsNoCase(entry, "Public") &&
            !platform::EqualsNoCase(entry, "Default")) {
          name = entry;
          break;
        }
      }
    }
    users.emplace_back(std::move(name), *reg);
    return users;
  }
  // A volume holds Users beside Windows; a Windows folder is inside the volume.
  if (platform::FindNoCase(image, "Users")) return UsersOfWindowsImage(image);
  const fs::path parent = image.parent_path();
  if (!parent.empty() && parent != image && platform::FindNoCase(image, "System32/config")) {
    return UsersOfWindowsImage(parent);
  }
  return users;
}

}  // namespace orbel
