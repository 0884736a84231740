// The log entries of a new-format transaction log ("HvLE"): after the copy
// of the base block's first sector, entries at 512-byte boundaries, each with
// its sequence number, the hive bins data size it leaves, two Marvin32 hashes
// and the pages it writes into the hive bins data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orbel::platform {

// Bytes to write at `offset` of the hive bins data.
struct HiveLogPage {
  std::uint32_t offset = 0;
  std::span<const std::byte> bytes;
};

struct HiveLogEntry {
  std::uint32_t index = 0;  // 1 for the file's first entry
  std::uint32_t sequence = 0;
  std::uint32_t hiveBinsSize = 0;
  std::uint32_t flags = 0;
  std::vector<HiveLogPage> pages;  // slices of the log's bytes
};

// The entry that ended the reading and why ("bad hash", "bad size",
// "outside the hive"); index 0 when the entries simply ended.
struct HiveLogStop {
  std::uint32_t index = 0;
  std::string why;
};

// The sound entries of `log` (the whole file), in file order, up to the
// first damaged one, which `stop` names.
std::vector<HiveLogEntry> ParseHiveLogEntries(std::span<const std::byte> log, HiveLogStop& stop);

}  // namespace orbel::platform
