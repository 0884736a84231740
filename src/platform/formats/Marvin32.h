// Marvin32, the keyed 64-bit hash with which a new-format transaction log
// protects each of its entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orbel::platform {

// The seed of the log entries' hashes (its hexadecimal digits are the bytes
// 82 EF 4D 88 7A 4E 55 C5 in the order they are usually written).
inline constexpr std::uint64_t kHiveLogSeed = 0x82EF4D887A4E55C5;

// Marvin32 of `bytes` under `seed`: the high half of the result is the
// state's second word, the low half its first.
std::uint64_t Marvin32(std::span<const std::byte> bytes, std::uint64_t seed);

}  // namespace orbel::platform
