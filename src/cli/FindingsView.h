// --findings: each class's findings, in its entry, counted by rule for the
// summary, and listed under the class in text.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"
#include "findings/ClassFindings.h"

namespace orbel {

class FileCheck;

class FindingsView {
 public:
  // The classes of the view `view` ("64" or "32"), by GUID: those that
  // others are treated as are looked up there.
  void SetReading(const std::string& view, const TCOLESettings& catalogue);
  // Adds the findings of `entry` (rows `rows`, of view `view`) to `fields`,
  // which hold its scope and overrides when a user's side is read; `checked`
  // are its files when they are checked, through `files`. Answers how many.
  int AddFields(const COLEObject& entry, const Rows& rows, const std::string& view,
                const std::vector<CheckedFile>* checked, const FileCheck* files, json& fields);
  void PrintSummary(std::ostream& out) const;
  void AddSummary(json& summary) const;
  // The listing's lines of the findings in `findings`.
  static void List(const json& findings, std::string& listing);

 private:
  std::map<std::string, std::map<std::string, const COLEObject*>> classes_;
  FindingTally tally_;
};

}  // namespace orbel
