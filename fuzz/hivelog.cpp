// Transaction log replay: a small dirty hive made here, and two logs from the
// input (a flag byte, the first log's length in two bytes, the first log,
// then the second). The replay must keep its bounds and say what it did.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/formats/BaseBlock.h"
#include "platform/formats/HiveLogReplay.h"

using namespace orbel::platform;

namespace {

// A hive whose last write was cut short (sequence 3 begun, 2 finished),
// with one empty hive bin; its base block fails its checksum when `damaged`.
std::vector<std::byte> DirtyHive(bool damaged) {
  std::vector<std::byte> hive(kBaseBlockSize + 4096);
  BaseBlock block;
  block.primarySequence = 3;
  block.secondarySequence = 2;
  block.lastWritten = 0x01D295059E68E89E;
  block.majorVersion = 1;
  block.minorVersion = 5;
  block.fileFormat = 1;
  block.rootOffset = 0x20;
  block.hiveBinsSize = 4096;
  block.clustering = 1;
  WriteBaseBlock(block, hive);
  if (damaged) hive[100] ^= std::byte{1};
  std::memcpy(hive.data() + kBaseBlockSize, "hbin", 4);
  PutLe32(hive, kBaseBlockSize + 8, 4096);
  return hive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const bool damaged = (data[0] & 1) != 0;
  const std::size_t first = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
  const auto* bytes = reinterpret_cast<const std::byte*>(data) + 3;
  std::vector<HiveLogFile> logs(2);
  logs[0] = {"hive.LOG1", std::vector<std::byte>(bytes, bytes + first)};
  logs[1] = {"hive.LOG2", std::vector<std::byte>(bytes + first, bytes + (size - 3))};

  std::vector<std::byte> hive = DirtyHive(damaged);
  const std::vector<std::byte> stored = hive;
  const HiveLogReport report = ReplayHiveLogs(hive, logs);
  // The hive grows by no more than the logs hold.
  if (hive.size() > stored.size() + (size - 3)) std::abort();
  if (report.applied == 0 && report.baseBlockFrom.empty() && hive != stored) std::abort();
  if (report.applied > 0) {
    BaseBlock block;
    if (!ParseBaseBlock(hive, block) || !block.checksumValid || block.Unfinished() ||
        block.secondarySequence != report.lastSequence) {
      std::abort();
    }
  }
  if (!report.rejected.empty() && report.Text("hive").find("rejected") == std::string::npos) {
    std::abort();
  }
  return 0;
}
