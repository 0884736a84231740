// The transaction logs of a hive file: found beside it, read with the safe
// regular-file reads, and replayed into the hive's bytes in memory. Neither
// the hive nor its logs are written or locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/formats/HiveLogReplay.h"

namespace orbel::platform {

// The logs beside `hive`: NAME.LOG, NAME.LOG1 and NAME.LOG2 in that order,
// their names matched without regard to ASCII case (of two spellings, the
// exact one). Only those present.
std::vector<std::filesystem::path> FindHiveLogs(const std::filesystem::path& hive);

// The most bytes a log of a hive of `hiveSize` bytes is read to: four times
// the hive, and at least 16 MiB. Each entry holds only pages of the hive, and
// the writer starts its logs afresh once the hive file is brought up to date,
// so a larger file is not this hive's log; the floor leaves room for a small
// hive that grew.
std::uint64_t MaxHiveLogSize(std::uint64_t hiveSize);

// Whether the logs of `hiveFile` may bring anything into it, from the hive's
// first sector `head`: the hive is dirty, or a log's base block is newer than
// the hive's. A clean hive costs one look through its folder and a look at
// the first sector of each log it has.
bool HiveLogsMayApply(const std::filesystem::path& hiveFile, const std::vector<std::byte>& head);

// Finds and reads the logs of `hiveFile` and replays them into `hive`, the
// file's bytes (see ReplayHiveLogs). A clean hive costs a look at the first
// sector of each log. Logs that cannot be read are named in the report's
// problems.
HiveLogReport RecoverHive(const std::filesystem::path& hiveFile, std::vector<std::byte>& hive);

}  // namespace orbel::platform
