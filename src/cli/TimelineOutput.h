// --timeline and --bodyfile: the last-write times of the class keys and of
// the subkeys that say what a class runs, one event per key and side, for
// the timeline tools of an analyst (Timesketch's JSONL import, the Sleuth
// Kit's body format read by mactime).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/EntryExtras.h"
#include "platform/api/RegistryApi.h"

namespace orbel {

enum class TimelineForm { Jsonl, Body };

// Prints the events of `readings` in catalogue order in `form`, reading the
// key times from the registry the readings used: `computer` of `registry`
// (empty: this computer), or with a user view each side from its own store.
// Keys without a time give no event. The errors of the readings and of the
// key times go to `err`; answers 1 when there were any, else 0.
int PrintTimeline(const std::vector<ViewedReading>& readings, const ReadingViews& views,
                  platform::RegistryApi& registry, const std::string& computer, TimelineForm form,
                  std::ostream& out, std::ostream& err);

}  // namespace orbel
