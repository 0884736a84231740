// The PE icon reader: counting groups, and extracting by position and by
// resource ID.
#include <cstddef>
#include <cstdint>

#include "IconCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> file(reinterpret_cast<const std::byte*>(data), size);
  const std::int32_t count = orbel::platform::CountIcons(file);
  if (count < 0) std::abort();
  for (const std::int32_t index : {0, 1, count - 1, -1, -2, -100, INT32_MIN}) {
    orbel::fuzz::CheckIcon(orbel::platform::ExtractIconFromBytes(file, index), size);
  }
  return 0;
}
