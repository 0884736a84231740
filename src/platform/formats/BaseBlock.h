// The base block of a regf hive: the first 4096 bytes of the file, of which
// a transaction log keeps a copy of the first sector. Parsed from bytes and
// written back with its checksum recomputed; every field is read only after
// the bytes were checked to hold it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/base/LittleEndian.h"

namespace orbel::platform {

inline constexpr std::size_t kBaseBlockSize = 4096;
// The part the checksum covers and a log copies (the first sector).
inline constexpr std::size_t kBaseBlockHead = 512;

// The file types a base block names.
inline constexpr std::uint32_t kPrimaryFile = 0;
inline constexpr std::uint32_t kOldLogFile = 1;
inline constexpr std::uint32_t kNewLogFile = 6;

struct BaseBlock {
  std::uint32_t primarySequence = 0;
  std::uint32_t secondarySequence = 0;
  std::uint64_t lastWritten = 0;  // FILETIME
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t fileType = 0;
  std::uint32_t fileFormat = 0;
  std::uint32_t rootOffset = 0;    // from the start of the hive bins data
  std::uint32_t hiveBinsSize = 0;  // the size of the hive bins data
  std::uint32_t clustering = 0;    // the sector size over 512
  std::u16string fileName;         // up to 32 UTF-16 units, without the NULs
  std::uint32_t flags = 0;         // at 144, the log entries' flags
  std::uint32_t checksum = 0;      // as stored
  bool checksumValid = false;      // the stored checksum is the computed one

  // Primary and secondary sequence numbers differ: a write was cut short.
  bool Unfinished() const { return primarySequence != secondarySequence; }
};

// The checksum of a base block's first 508 bytes: their XOR as 127
// little-endian numbers, with 0 stored as 1 and 0xFFFFFFFF as 0xFFFFFFFE.
// 0 when `bytes` holds fewer than 508 bytes.
std::uint32_t BaseBlockChecksum(std::span<const std::byte> bytes);

// Parses the base block at the start of `bytes`, which must hold its first
// sector (512 bytes) and start with "regf"; false otherwise.
bool ParseBaseBlock(std::span<const std::byte> bytes, BaseBlock& out);

// Writes the fields of `block` into the first sector of `bytes` (at least
// 512 bytes; false otherwise), leaving the reserved bytes as they are, and
// stores the recomputed checksum (also in `block`).
bool WriteBaseBlock(BaseBlock& block, std::span<std::byte> bytes);

}  // namespace orbel::platform
