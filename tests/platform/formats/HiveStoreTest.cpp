#include <gtest/gtest.h>
#include <hivex.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "platform/base/Text.h"
#include "platform/formats/HiveStore.h"
#include "platform/store/MemoryStore.h"
#include "support/RegfWriter.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;
using Node = Store::Node;

const fs::path kCorpus = ORBEL_CORPUS_DIR;

#define REQUIRE_CORPUS()                                                        \
  if (!fs::is_directory(kCorpus)) {                                             \
    GTEST_SKIP() << "the hive corpus is not at " << kCorpus << " in this tree"; \
  }

bool IsFailure(Status status) {
  return status == kBadDb || status == kCantRead || status == kNotEnoughMemory;
}

std::unique_ptr<HiveStore> OpenHive(const fs::path& file) {
  std::string error;
  auto store = HiveStore::Open(file, error);
  EXPECT_NE(store, nullptr) << error;
  return store;
}

// Resolves a "\"-separated path from the root; kSuccess and `out` when found.
Status Resolve(Store& store, std::string_view path, Node& out) {
  out = store.RootNode();
  while (!path.empty()) {
    const std::size_t cut = std::min(path.find('\\'), path.size());
    if (const Status s = store.FindChild(out, path.substr(0, cut), out); s != kSuccess) return s;
    path.remove_prefix(std::min(cut + 1, path.size()));
  }
  return kSuccess;
}

std::vector<std::string> SubkeyNames(Store& store, Node node) {
  std::vector<std::string> names;
  std::string name;
  while (store.SubkeyName(node, static_cast<std::uint32_t>(names.size()), name) == kSuccess) {
    names.push_back(name);
  }
  return names;
}

std::string SwapAsciiCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 0x20);
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + 0x20);
    }
  }
  return text;
}

struct HivexHandle {
  explicit HivexHandle(const fs::path& file) : h(hivex_open(file.c_str(), HIVEX_OPEN_UNSAFE)) {}
  ~HivexHandle() {
    if (h) hivex_close(h);
  }
  hive_h* h;
};

std::string HivexNodeName(hive_h* h, hive_node_h node) {
  char* raw = hivex_node_name(h, node);
  std::string name = raw ? raw : "";
  std::free(raw);
  return name;
}

TEST(HiveStoreTest, ClassHivesHaveTheirClassKeys) {
  REQUIRE_CORPUS();
  struct Case {
    const char* file;
    const char* clsidPath;  // nullptr: the hive has no CLSID key at the root
    std::uint32_t count;
  };
  const Case cases[] = {
      {"regipy_UsrClass.dat", "CLSID", 20}, {"win10_UsrClass.dat", "clsid", 29},
      {"win11_UsrClass.dat", "ClsId", 29},  {"win10_2016_UsrClass.dat", nullptr, 0},
      {"NTUSER.DAT", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto store = OpenHive(kCorpus / "real" / c.file);
    ASSERT_NE(store, nullptr);
    Node clsid = 0;
    if (c.clsidPath == nullptr) {
      EXPECT_EQ(store->FindChild(store->RootNode(), "CLSID", clsid), kFileNotFound);
      continue;
    }
    ASSERT_EQ(Resolve(*store, c.clsidPath, clsid), kSuccess);
    KeyFigures figures;
    ASSERT_EQ(store->Figures(clsid, figures), kSuccess);
    EXPECT_EQ(figures.subkeyCount, c.count);
    EXPECT_EQ(SubkeyNames(*store, clsid).size(), c.count);
    EXPECT_EQ(figures.maxSubkeyNameLength, 38u);  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
  }

  auto store = OpenHive(kCorpus / "real" / "win10_2016_UsrClass.dat");
  ASSERT_NE(store, nullptr);
  Node activatable = 0;
  ASSERT_EQ(Resolve(*store, "activatableclasses\\CLSID", activatable), kSuccess);
  KeyFigures figures;
  ASSERT_EQ(store->Figures(activatable, figures), kSuccess);
  EXPECT_EQ(figures.subkeyCount, 2716u);

  auto empty = OpenHive(kCorpus / "real" / "minimal_empty");
  ASSERT_NE(empty, nullptr);
  ASSERT_EQ(empty->Figures(empty->RootNode(), figures), kSuccess);
  EXPECT_EQ(figures.subkeyCount, 0u);
  std::string name;
  EXPECT_EQ(empty->SubkeyName(empty->RootNode(), 0, name), kNoMoreItems);
}

// Enumeration follows the hive's own subkey lists (not sorted), and every
// name is found again in either case, through the scan of a small key and
// through the index of a large one.
TEST(HiveStoreTest, EnumeratesInHiveOrderAndFindsEveryNameInAnyCase) {
  REQUIRE_CORPUS();
  struct Case {
    const char* file;
    const char* path;
    std::size_t count;
  };
  const Case cases[] = {
      {"damaged/WrongOrderHive", "1", 4},
      {"damaged/WrongOrderHive", "2", 4},
      {"damaged/ManySubkeysHive", "KEY_WITH_MANY_SUBKEYS", 5000},
      {"damaged/DuplicateSubkeysHive", "key_with_many_subkeys", 5000},  // "4500" twice
      {"real/win10_2016_UsrClass.dat", "ActivatableClasses\\CLSID", 2716},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.path);
    auto store = OpenHive(kCorpus / c.file);
    HivexHandle hivex(kCorpus / c.file);
    ASSERT_TRUE(store && hivex.h);
    Node key = 0;
    ASSERT_EQ(Resolve(*store, c.path, key), kSuccess);
    hive_node_h* children = hivex_node_children(hivex.h, key);
    ASSERT_NE(children, nullptr);
    std::vector<std::string> expected;
    std::vector<Node> nodes;
    for (std::size_t i = 0; children[i] != 0; ++i) {
      expected.push_back(HivexNodeName(hivex.h, children[i]));
      nodes.push_back(children[i]);
    }
    std::free(children);
    EXPECT_EQ(expected.size(), c.count);
    ASSERT_EQ(SubkeyNames(*store, key), expected);
    std::map<std::string, Node> first;  // a duplicated name finds its first key
    for (std::size_t i = 0; i < expected.size(); ++i) {
      first.try_emplace(FoldCase(expected[i]), nodes[i]);
    }
    for (const std::string& name : expected) {
      Node found = 0;
      ASSERT_EQ(store->FindChild(key, name, found), kSuccess) << name;
      EXPECT_EQ(found, first[FoldCase(name)]);
      ASSERT_EQ(store->FindChild(key, SwapAsciiCase(name), found), kSuccess);
      EXPECT_EQ(found, first[FoldCase(name)]);
    }
    Node absent = 0;
    EXPECT_EQ(store->FindChild(key, "no such key", absent), kFileNotFound);
  }
}

TEST(HiveStoreTest, OddNamesAreGivenAsWellAsPossible) {
  REQUIRE_CORPUS();
  struct Case {
    const char* file;
    const char* parent;
    std::string_view lookup;  // found without regard to case
    std::string_view name;    // as enumerated
  };
  using namespace std::literals;
  const Case cases[] = {
      {"SpecialNames", "", "ZERO\0KEY"sv, "zero\0key"sv},  // kept whole, so readers can tell
      {"SpecialNames", "", "WEIRD™", "weird™"},
      {"SpecialNames", "", "ABCD_ÄÖÜß", "abcd_äöüß"},
      {"UnicodeHive", "", "пРИВЕТ", "Привет"},
      {"UnicodeHive", "Привет", "ключ", "Ключ"},
      {"ExtendedASCIIHive", "", "ËIGENAARDIG", "ëigenaardig"},
      {"TruncatedNameHive", "", "LONGNAME1234", "longname1234"},  // name runs past its cell
      {"TruncatedPairHive", "", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},  // a lone surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::string(c.name));
    auto store = OpenHive(kCorpus / "damaged" / c.file);
    ASSERT_NE(store, nullptr);
    Node parent = 0;
    Node child = 0;
    ASSERT_EQ(Resolve(*store, c.parent, parent), kSuccess);
    ASSERT_EQ(store->FindChild(parent, c.lookup, child), kSuccess);
    const auto names = SubkeyNames(*store, parent);
    EXPECT_NE(std::find(names.begin(), names.end(), c.name), names.end());
  }
}

TEST(HiveStoreTest, ValuesAreTheStoredBytes) {
  REQUIRE_CORPUS();
  auto store = OpenHive(kCorpus / "damaged" / "StringValuesHive");
  ASSERT_NE(store, nullptr);
  Node key = 0;
  ASSERT_EQ(Resolve(*store, "key", key), kSuccess);
  Value value;
  ASSERT_EQ(store->GetValue(key, "", value), kSuccess);  // the default value
  EXPECT_EQ(value.type, REG_SZ);
  EXPECT_EQ(value.data, Utf16LeStringValue("test тест"));
  ASSERT_EQ(store->GetValue(key, "2", value), kSuccess);
  EXPECT_EQ(value.type, REG_EXPAND_SZ);
  EXPECT_EQ(value.data, Utf16LeStringValue("test тест"));
  ASSERT_EQ(store->GetValue(key, "1", value), kSuccess);
  EXPECT_EQ(value.type, REG_BINARY);
  EXPECT_EQ(value.data.size(), 4u);
  EXPECT_EQ(store->GetValue(key, "4", value), kFileNotFound);

  auto special = OpenHive(kCorpus / "damaged" / "SpecialNames");
  ASSERT_NE(special, nullptr);
  ASSERT_EQ(Resolve(*special, "weird™", key), kSuccess);
  ASSERT_EQ(special->GetValue(key, "SYMBOLS $£₤₧€", value), kSuccess);
  EXPECT_EQ(value.type, REG_DWORD);

  auto big = OpenHive(kCorpus / "damaged" / "BigDataHive");
  ASSERT_NE(big, nullptr);
  ASSERT_EQ(Resolve(*big, "key_with_bigdata", key), kSuccess);
  ASSERT_EQ(big->GetValue(key, "V", value), kSuccess);
  EXPECT_EQ(value.data.size(), 81725u);
  KeyFigures figures;
  ASSERT_EQ(big->Figures(key, figures), kSuccess);
  EXPECT_EQ(figures.valueCount, 2u);
  EXPECT_EQ(figures.maxValueNameLength, 1u);
  EXPECT_EQ(figures.maxValueDataLength, 81725u);
}

TEST(HiveStoreTest, FilesThatAreNoHivesFailToOpenWithTheirName) {
  REQUIRE_CORPUS();
  for (const fs::path& file :
       {kCorpus / "damaged" / "NotAHive", kCorpus / "real" / "NTUSER.DAT.none", kCorpus / "real"}) {
    std::string error;
    EXPECT_EQ(HiveStore::Open(file, error), nullptr);
    EXPECT_EQ(error.rfind(file.string() + ": ", 0), 0u) << error;
  }
  std::string error;
  HiveStore::Open(kCorpus / "damaged" / "NotAHive", error);
  EXPECT_NE(error.find("not a registry hive"), std::string::npos) << error;
}

constexpr FileTime kYear2000 = 125911584000000000;
constexpr FileTime kYear2030 = 135379296000000000;

struct WalkResult {
  bool real = false;  // last-write times must then be plausible
  std::size_t keys = 0;
  std::size_t damaged = 0;
  std::size_t values = 0;
};

// Reads every key by index and every value by the names libhivex lists,
// checking the store against libhivex itself along the way.
void Walk(HiveStore& store, hive_h* hivex, Node node, int depth, WalkResult& result) {
  if (depth > 512 || result.keys >= 100000) return;
  ++result.keys;
  KeyFigures figures;
  const Status status = store.Figures(node, figures);
  if (status != kSuccess) {
    ++result.damaged;
    EXPECT_TRUE(IsFailure(status)) << status;
  } else if (result.real) {
    EXPECT_GT(figures.lastWriteTime, kYear2000);
    EXPECT_LT(figures.lastWriteTime, kYear2030);
  }

  if (hive_value_h* values = hivex_node_values(hivex, node)) {
    std::set<std::string> seen;
    for (std::size_t i = 0; values[i] != 0; ++i) {
      char* name = hivex_value_key(hivex, values[i]);
      if (name == nullptr) continue;
      Value value;
      const Status got = store.GetValue(node, name, value);
      hive_type type;
      std::size_t length = 0;
      char* data = hivex_value_value(hivex, values[i], &type, &length);
      // With duplicated names the store answers the first, so compare only that.
      if (data != nullptr && seen.insert(FoldCase(name)).second) {
        ++result.values;
        EXPECT_EQ(got, kSuccess) << name;
        const auto* bytes = reinterpret_cast<const std::byte*>(data);
        EXPECT_EQ(value.data, std::vector<std::byte>(bytes, bytes + length)) << name;
      }
      std::free(data);
      std::free(name);
    }
    std::free(values);
  }

  hive_node_h* children = hivex_node_children(hivex, node);
  std::string name;
  if (children == nullptr) {
    // A key whose list cannot be read still gives its figures; the list
    // itself answers the failure.
    const Status listed = store.SubkeyName(node, 0, name);
    EXPECT_TRUE(IsFailure(listed));
    if (status == kSuccess && IsFailure(listed)) ++result.damaged;
    return;
  }
  std::free(children);
  for (std::uint32_t i = 0;; ++i) {
    const Status got = store.SubkeyName(node, i, name);
    if (got == kNoMoreItems) break;
    ASSERT_EQ(got, kSuccess);
    Node child = 0;
    ASSERT_EQ(store.FindChild(node, name, child), kSuccess) << name;
    Walk(store, hivex, child, depth + 1, result);
  }
}

TEST(HiveStoreTest, EveryCorpusHiveOpensOrFailsCleanlyAndWalks) {
  REQUIRE_CORPUS();
  for (const char* folder : {"real", "damaged"}) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kCorpus / folder)) {
      if (entry.is_regular_file() && entry.path().filename() != "README.md") {
        files.push_back(entry.path());
      }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      SCOPED_TRACE(file.string());
      const bool isLog = file.extension().string().starts_with(".LOG");
      std::string error;
      // As stored, as libhivex reads the file.
      auto store = HiveStore::Open(file, error, HiveLogs::Ignore);
      if (store == nullptr) {
        std::cout << "[ hive     ] " << folder << "/" << file.filename().string()
                  << ": does not open: " << error << "\n";
        EXPECT_TRUE(std::string_view(folder) == "damaged" || isLog) << error;
        EXPECT_NE(error.find(file.string() + ": not a registry hive"), std::string::npos);
        continue;
      }
      EXPECT_FALSE(isLog);
      HivexHandle hivex(file);
      ASSERT_NE(hivex.h, nullptr);
      WalkResult result;
      result.real = std::string_view(folder) == "real";
      Walk(*store, hivex.h, store->RootNode(), 0, result);
      std::cout << "[ hive     ] " << folder << "/" << file.filename().string() << ": walked "
                << result.keys << " keys and " << result.values << " values, " << result.damaged
                << " keys damaged\n";
      if (file.filename() == "corrupted_system_hive") {
        EXPECT_GT(result.damaged, 0u);
      }
      if (result.real) {
        EXPECT_EQ(result.damaged, 0u);
      }
    }
  }
}

// Far more keys than the cache keeps, visited in random order: whatever was
// forgotten and read again must still answer as libhivex does.
TEST(HiveStoreTest, RandomAccessAgreesWithLibhivex) {
  REQUIRE_CORPUS();
  const fs::path file = kCorpus / "real" / "win10_2016_UsrClass.dat";
  auto store = OpenHive(file);
  HivexHandle hivex(file);
  ASSERT_TRUE(store && hivex.h);
  struct Key {
    Node node;
    Node parent;
    std::string name;
  };
  std::vector<Key> keys;
  std::vector<Node> pending{store->RootNode()};
  while (!pending.empty()) {
    const Node parent = pending.back();
    pending.pop_back();
    hive_node_h* children = hivex_node_children(hivex.h, parent);
    ASSERT_NE(children, nullptr);
    for (std::size_t i = 0; children[i] != 0; ++i) {
      keys.push_back({children[i], parent, HivexNodeName(hivex.h, children[i])});
      pending.push_back(children[i]);
    }
    std::free(children);
  }
  ASSERT_GT(keys.size(), 7000u);
  std::mt19937 random(2024);
  for (int step = 0; step < 20000; ++step) {
    const Key& key = keys[random() % keys.size()];
    Node found = 0;
    ASSERT_EQ(store->FindChild(key.parent, key.name, found), kSuccess);
    ASSERT_EQ(found, key.node) << key.name;
    KeyFigures figures;
    ASSERT_EQ(store->Figures(key.node, figures), kSuccess);
    ASSERT_EQ(figures.subkeyCount, hivex_node_nr_children(hivex.h, key.node));
    ASSERT_EQ(figures.valueCount, hivex_node_nr_values(hivex.h, key.node));
    if (figures.subkeyCount != 0) {
      const std::uint32_t index = random() % figures.subkeyCount;
      hive_node_h* children = hivex_node_children(hivex.h, key.node);
      std::string name;
      ASSERT_EQ(store->SubkeyName(key.node, index, name), kSuccess);
      EXPECT_EQ(name, HivexNodeName(hivex.h, children[index]));
      std::free(children);
    }
  }
}

// A hive written byte by byte: one bin of cells after the 4 KB header, cell
// offsets relative to the bin. Names are stored as Latin-1.
class HiveBuilder {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;

  std::uint32_t Key(std::string_view name) {
    const std::uint32_t at = Cell(0x4C + name.size());
    Put(at + 4, "nk");
    Put16(at + 6, 0x20);
    Put32(at + 8, 0xD0000000);  // last written in 2013
    Put32(at + 12, 0x01CE0000);
    for (std::uint32_t field : {0x20, 0x24, 0x2C, 0x30, 0x34}) Put32(at + field, kNone);
    Put16(at + 0x4C, static_cast<std::uint16_t>(name.size()));
    Put(at + 0x50, name);
    return at;
  }
  void Subkeys(std::uint32_t key, const std::vector<std::uint32_t>& children) {
    const std::uint32_t list = Cell(4 + 8 * children.size());
    Put(list + 4, "lf");
    Put16(list + 6, static_cast<std::uint16_t>(children.size()));
    for (std::size_t i = 0; i < children.size(); ++i) Put32(list + 8 + 8 * i, children[i]);
    Put32(key + 0x18, static_cast<std::uint32_t>(children.size()));
    Put32(key + 0x20, list);
  }
  std::uint32_t Value(std::uint32_t key, std::string_view name, std::string_view data) {
    const std::uint32_t dataCell = Cell(data.size());
    Put(dataCell + 4, data);
    const std::uint32_t at = Cell(0x14 + name.size());
    Put(at + 4, "vk");
    Put16(at + 6, static_cast<std::uint16_t>(name.size()));
    Put32(at + 8, static_cast<std::uint32_t>(data.size()));
    Put32(at + 12, dataCell);
    Put32(at + 16, REG_BINARY);
    Put16(at + 20, 1);
    Put(at + 24, name);
    const std::uint32_t list = Cell(4);
    Put32(list + 4, at);
    Put32(key + 0x28, 1);
    Put32(key + 0x2C, list);
    return at;
  }
  void Put32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bin_[at + i] = static_cast<char>(v >> (8 * i));
  }
  void Write(const fs::path& file, std::uint32_t root) {
    // A free cell fills the rest of the bin.
    const std::size_t used = bin_.size();
    bin_.resize((used + 4095) / 4096 * 4096);
    if (bin_.size() > used) Put32(used, static_cast<std::uint32_t>(bin_.size() - used));
    const auto size = static_cast<std::uint32_t>(bin_.size());
    Put32(8, size);
    std::string header(4096, '\0');
    header.replace(0, 4, "regf");
    auto put = [&](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) header[at + i] = static_cast<char>(v >> (8 * i));
    };
    for (std::size_t at : {4, 8, 20, 32, 44}) put(at, 1);
    put(24, 5);
    put(36, root);
    put(40, size);
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 0x1FC; at += 4) {
      std::uint32_t word;
      std::memcpy(&word, header.data() + at, 4);
      sum ^= word;
    }
    put(0x1FC, sum);
    std::ofstream(file, std::ios::binary) << header << bin_;
  }

 private:
  std::uint32_t Cell(std::size_t size) {
    const auto at = static_cast<std::uint32_t>(bin_.size());
    const auto total = static_cast<std::uint32_t>((4 + size + 7) / 8 * 8);
    bin_.resize(at + total);
    Put32(at, 0u - total);
    return at;
  }
  void Put16(std::size_t at, std::uint16_t v) {
    bin_[at] = static_cast<char>(v);
    bin_[at + 1] = static_cast<char>(v >> 8);
  }
  void Put(std::size_t at, std::string_view bytes) { bin_.replace(at, bytes.size(), bytes); }

  std::string bin_ = std::string("hbin") + std::string(28, '\0');
};

// Damage the corpus may not hold: a subkey list entry that is no key, a key
// listing its own parent, a subkey list outside the file, bad node ids.
TEST(HiveStoreTest, DamagedListsAnswerErrorsAndLoopsDoNotHang) {
  HiveBuilder builder;
  const std::uint32_t root = builder.Key("Root");
  const std::uint32_t loop = builder.Key("Loop");
  const std::uint32_t lost = builder.Key("Lost");
  const std::uint32_t latin = builder.Key("\xC4rger");  // "Ärger"
  builder.Subkeys(root, {loop, builder.Value(root, "x", "12345"), lost, latin});
  builder.Subkeys(loop, {root});
  builder.Value(lost, "Gr\xFCn", "abcdef");  // "Grün"
  builder.Put32(lost + 0x18, 1);
  builder.Put32(lost + 0x20, 0x7FFFFFF0);
  const fs::path file =
      fs::temp_directory_path() / ("orbel_hive_store_test_" + std::to_string(::getpid()) + ".hiv");
  builder.Write(file, root);

  auto store = OpenHive(file);
  ASSERT_NE(store, nullptr);
  const Node top = store->RootNode();
  EXPECT_EQ(SubkeyNames(*store, top), (std::vector<std::string>{"Loop", "Lost", "Ärger"}));
  // The entry that is no key is counted as the key counts it, so that it is
  // missed rather than the list taken for complete; so a name not listed may
  // be that one.
  KeyFigures figures;
  ASSERT_EQ(store->Figures(top, figures), kSuccess);
  EXPECT_EQ(figures.subkeyCount, 4u);
  Node absent = 0;
  EXPECT_EQ(store->FindChild(top, "x", absent), kBadDb);
  Node node = 0;
  EXPECT_EQ(store->FindChild(top, "äRGER", node), kSuccess);

  // Walking down the loop by name keeps returning; each step answers.
  node = top;
  for (int depth = 0; depth < 50; ++depth) {
    ASSERT_EQ(store->FindChild(node, depth % 2 ? "root" : "LOOP", node), kSuccess);
  }
  EXPECT_EQ(node, top);

  Node lostNode = 0;
  ASSERT_EQ(store->FindChild(top, "lost", lostNode), kSuccess);
  std::string name;
  EXPECT_TRUE(IsFailure(store->SubkeyName(lostNode, 0, name)));
  EXPECT_TRUE(IsFailure(store->FindChild(lostNode, "any", node)));
  // A list that cannot be read is counted as its key counts it, so that
  // its entries are missed rather than taken for absent.
  ASSERT_EQ(store->Figures(lostNode, figures), kSuccess);
  EXPECT_EQ(figures.subkeyCount, 1u);
  EXPECT_EQ(figures.valueCount, 1u);
  Value value;
  ASSERT_EQ(store->GetValue(lostNode, "GRÜN", value), kSuccess);
  EXPECT_EQ(value.data.size(), 6u);

  for (Node bad : {Node{0}, top + 4, Node{1} << 63, Node{0xFFFFFFF0}}) {
    EXPECT_EQ(store->FindChild(bad, "Loop", node), kInvalidHandle) << bad;
    EXPECT_EQ(store->GetValue(bad, "", value), kInvalidHandle) << bad;
  }
  store.reset();
  fs::remove(file);
}

// A hive left with writes not carried into it says so in one line: what its
// logs gave, or, read as stored, that they hold newer data.
TEST(HiveStoreTest, AHiveWithUnappliedWritesSaysSo) {
  MemoryStore tree;
  tree.EnsurePath("CLSID");
  struct Case {
    std::uint32_t primary, secondary;
    std::optional<std::uint32_t> log;  // the sequence number of a .LOG1 beside it
    std::string notice;
    std::string replayed;  // the notice with the logs applied, when another
  };
  const Case cases[] = {
      {5, 5, std::nullopt, "", ""},
      {5, 5, 5, "", ""},
      {5, 5, 9,
       "h: its transaction logs hold newer data, which is not applied; the hive is read as it "
       "stands",
       // The "log" is the hive's own first sector.
       "h.LOG1: entry 1 rejected (bad dirty vector); the hive is shown as far as the logs are "
       "sound"},
      {6, 5, std::nullopt,
       "h: its last write was not completed and no transaction logs with newer data are beside "
       "it; the hive is read as it stands",
       ""},
  };
  const fs::path folder =
      fs::temp_directory_path() / ("orbel_hive_notice_" + std::to_string(::getpid()));
  for (const Case& c : cases) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    const auto save = [](const fs::path& file, const std::vector<std::byte>& bytes) {
      std::ofstream(file, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    };
    std::vector<std::byte> hive = WriteRegfHive(tree, tree.RootNode());
    SetSequenceNumbers(hive, c.primary, c.secondary);
    save(folder / "h", hive);
    if (c.log) {
      std::vector<std::byte> log(hive.begin(), hive.begin() + 4096);
      SetSequenceNumbers(log, *c.log, *c.log);
      save(folder / "h.LOG1", log);
    }
    for (const HiveLogs logs : {HiveLogs::Ignore, HiveLogs::Apply}) {
      std::string error;
      auto store = HiveStore::Open(folder / "h", error, logs);
      ASSERT_NE(store, nullptr) << error;
      const bool replayed = logs == HiveLogs::Apply && !c.replayed.empty();
      EXPECT_EQ(store->Notice(), replayed ? c.replayed : c.notice)
          << c.primary << "/" << c.secondary;
      Node clsid = 0;
      EXPECT_EQ(store->FindChild(store->RootNode(), "CLSID", clsid), kSuccess);
    }
  }
  fs::remove_all(folder);
}

// The hive used to be mapped straight from its file: a file cut short while
// open killed the program with SIGBUS at the next read of a key.
TEST(HiveStoreTest, AFileCutShortWhileOpenIsStillRead) {
  MemoryStore tree;
  for (int i = 0; i < 200; ++i) {
    tree.PutString(tree.EnsurePath("CLSID\\{" + std::to_string(i) + "}"), "",
                   "class " + std::to_string(i));
  }
  const fs::path file =
      fs::temp_directory_path() / ("orbel_hive_cut_" + std::to_string(::getpid()) + ".hiv");
  std::string error;
  ASSERT_TRUE(WriteRegfHiveFile(file, tree, tree.RootNode(), {}, error)) << error;
  auto store = OpenHive(file);
  ASSERT_NE(store, nullptr);
  fs::resize_file(file, 4096);
  Node clsid = 0;
  ASSERT_EQ(store->FindChild(store->RootNode(), "CLSID", clsid), kSuccess);
  EXPECT_EQ(SubkeyNames(*store, clsid).size(), 200u);
  Node last = 0;
  ASSERT_EQ(store->FindChild(clsid, "{199}", last), kSuccess);
  Value value;
  ASSERT_EQ(store->GetValue(last, "", value), kSuccess);
  EXPECT_EQ(Utf16LeToUtf8(value.data), "class 199");
  store.reset();
  fs::remove(file);
}

}  // namespace
}  // namespace orbel::platform
