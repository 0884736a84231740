// The old transaction log format: after the copy of the base block's first
// sector, a dirty vector ("DIRT" and a bitmap with one bit per 512-byte page
// of the hive bins data), then the dirty pages, one per set bit, in order,
// from the next sector boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/formats/HiveLogEntries.h"

namespace orbel::platform {

// The dirty pages of an old-format log whose base block says the hive bins
// data is `hiveBinsSize` bytes, on sectors of `sector` bytes (512 times the
// clustering factor), runs of adjacent pages joined. A hive bin that starts
// on a page must name its own offset and a size of whole 4096-byte blocks.
// false with `why` ("bad dirty vector", "truncated", "bad hive bin") when
// the log is damaged; `out` then holds nothing.
bool ParseHiveLogDirt(std::span<const std::byte> log, std::uint32_t hiveBinsSize,
                      std::size_t sector, std::vector<HiveLogPage>& out, std::string& why);

}  // namespace orbel::platform
