// One suite run against every registry store, through the registry API: the
// in-memory tree, Wine and regedit text files, a regf hive, and a classes
// hive mounted below Software\Classes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/api/PortableRegistry.h"
#include "platform/base/Text.h"
#include "platform/formats/HiveStore.h"
#include "platform/formats/RegText.h"
#include "platform/images/RegistryImage.h"
#include "platform/store/MemoryStore.h"
#include "support/RegfWriter.h"

namespace orbel::platform {
namespace {

constexpr FileTime kClassTime = 0x01BDA7E0A0000000ull;  // whole seconds
constexpr FileTime kListTime = 0x01D9000000000000ull;

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> out;
  for (int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

// The content every store must give back.
std::shared_ptr<MemoryStore> Content() {
  auto store = std::make_shared<MemoryStore>();
  const auto list = store->EnsurePath("Software\\Classes\\CLSID");
  store->SetLastWrite(list, kListTime);
  for (const char* name : {"{b}", "{A}", "zeta", "Alpha", "_under", "{10}", "{9}",
                           "\xC3\x84rger" /* Ärger */}) {
    store->EnsureChild(list, name);
  }
  const auto cls = store->EnsurePath("Software\\Classes\\CLSID\\{A}");
  store->SetLastWrite(cls, kClassTime);
  store->PutString(cls, "", "Class \xE2\x84\xA2 \"quoted\" back\\slash");
  store->PutString(cls, "Expand", "%SystemRoot%\\a.dll", REG_EXPAND_SZ);
  store->Put(cls, "Multi", REG_MULTI_SZ,
             Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
  store->PutDword(cls, "Number", 0x12345678);
  store->Put(cls, "Empty", REG_BINARY, {});
  store->Put(cls, "Quad", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
  store->Put(cls, "Odd type", 0x100, Bytes({0xAB}));
  const auto server = store->EnsurePath("Software\\Classes\\CLSID\\{A}\\InprocServer32");
  store->PutString(server, "", "C:\\Windows\\System32\\a.dll");
  store->PutString(server, "ThreadingModel", "Apartment");
  store->PutString(store->EnsurePath("Software\\Classes\\TypeLib\\{L}\\1.0"), "", "Library");
  return store;
}

std::string WineEscape(std::string_view utf8) {
  std::string out;
  const auto units = Utf8ToUtf16Le(utf8);
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    const unsigned u = std::to_integer<unsigned>(units[i]) |
                       (std::to_integer<unsigned>(units[i + 1]) << 8);
    if (u == '\\' || u == '"') {
      out += '\\';
      out += static_cast<char>(u);
    } else if (u >= 0x20 && u < 0x7F) {
      out += static_cast<char>(u);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%04x", u);
      out += buffer;
    }
  }
  return out;
}

// Writes a store as Wine writes system.reg: escaped names, times, and every
// value in its hex(N) form except plain strings.
std::string WineText(const MemoryStore& store) {
  std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
  std::vector<std::pair<Store::Node, std::string>> pending{{store.RootNode(), ""}};
  while (!pending.empty()) {
    auto [node, path] = pending.back();
    pending.pop_back();
    const auto& children = store.ChildrenOf(node);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      pending.emplace_back(*it, (path.empty() ? "" : path + "\\\\") + WineEscape(store.NameOf(*it)));
    }
    if (node == store.RootNode()) continue;
    const FileTime time = store.LastWriteOf(node);
    // A key named only by longer paths has no line of its own.
    if (time == 0 && store.ValuesOf(node).empty() && !children.empty()) continue;
    text += "\n[" + path + "]";
    if (time) text += " " + std::to_string(time / 10000000 - 11644473600ull);
    text += "\n";
    if (time) {
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "#time=%llx\n", static_cast<unsigned long long>(time));
      text += stamp;
    }
    for (const auto& [name, value] : store.ValuesOf(node)) {
      text += name.empty() ? "@=" : "\"" + WineEscape(name) + "\"=";
      if (value.type == REG_SZ) {
        text += "\"" + WineEscape(Utf16LeToUtf8(value.data)) + "\"\n";
        continue;
      }
      char head[32];
      std::snprintf(head, sizeof head, "hex(%x):", value.type);
      text += head;
      for (std::size_t i = 0; i < value.data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02x", i ? "," : "",
                      std::to_integer<unsigned>(value.data[i]));
        text += byte;
      }
      text += "\n";
    }
  }
  return text;
}

std::span<const std::byte> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

#ifdef ORBEL_HAVE_HIVEX
std::filesystem::path TempFile(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string file = std::string("orbel-") + info->test_suite_name() + "-" + info->name() + "-" + name;
  std::replace(file.begin(), file.end(), '/', '-');  // typed suites are named "Suite/N"
  return std::filesystem::temp_directory_path() / file;
}
#endif

struct MemoryKind {
  static constexpr bool kTimes = true;
  static std::shared_ptr<Store> Make() { return Content(); }
};

struct WineTextKind {
  static constexpr bool kTimes = true;
  static std::shared_ptr<Store> Make() {
    auto store = std::make_shared<MemoryStore>();
    const auto result = ParseRegistryText(AsBytes(WineText(*Content())), *store,
                                          [](std::string_view key) { return std::string(key); });
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.issues.empty()) << result.issues.front().message;
    return store;
  }
};

struct RegeditTextKind {
  static constexpr bool kTimes = false;  // a .reg export carries no times
  static std::shared_ptr<Store> Make() {
    const auto content = Content();
    const std::string text =
        WriteRegistryText(*content, content->RootNode(), "HKEY_LOCAL_MACHINE");
    auto store = std::make_shared<MemoryStore>();
    const auto result =
        ParseRegistryText(AsBytes(text), *store, [](std::string_view key) -> std::optional<std::string> {
          const std::string_view root = "HKEY_LOCAL_MACHINE";
          if (key.substr(0, root.size()) != root) return std::nullopt;
          key.remove_prefix(std::min(key.size(), root.size() + 1));
          return std::string(key);
        });
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.issues.empty());
    return store;
  }
};

#ifdef ORBEL_HAVE_HIVEX
struct HiveKind {
  static constexpr bool kTimes = true;
  static std::shared_ptr<Store> Make() {
    const auto content = Content();
    const auto file = TempFile("hive");
    std::string error;
    EXPECT_TRUE(WriteRegfHiveFile(file, *content, content->RootNode(), {}, error)) << error;
    std::shared_ptr<Store> hive = HiveStore::Open(file, error);
    EXPECT_TRUE(hive) << error;
    std::filesystem::remove(file);  // hivex holds its own copy
    return hive;
  }
};

// A classes hive (its root holds CLSID) mounted below Software\Classes.
struct ClassesHiveKind {
  static constexpr bool kTimes = true;
  static std::shared_ptr<Store> Make() {
    const auto content = Content();
    const auto file = TempFile("classes");
    std::string error;
    EXPECT_TRUE(WriteRegfHiveFile(file, *content, *content->Find("Software\\Classes"), {}, error));
    std::shared_ptr<Store> hive = HiveStore::Open(file, error);
    EXPECT_TRUE(hive) << error;
    std::filesystem::remove(file);
    return std::make_shared<PrefixStore>(std::vector<std::string>{"Software", "Classes"}, hive);
  }
};
#endif

template <typename Kind>
class StoreContract : public ::testing::Test {
 protected:
  void SetUp() override {
    store = Kind::Make();
    ASSERT_TRUE(store);
    api.MountRoot(HKeyLocalMachine, {store, store->RootNode(), std::nullopt});
  }
  HKey Open(std::string_view path) {
    HKey key{};
    EXPECT_EQ(api.OpenKey(HKeyLocalMachine, path, KEY_READ, key), kSuccess) << path;
    return key;
  }
  std::vector<std::string> Names(HKey key) {
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t i = 0; api.EnumKey(key, i, name) == kSuccess; ++i) names.push_back(name);
    return names;
  }
  Value Get(HKey key, std::string_view name) {
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(api.QueryValue(key, name, &type, nullptr, &size), kSuccess) << name;
    std::vector<std::byte> data(size);
    EXPECT_EQ(api.QueryValue(key, name, &type, data.data(), &size), kSuccess) << name;
    return {type, data};
  }

  std::shared_ptr<Store> store;
  PortableRegistry api;
};

#ifdef ORBEL_HAVE_HIVEX
using Kinds = ::testing::Types<MemoryKind, WineTextKind, RegeditTextKind, HiveKind, ClassesHiveKind>;
#else
// Without libhivex the hive kinds are left out.
using Kinds = ::testing::Types<MemoryKind, WineTextKind, RegeditTextKind>;
#endif
TYPED_TEST_SUITE(StoreContract, Kinds);

TYPED_TEST(StoreContract, OpensPathsWithoutRegardToCase) {
  HKey key{};
  EXPECT_EQ(this->api.OpenKey(HKeyLocalMachine, "SOFTWARE\\classes\\clsid\\{a}", KEY_READ, key),
            kSuccess);
  HKey child{};
  EXPECT_EQ(this->api.OpenKey(key, "inprocserver32", KEY_READ, child), kSuccess);
  EXPECT_EQ(this->api.OpenKey(key, "InprocServer", KEY_READ, child), kFileNotFound);
  EXPECT_EQ(this->api.OpenKey(HKeyLocalMachine, "Software\\Nothing\\Deeper", KEY_READ, child),
            kFileNotFound);
  EXPECT_EQ(this->api.OpenKey(HKeyLocalMachine, "Software\\Classes\\CLSID\\\xC3\xA4RGER", KEY_READ,
                              child),
            kSuccess)
      << "non-ASCII letters match without regard to case";
  EXPECT_EQ(this->api.OpenKey(HKeyLocalMachine, "Software", KEY_ALL_ACCESS, child),
            this->store->Writable() ? kSuccess : kAccessDenied)
      << "write access only where the store can be written";
}

TYPED_TEST(StoreContract, EnumeratesAscendingByUpperCasedName) {
  const HKey list = this->Open("Software\\Classes\\CLSID");
  EXPECT_EQ(this->Names(list),
            (std::vector<std::string>{"Alpha", "zeta", "_under", "{10}", "{9}", "{A}", "{b}",
                                      "\xC3\x84rger"}));
  std::string name;
  EXPECT_EQ(this->api.EnumKey(list, 8, name), kNoMoreItems);
  KeyFigures figures;
  ASSERT_EQ(this->api.QueryInfoKey(list, figures), kSuccess);
  EXPECT_EQ(figures.subkeyCount, 8u);
  EXPECT_EQ(figures.maxSubkeyNameLength, 6u);
  EXPECT_EQ(figures.valueCount, 0u);
}

TYPED_TEST(StoreContract, KeepsTypesAndBytes) {
  const HKey cls = this->Open("Software\\Classes\\CLSID\\{A}");
  const Value def = this->Get(cls, "");
  EXPECT_EQ(def.type, REG_SZ);
  EXPECT_EQ(Utf16LeToUtf8(def.data), "Class \xE2\x84\xA2 \"quoted\" back\\slash");
  const Value expand = this->Get(cls, "EXPAND");
  EXPECT_EQ(expand.type, REG_EXPAND_SZ);
  EXPECT_EQ(expand.data, Utf16LeStringValue("%SystemRoot%\\a.dll"));
  EXPECT_EQ(this->Get(cls, "Multi").type, REG_MULTI_SZ);
  EXPECT_EQ(this->Get(cls, "Multi").data, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
  EXPECT_EQ(this->Get(cls, "Number").type, REG_DWORD);
  EXPECT_EQ(this->Get(cls, "Number").data, Bytes({0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(this->Get(cls, "Empty").type, REG_BINARY);
  EXPECT_TRUE(this->Get(cls, "Empty").data.empty());
  EXPECT_EQ(this->Get(cls, "Quad").type, REG_QWORD);
  EXPECT_EQ(this->Get(cls, "Quad").data, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(this->Get(cls, "odd TYPE").type, 0x100u);
  EXPECT_EQ(this->Get(cls, "odd TYPE").data, Bytes({0xAB}));
  KeyFigures figures;
  ASSERT_EQ(this->api.QueryInfoKey(cls, figures), kSuccess);
  EXPECT_EQ(figures.valueCount, 7u);
  EXPECT_EQ(figures.subkeyCount, 1u);
}

TYPED_TEST(StoreContract, MissingValuesAreAbsentNotErrors) {
  const HKey server = this->Open("Software\\Classes\\CLSID\\{A}\\InprocServer32");
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(this->api.QueryValue(server, "Missing", &type, nullptr, &size), kFileNotFound);
  const HKey bare = this->Open("Software\\Classes\\CLSID\\{b}");
  EXPECT_EQ(this->api.QueryValue(bare, "", &type, nullptr, &size), kFileNotFound)
      << "a key without a default value";
  std::byte small[2];
  size = sizeof small;
  EXPECT_EQ(this->api.QueryValue(server, "ThreadingModel", &type, small, &size), kMoreData);
  EXPECT_EQ(size, 20u) << "the size needed";
}

TYPED_TEST(StoreContract, LastWriteTimesComeFromTheKeysOwnStamp) {
  KeyFigures figures;
  ASSERT_EQ(this->api.QueryInfoKey(this->Open("Software\\Classes\\CLSID\\{A}"), figures), kSuccess);
  EXPECT_EQ(figures.lastWriteTime, TypeParam::kTimes ? kClassTime : 0u);
  ASSERT_EQ(this->api.QueryInfoKey(this->Open("Software\\Classes\\CLSID"), figures), kSuccess);
  EXPECT_EQ(figures.lastWriteTime, TypeParam::kTimes ? kListTime : 0u);
}

}  // namespace
}  // namespace orbel::platform
