// --check-files: the files the registrations name, found inside the image as
// Windows finds them, and the counts of missing and inert ones for the
// summary.
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"
#include "findings/ClassFiles.h"
#include "findings/ReadingFiles.h"
#include "platform/api/RegistryApi.h"
#include "platform/images/ServerFiles.h"

namespace orbel {

class FileCheck {
 public:
  // Looks the files up in the image of `source` (none: this computer) of
  // `registry`, with the folders the image's registry names and those of
  // `user`'s profile; without a drive folder every file is unresolved.
  FileCheck(platform::RegistryApi& registry, const std::optional<std::string>& source,
            const UserProfile& user = {});

  // The entry's file rows with their states, counted for the summary, in
  // `files` as JSON; answers them. `wow64`: the names as a 32-bit process
  // sees them, through the file system redirector.
  std::vector<CheckedFile> Check(const COLEObject& entry, const Rows& rows, bool wow64, json& files);
  // The same, neither given as JSON nor counted: for a class another one
  // refers to.
  std::vector<CheckedFile> Look(const COLEObject& entry, const Rows& rows, bool wow64) const;
  // How many of `files` are missing.
  static int MissingAmong(const std::vector<CheckedFile>& files);
  // The summary's line of missing and inert files.
  void PrintSummary(std::ostream& out) const;
  void AddSummary(json& summary) const;
  // The listing's lines of the missing files among `files`.
  static void ListMissing(const json& files, std::string& listing);

 private:
  std::optional<platform::ImageFiles> files_, files32_;
  int missingFiles_ = 0;
  int entriesWithMissingFiles_ = 0;
  int inertFiles_ = 0;
};

}  // namespace orbel
