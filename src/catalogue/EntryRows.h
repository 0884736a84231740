// An entry's rows as the attribute list shows them with nothing hidden, for
// those that compare or print entries outside the window.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/COLEObjectUnit.h"

namespace orbel {

using Rows = std::vector<std::pair<std::string, std::string>>;

// The rows of an entry as the window lists them with nothing hidden: the 23
// fixed rows, then the other subkeys.
Rows RowsOf(const COLEObject& entry);

// The value of the row `name`, or kUnknown when there is no such row.
const std::string& RowValue(const Rows& rows, std::string_view name);

}  // namespace orbel
