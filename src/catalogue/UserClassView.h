// A user's classes laid over a machine's, as Windows shows them to a process
// of that user: the merged registry, which side holds each class, and what
// the user's side changes of the machine's own registration. The companion
// and the window read a user's view through this one piece.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/EntryRows.h"
#include "catalogue/PlainControls.h"
#include "catalogue/UserClasses.h"
#include "model/COLEObjectUnit.h"
#include "platform/api/ApiStore.h"
#include "platform/api/PortableRegistry.h"
#include "platform/store/OverlayStore.h"

namespace orbel {

// The class lists of the two views: what a 64-bit process and what a 32-bit
// process sees as HKEY_CLASSES_ROOT\CLSID.
inline constexpr const char* kClassList64 = "Software\\Classes\\CLSID";
inline constexpr const char* kClassList32 = "Software\\Classes\\Wow6432Node\\CLSID";
// The class list of the view named "64" or "32".
inline const char* ClassListOf(std::string_view view) {
  return view == "32" ? kClassList32 : kClassList64;
}

// A connector that gives `mount` as HKEY_LOCAL_MACHINE of whatever computer
// is named, and refuses every other root saying `why`: for the views that
// read a store of their own as a machine.
platform::PortableRegistry::Connector MachineOnlyConnector(platform::Mount mount, std::string why);

// Which side of a user's view registers a class.
enum class ClassScope { Machine, User, Both };
// "machine", "user" or "both".
const char* ScopeName(ClassScope scope);

// A row the user's side changes: its name, the machine's value and the
// user's (kUnknown, or empty for "TreatAs", where a side has none).
struct ValueOverride {
  std::string name;
  std::string machine;
  std::string user;
};

// The rows of `merged` (read through a user's view) that differ from the
// machine's own registration `machine` of the same class, in row order,
// the key's stamp left out, then the TreatAs class named "TreatAs".
std::vector<ValueOverride> OverridesOf(const COLEObject& merged, const COLEObject& machine);

class UserClassView {
 public:
  // Lays `user` over HKEY_LOCAL_MACHINE of `computer` of `registry` (empty:
  // this computer's). Nothing, with `error` saying why, when the computer
  // cannot be read. `registry` must outlive the view.
  static std::unique_ptr<UserClassView> Open(platform::RegistryApi& registry,
                                             const std::string& computer, UserClasses user,
                                             std::string& error);
  ~UserClassView();
  UserClassView(const UserClassView&) = delete;
  UserClassView& operator=(const UserClassView&) = delete;

  // The merged registry: HKEY_LOCAL_MACHINE of the computer (of any name
  // connected to) is the user's classes over the machine's.
  platform::RegistryApi& Registry() { return registry_; }
  // The side that holds the class `guid` of the class list `classList`.
  ClassScope ScopeOf(std::string_view classList, std::string_view guid);
  // The class `guid` of `classList` as the machine alone registers it, read
  // on first asking and kept; null when the machine has none or it cannot
  // be read.
  const COLEObject* MachineEntry(const std::string& classList, const std::string& guid);

  // Reads that failed on either side, each naming its side.
  const std::vector<platform::OverlayStore::Damage>& Damages() const { return overlay_->Damages(); }
  // Lines of the user's text file that could not be read.
  const std::vector<std::string>& Warnings() const { return warnings_; }
  // What the user's hive's transaction logs gave (none for a file that is
  // no hive), and the line about it.
  const std::optional<platform::LogRecovery>& UserRecovery() const { return userRecovery_; }
  const std::string& UserNotice() const { return userNotice_; }
  // Which sides hold the key at `path` below the merged root, each with its
  // own last-write time of it.
  platform::OverlayStore::Sides SidesOf(std::string_view path) { return overlay_->SidesOf(path); }
  // The machine's root, for what the base registry tells of it.
  platform::HKey MachineRoot() const { return root_.key; }

 private:
  // The machine's root connected to the computer, closed after the stores on it.
  struct ConnectedRoot {
    platform::RegistryApi& registry;
    platform::HKey key = platform::HKeyLocalMachine;
    ~ConnectedRoot() {
      if (key != platform::HKeyLocalMachine) registry.CloseKey(key);
    }
  };

  UserClassView(platform::RegistryApi& registry, platform::HKey machineRoot)
      : root_{registry, machineRoot} {}

  ConnectedRoot root_;
  std::optional<platform::LogRecovery> userRecovery_;
  std::string userNotice_;
  std::vector<std::string> warnings_;
  std::unique_ptr<platform::ApiStore> machineStore_;  // kept for the overlay
  std::shared_ptr<platform::OverlayStore> overlay_;
  platform::PortableRegistry registry_;
  // The machine's own entries read so far, by class list and GUID; the
  // controls they were read with.
  PlainList machineList_;
  PlainImages machineSmall_{0}, machineLarge_{0};
  std::map<std::string, std::unique_ptr<COLEObject>> machineEntries_;
};

}  // namespace orbel
