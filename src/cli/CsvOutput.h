// --csv: the catalogue as CSV (RFC 4180), a header row, then one row per
// entry in catalogue order (the 64-bit view's, then the 32-bit view's).
#pragma once

#include <ostream>
#include <vector>

#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"

namespace orbel {

// Each row ends with the entry's scope: "machine" without a user view. The
// errors of the reading are the caller's to report.
void PrintCsv(const std::vector<ViewedReading>& readings, const ReadingViews& views,
              std::ostream& out);

}  // namespace orbel
