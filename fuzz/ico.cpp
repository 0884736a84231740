// The .ico reader: one icon of every size the file holds.
#include <cstddef>
#include <cstdint>

#include "IconCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> file(reinterpret_cast<const std::byte*>(data), size);
  const std::int32_t count = orbel::platform::CountIcons(file);
  if (count < 0 || count > 0xFFFF) std::abort();
  for (const std::int32_t index : {0, 1, -1}) {
    orbel::fuzz::CheckIcon(orbel::platform::ExtractIconFromBytes(file, index), size);
  }
  return 0;
}
