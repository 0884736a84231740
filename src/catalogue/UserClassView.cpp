#include "catalogue/UserClassView.h"

#include <utility>

#include "model/COLEObjectRegistrySettingsUnit.h"
#include "registry/PatchedRegistry.h"

namespace orbel {
namespace {

class NoIcons : public IconExtractor {
 public:
  platform::ExtractedIcon Extract(const std::string&, std::int32_t) override { return {}; }
};

}  // namespace

platform::PortableRegistry::Connector MachineOnlyConnector(platform::Mount mount, std::string why) {
  return [mount = std::move(mount), why = std::move(why)](
             std::string_view, platform::HKey root, platform::Mount& out, std::string& error) {
    if (root != platform::HKeyLocalMachine) {
      error = why;
      return platform::kFileNotFound;
    }
    out = mount;
    return platform::kSuccess;
  };
}

const char* ScopeName(ClassScope scope) {
  switch (scope) {
    case ClassScope::User:
      return "user";
    case ClassScope::Both:
      return "both";
    default:
      return "machine";
  }
}

std::vector<ValueOverride> OverridesOf(const COLEObject& merged, const COLEObject& machine) {
  std::vector<ValueOverride> overrides;
  const Rows machineRows = RowsOf(machine);
  for (const auto& [name, value] : RowsOf(merged)) {
    // The key's stamp is no registered value.
    if (name == "Last change") continue;
    const std::string& before = RowValue(machineRows, name);
    if (before != value) overrides.push_back({name, before, value});
  }
  const FieldText& before = machine.RegistrySettings->TreatAs;
  const FieldText& after = merged.RegistrySettings->TreatAs;
  if (before != after) overrides.push_back({"TreatAs", before.str(), after.str()});
  return overrides;
}

std::unique_ptr<UserClassView> UserClassView::Open(platform::RegistryApi& registry,
                                                   const std::string& computer, UserClasses user,
                                                   std::string& error) {
  platform::HKey machineRoot = platform::HKeyLocalMachine;
  if (!computer.empty() && registry.ConnectRegistry(computer, platform::HKeyLocalMachine,
                                                    machineRoot) != platform::kSuccess) {
    error = registry.LastConnectError().empty() ? computer + ": cannot be read"
                                                : registry.LastConnectError();
    return nullptr;
  }
  std::unique_ptr<UserClassView> view(new UserClassView(registry, machineRoot));
  view->userRecovery_ = user.store->Recovery();
  view->userNotice_ = user.store->Notice();
  view->warnings_ = std::move(user.warnings);
  view->machineStore_ = std::make_unique<platform::ApiStore>(registry, machineRoot);
  // The overlay holds the machine's store without owning it: the view goes
  // before the machine's store does.
  std::shared_ptr<platform::Store> machine(view->machineStore_.get(), [](platform::Store*) {});
  view->overlay_ =
      std::make_shared<platform::OverlayStore>(std::move(user.store), "user", machine, "machine");
  platform::Mount mount{view->overlay_, view->overlay_->RootNode(),
                        registry.DriveFolderOf(machineRoot)};
  if (!computer.empty()) {
    view->registry_.SetConnector(MachineOnlyConnector(mount, "only HKEY_LOCAL_MACHINE is merged"));
  } else {
    view->registry_.MountRoot(platform::HKeyLocalMachine, mount);
  }
  return view;
}

UserClassView::~UserClassView() {
  // The entries hold keys of the machine's registry; they go first.
  machineEntries_.clear();
}

ClassScope UserClassView::ScopeOf(std::string_view classList, std::string_view guid) {
  std::string path(classList);
  path += '\\';
  path += guid;
  const auto sides = overlay_->SidesOf(path);
  return sides.upper && sides.lower ? ClassScope::Both
         : sides.upper              ? ClassScope::User
                                    : ClassScope::Machine;
}

const COLEObject* UserClassView::MachineEntry(const std::string& classList,
                                              const std::string& guid) {
  const std::string key = classList + "\\" + guid;
  if (const auto found = machineEntries_.find(key); found != machineEntries_.end()) {
    return found->second.get();
  }
  std::unique_ptr<COLEObject> entry;
  TPatchRegistry reader(root_.registry);
  reader.SelectRoot(root_.key);
  if (reader.OpenPath(classList) && reader.OpenPath(guid)) {
    try {
      entry = std::make_unique<COLEObject>(reader, &machineList_, &machineSmall_, &machineLarge_,
                                           std::make_shared<NoIcons>());
    } catch (const ERegistryException&) {
      // Damage on the machine's side: the class is compared with nothing.
    }
  }
  reader.ClosePath();
  const COLEObject* result = entry.get();
  machineEntries_.emplace(key, std::move(entry));
  return result;
}

}  // namespace orbel
