// The plain text forms: the summary of the reading and one line per entry in
// the order of the window's tree, or the entries a search finds (--find).
#pragma once

#include <ostream>

#include "cli/CatalogueOptions.h"
#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"

namespace orbel {

// The summary, then (unless --summary) the listing.
void PrintText(CatalogueReading& reading, const CatalogueOptions& options,
               const ReadingViews& views, std::ostream& out);

// One line per entry one of whose values matches --find: its GUID, name and
// the row found.
void PrintFound(CatalogueReading& reading, const CatalogueOptions& options, std::ostream& out);

}  // namespace orbel
