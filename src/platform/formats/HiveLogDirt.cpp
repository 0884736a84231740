#include "platform/formats/HiveLogDirt.h"

#include <cstring>

#include "platform/formats/BaseBlock.h"

namespace orbel::platform {
namespace {

constexpr std::size_t kPage = 512;
constexpr std::uint32_t kHivePage = 4096;

// A hive bin that starts in `run` (written at `offset`) names that offset and
// a size of whole blocks.
bool BinsSound(const HiveLogPage& run) {
  std::size_t at = (kHivePage - run.offset % kHivePage) % kHivePage;
  for (; at < run.bytes.size() && run.bytes.size() - at >= 12; at += kHivePage) {
    if (std::memcmp(run.bytes.data() + at, "hbin", 4) != 0) continue;
    const std::uint32_t size = Le32At(run.bytes, at + 8);
    if (Le32At(run.bytes, at + 4) != run.offset + at || size < kHivePage || size % kHivePage != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseHiveLogDirt(std::span<const std::byte> log, std::uint32_t hiveBinsSize,
                      std::size_t sector, std::vector<HiveLogPage>& out, std::string& why) {
  out.clear();
  const std::size_t bits = hiveBinsSize / kPage;
  const std::size_t vectorBytes = 4 + (bits + 7) / 8;
  if (hiveBinsSize % kHivePage != 0 || sector == 0 || log.size() < sector ||
      log.size() - sector < vectorBytes || std::memcmp(log.data() + sector, "DIRT", 4) != 0) {
    why = "bad dirty vector";
    return false;
  }
  const auto bitmap = log.subspan(sector + 4, (bits + 7) / 8);
  std::size_t at = sector + (vectorBytes + sector - 1) / sector * sector;  // the first page
  for (std::size_t bit = 0; bit < bits; ++bit) {
    if (((std::to_integer<unsigned>(bitmap[bit / 8]) >> (bit % 8)) & 1) == 0) continue;
    if (at > log.size() || log.size() - at < kPage) {
      why = "truncated";
      out.clear();
      return false;
    }
    const auto offset = static_cast<std::uint32_t>(bit * kPage);
    if (!out.empty() && out.back().offset + out.back().bytes.size() == offset &&
        out.back().bytes.data() + out.back().bytes.size() == log.data() + at) {
      out.back().bytes = log.subspan(at - out.back().bytes.size(), out.back().bytes.size() + kPage);
    } else {
      out.push_back({offset, log.subspan(at, kPage)});
    }
    at += kPage;
  }
  for (const HiveLogPage& run : out) {
    if (!BinsSound(run)) {
      why = "bad hive bin";
      out.clear();
      return false;
    }
  }
  return true;
}

}  // namespace orbel::platform
