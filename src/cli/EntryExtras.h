// What the outputs add to a reading besides the entries' rows: per entry its
// last write, its side in a user view and its files; the errors of the reading.
#pragma once

#include <nlohmann/json.hpp>

#include "cli/CatalogueReading.h"

namespace orbel {

using json = nlohmann::ordered_json;

class UserView;
class FileCheck;
class DeletedView;
class FindingsView;

// The views the options lay over a reading; any may be absent. `view`
// names the class list read: "64" or "32".
struct ReadingViews {
  UserView* user = nullptr;
  FileCheck* files = nullptr;
  const DeletedView* deleted = nullptr;
  std::string view = "64";
  FindingsView* findings = nullptr;
};

// One class list read, named by its view ("64" or "32").
struct ViewedReading {
  std::string view;
  CatalogueReading* reading = nullptr;
};

struct EntryExtras {
  json fields = json::object();
  int missingFiles = 0;
  int findings = 0;
};

// The extras of `entry`, whose rows are `rows`: its last write, view and
// TreatAs class, and what the views add, counted for their summaries.
EntryExtras ExtrasOf(const COLEObject& entry, const Rows& rows, const ReadingViews& views);

// The errors of a reading, each with `side` when it is given.
json ReadErrors(const TCOLESettings& catalogue, const char* side);
// The errors of a reading through `views`: with a user view, each with the
// side it came from, then the damage and warnings of the user's side.
json ReadErrors(const TCOLESettings& catalogue, const ReadingViews& views);

// One JSON line, invalid UTF-8 replaced.
std::string Dump(const json& value);

}  // namespace orbel
