// orbel-catalogue --recovered-hive OUT SOURCE: the hive file SOURCE as its
// transaction logs bring it, written to a new file OUT with its sequence
// numbers and checksum made consistent, for tools that cannot replay logs.
#pragma once

#include <ostream>

#include "cli/CatalogueOptions.h"

namespace orbel {

// Writes the recovered hive and prints one line saying what the logs gave
// (with --json, the object {"recovery": {...}}) on `out`. 0 when written; 1
// when SOURCE cannot be read or is no hive, or OUT cannot be written; 2 when
// SOURCE is missing, OUT exists or is one of the source files.
int RunRecoveredHive(const CatalogueOptions& options, std::ostream& out, std::ostream& err);

}  // namespace orbel
