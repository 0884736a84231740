// --deleted: the classes deleted from a hive SOURCE whose cells are still in
// its free cells, read by the catalogue like live ones, with what could not
// be rebuilt and whether each is a former version of a live class.
#pragma once

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CatalogueOptions.h"
#include "cli/EntryExtras.h"
#include "platform/api/PortableRegistry.h"
#include "platform/formats/FreeCellScan.h"
#include "platform/formats/HiveLogReplay.h"

namespace orbel {

class DeletedView {
 public:
  // Scans the hive SOURCE; nothing, with the exit status reported on `err`,
  // when SOURCE is not given, cannot be read or is no hive.
  static std::unique_ptr<DeletedView> Open(const CatalogueOptions& options, std::ostream& err,
                                           int& exitStatus);
  DeletedView(const DeletedView&) = delete;
  DeletedView& operator=(const DeletedView&) = delete;

  // The recovered keys mounted as the hive would be: a classes hive at
  // Software\Classes, any other at Software. Read with SOURCE as the computer.
  platform::RegistryApi& Registry() { return registry_; }

  // Adds "recovered", "formerVersion" and "missing" (what could not be rebuilt).
  void AddFields(const COLEObject& entry, json& fields) const;
  // Appends the marker to the entry's line (before its newline) and, below
  // it, what could not be rebuilt.
  void AppendMarker(const COLEObject& entry, std::string& listing) const;
  void PrintSummary(std::ostream& out) const;
  void AddSummary(json& summary) const;

 private:
  DeletedView() = default;

  // What the scan says of one class: the class key and the keys below it.
  struct ClassNotes {
    bool formerVersion = false;
    std::vector<std::string> missing;
  };
  const ClassNotes* NotesOf(const COLEObject& entry) const;

  platform::RecoveredKeys found_;
  // What the hive's transaction logs gave before the scan.
  platform::HiveLogReport recovery_;
  std::string name_;                           // the hive file's name, for the report
  std::map<std::string, ClassNotes> classes_;  // by folded GUID
  int formerVersions_ = 0, partial_ = 0;
  platform::PortableRegistry registry_;
};

}  // namespace orbel
