// The command-line companion: reads a computer's classes as the window's
// Refresh or Connect does and prints the catalogue, its summary, or the
// entries that match a search.
#pragma once

#include <ostream>

#include "platform/api/RegistryApi.h"

namespace orbel {

// Runs the command with its arguments (argv[0] the program). Exit status:
// 0 done, 1 the source cannot be read, 2 a usage error.
int RunCatalogueCommand(int argc, const char* const* argv, platform::RegistryApi& registry,
                        std::ostream& out, std::ostream& err);

// For the companion's own process, called before RunCatalogueCommand: the
// readings of the run are then kept to the end of the process rather than
// freed entry by entry, which cost a sixth of a reading's time. They stay
// reachable, so a leak checker does not count them.
void KeepReadingsUntilExit();

}  // namespace orbel
