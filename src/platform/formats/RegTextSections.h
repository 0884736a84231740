// The body of a registry text file: each key line opens a section (or removes
// a key), and the value lines below it are set on that key.
#pragma once

#include "platform/formats/RegText.h"
#include "platform/formats/RegTextLines.h"
#include "platform/store/MemoryStore.h"

namespace orbel::platform::regtext {

// Reads the lines after the header into `store`, in file order, counting
// keys and values in `result`; a malformed line becomes an issue and is skipped.
void ReadSections(RegTextFormat format, LineReader& lines, MemoryStore& store,
                  const RegTextKeyMap& map, RegTextResult& result);

}  // namespace orbel::platform::regtext
