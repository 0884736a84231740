// Keys and values that were deleted from a regf hive but whose cells are
// still in the file, marked free. The scan walks the hive bins, looks for key
// nodes in the free cells, places each by its parent offset (through live or
// other deleted keys) and keeps the values whose list, value and data cells
// are still free and whole. A cell that has been reused is never read as
// recovered data; what could not be rebuilt is named instead. A parent's
// cell that was freed and taken by a new key cannot be told from the parent
// itself (a key node records no trace of its parent but the offset): the
// path then names the key that holds the cell now. Byte parsing only: the
// caller reads the file. Work and memory grow with the file's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/store/MemoryStore.h"
#include "platform/store/RegistryTypes.h"

namespace orbel::platform {

struct RecoveredValue {
  std::string name;  // UTF-8; empty for the key's default value
  std::uint32_t type = 0;
  std::vector<std::byte> data;  // as stored; empty unless `complete`
  // False when the value record is whole but its data is not: the data cell
  // was reused, cut short or lies outside the file. Such data is never given.
  bool complete = true;
  std::uint32_t cell = 0;  // the value record's offset in the hive bins
};

struct RecoveredKey {
  // Names from below the root key down to this key's own name, in UTF-8.
  std::vector<std::string> path;
  std::uint32_t cell = 0;  // the key node's offset in the hive bins
  FileTime lastWrite = 0;
  std::uint32_t subkeysCounted = 0;  // as its record counted them
  std::uint32_t valuesCounted = 0;
  std::vector<RecoveredValue> values;  // those whose value record is whole
  // Something the key held could not be rebuilt; `missing` says what, one
  // line each ("value 2 of 3: its cell was reused").
  bool partial = false;
  std::vector<std::string> missing;
  // A live key has the same path: this is a former version of that key.
  bool formerVersion = false;
};

struct RecoveredKeys {
  // Parents before their subkeys; keys of the same path oldest first.
  std::vector<RecoveredKey> keys;
  // Deleted value records that no recovered key lists (their key is live or
  // lost), with the same checks on their data.
  std::vector<RecoveredValue> unattachedValues;
  // Deleted key nodes whose place could not be found (their parent is
  // neither a live nor a recovered key, or the chain loops).
  std::size_t unplacedKeys = 0;
  // Damage met on the way, one line each; the scan goes on past it where it
  // can. `scanned` is false when the file is not a hive at all.
  std::vector<std::string> problems;
  bool scanned = false;
  // The names of the root key's live subkeys: CLSID among them marks a
  // classes hive, whose classes lie at CLSID rather than Classes\CLSID.
  std::vector<std::string> liveRootKeys;

  // Indices into `keys` of the keys strictly below `prefix` (compared
  // without regard to case), e.g. {"CLSID"} in a classes hive or
  // {"Classes", "CLSID"} in a software hive.
  std::vector<std::size_t> Under(std::span<const std::string> prefix) const;
};

// Scans a whole hive file (base block and hive bins).
RecoveredKeys ScanFreeCells(std::span<const std::byte> hive);

// Adds the keys `found.Under(prefix)` to `store` below `at`, named by their
// paths after `prefix`, with their complete values and last-write times. Keys
// on the way that were not recovered (live ones) are created empty; of keys
// of the same path, the newest one's values are put last and so win.
void PutRecovered(const RecoveredKeys& found, std::span<const std::string> prefix,
                  MemoryStore& store, Store::Node at);

}  // namespace orbel::platform
