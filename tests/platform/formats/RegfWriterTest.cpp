#include <gtest/gtest.h>
#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "support/RegfWriter.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | std::to_integer<std::uint32_t>(b[at + i]);
  return v;
}
std::uint16_t Le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(b[at]) |
                                    (std::to_integer<unsigned>(b[at + 1]) << 8));
}
std::string Tag(const Bytes& b, std::size_t at) {
  return {static_cast<char>(b[at]), static_cast<char>(b[at + 1])};
}
std::size_t CellData(std::uint32_t cell) { return 4096 + std::size_t{cell} + 4; }
Bytes AsBytes(std::string_view s) {
  Bytes b(s.size());
  std::transform(s.begin(), s.end(), b.begin(), [](char c) { return std::byte(c); });
  return b;
}
bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}
std::string Take(char* text) {
  std::string s = text ? text : "";
  std::free(text);
  return s;
}

// Checks the base block and walks every hbin and cell; returns how many
// allocated cells carry each two-letter tag.
void CheckLayout(const Bytes& hive, std::map<std::string, int>& tags) {
  ASSERT_GE(hive.size(), 8192u);
  ASSERT_EQ(hive.size() % 4096, 0u);
  EXPECT_EQ(Tag(hive, 0) + Tag(hive, 2), "regf");
  EXPECT_EQ(Le32(hive, 4), Le32(hive, 8));
  EXPECT_EQ(Le32(hive, 20), 1u);
  EXPECT_EQ(Le32(hive, 24), 5u);
  EXPECT_EQ(Le32(hive, 28), 0u);
  EXPECT_EQ(Le32(hive, 32), 1u);
  EXPECT_EQ(Le32(hive, 40), hive.size() - 4096);
  EXPECT_EQ(Le32(hive, 44), 1u);
  std::uint32_t checksum = 0;
  for (std::size_t at = 0; at < 508; at += 4) checksum ^= Le32(hive, at);
  EXPECT_EQ(Le32(hive, 508), checksum);

  bool lastFree = false;
  for (std::size_t bin = 4096; bin < hive.size();) {
    ASSERT_EQ(Tag(hive, bin) + Tag(hive, bin + 2), "hbin") << "at " << bin;
    ASSERT_EQ(Le32(hive, bin + 4), bin - 4096);
    const std::size_t size = Le32(hive, bin + 8);
    ASSERT_TRUE(size > 0 && size % 4096 == 0 && bin + size <= hive.size()) << "at " << bin;
    for (std::size_t cell = bin + 32; cell < bin + size;) {
      const auto raw = static_cast<std::int32_t>(Le32(hive, cell));
      const std::size_t length = raw < 0 ? std::size_t(-std::int64_t{raw}) : std::size_t(raw);
      ASSERT_TRUE(length >= 8 && length % 8 == 0 && cell + length <= bin + size)
          << "cell at " << cell;
      lastFree = raw > 0;
      if (!lastFree) ++tags[Tag(hive, cell + 4)];
      cell += length;
    }
    bin += size;
  }
  EXPECT_TRUE(lastFree) << "the last hbin should end with a free cell";
}

// A written hive, saved to a temporary file for libhivex.
class HiveFile {
 public:
  explicit HiveFile(const Bytes& bytes) {
    static int counter = 0;
    path_ = fs::temp_directory_path() / ("orbel_regf_" + std::to_string(std::random_device{}()) +
                                         "_" + std::to_string(++counter) + ".hiv");
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  ~HiveFile() {
    if (hive_) hivex_close(hive_);
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  // Opens it; with flags 0 libhivex also checks the checksum and every cell.
  hive_h* Open(int flags) {
    if (hive_) hivex_close(hive_);
    hive_ = hivex_open(path_.c_str(), flags);
    return hive_;
  }

 private:
  fs::path path_;
  hive_h* hive_ = nullptr;
};

void ExpectSameTree(hive_h* h, hive_node_h hn, const MemoryStore& store, Store::Node node,
                    const std::string& name, FileTime defaultTime) {
  SCOPED_TRACE("key " + name);
  EXPECT_EQ(Take(hivex_node_name(h, hn)), name);
  const FileTime time = store.LastWriteOf(node) ? store.LastWriteOf(node) : defaultTime;
  EXPECT_EQ(static_cast<FileTime>(hivex_node_timestamp(h, hn)), time);

  hive_value_h* values = hivex_node_values(h, hn);
  ASSERT_NE(values, nullptr);
  const auto& expected = store.ValuesOf(node);
  std::size_t count = 0;
  while (values[count]) ++count;
  EXPECT_EQ(count, expected.size());
  for (std::size_t i = 0; i < std::min(count, expected.size()); ++i) {
    EXPECT_EQ(Take(hivex_value_key(h, values[i])), expected[i].name);
    hive_type type{};
    std::size_t length = 0;
    char* data = hivex_value_value(h, values[i], &type, &length);
    ASSERT_NE(data, nullptr) << "value " << expected[i].name;
    EXPECT_EQ(std::uint32_t(type), expected[i].value.type) << "value " << expected[i].name;
    const auto* first = reinterpret_cast<const std::byte*>(data);
    EXPECT_TRUE(Bytes(first, first + length) == expected[i].value.data)
        << "value " << expected[i].name << " differs (" << length << " bytes read)";
    std::free(data);
  }
  std::free(values);

  hive_node_h* children = hivex_node_children(h, hn);
  ASSERT_NE(children, nullptr);
  const auto& ids = store.ChildrenOf(node);
  count = 0;
  while (children[count]) ++count;
  EXPECT_EQ(count, ids.size());
  for (std::size_t i = 0; i < std::min(count, ids.size()); ++i) {
    EXPECT_EQ(hivex_node_parent(h, children[i]), hn);
    ExpectSameTree(h, children[i], store, ids[i], store.NameOf(ids[i]), defaultTime);
  }
  std::free(children);
}

// Writes the tree, checks its layout, then reads it back with libhivex, in
// its tolerant and in its checking mode, and compares it with the store.
Bytes WriteAndCompare(const MemoryStore& store, Store::Node node, const RegfWriteOptions& options,
                      std::map<std::string, int>* tags = nullptr) {
  const Bytes hive = WriteRegfHive(store, node, options);
  std::map<std::string, int> counted;
  CheckLayout(hive, counted);
  if (tags) *tags = counted;
  HiveFile file(hive);
  for (int flags : {HIVEX_OPEN_UNSAFE, 0}) {
    SCOPED_TRACE(flags ? "unsafe" : "checked");
    hive_h* h = file.Open(flags);
    if (!h) {
      ADD_FAILURE() << "hivex_open failed: " << std::strerror(errno);
      continue;
    }
    ExpectSameTree(h, hivex_root(h), store, node, options.rootName, options.defaultTime);
  }
  return hive;
}

TEST(RegfWriterTest, NamesAreStoredLatin1WhenTheyFitAndUtf16Otherwise) {
  MemoryStore store;
  for (const char* name : {"Plain", "M\u00fcller", "\u0391\u03b8\u03ae\u03bd\u03b1", "\u6f22\u5b57",
                           "Face \U0001F600"}) {
    const auto key = store.EnsurePath(name);
    store.PutString(key, name, "data");
  }
  const Bytes hive = WriteAndCompare(store, 0, {});
  EXPECT_TRUE(Contains(hive, AsBytes("M\xFCller")));
  EXPECT_FALSE(Contains(hive, Utf8ToUtf16Le("M\u00fcller")));
  EXPECT_TRUE(Contains(hive, Utf8ToUtf16Le("\u0391\u03b8\u03ae\u03bd\u03b1")));
  EXPECT_TRUE(Contains(hive, Utf8ToUtf16Le("Face \U0001F600")));
}

TEST(RegfWriterTest, ValuesOfEveryTypeAndSizeRoundTrip) {
  auto filled = [](std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::byte((i * 7 + i / 251) & 0xFF);
    return b;
  };
  struct Case {
    const char* name;
    std::uint32_t type;
    Bytes data;
  };
  const std::vector<Case> cases = {
      {"", REG_SZ, Utf16LeStringValue("default")},
      {"Text", REG_SZ, Utf16LeStringValue("C:\\Windows\\x.dll")},
      {"Expand", REG_EXPAND_SZ, Utf16LeStringValue("%SystemRoot%\\system32\\a.dll")},
      {"Multi", REG_MULTI_SZ, Utf8ToUtf16Le(std::string("a\0bc\0\0", 6))},
      {"Dword", REG_DWORD, {std::byte(0x78), std::byte(0x56), std::byte(0x34), std::byte(0x12)}},
      {"Qword", REG_QWORD, filled(8)},
      {"EmptyBinary", REG_BINARY, {}},
      {"ThreeBytes", REG_BINARY, filled(3)},
      {"FourBytes", REG_BINARY, filled(4)},
      {"FiveBytes", REG_BINARY, filled(5)},
      {"OneCell", REG_BINARY, filled(16344)},
      {"OneByteOver", REG_BINARY, filled(16345)},
      {"TwoSegmentsAndFour", REG_BINARY, filled(2 * 16344 + 4)},
      {"HundredK", REG_BINARY, filled(100 * 1024)},
  };
  MemoryStore store;
  const auto key = store.EnsurePath("Values");
  for (const auto& c : cases) store.Put(key, c.name, c.type, c.data);
  std::map<std::string, int> tags;
  const Bytes hive = WriteAndCompare(store, 0, {}, &tags);
  EXPECT_EQ(tags["vk"], int(cases.size()));
  EXPECT_EQ(tags["db"], 3);

  // Data of four bytes or less lives in the value key itself.
  HiveFile file(hive);
  hive_h* h = file.Open(0);
  ASSERT_NE(h, nullptr);
  const hive_node_h node = hivex_node_get_child(h, hivex_root(h), "values");
  ASSERT_NE(node, 0u);
  for (const auto& c : cases) {
    const hive_value_h value = hivex_node_get_value(h, node, c.name);
    ASSERT_NE(value, 0u) << c.name;
    std::size_t length = 0;
    const hive_value_h cell = hivex_value_data_cell_offset(h, value, &length);
    EXPECT_EQ(cell == 0, c.data.size() <= 4) << c.name;
  }
}

TEST(RegfWriterTest, NestedTreeKeepsTimesAndFallsBackToTheDefaultTime) {
  MemoryStore store;
  const auto clsid = store.EnsurePath("CLSID");
  store.SetLastWrite(clsid, 133000000000000000ull);
  const auto cls = store.EnsurePath("CLSID\\{00000000-0000-0000-C000-000000000046}");
  store.PutString(cls, "", "Some Class");
  const auto server =
      store.EnsurePath("CLSID\\{00000000-0000-0000-C000-000000000046}\\InprocServer32");
  store.PutString(server, "", "%SystemRoot%\\system32\\ole32.dll", REG_EXPAND_SZ);
  store.PutString(server, "ThreadingModel", "Both");
  store.SetLastWrite(server, 132000000000000000ull);
  store.EnsurePath("CLSID\\{00000000-0000-0000-C000-000000000046}\\ProgID");
  store.EnsurePath("Interface\\Deep\\Deeper\\Deepest");
  RegfWriteOptions options;
  options.rootName = "S-1-5-21_Classes";
  options.defaultTime = 131000000000000000ull;
  const Bytes hive = WriteAndCompare(store, 0, options);

  HiveFile file(hive);
  hive_h* h = file.Open(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(hivex_last_modified(h), 133000000000000000ll);
}

TEST(RegfWriterTest, ASubtreeBecomesTheRootKey) {
  MemoryStore store;
  store.PutString(store.EnsurePath("Outside"), "Skip", "me");
  const auto top = store.EnsurePath("A\\B");
  store.PutDword(top, "Level", 2);
  store.PutString(store.EnsurePath("A\\B\\C"), "", "inner");
  RegfWriteOptions options;
  options.rootName = "Top";
  std::map<std::string, int> tags;
  WriteAndCompare(store, top, options, &tags);
  EXPECT_EQ(tags["nk"], 2);
  EXPECT_EQ(tags["sk"], 1);
}

TEST(RegfWriterTest, EmptyTreeIsARootKeyAlone) {
  MemoryStore store;
  RegfWriteOptions options;
  options.rootName = "Empty";
  options.defaultTime = 125000000000000000ull;
  std::map<std::string, int> tags;
  const Bytes hive = WriteAndCompare(store, 0, options, &tags);
  EXPECT_EQ(hive.size(), 8192u);
  EXPECT_EQ((std::map<std::string, int>{{"nk", 1}, {"sk", 1}}), tags);
  // The root key node and the shared security cell refer to each other.
  const std::size_t root = CellData(Le32(hive, 36));
  EXPECT_EQ(Le16(hive, root + 2) & 0x0004, 0x0004);
  EXPECT_EQ(Le32(hive, root + 16), 0xFFFFFFFFu);
  const std::size_t sk = CellData(Le32(hive, root + 44));
  EXPECT_EQ(Tag(hive, sk), "sk");
  EXPECT_EQ(Le32(hive, sk + 4), Le32(hive, root + 44));
  EXPECT_EQ(Le32(hive, sk + 12), 1u);
}

TEST(RegfWriterTest, FiveThousandSubkeysGoIntoAnIndexOfHashedLeaves) {
  MemoryStore store;
  const auto parent = store.EnsurePath("CLSID");
  for (int i = 0; i < 5000; ++i) {
    const std::string name = (i % 2 ? "Class" : "class") + std::to_string(100000 + i);
    store.PutDword(store.EnsureChild(parent, name), "N", std::uint32_t(i));
  }
  const Bytes hive = WriteAndCompare(store, 0, {});

  HiveFile file(hive);
  hive_h* h = file.Open(0);
  ASSERT_NE(h, nullptr);
  const hive_node_h clsid = hivex_node_get_child(h, hivex_root(h), "clsid");
  ASSERT_NE(clsid, 0u);
  for (const char* name : {"CLASS100000", "class102500", "Class104999"}) {
    const hive_node_h child = hivex_node_get_child(h, clsid, name);
    ASSERT_NE(child, 0u) << name;
    EXPECT_EQ(AsciiUpper(Take(hivex_node_name(h, child))), AsciiUpper(name));
  }
  errno = 0;
  EXPECT_EQ(hivex_node_get_child(h, clsid, "Class105000"), 0u);
  EXPECT_EQ(errno, 0);

  // ri -> 5 lh lists of 1,000; every entry carries the hash of its upper-cased name.
  const std::size_t nk = CellData(static_cast<std::uint32_t>(clsid - 4096));
  EXPECT_EQ(Le32(hive, nk + 20), 5000u);
  const std::size_t index = CellData(Le32(hive, nk + 28));
  ASSERT_EQ(Tag(hive, index), "ri");
  ASSERT_EQ(Le16(hive, index + 2), 5u);
  std::size_t seen = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    const std::size_t leaf = CellData(Le32(hive, index + 4 + 4 * i));
    ASSERT_EQ(Tag(hive, leaf), "lh");
    ASSERT_EQ(Le16(hive, leaf + 2), 1000u);
    for (std::size_t e = 0; e < 1000; ++e, ++seen) {
      const std::size_t child = CellData(Le32(hive, leaf + 4 + 8 * e));
      const std::string name = AsciiUpper(
          std::string(reinterpret_cast<const char*>(&hive[child + 76]), Le16(hive, child + 72)));
      ASSERT_EQ(name, "CLASS" + std::to_string(100000 + seen));
      std::uint32_t hash = 0;
      for (char c : name) hash = hash * 37 + static_cast<unsigned char>(c);
      EXPECT_EQ(Le32(hive, leaf + 8 + 8 * e), hash) << name;
    }
  }
}

// The store orders by code point; Windows orders by UTF-16 code unit, where a
// surrogate pair (U+1F600) sorts before U+FF21.
TEST(RegfWriterTest, SubkeysAreListedInUtf16CodeUnitOrder) {
  MemoryStore store;
  store.EnsurePath("\uFF21wide");
  store.EnsurePath("\U0001F600smile");
  store.EnsurePath("plain");
  const Bytes hive = WriteRegfHive(store, 0);
  HiveFile file(hive);
  hive_h* h = file.Open(0);
  ASSERT_NE(h, nullptr);
  hive_node_h* children = hivex_node_children(h, hivex_root(h));
  ASSERT_NE(children, nullptr);
  std::vector<std::string> names;
  for (std::size_t i = 0; children[i]; ++i) names.push_back(Take(hivex_node_name(h, children[i])));
  std::free(children);
  EXPECT_EQ(names, (std::vector<std::string>{"plain", "\U0001F600smile", "\uFF21wide"}));
  EXPECT_NE(hivex_node_get_child(h, hivex_root(h), "\U0001F600SMILE"), 0u);
}

TEST(RegfWriterTest, ManyClassKeysWithSubkeysRoundTrip) {
  MemoryStore store;
  const auto clsid = store.EnsurePath("CLSID");
  for (int i = 0; i < 2000; ++i) {
    const auto cls = store.EnsureChild(clsid, "{" + std::to_string(10000000 + i * 7919) + "}");
    store.PutString(cls, "", "Class " + std::to_string(i));
    for (const char* sub : {"InprocServer32", "ProgID", "TypeLib", "Version", "DefaultIcon"}) {
      store.PutString(store.EnsureChild(cls, sub), "", std::string(sub) + std::to_string(i));
    }
  }
  std::map<std::string, int> tags;
  WriteAndCompare(store, 0, {}, &tags);
  EXPECT_EQ(tags["nk"], 1 + 1 + 2000 * 6);
}

TEST(RegfWriterTest, NamesTooLongForTheFormatAreRefused) {
  MemoryStore store;
  store.EnsurePath(std::string(70000, 'k'));
  EXPECT_THROW(WriteRegfHive(store, 0), std::length_error);
  std::string error;
  const fs::path target = fs::temp_directory_path() / "orbel_regf_refused.hiv";
  EXPECT_FALSE(WriteRegfHiveFile(target, store, 0, {}, error));
  EXPECT_NE(error.find("65,535"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(target));
}

TEST(RegfWriterTest, WriteFileSavesTheHiveOrSaysWhyNot) {
  MemoryStore store;
  store.PutDword(store.EnsurePath("Key"), "N", 7);
  const fs::path target =
      fs::temp_directory_path() / ("orbel_regf_" + std::to_string(std::random_device{}()) + ".hiv");
  std::string error;
  ASSERT_TRUE(WriteRegfHiveFile(target, store, 0, {}, error)) << error;
  std::ifstream in(target, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(target);
  EXPECT_EQ(AsBytes(text), WriteRegfHive(store, 0));

  const fs::path missing = target.parent_path() / "orbel_no_such_dir" / "x.hiv";
  EXPECT_FALSE(WriteRegfHiveFile(missing, store, 0, {}, error));
  EXPECT_NE(error.find(missing.string()), std::string::npos) << error;
}

}  // namespace
}  // namespace orbel::platform
