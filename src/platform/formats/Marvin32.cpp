#include "platform/formats/Marvin32.h"

#include <bit>

namespace orbel::platform {
namespace {

void Mix(std::uint32_t& low, std::uint32_t& high) {
  high ^= low;
  low = std::rotl(low, 20);
  low += high;
  high = std::rotl(high, 9);
  high ^= low;
  low = std::rotl(low, 27);
  low += high;
  high = std::rotl(high, 19);
}

std::uint32_t Byte(std::span<const std::byte> bytes, std::size_t at) {
  return std::to_integer<std::uint32_t>(bytes[at]);
}

}  // namespace

std::uint64_t Marvin32(std::span<const std::byte> bytes, std::uint64_t seed) {
  auto low = static_cast<std::uint32_t>(seed);
  auto high = static_cast<std::uint32_t>(seed >> 32);
  std::size_t at = 0;
  for (; bytes.size() - at >= 4; at += 4) {
    low += Byte(bytes, at) | (Byte(bytes, at + 1) << 8) | (Byte(bytes, at + 2) << 16) |
           (Byte(bytes, at + 3) << 24);
    Mix(low, high);
  }
  // The last 0 to 3 bytes, closed by a 0x80 byte.
  std::uint32_t last = 0x80;
  for (std::size_t i = bytes.size(); i > at; --i) last = (last << 8) | Byte(bytes, i - 1);
  low += last;
  Mix(low, high);
  Mix(low, high);
  return (std::uint64_t{high} << 32) | low;
}

}  // namespace orbel::platform
