#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/store/MemoryStore.h"
#include "support/CompanionRun.h"
#include "support/RegfWriter.h"
#include "support/TempFolder.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const char* const kDeleted = "{0B1E0000-0000-4000-8000-00000000000D}";
const char* const kLive = "{0B1E0000-0000-4000-8000-00000000000E}";
const char* const kFormer = "{0B1E0000-0000-4000-8000-00000000000F}";

std::string ServerOf(const char* guid) { return std::string("C:\\servers\\") + guid + ".dll"; }

// A classes hive with a class deleted by unlinking its key, a live one, and
// a live one whose former version (its key moved away) lies in free cells.
fs::path DeletedClassHive(const fs::path& folder) {
  platform::MemoryStore tree;
  for (const std::string& path :
       {std::string("CLSID\\") + kDeleted, std::string("CLSID\\") + kLive,
        std::string("CLSID\\") + kFormer, std::string("Old\\") + kFormer}) {
    const auto server = tree.EnsurePath(path + "\\InprocServer32");
    tree.PutString(server, "", ServerOf(path.c_str() + path.find('{')), platform::REG_EXPAND_SZ);
  }
  auto hive = platform::WriteRegfHive(tree, tree.RootNode());
  platform::DeleteKey(hive, std::string("CLSID\\") + kDeleted);
  const std::uint32_t former = platform::KeyCell(hive, std::string("Old\\") + kFormer);
  platform::DeleteKey(hive, std::string("Old\\") + kFormer);
  const std::uint32_t clsid = platform::KeyCell(hive, "CLSID");
  std::memcpy(hive.data() + 4096 + former + 4 + 16, &clsid, 4);  // its parent
  const fs::path file = folder / "UsrClass.dat";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(hive.data()), static_cast<std::streamsize>(hive.size()));
  return file;
}

TEST(DeletedCommand, ListsTheRecoveredClassesWithTheirServersAndNoLiveOne) {
  testing::TempFolder folder;
  const fs::path file = DeletedClassHive(folder.path());

  const auto run = testing::Command({"--deleted", "--json", file.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<json> lines;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  ASSERT_EQ(lines.size(), 3u) << run.out;
  for (std::size_t i = 0; i < 2; ++i) {
    const json& entry = lines[i];
    const std::string guid = entry["guid"];
    EXPECT_TRUE(guid == kDeleted || guid == kFormer) << guid;
    EXPECT_EQ(entry["recovered"], true);
    EXPECT_EQ(entry["formerVersion"], guid == kFormer);
    EXPECT_EQ(entry["missing"], json::array());
    EXPECT_NE(entry["rows"].dump().find(json(ServerOf(guid.c_str())).dump()), std::string::npos)
        << entry.dump();
  }
  EXPECT_EQ(lines[2]["summary"]["deleted"]["classes"], 2);
  EXPECT_EQ(lines[2]["summary"]["deleted"]["formerVersions"], 1);

  const auto text = testing::Command({"--deleted", file.string()});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find(std::string(kDeleted) + "\t"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\trecovered (a former version of a live class)\n"), std::string::npos)
      << text.out;
  EXPECT_EQ(text.out.find(kLive), std::string::npos) << text.out;
}

}  // namespace
}  // namespace orbel
