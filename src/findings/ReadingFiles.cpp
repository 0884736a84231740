#include "findings/ReadingFiles.h"

#include "platform/base/Text.h"
#include "platform/images/RegisteredFiles.h"
#include "platform/images/ServerFiles.h"

namespace orbel {
namespace {

// The profile variables of `user`: those the user's registry gives, else
// the usual folders of a profile in the image's profiles folder.
void AddProfile(const UserProfile& user, platform::ImageFiles& files) {
  std::map<std::string, std::string> variables = user.variables;
  if (variables.empty() && !user.name.empty()) {
    const auto folder = files.variables.find("ProfilesDirectory");
    const std::string profile =
        (folder == files.variables.end() ? std::string("C:\\Users") : folder->second) + "\\" +
        user.name;
    variables = {{"USERPROFILE", profile},
                 {"APPDATA", profile + "\\AppData\\Roaming"},
                 {"LOCALAPPDATA", profile + "\\AppData\\Local"},
                 {"TEMP", profile + "\\AppData\\Local\\Temp"},
                 {"TMP", profile + "\\AppData\\Local\\Temp"}};
  }
  for (const auto& [name, value] : variables) {
    files.variables[name] = platform::ExpandWindowsVariables(value, files);
  }
}

}  // namespace

std::map<std::string, std::string> ProfileVariables(platform::Store& store) {
  std::map<std::string, std::string> variables;
  const struct {
    const char* key;
    const char* name;
  } kSources[] = {{"Volatile Environment", "USERPROFILE"},
                  {"Volatile Environment", "APPDATA"},
                  {"Volatile Environment", "LOCALAPPDATA"},
                  {"Environment", "TEMP"},
                  {"Environment", "TMP"}};
  for (const auto& source : kSources) {
    platform::Store::Node node = 0;
    platform::Value value;
    if (store.FindChild(store.RootNode(), source.key, node) != platform::kSuccess ||
        store.GetValue(node, source.name, value) != platform::kSuccess ||
        (value.type != platform::REG_SZ && value.type != platform::REG_EXPAND_SZ) ||
        value.data.size() > 64 * 1024) {
      continue;
    }
    std::string text = platform::Utf16LeToUtf8(value.data);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    if (!text.empty()) variables[source.name] = std::move(text);
  }
  return variables;
}

std::optional<platform::ImageFiles> ImageFilesOf(platform::RegistryApi& registry,
                                                 platform::HKey root, const UserProfile& user) {
  const auto drive = registry.DriveFolderOf(root);
  if (!drive || drive->empty()) return std::nullopt;
  platform::ImageFiles files = platform::ImageFilesOfDriveFolder(*drive);
  platform::ReadImageVariables(registry, root, files);
  AddProfile(user, files);
  return files;
}

}  // namespace orbel
