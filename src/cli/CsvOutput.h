// --csv: the catalogue as CSV (RFC 4180), a header row, then one row per
// entry in catalogue order.
#pragma once

#include <ostream>

#include "cli/CatalogueReading.h"

namespace orbel {

void PrintCsv(CatalogueReading& reading, std::ostream& out);

}  // namespace orbel
