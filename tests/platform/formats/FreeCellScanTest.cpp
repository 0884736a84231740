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

// A minimal walk of a hive the writer made: lh lists only.
struct Hive {
  std::vector<std::byte> bytes;

  std::uint32_t Get32(std::size_t at) const {
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  }
  void Put32(std::size_t at, std::uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); }
  std::size_t Body(std::uint32_t cell) const { return 4096 + cell + 4; }
  std::uint32_t Child(std::uint32_t key, std::string_view name) const {
    const std::uint32_t list = Get32(Body(key) + 28);
    for (std::uint32_t i = 0; i < (Get32(Body(list)) >> 16); ++i) {
      const std::uint32_t child = Get32(Body(list) + 4 + 8 * i);
      const auto length = Get32(Body(child) + 72) & 0xFFFF;
      if (std::string_view(reinterpret_cast<const char*>(bytes.data()) + Body(child) + 76,
                           length) == name) {
        return child;
      }
    }
    ADD_FAILURE() << "no key " << name;
    return 0;
  }
  std::uint32_t Key(std::string_view path) const {
    std::uint32_t key = Get32(36);
    for (std::size_t at = 0; at < path.size();) {
      const std::size_t cut = std::min(path.find('\\', at), path.size());
      key = Child(key, path.substr(at, cut - at));
      at = cut + 1;
    }
    return key;
  }
  void Free(std::uint32_t cell) {
    Put32(4096 + cell, static_cast<std::uint32_t>(-static_cast<std::int32_t>(Get32(4096 + cell))));
  }
  // Unlinks a key from its parent's list and frees its cells and those of
  // everything below it, as deleting the key leaves them.
  void Delete(std::string_view path) {
    const std::uint32_t key = Key(path);
    const std::uint32_t parent = Get32(Body(key) + 16);
    const std::uint32_t list = Get32(Body(parent) + 28);
    const std::uint32_t count = Get32(Body(list)) >> 16;
    for (std::uint32_t i = 0, kept = 0; i < count; ++i) {
      const std::uint32_t entry = Get32(Body(list) + 4 + 8 * i);
      if (entry == key) continue;
      Put32(Body(list) + 4 + 8 * kept, entry);
      Put32(Body(list) + 8 + 8 * kept, Get32(Body(list) + 8 + 8 * i));
      ++kept;
    }
    Put32(Body(list), (Get32(Body(list)) & 0xFFFF) | ((count - 1) << 16));
    Put32(Body(parent) + 20, Get32(Body(parent) + 20) - 1);
    FreeTree(key);
  }
  void FreeTree(std::uint32_t key) {
    if (Get32(Body(key) + 20) != 0) {
      const std::uint32_t list = Get32(Body(key) + 28);
      for (std::uint32_t i = 0; i < (Get32(Body(list)) >> 16); ++i) {
        FreeTree(Get32(Body(list) + 4 + 8 * i));
      }
      Free(list);
    }
    const std::uint32_t values = Get32(Body(key) + 36);
    if (values != 0) {
      const std::uint32_t list = Get32(Body(key) + 40);
      for (std::uint32_t i = 0; i < values; ++i) {
        const std::uint32_t vk = Get32(Body(list) + 4 * i);
        if (!(Get32(Body(vk) + 4) & 0x80000000u)) Free(Get32(Body(vk) + 8));
        Free(vk);
      }
      Free(list);
    }
    Free(key);
  }
};

TEST(FreeCellScanTest, RecoversAnUnlinkedClassWithItsServerAndNoLiveOne) {
  MemoryStore store;
  for (const char* clsid : {"{A}", "{L}", "{X}"}) {
    const auto server = store.EnsurePath(std::string("CLSID\\") + clsid + "\\InprocServer32");
    store.PutString(server, "", std::string("C:\\servers\\") + clsid + ".dll", REG_EXPAND_SZ);
    store.PutString(server, "ThreadingModel", "Both");
  }
  store.EnsurePath("Old\\{A}\\InprocServer32");
  Hive hive{WriteRegfHive(store, store.RootNode())};
  hive.Delete("CLSID\\{X}");
  // A former {A}: its node freed and still naming CLSID as its parent.
  const std::uint32_t formerA = hive.Key("Old\\{A}");
  hive.Delete("Old\\{A}");
  hive.Put32(hive.Body(formerA) + 16, hive.Key("CLSID"));
  // {L}'s server freed, and the data cell of its path in use again.
  const std::uint32_t lServer = hive.Key("CLSID\\{L}\\InprocServer32");
  const std::uint32_t lPath = hive.Get32(hive.Body(hive.Get32(hive.Body(lServer) + 40)));
  hive.FreeTree(lServer);
  hive.Free(hive.Get32(hive.Body(lPath) + 8));

  const auto found = ScanFreeCells(hive.bytes);
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
