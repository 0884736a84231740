#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/formats/BaseBlock.h"
#include "platform/formats/HiveLogFiles.h"
#include "platform/formats/Marvin32.h"
#include "support/TempFolder.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;

const fs::path kLogs = fs::path(ORBEL_CORPUS_DIR) / "logs";

#define REQUIRE_CORPUS()                                                      \
  if (!fs::is_directory(kLogs)) {                                             \
    GTEST_SKIP() << "the hive corpus is not at " << kLogs << " in this tree"; \
  }

Bytes Load(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes bytes(text.size());
  std::memcpy(bytes.data(), text.data(), text.size());
  return bytes;
}

void Save(const fs::path& file, const Bytes& bytes) {
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::byte>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Known answers published with the .NET runtime's Marvin tests.
TEST(Marvin32, GivesThePublishedHashes) {
  constexpr std::uint64_t kSeed1 = 0x004FB61A001BDBCC, kSeed2 = 0x804FB61A001BDBCC,
                          kSeed3 = 0x804FB61A801BDBCC;
  const struct {
    std::uint64_t seed;
    const char* data;
    std::uint64_t hash;
  } cases[] = {
      {kSeed1, "", 0x30ED35C100CD3C7D},
      {kSeed1, "af", 0x48E73FC77D75DDC1},
      {kSeed1, "e70f", 0xB5F6E1FC485DBFF8},
      {kSeed1, "37f495", 0xF0B07C789B8CF7E8},
      {kSeed1, "8642dc59", 0x7008F2E87E9CF556},
      {kSeed1, "153fb79826", 0xE6C08C6DA2AFA997},
      {kSeed1, "0932e6246c47", 0x6F04BF1A5EA24060},
      {kSeed1, "ab427ea8d10fc7", 0xE11847E4F0678C41},
      {kSeed2, "ab427ea8d10fc7", 0xE203987DBA252FB3},
      {kSeed3, "FF00FF00FF00FF", 0xFDFD187B1D3CE784},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Marvin32(FromHex(c.data), c.seed), c.hash) << c.data;
  }
}

TEST(BaseBlock, ChecksumNeverZeroNorAllOnes) {
  const struct {
    std::uint32_t second;  // the number after "regf"
    std::uint32_t checksum;
  } cases[] = {
      {0x66676572, 1},           // "regf" twice: the XOR is 0
      {0x99989A8D, 0xFFFFFFFE},  // the XOR is 0xFFFFFFFF
      {0, 0x66676572},
  };
  for (const auto& c : cases) {
    Bytes block(kBaseBlockSize);
    std::memcpy(block.data(), "regf", 4);
    PutLe32(block, 4, c.second);
    EXPECT_EQ(BaseBlockChecksum(block), c.checksum);
  }
  // Written fields read back, under a checksum that holds.
  BaseBlock written;
  written.primarySequence = 7;
  written.secondarySequence = 6;
  written.lastWritten = 0x01D295059E68E89E;
  written.hiveBinsSize = 0x5000;
  written.fileName = u"SYSTEM";
  Bytes block(kBaseBlockSize);
  ASSERT_TRUE(WriteBaseBlock(written, block));
  BaseBlock read;
  ASSERT_TRUE(ParseBaseBlock(block, read));
  EXPECT_TRUE(read.checksumValid);
  EXPECT_EQ(read.primarySequence, 7u);
  EXPECT_EQ(read.lastWritten, written.lastWritten);
  EXPECT_EQ(read.hiveBinsSize, 0x5000u);
  EXPECT_EQ(read.fileName, u"SYSTEM");
}

// A corpus hive with its logs copied into a scratch folder, the logs' names
// in other letter cases.
struct Copied {
  fs::path hive;
  fs::path log1, log2;
};

Copied Copy(const orbel::testing::TempFolder& folder, const std::string& name) {
  Copied copy{folder.path() / name, folder.path() / (name + ".log1"),
              folder.path() / (name + ".Log2")};
  fs::copy_file(kLogs / name, copy.hive);
  fs::copy_file(kLogs / (name + ".LOG1"), copy.log1);
  fs::copy_file(kLogs / (name + ".LOG2"), copy.log2);
  // The corpus is read-only, and Windows removes no read-only file: the
  // tests remove logs of their copies.
  for (const fs::path& file : {copy.hive, copy.log1, copy.log2}) {
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
  }
  return copy;
}

Bytes From4096(const Bytes& hive) { return Bytes(hive.begin() + kBaseBlockSize, hive.end()); }

TEST(HiveLogReplay, NewFormatGivesWhatWindowsMadeOfIt) {
  REQUIRE_CORPUS();
  const orbel::testing::TempFolder folder;
  const Copied copy = Copy(folder, "NewDirtyHive");
  const Bytes windows = Load(kLogs / "RecoveredHive_Windows10");
  // As stored, and with a base block that fails its checksum (rebuilt from
  // the log's copy).
  for (const bool damaged : {false, true}) {
    Bytes hive = Load(copy.hive);
    if (damaged) hive[60] ^= std::byte{1};
    const HiveLogReport report = RecoverHive(copy.hive, hive);
    EXPECT_EQ(From4096(hive), From4096(windows)) << damaged;
    EXPECT_EQ(report.applied, 4u);
    EXPECT_EQ(report.lastSequence, 5u);
    EXPECT_TRUE(report.rejected.empty());
    EXPECT_EQ(report.baseBlockFrom, damaged ? "NewDirtyHive.log1" : "");
    if (!damaged) {
      EXPECT_EQ(report.Text("NewDirtyHive"),
                "Recovered from the transaction logs: 4 entries of NewDirtyHive.log1 and "
                "NewDirtyHive.Log2 applied, up to sequence 5");
    }
    BaseBlock block;
    ASSERT_TRUE(ParseBaseBlock(hive, block));
    EXPECT_TRUE(block.checksumValid);
    EXPECT_EQ(block.primarySequence, 5u);
    EXPECT_EQ(block.secondarySequence, 5u);
  }
}

// Rewrites the two hashes of the entry at `at` of a new-format log.
void Rehash(Bytes& log, std::size_t at) {
  const std::span<std::byte> entry = std::span(log).subspan(at, Le32At(log, at + 4));
  const std::uint64_t first = Marvin32(entry.subspan(40), kHiveLogSeed);
  PutLe32(entry, 24, static_cast<std::uint32_t>(first));
  PutLe32(entry, 28, static_cast<std::uint32_t>(first >> 32));
  const std::uint64_t second = Marvin32(entry.first(32), kHiveLogSeed);
  PutLe32(entry, 32, static_cast<std::uint32_t>(second));
  PutLe32(entry, 36, static_cast<std::uint32_t>(second >> 32));
}

TEST(HiveLogReplay, StopsAtTheFirstUnsoundEntry) {
  REQUIRE_CORPUS();
  // The second entry of the second log (sequence 4) is at 0x2000; its first
  // page reference at 0x2028.
  constexpr std::size_t kEntry = 0x2000;
  const struct {
    const char* why;
    std::size_t at;
    std::uint32_t value;
    bool rehash;
  } cases[] = {
      {"bad hash", kEntry + 0x100, 0x12345678, false},
      {"sequence gap", kEntry + 12, 9, true},
      {"outside the hive", kEntry + 40, 0x1000, true},
      {"bad size", kEntry + 4, 0x7000000, false},
  };
  for (const auto& c : cases) {
    const orbel::testing::TempFolder folder;
    const Copied copy = Copy(folder, "NewDirtyHive");
    Bytes log2 = Load(copy.log2);
    PutLe32(log2, c.at, c.value);
    if (c.rehash) Rehash(log2, kEntry);
    fs::remove(copy.log2);
    Save(copy.log2, log2);
    Bytes hive = Load(copy.hive);
    const HiveLogReport report = RecoverHive(copy.hive, hive);
    EXPECT_EQ(report.applied, 2u) << c.why;
    EXPECT_EQ(report.lastSequence, 3u) << c.why;
    ASSERT_EQ(report.rejected.size(), 1u) << c.why;
    EXPECT_EQ(report.rejected[0].log, "NewDirtyHive.Log2");
    EXPECT_EQ(report.rejected[0].entry, 2u);
    EXPECT_EQ(report.rejected[0].why, c.why);
    EXPECT_NE(report.Text("NewDirtyHive")
                  .find("NewDirtyHive.Log2: entry 2 rejected (" + std::string(c.why) +
                        "); the hive is shown as far as the logs are sound"),
              std::string::npos)
        << report.Text("NewDirtyHive");
  }
}

TEST(HiveLogReplay, OldAndDamagedAndRealLogs) {
  REQUIRE_CORPUS();
  const struct {
    fs::path hive;
    std::uint32_t applied, lastSequence;
    const char* rejected;  // the first rejection, "" for none
  } cases[] = {
      {kLogs / "OldDirtyHive", 1, 5, ""},
      {kLogs / "BadLogHive", 0, 0, "BadLogHive.LOG1: entry 1 rejected (bad checksum)"},
      {kLogs / ".." / "real" / "regipy_UsrClass.dat", 14, 300, ""},
      // Clean, beside logs older than itself: nothing applies.
      {kLogs / "RecoveredHive_Windows10", 0, 0, ""},
  };
  for (const auto& c : cases) {
    const Bytes stored = Load(c.hive);
    Bytes hive = stored;
    const HiveLogReport report = RecoverHive(c.hive, hive);
    EXPECT_EQ(report.applied, c.applied) << c.hive;
    EXPECT_EQ(report.lastSequence.value_or(0), c.lastSequence) << c.hive;
    EXPECT_EQ(report.rejected.size(), *c.rejected ? 1u : 0u) << c.hive;
    if (c.applied == 0) {
      EXPECT_EQ(hive, stored) << "the hive is kept as stored: " << c.hive;
    }
    if (*c.rejected) {
      EXPECT_EQ(report.Text("BadLogHive").rfind(c.rejected, 0), 0u) << report.Text("BadLogHive");
    }
  }
}

}  // namespace
}  // namespace orbel::platform
