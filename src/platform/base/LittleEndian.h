// Little-endian numbers in the bytes of a file: read where the bytes hold
// them, 0 where they do not (callers check sizes first; this only keeps a
// slip harmless), and stored where there is room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orbel::platform {

inline std::uint16_t Le16At(std::span<const std::byte> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 2) return 0;
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(bytes[at]) |
                                    (std::to_integer<unsigned>(bytes[at + 1]) << 8));
}

inline std::uint32_t Le32At(std::span<const std::byte> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return 0;
  return Le16At(bytes, at) | (std::uint32_t{Le16At(bytes, at + 2)} << 16);
}

inline std::uint64_t Le64At(std::span<const std::byte> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 8) return 0;
  return Le32At(bytes, at) | (std::uint64_t{Le32At(bytes, at + 4)} << 32);
}

inline void PutLe32(std::span<std::byte> bytes, std::size_t at, std::uint32_t value) {
  if (at > bytes.size() || bytes.size() - at < 4) return;
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::byte>(value >> (8 * i));
}

}  // namespace orbel::platform
