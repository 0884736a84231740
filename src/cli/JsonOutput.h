// --json: the catalogue as JSON Lines, one object per entry in catalogue
// order (the 64-bit view's, then the 32-bit view's), then the summary.
#pragma once

#include <ostream>
#include <vector>

#include "cli/CatalogueOptions.h"
#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"

namespace orbel {

// {"applied": N, "lastSequence": S or null, "logs": [...], "rejected":
// [{"log", "entry", "why"}]}: what a hive's transaction logs gave.
json RecoveryJson(const platform::LogRecovery& recovery);

void PrintJson(const std::vector<ViewedReading>& readings, const CatalogueOptions& options,
               const ReadingViews& views, std::ostream& out);

}  // namespace orbel
