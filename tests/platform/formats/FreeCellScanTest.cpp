#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/base/Text.h"
#include "platform/formats/FreeCellScan.h"
#include "support/RegfWriter.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;
const fs::path kCorpus = ORBEL_CORPUS_DIR;

std::vector<std::byte> ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(in)), {});
  const auto bytes = std::as_bytes(std::span(raw));
  return {bytes.begin(), bytes.end()};
}

std::string Joined(const std::vector<std::string>& path) {
  std::string text;
  for (const auto& part : path) text += (text.empty() ? "" : "\\") + part;
  return text;
}

std::string Line(const RecoveredKey& key) {
  return Joined(key.path) + (key.partial ? " (partial)" : "") +
         (key.formerVersion ? " (former)" : "");
}

// "path" or "path = value name: UTF-16 text" for each key and value found.
std::vector<std::string> Listing(const RecoveredKeys& found) {
  std::vector<std::string> lines;
  for (const auto& key : found.keys) {
    lines.push_back(Line(key));
    for (const auto& value : key.values) {
      lines.push_back(Joined(key.path) + " = " + value.name + ": " + Utf16LeToUtf8(value.data));
    }
  }
  for (const auto& value : found.unattachedValues) {
    lines.push_back("? = " + value.name + ": " + Utf16LeToUtf8(value.data));
  }
  return lines;
}

TEST(FreeCellScanTest, RecoversTheCorpusDeletedKeysAndValues) {
  if (!fs::is_directory(kCorpus / "deleted")) {
    GTEST_SKIP() << "the hive corpus is not at " << kCorpus << " in this tree";
  }
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      // v2's padding holds the tag of an older list: it must not cut the name.
      {"DeletedDataHive", {"456", "456 = v: 123456", "? = v2: 456"}},
      {"DeletedTreeHive", {"1\\2\\3", "1\\2\\3\\4", "1\\2\\3\\4\\5", "1\\2\\3\\4\\New Key #1"}},
  };
  for (const auto& [file, expected] : cases) {
    const auto found = ScanFreeCells(ReadAll(kCorpus / "deleted" / file));
    EXPECT_TRUE(found.scanned) << file;
    EXPECT_TRUE(found.problems.empty()) << file;
    EXPECT_EQ(Listing(found), expected) << file;
  }
}

std::uint32_t Get32(const std::vector<std::byte>& hive, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, hive.data() + at, 4);
  return v;
}
void Put32(std::vector<std::byte>& hive, std::size_t at, std::uint32_t v) {
  std::memcpy(hive.data() + at, &v, 4);
}
// Where a cell's contents begin in the file.
std::size_t Body(std::uint32_t cell) { return 4096 + cell + 4; }

TEST(FreeCellScanTest, RecoversAnUnlinkedClassWithItsServerAndNoLiveOne) {
  MemoryStore store;
  for (const char* clsid : {"{A}", "{L}", "{X}"}) {
    const auto server = store.EnsurePath(std::string("CLSID\\") + clsid + "\\InprocServer32");
    store.PutString(server, "", std::string("C:\\servers\\") + clsid + ".dll", REG_EXPAND_SZ);
    store.PutString(server, "ThreadingModel", "Both");
  }
  store.EnsurePath("Old\\{A}\\InprocServer32");
  std::vector<std::byte> big(40000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::byte>(i * 7);
  store.Put(*store.Find("CLSID\\{X}"), "Big", REG_BINARY, big);
  auto hive = WriteRegfHive(store, store.RootNode());
  DeleteKey(hive, "CLSID\\{X}");
  // A former {A}: its node freed and still naming CLSID as its parent.
  const std::uint32_t formerA = KeyCell(hive, "Old\\{A}");
  DeleteKey(hive, "Old\\{A}");
  Put32(hive, Body(formerA) + 16, KeyCell(hive, "CLSID"));
  // {L}'s server freed, and the data cell of its path in use again.
  const std::uint32_t lServer = KeyCell(hive, "CLSID\\{L}\\InprocServer32");
  const std::uint32_t lPath = Get32(hive, Body(Get32(hive, Body(lServer) + 40)));
  FreeKeyCells(hive, lServer);
  const std::size_t lData = 4096 + Get32(hive, Body(lPath) + 8);
  Put32(hive, lData, static_cast<std::uint32_t>(-static_cast<std::int32_t>(Get32(hive, lData))));

  const auto found = ScanFreeCells(hive);
  const std::vector<std::string> clsid{"CLSID"};
  std::vector<std::string> listed;
  for (std::size_t i : found.Under(clsid)) listed.push_back(Line(found.keys[i]));
  EXPECT_EQ(listed,
            (std::vector<std::string>{"CLSID\\{A} (former)", "CLSID\\{A}\\InprocServer32 (former)",
                                      "CLSID\\{L}\\InprocServer32 (partial)", "CLSID\\{X}",
                                      "CLSID\\{X}\\InprocServer32"}));

  MemoryStore recovered;
  PutRecovered(found, clsid, recovered, recovered.RootNode());
  Value server;
  ASSERT_EQ(recovered.GetValue(*recovered.Find("{X}\\InprocServer32"), "", server), kSuccess);
  EXPECT_EQ(server.type, REG_EXPAND_SZ);
  EXPECT_EQ(Utf16LeToUtf8(server.data), "C:\\servers\\{X}.dll");
  Value bigValue;  // from the segments of a big-data record
  ASSERT_EQ(recovered.GetValue(*recovered.Find("{X}"), "Big", bigValue), kSuccess);
  EXPECT_EQ(bigValue.data, big);
}

TEST(FreeCellScanTest, SurvivesEveryDamagedHive) {
  if (!fs::is_directory(kCorpus / "damaged")) {
    GTEST_SKIP() << "the hive corpus is not at " << kCorpus << " in this tree";
  }
  for (const auto& entry : fs::directory_iterator(kCorpus / "damaged")) {
    const auto found = ScanFreeCells(ReadAll(entry.path()));
    const auto name = entry.path().filename().string();
    EXPECT_EQ(found.scanned, name != "NotAHive") << name;
    for (const auto& key : found.keys) {
      EXPECT_FALSE(key.path.empty()) << name;
      EXPECT_EQ(key.partial, !key.missing.empty()) << name;
      for (const auto& value : key.values) EXPECT_TRUE(value.complete || value.data.empty());
    }
  }
}

}  // namespace
}  // namespace orbel::platform
