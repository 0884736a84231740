#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "registry/PatchedRegistry.h"
#include "support/MemoryRegistry.h"

namespace orbel {
namespace {

using platform::HKeyCurrentUser;
using platform::HKeyLocalMachine;
using platform::Mount;
using testing::MemoryRegistry;

class PatchedRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.Text("Software\\Classes\\CLSID\\{AAA}", "", "Class A");
    registry.Text("Software\\Classes\\CLSID\\{AAA}\\InprocServer32", "ThreadingModel",
                  "Apartment");
    registry.machine->EnsurePath("Software\\Classes\\CLSID\\{BBB}");
    remote->EnsurePath("Software\\Classes\\CLSID\\{REMOTE}");
    registry.api.SetConnector([this](std::string_view machine, platform::HKey, Mount& out,
                                     std::string& error) {
      if (machine != "\\\\OTHER") {
        error = "unreachable";
        return platform::kBadNetPath;
      }
      out = Mount{remote, remote->RootNode(), std::nullopt};
      return platform::kSuccess;
    });
  }

  MemoryRegistry registry;
  std::shared_ptr<platform::MemoryStore> remote = std::make_shared<platform::MemoryStore>();
};

TEST_F(PatchedRegistryTest, NewReaderStandsOnCurrentUserWithNothingOpen) {
  TPatchRegistry reader(registry.api);
  EXPECT_EQ(reader.Root(), HKeyCurrentUser);
  EXPECT_FALSE(reader.Current());
  EXPECT_EQ(reader.Path(), "");
  EXPECT_FALSE(reader.OwnsRoot());
}

TEST_F(PatchedRegistryTest, PathsFollowTheRelativeAndAbsoluteRules) {
  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.OpenPath("Software\\Classes\\CLSID"));
  EXPECT_EQ(reader.Path(), "Software\\Classes\\CLSID");
  ASSERT_TRUE(reader.OpenPath("{aaa}"));
  EXPECT_EQ(reader.Path(), "Software\\Classes\\CLSID\\{aaa}") << "the path keeps the given case";
  ASSERT_TRUE(reader.OpenPath("\\Software\\Classes"));
  EXPECT_EQ(reader.Path(), "Software\\Classes");
  // An empty relative path opens the current key again.
  ASSERT_TRUE(reader.OpenPath(""));
  EXPECT_EQ(reader.Path(), "Software\\Classes\\");
}

TEST_F(PatchedRegistryTest, FailedOpenLeavesTheReaderWhereItWas) {
  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.OpenPath("Software\\Classes\\CLSID"));
  const auto current = reader.Current();
  EXPECT_FALSE(reader.OpenPath("{MISSING}"));
  EXPECT_FALSE(reader.OpenPath("\\Nowhere"));
  EXPECT_EQ(reader.Current(), current);
  EXPECT_EQ(reader.Path(), "Software\\Classes\\CLSID");
  EXPECT_TRUE(reader.PathExists("{AAA}\\InprocServer32"));
  EXPECT_FALSE(reader.PathExists("{BBB}\\InprocServer32"));
  EXPECT_EQ(reader.Current(), current) << "PathExists keeps the current key";
}

TEST_F(PatchedRegistryTest, OnlyOneKeyIsOpenAtATime) {
  {
    TPatchRegistry reader(registry.api);
    reader.SelectRoot(HKeyLocalMachine);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(reader.OpenPath("\\Software\\Classes\\CLSID\\{AAA}"));
    ASSERT_TRUE(reader.PathExists("InprocServer32"));
    EXPECT_EQ(registry.api.OpenHandleCount(), 1u);
    reader.ClosePath();
    EXPECT_FALSE(reader.Current());
    EXPECT_EQ(reader.Path(), "");
    EXPECT_EQ(registry.api.OpenHandleCount(), 0u);
    ASSERT_TRUE(reader.OpenPath("Software"));
  }
  EXPECT_EQ(registry.api.OpenHandleCount(), 0u) << "destruction closes the open key";
}

TEST_F(PatchedRegistryTest, SelectRootKeepsOrClosesTheOpenKey) {
  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.OpenPath("Software"));
  reader.SelectRoot(HKeyLocalMachine);
  EXPECT_TRUE(reader.Current());
  EXPECT_EQ(reader.Path(), "Software");
  reader.SelectRoot(HKeyCurrentUser);
  EXPECT_FALSE(reader.Current());
  EXPECT_EQ(reader.Path(), "");
}

TEST_F(PatchedRegistryTest, ReadTextGivesStringsAndEmptyTextForWhatIsMissing) {
  auto node = registry.Text("Values", "", "default");
  registry.machine->PutString(node, "Expand", "%SystemRoot%\\x.dll", platform::REG_EXPAND_SZ);
  registry.machine->PutString(node, "Empty", "");
  registry.machine->Put(node, "NoData", platform::REG_DWORD, {});
  registry.machine->PutString(node, "Umlaut", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x84\xA2");
  // "abc", a NUL and further bytes.
  const std::byte tail[] = {std::byte('a'), std::byte(0), std::byte('b'), std::byte(0),
                            std::byte('c'), std::byte(0), std::byte(0),   std::byte(0),
                            std::byte('x'), std::byte(0), std::byte('y')};
  registry.machine->Put(node, "Tail", platform::REG_SZ, tail);
  const std::byte odd[] = {std::byte('o'), std::byte(0), std::byte('k'), std::byte(0),
                           std::byte('!')};
  registry.machine->Put(node, "Odd", platform::REG_SZ, odd);

  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  EXPECT_EQ(reader.ReadText(""), "") << "no key open";
  ASSERT_TRUE(reader.OpenPath("Values"));
  EXPECT_EQ(reader.ReadText(""), "default");
  EXPECT_EQ(reader.ReadText("EXPAND"), "%SystemRoot%\\x.dll") << "not expanded, any case";
  EXPECT_EQ(reader.ReadText("Empty"), "");
  EXPECT_EQ(reader.ReadText("Missing"), "");
  EXPECT_EQ(reader.ReadText("NoData"), "") << "size 0 is empty text whatever the type";
  EXPECT_EQ(reader.ReadText("Umlaut"), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x84\xA2");
  EXPECT_EQ(reader.ReadText("Tail"), "abc");
  EXPECT_EQ(reader.ReadText("Odd"), "ok");
}

// Values up to a few hundred bytes take one read, longer ones a second: the
// text is the same either way, and so is the reading of a subkey's value.
TEST_F(PatchedRegistryTest, LongValuesAndValuesOfSubkeysReadWhole) {
  auto node = registry.machine->EnsurePath("Long");
  std::string text;
  for (std::size_t length : {255u, 256u, 257u, 3000u}) {
    text.assign(length, 'x');
    text.back() = 'y';
    registry.machine->PutString(node, "Text" + std::to_string(length), text);
  }
  const std::size_t handles = registry.api.OpenHandleCount();
  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.OpenPath("Long"));
  for (std::size_t length : {255u, 256u, 257u, 3000u}) {
    const std::string got = reader.ReadText("text" + std::to_string(length));
    ASSERT_EQ(got.size(), length);
    EXPECT_EQ(got.back(), 'y');
  }

  ASSERT_TRUE(reader.OpenPath("\\Software\\Classes\\CLSID\\{AAA}"));
  EXPECT_EQ(reader.ReadSubkeyText("inprocserver32", "threadingmodel"), "Apartment");
  EXPECT_EQ(reader.ReadSubkeyText("InprocServer32", ""), "");
  EXPECT_EQ(reader.ReadSubkeyText("NoSuchKey", ""), "");
  const std::string_view names[] = {"ThreadingModel", "", "Missing"};
  std::string texts[] = {"stale", "stale", "stale"};
  reader.ReadSubkeyTexts("InprocServer32", names, texts);
  EXPECT_EQ(texts[0], "Apartment");
  EXPECT_EQ(texts[1], "");
  EXPECT_EQ(texts[2], "");
  texts[0] = "stale";
  reader.ReadSubkeyTexts("NoSuchKey", names, texts);
  EXPECT_EQ(texts[0], "") << "a subkey that cannot be opened gives empty texts";
  EXPECT_EQ(reader.Path(), "Software\\Classes\\CLSID\\{AAA}") << "the reader stays";
  EXPECT_EQ(reader.ReadText(""), "Class A");
  auto typed = registry.machine->EnsurePath("Software\\Classes\\CLSID\\{AAA}\\Typed");
  registry.machine->PutDword(typed, "", 1);
  EXPECT_THROW(reader.ReadSubkeyText("Typed", ""), ERegistryException);
  reader.ClosePath();
  EXPECT_EQ(reader.ReadSubkeyText("InprocServer32", "ThreadingModel"), "") << "no key open";
  EXPECT_EQ(registry.api.OpenHandleCount(), handles) << "every subkey opened was closed";
}

TEST_F(PatchedRegistryTest, ReadTextOfANonStringRaisesWithTheValueName) {
  auto node = registry.machine->EnsurePath("Typed");
  registry.machine->PutDword(node, "Count", 7);
  registry.machine->PutDword(node, "", 1);
  const std::byte multi[] = {std::byte('a'), std::byte(0), std::byte(0), std::byte(0),
                             std::byte(0), std::byte(0)};
  registry.machine->Put(node, "Multi", platform::REG_MULTI_SZ, multi);

  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.OpenPath("Typed"));
  const auto message = [&](const std::string& name) {
    try {
      reader.ReadText(name);
    } catch (const ERegistryException& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message("Count"), "Invalid data type for 'Count'");
  EXPECT_EQ(message(""), "Invalid data type for ''");
  EXPECT_EQ(message("Multi"), "Invalid data type for 'Multi'");
}

// A store whose value data cannot be read although its size is known, as a
// damaged hive answers.
class UnreadableValueStore : public platform::MemoryStore {
 public:
  platform::Status GetValue(Node, std::string_view, platform::Value&) override {
    return platform::kCantRead;
  }
  platform::Status GetValueInfo(Node, std::string_view, std::uint32_t& type,
                                std::uint32_t& size) override {
    type = platform::REG_SZ;
    size = 8;
    return platform::kSuccess;
  }
};

TEST(PatchedRegistryDamage, UnreadableDataRaisesFailedToGetData) {
  auto store = std::make_shared<UnreadableValueStore>();
  platform::PortableRegistry api;
  api.MountRoot(HKeyLocalMachine, {store, store->RootNode(), std::nullopt});
  TPatchRegistry reader(api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.OpenPath(""));
  EXPECT_THROW(
      {
        try {
          reader.ReadText("Broken");
        } catch (const ERegistryException& e) {
          EXPECT_STREQ(e.what(), "Failed to get data for 'Broken'");
          throw;
        }
      },
      ERegistryException);
}

TEST_F(PatchedRegistryTest, ListSubkeysInStoreOrderAndEmptyWithoutKey) {
  for (const char* name : {"b", "C", "a", "{10}", "{9}"}) {
    registry.machine->EnsurePath(std::string("List\\") + name);
  }
  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  std::vector<std::string> names{"stale"};
  reader.ListSubkeys(names);
  EXPECT_TRUE(names.empty()) << "no key open";
  ASSERT_TRUE(reader.OpenPath("List"));
  reader.ListSubkeys(names);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "C", "{10}", "{9}"}));
  ASSERT_TRUE(reader.OpenPath("a"));
  reader.ListSubkeys(names);
  EXPECT_TRUE(names.empty());
}

TEST_F(PatchedRegistryTest, QueryKeyInfoGivesFiguresAndTime) {
  auto node = registry.Text("Info", "LongerName", "12345");
  registry.machine->EnsureChild(node, "Sub");
  registry.machine->EnsureChild(node, "Subkey2");
  registry.machine->SetLastWrite(node, 0x01BDA7E0A0000000ull);
  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  KeyInfo info;
  info.SubkeyCount = 99;
  EXPECT_FALSE(reader.QueryKeyInfo(info));
  EXPECT_EQ(info.SubkeyCount, 0u) << "cleared before it is filled";
  ASSERT_TRUE(reader.OpenPath("Info"));
  ASSERT_TRUE(reader.QueryKeyInfo(info));
  EXPECT_EQ(info.SubkeyCount, 2u);
  EXPECT_EQ(info.MaxSubkeyNameLength, 7u);
  EXPECT_EQ(info.ValueCount, 1u);
  EXPECT_EQ(info.MaxValueNameLength, 10u);
  EXPECT_EQ(info.MaxValueDataLength, 12u);
  EXPECT_EQ(info.LastWriteTime, 0x01BDA7E0A0000000ull);
}

TEST_F(PatchedRegistryTest, ConnectRemoteOwnsTheRemoteRoot) {
  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  EXPECT_FALSE(reader.ConnectRemote("\\\\NOWHERE"));
  EXPECT_EQ(reader.Root(), HKeyLocalMachine);
  EXPECT_FALSE(reader.OwnsRoot());

  ASSERT_TRUE(reader.OpenPath("Software"));
  ASSERT_TRUE(reader.ConnectRemote("\\\\OTHER"));
  EXPECT_TRUE(reader.OwnsRoot());
  EXPECT_FALSE(reader.Current()) << "the local key was closed";
  EXPECT_TRUE(reader.OpenPath("Software\\Classes\\CLSID\\{REMOTE}"));
  EXPECT_FALSE(reader.PathExists("\\Software\\Classes\\CLSID\\{AAA}"));

  reader.SelectRoot(HKeyLocalMachine);
  EXPECT_FALSE(reader.OwnsRoot());
  EXPECT_EQ(registry.api.OpenHandleCount(), 0u) << "the remote root was released";
}

TEST_F(PatchedRegistryTest, ASecondReaderSharesTheRootWithoutReleasingIt) {
  TPatchRegistry first(registry.api);
  first.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(first.ConnectRemote("\\\\OTHER"));
  ASSERT_TRUE(first.OpenPath("Software\\Classes\\CLSID"));
  {
    TPatchRegistry second(registry.api);
    second.SelectRoot(first.Root());
    EXPECT_FALSE(second.OwnsRoot());
    EXPECT_FALSE(second.OpenPath(first.Path() + "\\{MISSING}"));
    EXPECT_EQ(second.ReadText(""), "") << "a failed open reads as empty";
    ASSERT_TRUE(second.OpenPath(first.Path() + "\\{REMOTE}"));
  }
  EXPECT_TRUE(first.OpenPath("\\Software\\Classes\\CLSID\\{REMOTE}"))
      << "the shared root is still usable";
  EXPECT_EQ(registry.api.OpenHandleCount(), 2u) << "the root and the open key";
}

TEST_F(PatchedRegistryTest, DestroyingTheOwnerReleasesTheRemoteRoot) {
  {
    TPatchRegistry reader(registry.api);
    reader.SelectRoot(HKeyLocalMachine);
    ASSERT_TRUE(reader.ConnectRemote("\\\\OTHER"));
    EXPECT_FALSE(reader.ConnectRemote("\\\\OTHER"))
        << "a connection is made from a predefined root, not from a connected one";
    EXPECT_TRUE(reader.OwnsRoot());
    ASSERT_TRUE(reader.OpenPath("Software"));
  }
  EXPECT_EQ(registry.api.OpenHandleCount(), 0u);
}

// A registry API that misreports what its store holds, as another computer
// or a damaged store may: a subkey count of its own, enumeration steps that
// fail, a value size beyond the buffer it filled.
class MisreportingRegistry : public platform::PortableRegistry {
 public:
  platform::Status QueryInfoKey(HKey key, platform::KeyFigures& figures) override {
    const platform::Status status = PortableRegistry::QueryInfoKey(key, figures);
    if (subkeyCount) figures.subkeyCount = *subkeyCount;
    return status;
  }
  platform::Status EnumKey(HKey key, std::uint32_t index, std::string& name) override {
    if (std::find(failingSteps.begin(), failingSteps.end(), index) != failingSteps.end()) {
      return platform::kBadDb;
    }
    return PortableRegistry::EnumKey(key, index, name);
  }
  platform::Status QueryValue(HKey key, std::string_view name, std::uint32_t* type, std::byte* data,
                              std::uint32_t* size) override {
    const platform::Status status = PortableRegistry::QueryValue(key, name, type, data, size);
    if (status == platform::kSuccess && data && size) *size += inflateBy;
    if (!data && size && reportedSize) *size = reportedSize;
    return status;
  }
  std::uint32_t reportedSize = 0;  // the size given when no buffer is passed
  std::optional<std::uint32_t> subkeyCount;
  std::vector<std::uint32_t> failingSteps;
  std::uint32_t inflateBy = 0;
};

TEST(PatchedRegistryDamage, ListSubkeysCountsWhatItCannotListAndRefusesHostileCounts) {
  struct Case {
    const char* what;
    std::optional<std::uint32_t> count;
    std::vector<std::uint32_t> failing;
    std::vector<std::string> names;
    std::uint32_t missing;
    bool raises;
  };
  const Case cases[] = {
      {"sound", std::nullopt, {}, {"a", "b", "c"}, 0, false},
      {"failed steps", std::nullopt, {0, 2}, {"b"}, 2, false},
      {"fewer than counted", 5u, {}, {"a", "b", "c"}, 2, false},
      {"hostile count", 0xFFFFFFFFu, {}, {}, 0, true},
  };
  for (const Case& c : cases) {
    auto store = std::make_shared<platform::MemoryStore>();
    for (const char* name : {"a", "b", "c"}) store->EnsurePath(std::string("List\\") + name);
    MisreportingRegistry api;
    api.MountRoot(HKeyLocalMachine, {store, store->RootNode(), std::nullopt});
    api.subkeyCount = c.count;
    api.failingSteps = c.failing;
    TPatchRegistry reader(api);
    reader.SelectRoot(HKeyLocalMachine);
    ASSERT_TRUE(reader.OpenPath("List")) << c.what;
    std::vector<std::string> names{"stale"};
    if (c.raises) {
      try {
        reader.ListSubkeys(names);
        ADD_FAILURE() << c.what << ": no registry error";
      } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(),
                     "The key 'List' reports 4294967295 subkeys, more than a registry key holds");
      }
      continue;
    }
    EXPECT_EQ(reader.ListSubkeys(names), c.missing) << c.what;
    EXPECT_EQ(names, c.names) << c.what;
  }
}

// A store that said it filled more than the buffer it was given used to have
// the bytes past the buffer read as the value.
TEST(PatchedRegistryDamage, AOneCallReadTakesNoMoreThanItsBuffer) {
  // A whole buffer of text with no terminator: whatever lay past it would
  // show as more letters.
  std::vector<std::byte> text(512);
  for (std::size_t i = 0; i < text.size(); i += 2) text[i] = std::byte{'x'};
  auto store = std::make_shared<platform::MemoryStore>();
  store->Put(store->EnsurePath("Key"), "", platform::REG_SZ, text);
  MisreportingRegistry api;
  api.MountRoot(HKeyLocalMachine, {store, store->RootNode(), std::nullopt});
  api.inflateBy = 1u << 20;
  TPatchRegistry reader(api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.OpenPath("Key"));
  EXPECT_EQ(reader.ReadText(""), std::string(256, 'x'));
  // Nor is a buffer made for whatever size a store reports.
  store->PutString(store->EnsurePath("Key"), "Long", std::string(600, 'y'));
  api.reportedSize = 0xFFFFFFF0u;
  EXPECT_THROW(reader.ReadText("Long"), ERegistryException);
}

}  // namespace
}  // namespace orbel
