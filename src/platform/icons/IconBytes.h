// Little-endian fields of icon and program files, read after a range check,
// and offsets written in hex for messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace orbel::platform::iconfile {

using Bytes = std::span<const std::byte>;

inline bool Fits(Bytes data, std::uint64_t offset, std::uint64_t length) {
  return offset <= data.size() && length <= data.size() - offset;
}

// Callers check the range with Fits first.
inline std::uint16_t U16(Bytes data, std::uint64_t offset) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(data[offset]) |
                                    (std::to_integer<unsigned>(data[offset + 1]) << 8));
}

inline std::uint32_t U32(Bytes data, std::uint64_t offset) {
  return static_cast<std::uint32_t>(U16(data, offset)) |
         (static_cast<std::uint32_t>(U16(data, offset + 2)) << 16);
}

inline void PutU16(std::vector<std::byte>& out, std::uint16_t value) {
  out.push_back(static_cast<std::byte>(value & 0xFF));
  out.push_back(static_cast<std::byte>(value >> 8));
}

inline void PutU32(std::vector<std::byte>& out, std::uint32_t value) {
  PutU16(out, static_cast<std::uint16_t>(value & 0xFFFF));
  PutU16(out, static_cast<std::uint16_t>(value >> 16));
}

inline std::string Hex(std::uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

}  // namespace orbel::platform::iconfile
