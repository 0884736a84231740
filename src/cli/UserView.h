// A user's classes laid over the machine's (--user-classes, --user) with what
// that view adds to entries and summary; the users of a Windows image (--users).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/UserClassView.h"
#include "cli/CatalogueOptions.h"
#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"
#include "cli/FileCheck.h"

namespace orbel {

// --users: lists the users of the Windows image SOURCE that have classes;
// answers the exit status.
int ListUsers(const CatalogueOptions& options, std::ostream& out, std::ostream& err);

class UserView {
 public:
  // The view the options ask for over SOURCE (or this computer) of
  // `registry`; nothing, with the exit status reported on `err`, when the
  // user's classes or the source cannot be read.
  static std::unique_ptr<UserView> Open(const CatalogueOptions& options,
                                        platform::RegistryApi& registry, std::ostream& err,
                                        int& exitStatus);
  UserView(const UserView&) = delete;
  UserView& operator=(const UserView&) = delete;

  // The merged registry, read as the machine's.
  platform::RegistryApi& Registry() { return view_->Registry(); }
  // The user, for the folders of the profile.
  const UserProfile& Profile() const { return profile_; }
  // Keeps the reading of the machine alone of the view `view` ("64" or
  // "32"), which tells what the user overrides.
  void SetMachineReading(const std::string& view, std::unique_ptr<CatalogueReading> machine);

  // Adds the entry's scope, the machine's rows (and TreatAs class) the
  // user's side overrides and the user's servers in folders a user may
  // write; counts the scopes of the view.
  void AddFields(const COLEObject& entry, const Rows& rows, const std::string& view, json& fields);
  // Gives `errors` the side whose damage stopped each class key, then adds
  // the damage and the warnings of the sides.
  void AddErrors(json& errors) const;
  // The scopes of the view last given to AddFields.
  void PrintSummary(std::ostream& out) const;
  // The scopes of all views together.
  void AddSummary(json& summary) const;
  // The scopes of one view.
  void AddViewSummary(const std::string& view, json& summary) const;
  // Which sides hold the key at `path` below the merged root, each with its
  // own last-write time of it.
  platform::OverlayStore::Sides SidesOf(std::string_view path) { return view_->SidesOf(path); }

 private:
  explicit UserView(std::unique_ptr<UserClassView> view) : view_(std::move(view)) {}

  using Scopes = std::map<std::string, int>;
  // One view's reading of the machine alone, its entries by GUID, and the
  // scopes counted.
  struct PerView {
    std::unique_ptr<CatalogueReading> machine;
    std::map<std::string, const COLEObject*> entries;
    Scopes scopes{{"machine", 0}, {"user", 0}, {"both", 0}};
  };
  std::map<std::string, PerView> views_;
  std::string lastView_ = "64";
  std::string user_;  // the path or user name, for the summary
  UserProfile profile_;
  std::unique_ptr<UserClassView> view_;
};

}  // namespace orbel
