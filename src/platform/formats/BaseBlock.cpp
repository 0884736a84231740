#include "platform/formats/BaseBlock.h"

#include <algorithm>
#include <cstring>

namespace orbel::platform {
namespace {

constexpr std::size_t kChecksumAt = 508;
constexpr std::size_t kFileNameAt = 48;
constexpr std::size_t kFileNameBytes = 64;
constexpr std::size_t kFlagsAt = 144;

}  // namespace

std::uint32_t BaseBlockChecksum(std::span<const std::byte> bytes) {
  if (bytes.size() < kChecksumAt) return 0;
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < kChecksumAt; at += 4) sum ^= Le32At(bytes, at);
  if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
  if (sum == 0) return 1;
  return sum;
}

bool ParseBaseBlock(std::span<const std::byte> bytes, BaseBlock& out) {
  if (bytes.size() < kBaseBlockHead || std::memcmp(bytes.data(), "regf", 4) != 0) return false;
  out.primarySequence = Le32At(bytes, 4);
  out.secondarySequence = Le32At(bytes, 8);
  out.lastWritten = Le64At(bytes, 12);
  out.majorVersion = Le32At(bytes, 20);
  out.minorVersion = Le32At(bytes, 24);
  out.fileType = Le32At(bytes, 28);
  out.fileFormat = Le32At(bytes, 32);
  out.rootOffset = Le32At(bytes, 36);
  out.hiveBinsSize = Le32At(bytes, 40);
  out.clustering = Le32At(bytes, 44);
  out.fileName.clear();
  for (std::size_t at = kFileNameAt; at < kFileNameAt + kFileNameBytes; at += 2) {
    const auto unit = static_cast<char16_t>(std::to_integer<unsigned>(bytes[at]) |
                                            (std::to_integer<unsigned>(bytes[at + 1]) << 8));
    if (unit == 0) break;
    out.fileName.push_back(unit);
  }
  out.flags = Le32At(bytes, kFlagsAt);
  out.checksum = Le32At(bytes, kChecksumAt);
  out.checksumValid = out.checksum == BaseBlockChecksum(bytes);
  return true;
}

bool WriteBaseBlock(BaseBlock& block, std::span<std::byte> bytes) {
  if (bytes.size() < kBaseBlockHead) return false;
  std::memcpy(bytes.data(), "regf", 4);
  PutLe32(bytes, 4, block.primarySequence);
  PutLe32(bytes, 8, block.secondarySequence);
  PutLe32(bytes, 12, static_cast<std::uint32_t>(block.lastWritten));
  PutLe32(bytes, 16, static_cast<std::uint32_t>(block.lastWritten >> 32));
  PutLe32(bytes, 20, block.majorVersion);
  PutLe32(bytes, 24, block.minorVersion);
  PutLe32(bytes, 28, block.fileType);
  PutLe32(bytes, 32, block.fileFormat);
  PutLe32(bytes, 36, block.rootOffset);
  PutLe32(bytes, 40, block.hiveBinsSize);
  PutLe32(bytes, 44, block.clustering);
  std::fill_n(bytes.begin() + kFileNameAt, kFileNameBytes, std::byte{0});
  const std::size_t units = std::min(block.fileName.size(), kFileNameBytes / 2);
  for (std::size_t i = 0; i < units; ++i) {
    bytes[kFileNameAt + 2 * i] = static_cast<std::byte>(block.fileName[i] & 0xFF);
    bytes[kFileNameAt + 2 * i + 1] = static_cast<std::byte>(block.fileName[i] >> 8);
  }
  PutLe32(bytes, kFlagsAt, block.flags);
  block.checksum = BaseBlockChecksum(bytes);
  block.checksumValid = true;
  PutLe32(bytes, kChecksumAt, block.checksum);
  return true;
}

}  // namespace orbel::platform
