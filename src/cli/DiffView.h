// --diff: two readings compared class by class, as JSON Lines of the classes
// added, removed and changed, then a summary.
#pragma once

#include <ostream>

#include "cli/CatalogueOptions.h"
#include "platform/api/RegistryApi.h"

namespace orbel {

// Compares SOURCE (earlier) with OTHER (later); answers the exit status.
int RunDiff(const CatalogueOptions& options, platform::RegistryApi& registry, std::ostream& out,
            std::ostream& err);

}  // namespace orbel
