// What reading a hive with its transaction logs gave: the entries applied
// and those rejected, as a store read from a hive file reports it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orbel::platform {

struct LogRecovery {
  struct Rejection {
    std::string log;
    std::uint32_t entry = 0;  // from 1, in the log's order
    std::string why;
  };
  std::uint32_t applied = 0;
  std::optional<std::uint32_t> lastSequence;
  std::vector<std::string> logs;  // those entries were applied from, in order
  std::vector<Rejection> rejected;
};

}  // namespace orbel::platform
