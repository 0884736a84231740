#include "platform/formats/HiveLogEntries.h"

#include <cstring>

#include "platform/formats/BaseBlock.h"
#include "platform/formats/Marvin32.h"

namespace orbel::platform {
namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kHeader = 40;  // up to the first page reference
constexpr std::size_t kHashed = 32;  // what the second hash covers
constexpr std::uint32_t kHivePage = 4096;

// Checks the entry at the start of `entry` (its declared size already
// within the file) and reads it into `out`; the reason when it is damaged.
std::string ReadEntry(std::span<const std::byte> entry, HiveLogEntry& out) {
  out.sequence = Le32At(entry, 12);
  out.hiveBinsSize = Le32At(entry, 16);
  out.flags = Le32At(entry, 8);
  const std::uint32_t count = Le32At(entry, 20);
  if (Marvin32(entry.subspan(kHeader), kHiveLogSeed) != Le64At(entry, 24) ||
      Marvin32(entry.first(kHashed), kHiveLogSeed) != Le64At(entry, 32)) {
    return "bad hash";
  }
  if (out.hiveBinsSize == 0 || out.hiveBinsSize % kHivePage != 0) return "bad hive size";
  if (count > (entry.size() - kHeader) / 8) return "bad size";
  std::size_t at = kHeader + std::size_t{count} * 8;
  out.pages.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t offset = Le32At(entry, kHeader + 8 * i);
    const std::uint32_t size = Le32At(entry, kHeader + 8 * i + 4);
    if (size > entry.size() - at) return "bad size";
    if (offset > out.hiveBinsSize || size > out.hiveBinsSize - offset) return "outside the hive";
    out.pages.push_back({offset, entry.subspan(at, size)});
    at += size;
  }
  return {};
}

}  // namespace

std::vector<HiveLogEntry> ParseHiveLogEntries(std::span<const std::byte> log, HiveLogStop& stop) {
  std::vector<HiveLogEntry> entries;
  stop = {};
  std::uint32_t index = 0;
  for (std::size_t at = kSector; at <= log.size() && log.size() - at >= kHeader;) {
    if (std::memcmp(log.data() + at, "HvLE", 4) != 0) break;  // the entries end here
    ++index;
    const std::uint32_t size = Le32At(log, at + 4);
    if (size < kHeader || size % kSector != 0 || size > log.size() - at) {
      stop = {index, "bad size"};
      break;
    }
    HiveLogEntry entry;
    entry.index = index;
    if (std::string why = ReadEntry(log.subspan(at, size), entry); !why.empty()) {
      stop = {index, std::move(why)};
      break;
    }
    entries.push_back(std::move(entry));
    at += size;
  }
  return entries;
}

}  // namespace orbel::platform
