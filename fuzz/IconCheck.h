// What every extracted icon must be, whatever the input: a well-formed .ico
// whose images lie inside it and are together no larger than the file read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/icons/IconExtract.h"

namespace orbel::fuzz {

inline std::uint32_t Little(std::span<const std::byte> data, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | std::to_integer<std::uint32_t>(data[at + i]);
  return value;
}

inline void CheckIcon(const platform::ExtractedIcon& icon, std::size_t fileSize) {
  if (icon.outcome != platform::IconOutcome::Found) {
    if (!icon.ico.empty() || icon.error.empty()) std::abort();
    return;
  }
  const std::span<const std::byte> ico(icon.ico);
  if (ico.size() < 6 || Little(ico, 0, 2) != 0 || Little(ico, 2, 2) != 1) std::abort();
  const std::uint32_t count = Little(ico, 4, 2);
  if (count == 0 || 6 + 16ull * count > ico.size()) std::abort();
  std::uint64_t images = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = 6 + 16 * i;
    const std::uint64_t size = Little(ico, at + 8, 4), offset = Little(ico, at + 12, 4);
    if (size == 0 || offset + size > ico.size()) std::abort();
    images += size;
  }
  if (images > fileSize) std::abort();
}

}  // namespace orbel::fuzz
