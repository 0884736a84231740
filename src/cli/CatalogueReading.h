// One reading of a computer's classes as the window's Refresh or Connect
// does it, with the controls it fills, and what the companion derives from
// entries: their rows, their last-write time, two readings compared.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "catalogue/COLESettingsUnit.h"
#include "catalogue/EntryRows.h"
#include "catalogue/PlainControls.h"
#include "catalogue/UserClassView.h"
#include "platform/api/PortableRegistry.h"
#include "platform/api/RegistryApi.h"

namespace orbel {

class CatalogueReading {
 public:
  // Reads the classes of `computer` of `registry` (empty: this computer)
  // from the class list `classList`, showing its progress on `progressOut`
  // when not null.
  CatalogueReading(platform::RegistryApi& registry, const std::string& computer,
                   std::ostream* progressOut, const char* classList = kClassList64);
  ~CatalogueReading();
  CatalogueReading(const CatalogueReading&) = delete;
  CatalogueReading& operator=(const CatalogueReading&) = delete;

  TCOLESettings& Catalogue() { return *catalogue_; }
  const TCOLESettings& Catalogue() const { return *catalogue_; }
  PlainTree& Tree() { return tree_; }
  // Why the reading could not be done, or empty when it was.
  std::string Problem() const;

 private:
  PlainTree tree_;
  PlainProgress progress_;
  PlainList list_;
  PlainImages small_, large_;
  std::unique_ptr<TCOLESettings> catalogue_;
};

// A last-write time in ISO 8601 UTC to the second ("2024-05-01T12:00:00Z");
// nothing for 0 and for times past the year 9999.
std::optional<std::string> IsoTime(platform::FileTime time);

// One class that differs between two readings: its rows as [name, before,
// after], a side lacking the row (or the class) given as nothing.
struct ClassChange {
  enum Kind { Added, Removed, Changed } kind = Changed;
  std::string guid, name;
  std::vector<std::tuple<std::string, std::optional<std::string>, std::optional<std::string>>> rows;
};

// The classes added, removed and changed from `before` to `after`, matched
// by GUID and compared row by row (rows by name, then the TreatAs class,
// named "TreatAs"), in GUID order. Added and
// removed classes carry the rows they have; changed ones the rows that differ.
// `unchanged` counts the classes found alike.
std::vector<ClassChange> CompareCatalogues(const TCOLESettings& before, const TCOLESettings& after,
                                           int& unchanged);

}  // namespace orbel
