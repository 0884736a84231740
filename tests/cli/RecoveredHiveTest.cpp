#include <gtest/gtest.h>
#ifdef ORBEL_HAVE_HIVEX
#include <hivex.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/formats/BaseBlock.h"
#include "support/CompanionRun.h"
#include "support/Hivex.h"
#include "support/TempFolder.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using testing::Command;
using testing::Outcome;

const fs::path kLogs = fs::path(ORBEL_CORPUS_DIR) / "logs";

#define REQUIRE_CORPUS()                                                      \
  if (!fs::is_directory(kLogs)) {                                             \
    GTEST_SKIP() << "the hive corpus is not at " << kLogs << " in this tree"; \
  }

std::string Load(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RecoveredHive, NewFormatHiveIsWhatWindowsMadeOfIt) {
  REQUIRE_CORPUS();
  const testing::TempFolder folder;
  const fs::path out = folder.path() / "recovered";
  const Outcome run =
      Command({"--recovered-hive", out.string(), (kLogs / "NewDirtyHive").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "Recovered from the transaction logs: 4 entries of NewDirtyHive.LOG1 and "
            "NewDirtyHive.LOG2 applied, up to sequence 5; written to " +
                out.string() + "\n");
  const std::string written = Load(out);
  const std::string windows = Load(kLogs / "RecoveredHive_Windows10");
  ASSERT_EQ(written.size(), windows.size());
  EXPECT_TRUE(written.compare(4096, std::string::npos, windows, 4096) == 0);
  platform::BaseBlock block;
  ASSERT_TRUE(platform::ParseBaseBlock(std::as_bytes(std::span(written)), block));
  EXPECT_TRUE(block.checksumValid);
  EXPECT_EQ(block.primarySequence, block.secondarySequence);
}

#ifdef ORBEL_HAVE_HIVEX
// The key below key_with_many_subkeys reached by `path` ("" for none), read by
// libhivex with its checks on; "no hive" when it refuses the file.
std::string Holds(const fs::path& file, const std::vector<const char*>& path, const char* value) {
  hive_h* h = hivex_open(file.c_str(), 0);
  if (!h) return "no hive";
  hive_node_h node = hivex_node_get_child(h, hivex_root(h), "key_with_many_subkeys");
  for (const char* name : path) node = node ? hivex_node_get_child(h, node, name) : 0;
  std::string found = node ? "key" : "";
  if (node && value) {
    const hive_value_h v = hivex_node_get_value(h, node, value);
    hive_type type{};
    std::size_t length = 0;
    found = v && hivex_value_type(h, v, &type, &length) == 0 && type == hive_t_REG_MULTI_SZ
                ? "multi-string"
                : "";
  }
  hivex_close(h);
  return found;
}
#endif

TEST(RecoveredHive, OldFormatHiveHoldsWhatTheLogHolds) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  REQUIRE_CORPUS();
#ifdef ORBEL_HAVE_HIVEX
  const testing::TempFolder folder;
  const fs::path out = folder.path() / "recovered";
  const fs::path source = kLogs / "OldDirtyHive";
  const Outcome run = Command({"--recovered-hive", out.string(), source.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const struct {
    std::vector<const char*> path;
    const char* value;
    std::string stored, recovered;
  } cases[] = {
      {{"5000", "find_me_in_log"}, nullptr, "", "key"},
      {{"4500"}, "V", "", "multi-string"},
      {{"1"}, nullptr, "key", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Holds(source, c.path, c.value), c.stored) << c.path.back();
    EXPECT_EQ(Holds(out, c.path, c.value), c.recovered) << c.path.back();
  }
#endif
}

TEST(RecoveredHive, DamagedLogIsNamedInTheJsonReport) {
  REQUIRE_CORPUS();
  const testing::TempFolder folder;
  const fs::path out = folder.path() / "recovered";
  const Outcome run =
      Command({"--json", "--recovered-hive", out.string(), (kLogs / "BadLogHive").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(nlohmann::json::parse(run.out)["recovery"],
            nlohmann::json::parse(R"({"applied": 0, "lastSequence": null, "logs": [],
              "rejected": [{"log": "BadLogHive.LOG1", "entry": 1, "why": "bad checksum"}]})"));
  EXPECT_EQ(Load(out).substr(4096), Load(kLogs / "BadLogHive").substr(4096));
}

TEST(RecoveredHive, RefusesToWriteOverAnythingOrReadANonHive) {
  REQUIRE_CORPUS();
  const testing::TempFolder folder;
  const fs::path hive = folder.path() / "hive";
  fs::copy_file(kLogs / "NewDirtyHive", hive);
  fs::copy_file(kLogs / "NewDirtyHive.LOG1", folder.path() / "HIVE.log1");
  const std::string other = folder.Write("other", "not a hive").string();
  const std::string viaDots =
      (folder.path() / ".." / folder.path().filename() / "HIVE.log1").string();
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"--recovered-hive", other, hive.string()}, 2},  // OUT exists
      {{"--recovered-hive", hive.string(), hive.string()}, 2},
      {{"--recovered-hive", viaDots, hive.string()}, 2},
      // Not there yet, but it would be taken for the hive's log.
      {{"--recovered-hive", (folder.path() / "Hive.LOG").string(), hive.string()}, 2},
      {{"--recovered-hive", (folder.path() / "new").string()}, 2},  // no SOURCE
      {{"--csv", "--recovered-hive", (folder.path() / "new").string(), hive.string()}, 2},
      {{"--recovered-hive", (folder.path() / "new").string(), other}, 1},
      {{"--recovered-hive", (folder.path() / "new").string(), (folder.path() / "none").string()},
       1},
  };
  const std::string stored = Load(hive), log = Load(folder.path() / "HIVE.log1");
  for (const auto& c : cases) {
    const Outcome run = Command(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[1] << run.err;
    EXPECT_FALSE(run.err.empty());
    EXPECT_FALSE(fs::exists(folder.path() / "new"));
    EXPECT_FALSE(fs::exists(folder.path() / "Hive.LOG"));
  }
  EXPECT_EQ(Load(hive), stored);
  EXPECT_EQ(Load(folder.path() / "HIVE.log1"), log);
  EXPECT_EQ(Load(other), "not a hive");
}

}  // namespace
}  // namespace orbel
