// --check-files: the files the registrations name, looked up inside the
// image, and the count of missing ones for the summary.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"
#include "platform/api/RegistryApi.h"
#include "platform/images/RegisteredFiles.h"

namespace orbel {

// The rows that name a file; the first kServerRows name servers and handlers.
inline constexpr const char* kFileRows[] = {
    "Control (16bit)", "Control", "Server (16bit)",           "Server",
    "Handler (16bit)", "Handler", "Development Icon (16bit)", "Development Icon",
    "Default Icon",
};
inline constexpr std::size_t kServerRows = 6;

class FileCheck {
 public:
  // Looks the files up in the image of `source` (none: this computer) of
  // `registry`; without a drive folder every file is unresolved.
  FileCheck(platform::RegistryApi& registry, const std::optional<std::string>& source);

  // The entry's file rows with their paths and states, counted for the
  // summary; answers how many of them are missing. `wow64`: the names as a
  // 32-bit process sees them, through the file system redirector.
  int Check(const Rows& rows, bool wow64, json& files);
  // The summary's line of missing files.
  void PrintSummary(std::ostream& out) const;
  void AddSummary(json& summary) const;
  // The listing's lines of the missing files among `files`.
  static void ListMissing(const json& files, std::string& listing);

 private:
  std::optional<platform::ImageFiles> files_, files32_;
  int missingFiles_ = 0;
  int entriesWithMissingFiles_ = 0;
};

}  // namespace orbel
