// Types and constants of the registry API that the portable stores and the
// Windows registry share: status codes, value types, access masks, key
// handles and the predefined roots.
#pragma once

#include <cstdint>
#include <functional>

namespace orbel::platform {

// Status codes, with the numbers Windows gives them.
using Status = std::int32_t;
inline constexpr Status kSuccess = 0;
inline constexpr Status kInvalidFunction = 1;  // the store cannot do this
inline constexpr Status kFileNotFound = 2;    // key or value absent
inline constexpr Status kAccessDenied = 5;    // read-only store, or access refused
inline constexpr Status kInvalidHandle = 6;
inline constexpr Status kNotEnoughMemory = 8;
inline constexpr Status kInvalidData = 13;
inline constexpr Status kBadNetPath = 53;     // another computer cannot be reached
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kMoreData = 234;
inline constexpr Status kNoMoreItems = 259;
inline constexpr Status kBadDb = 1009;        // the store is damaged
inline constexpr Status kCantRead = 1012;     // a read failed

// Value types.
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_DWORD_BIG_ENDIAN = 5;
inline constexpr std::uint32_t REG_LINK = 6;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;
inline constexpr std::uint32_t REG_QWORD = 11;

// Access masks.
inline constexpr std::uint32_t KEY_READ = 0x20019;
inline constexpr std::uint32_t KEY_WRITE = 0x20006;
inline constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;

// An open key or a root. The value 0 is no key.
struct HKey {
  std::uintptr_t value = 0;
  constexpr bool operator==(const HKey&) const = default;
  constexpr explicit operator bool() const { return value != 0; }
};

// The predefined roots, with the numbers Windows gives them.
inline constexpr HKey HKeyClassesRoot{0x80000000u};
inline constexpr HKey HKeyCurrentUser{0x80000001u};
inline constexpr HKey HKeyLocalMachine{0x80000002u};
inline constexpr HKey HKeyUsers{0x80000003u};
inline constexpr HKey HKeyPerformanceData{0x80000004u};
inline constexpr HKey HKeyCurrentConfig{0x80000005u};
inline constexpr HKey HKeyDynData{0x80000006u};

constexpr bool IsPredefinedRoot(HKey key) {
  return key.value >= 0x80000000u && key.value <= 0x80000006u;
}

// FILETIME: 100-nanosecond units since 1601-01-01 UTC.
using FileTime = std::uint64_t;

// The figures RegQueryInfoKey gives, lengths in bytes of UTF-8.
struct KeyFigures {
  std::uint32_t subkeyCount = 0;
  std::uint32_t maxSubkeyNameLength = 0;
  std::uint32_t valueCount = 0;
  std::uint32_t maxValueNameLength = 0;
  std::uint32_t maxValueDataLength = 0;
  FileTime lastWriteTime = 0;
};

}  // namespace orbel::platform

template <>
struct std::hash<orbel::platform::HKey> {
  std::size_t operator()(orbel::platform::HKey key) const noexcept {
    return std::hash<std::uintptr_t>{}(key.value);
  }
};
