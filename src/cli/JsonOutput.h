// --json: the catalogue as JSON Lines, one object per entry in catalogue
// order, then the summary.
#pragma once

#include <ostream>

#include "cli/CatalogueOptions.h"
#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"

namespace orbel {

void PrintJson(CatalogueReading& reading, const CatalogueOptions& options,
               const ReadingViews& views, std::ostream& out);

}  // namespace orbel
