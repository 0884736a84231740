// The errors of a reading for the outputs that have no summary line to carry
// them (CSV, the timelines): written on the standard error, one a line.
#pragma once

#include <ostream>
#include <vector>

#include "cli/EntryExtras.h"

namespace orbel {

// The errors of the views read, as the JSON summary lists them: each with
// its view when the 32-bit list is among them, and with a user view each
// with its side, then the damage and warnings of the sides.
json ErrorsOfReadings(const std::vector<ViewedReading>& readings, const ReadingViews& views);

// Writes each error of `errors` (objects with "key", "message" and maybe
// "side" and "view") on `err`; answers 1 when there is any, else 0.
int ReportReadErrors(const json& errors, std::ostream& err);

}  // namespace orbel
