// Transaction log replay: a hive's logs brought into its bytes in memory, as
// the hive's writer would have done had it not been cut short, each step
// checked. The files themselves are never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/LogRecovery.h"

namespace orbel::platform {

// One transaction log: its file name (for the report) and its bytes.
struct HiveLogFile {
  std::string name;
  std::vector<std::byte> bytes;
};

// A log entry not applied, and why ("bad hash", "sequence gap", "outside the
// hive", "bad checksum", ...). Entries count from 1 in file order; an
// old-format log is one entry.
struct HiveLogRejection {
  std::string log;
  std::uint32_t entry = 0;
  std::string why;
};

struct HiveLogReport {
  // The hive's base block says a write was cut short, or fails its checksum.
  bool dirty = false;
  // Some log beside the hive holds a base block newer than the hive's.
  bool newerLogs = false;
  // The base block failed its checksum and was rebuilt from this log's copy.
  std::string baseBlockFrom;
  std::uint32_t applied = 0;
  std::optional<std::uint32_t> lastSequence;
  std::vector<std::string> logs;  // those entries were applied from, in order
  std::vector<HiveLogRejection> rejected;
  // Logs that could not be read or are not logs of this hive, with why.
  std::vector<std::string> problems;

  // One line for the summary: "Recovered from the transaction logs: ..."
  // and what was rejected, or that a dirty hive is read as it stands; empty
  // for a clean hive with nothing newer in its logs. `hive` is the name shown.
  std::string Text(std::string_view hive) const;
  // What was applied and rejected, as a store reports it.
  LogRecovery Summary() const;
};

// Applies the logs to `hive` (the hive file's bytes), which grows as the
// entries say, by at most the logs' size. Replays when the hive is dirty or a
// log's base block is newer than the hive's: an old-format log that belongs to
// the hive's last write (same timestamp, sequence not older), or new-format
// entries from the hive's secondary sequence number on, in sequence order
// across the logs, up to the first damaged entry or gap. A base block that
// fails its checksum is first rebuilt from a log's sound copy. After a replay
// the base block holds the last sequence number twice and a fresh checksum.
HiveLogReport ReplayHiveLogs(std::vector<std::byte>& hive, std::span<const HiveLogFile> logs);

}  // namespace orbel::platform
