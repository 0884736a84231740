#include "cli/UserView.h"

#include <filesystem>
#include <optional>
#include <utility>

#include "catalogue/UserClasses.h"
#include "cli/FileCheck.h"
#include "cli/JsonOutput.h"
#include "cli/TerminalText.h"
#include "platform/base/Text.h"
#include "platform/computer/LocalImage.h"
#include "platform/images/RegisteredFiles.h"
#include "platform/images/RegistryImage.h"
#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

using Users = std::vector<std::pair<std::string, std::filesystem::path>>;

// The users of the Windows image SOURCE that have classes; nothing, with the
// exit status reported on `err`, when SOURCE is none or no Windows image.
std::optional<Users> UsersOfSource(const std::optional<std::string>& source, std::ostream& err,
                                   int& exitStatus) {
  const char* const needsWindows =
      "--users and --user need a SOURCE that is a Windows volume or Windows folder";
  if (!source) {
    exitStatus = ReportUsage(err, needsWindows);
    return std::nullopt;
  }
  std::string error;
  const auto image = platform::OpenRegistryImage(*source, error, platform::SystemImageOptions());
  if (!image) {
    exitStatus = ReportFailure(err, error);
    return std::nullopt;
  }
  if (image->kind != platform::ImageKind::WindowsFolder || !image->driveFolder) {
    exitStatus = ReportUsage(err, needsWindows);
    return std::nullopt;
  }
  return UsersOfWindowsImage(*image->driveFolder);
}

// The classes hive of the user --user names, its name matched without
// regard to case.
std::optional<std::string> HiveOfUser(const CatalogueOptions& options, std::ostream& err,
                                      int& exitStatus) {
  const auto users = UsersOfSource(options.source, err, exitStatus);
  if (!users) return std::nullopt;
  std::optional<std::string> path;
  for (const auto& [name, hive] : *users) {
    if (platform::EqualsNoCase(name, *options.userName)) path = hive.string();
  }
  if (path) return path;
  std::string known;
  for (const auto& [name, hive] : *users) known += (known.empty() ? "" : ", ") + name;
  exitStatus = ReportFailure(err, "no user \"" + *options.userName + "\" with classes in " +
                                      *options.source +
                                      " (users found: " + (known.empty() ? "none" : known) + ")");
  return std::nullopt;
}

}  // namespace

int ListUsers(const CatalogueOptions& options, std::ostream& out, std::ostream& err) {
  int exitStatus = 0;
  const auto users = UsersOfSource(options.source, err, exitStatus);
  if (!users) return exitStatus;
  for (const auto& [name, hive] : *users) {
    out << TerminalText(name) << '\t' << TerminalText(hive.string()) << '\n';
  }
  return 0;
}

std::unique_ptr<UserView> UserView::Open(const CatalogueOptions& options,
                                         platform::RegistryApi& registry, std::ostream& err,
                                         int& exitStatus) {
  std::string path, label;
  if (options.userName) {
    const auto hive = HiveOfUser(options, err, exitStatus);
    if (!hive) return nullptr;
    path = *hive;
    label = *options.userName;
  } else {
    path = label = *options.userClasses;
  }
  std::string error;
  auto user = OpenUserClasses(
      path, error, options.noLogs ? platform::HiveLogs::Ignore : platform::HiveLogs::Apply);
  if (!user) {
    exitStatus = ReportFailure(err, "the user's classes cannot be read: " + error);
    return nullptr;
  }

  UserProfile profile;
  if (options.userName) {
    profile.name = *options.userName;
  } else {
    profile.variables = ProfileVariables(*user->store);
  }
  auto merged = UserClassView::Open(registry, options.source.value_or(""), std::move(*user), error);
  if (!merged) {
    exitStatus = ReportFailure(err, error);
    return nullptr;
  }
  std::unique_ptr<UserView> view(new UserView(std::move(merged)));
  view->user_ = label;
  view->profile_ = std::move(profile);
  return view;
}

void UserView::SetMachineReading(const std::string& view,
                                 std::unique_ptr<CatalogueReading> machine) {
  PerView& state = views_[view];
  state.machine = std::move(machine);
  for (int i = 0; i < state.machine->Catalogue().EntryCount(); ++i) {
    const COLEObject* entry = state.machine->Catalogue().EntryAt(i);
    state.entries.emplace(entry->RegistrySettings->Guid, entry);
  }
}

void UserView::AddFields(const COLEObject& entry, const Rows& rows, const std::string& view,
                         json& fields) {
  PerView& state = views_[view];
  lastView_ = view;
  const ClassScope sides = view_->ScopeOf(ClassListOf(view), entry.RegistrySettings->Guid);
  const char* scope = ScopeName(sides);
  ++state.scopes[scope];
  fields["scope"] = scope;
  if (sides == ClassScope::Both) {
    // The machine's own rows, from the reading of the machine alone.
    json overrides = json::array();
    if (const auto own = state.entries.find(entry.RegistrySettings->Guid.str());
        own != state.entries.end()) {
      for (const auto& [name, machine, user] : OverridesOf(entry, *own->second)) {
        if (name == "TreatAs") {
          overrides.push_back({name, machine.empty() ? json(nullptr) : json(machine),
                               user.empty() ? json(nullptr) : json(user)});
        } else {
          overrides.push_back({name, machine, user});
        }
      }
    }
    fields["overrides"] = std::move(overrides);
  }
  json writable = json::array();
  if (sides != ClassScope::Machine) {
    for (std::size_t i = 0; i < kServerRows; ++i) {
      const std::string& value = RowValue(rows, kFileRows[i]);
      if (value != kUnknown && platform::InUserWritableFolder(value))
        writable.push_back(kFileRows[i]);
    }
  }
  fields["userWritable"] = std::move(writable);
}

void UserView::AddErrors(json& errors) const {
  for (auto& item : errors) {
    // The side whose damage stopped the class key, when the overlay saw it.
    const std::string key = platform::FoldCase("\\" + item["key"].get<std::string>());
    for (const auto& damage : view_->Damages()) {
      if (platform::FoldCase(damage.key).find(key) != std::string::npos) {
        item["side"] = damage.side;
        break;
      }
    }
  }
  for (const auto& damage : view_->Damages()) {
    errors.push_back({{"key", damage.key}, {"message", damage.message}, {"side", damage.side}});
  }
  for (const auto& warning : view_->Warnings()) {
    errors.push_back({{"key", ""}, {"message", warning}, {"side", "user"}});
  }
}

void UserView::PrintSummary(std::ostream& out) const {
  static const PerView none;
  const auto found = views_.find(lastView_);
  const Scopes& scopes = found == views_.end() ? none.scopes : found->second.scopes;
  out << "\nUser classes: " << TerminalText(user_) << "\n"
      << scopes.at("machine") << " machine only, " << scopes.at("user") << " user only, "
      << scopes.at("both") << " on both sides\n";
  if (!view_->UserNotice().empty()) out << TerminalText(view_->UserNotice()) << "\n";
}

void UserView::AddSummary(json& summary) const {
  summary["user"] = user_;
  summary["userNotice"] = view_->UserNotice();
  summary["userRecovery"] =
      view_->UserRecovery() ? RecoveryJson(*view_->UserRecovery()) : json(nullptr);
  Scopes total{{"machine", 0}, {"user", 0}, {"both", 0}};
  for (const auto& [view, state] : views_) {
    for (const auto& [scope, count] : state.scopes) total[scope] += count;
  }
  summary["scopes"] = {
      {"machine", total["machine"]}, {"user", total["user"]}, {"both", total["both"]}};
}

void UserView::AddViewSummary(const std::string& view, json& summary) const {
  const auto found = views_.find(view);
  if (found == views_.end()) return;
  const Scopes& scopes = found->second.scopes;
  summary["scopes"] = {
      {"machine", scopes.at("machine")}, {"user", scopes.at("user")}, {"both", scopes.at("both")}};
}

}  // namespace orbel
