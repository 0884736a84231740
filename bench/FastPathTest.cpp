// The shortcuts that make loading fast answer exactly as the plain ways do:
// case folding of ASCII names, the registry's reuse of the last path walked,
// and the hive store's name decoding, lookups and value cache.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/PortableRegistry.h"
#include "platform/base/Text.h"
#include "platform/formats/HiveStore.h"
#include "platform/store/MemoryStore.h"
#include "support/RegfWriter.h"

namespace fs = std::filesystem;

namespace orbel::platform {
namespace {

std::string Utf8(char32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

// Names of different lengths are told apart by length alone; that holds only
// while folding keeps every character's length.
TEST(FoldingTest, KeepsTheLengthOfEveryCharacter) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string text = Utf8(cp);
    ASSERT_EQ(FoldCase(text).size(), text.size()) << std::hex << unsigned(cp);
  }
  const std::pair<std::string, std::string> invalid[] = {
      {"\xFF", "\xFF"},         {"\xC3", "\xC3"},
      {"\xE2\x82", "\xE2\x82"}, {"\xED\xA0\x80", "\xED\xA0\x80"},
      {"a\x80z", "A\x80Z"},     {"\xC3\xA4\xC3", "\xC3\x84\xC3"}};
  for (const auto& [text, folded] : invalid) EXPECT_EQ(FoldCase(text), folded);
}

TEST(FoldingTest, EqualsNoCaseAgreesWithFolding) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"InprocServer32", "INPROCSERVER32"},
      {"InprocServer32", "InprocServer"},
      {"ProgID", "progid"},
      {"ProgID", "ProgIE"},
      {"@", "`"},  // differ by 0x20 without being letters
      {"[", "{"},
      {"\xC3\xA4rger", "\xC3\x84RGER"},          // Ärger
      {"\xC3\xA4rger", "\xC3\xA5RGER"},          // a different letter
      {"abc\xC3\xA4", "ABC\xC3\x84"},            // ASCII before a non-ASCII letter
      {"abd\xC3\xA4", "ABC\xC3\x84"},            // ASCII differs before it
      {"\xCE\xB1\xCE\xB2", "\xCE\x91\xCE\x92"},  // Greek
      {"\xD1\x91", "\xD0\x81"},                  // Cyrillic io
      {"\xC3\xBF", "\xC5\xB8"},                  // y diaeresis
      {"x\xFFy", "X\xFFY"},                      // invalid bytes kept
      {"x\xFFy", "X\xFEY"},
      {"", ""},
  };
  for (const auto& [a, b] : pairs) {
    EXPECT_EQ(EqualsNoCase(a, b), FoldCase(a) == FoldCase(b)) << a << " / " << b;
    EXPECT_EQ(EqualsNoCase(b, a), FoldCase(a) == FoldCase(b)) << b << " / " << a;
  }
  EXPECT_EQ(FoldCase("Software\\Classes\\clsid"), "SOFTWARE\\CLASSES\\CLSID");
}

// UTF-16LE bytes of `units`, as a registry value holds them.
std::vector<std::byte> Utf16Bytes(const std::u16string& units) {
  std::vector<std::byte> bytes;
  for (const char16_t u : units) {
    bytes.push_back(static_cast<std::byte>(u & 0xFF));
    bytes.push_back(static_cast<std::byte>(u >> 8));
  }
  return bytes;
}

// The plain decoding, one unit at a time.
std::string DecodeByUnits(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      out += Utf8(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
      ++i;
    } else {
      out += Utf8((u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : char32_t(u));
    }
  }
  return out;
}

// Plain ASCII is copied four units at a time; whatever ends the run, at any
// place in a group of four, hands over to the general decoder.
TEST(Utf16Test, TheAsciiShortcutDecodesAsTheGeneralWay) {
  const char16_t enders[] = {0x00,   0x7F,   0x80,   0xE9,   0x100,  0x141,
                             0x2122, 0xD83D, 0xDE00, 0xFFFD, 0x4100, 0x0041 | 0x8000};
  for (std::size_t lead = 0; lead < 13; ++lead) {
    for (const char16_t ender : enders) {
      std::u16string units(lead, u'a');
      for (std::size_t i = 0; i < lead; ++i) units[i] = static_cast<char16_t>(u'A' + i);
      units += ender;
      if (ender == 0xD83D) units += char16_t{0xDE00};  // a pair
      units += u"tail";
      const std::vector<std::byte> bytes = Utf16Bytes(units);
      SCOPED_TRACE("lead " + std::to_string(lead) + " ender " + std::to_string(ender));
      EXPECT_EQ(Utf16LeToUtf8(bytes), DecodeByUnits(units));
      std::string appended = "x";
      AppendUtf16LeAsUtf8(appended, bytes);
      EXPECT_EQ(appended, "x" + DecodeByUnits(units));
      // An odd trailing byte is left out.
      std::vector<std::byte> odd = bytes;
      odd.push_back(std::byte{'z'});
      EXPECT_EQ(Utf16LeToUtf8(odd), DecodeByUnits(units));
    }
  }
  EXPECT_EQ(Utf16LeToUtf8({}), "");
}

// A read-only machine registry: the registry keeps the last path it walked
// on such a store.
class WalkTest : public ::testing::Test {
 protected:
  WalkTest() {
    Text("A\\B\\C", "C");
    Text("A\\B\\D", "D");
    Text("A\\BX", "BX");
    Text("A", "A");
    Text("B\\C", "root B\\C");
    store->SetWritable(false);
    api.MountRoot(HKeyLocalMachine, {store, store->RootNode(), std::nullopt});
  }

  void Text(const std::string& path, const std::string& text) {
    store->PutString(store->EnsurePath(path), "", text);
  }

  // The default value of the key at `path`, or the status that opening it gave.
  std::string Open(HKey base, const std::string& path) {
    HKey key{};
    const Status status = api.OpenKey(base, path, KEY_READ, key);
    if (status != kSuccess) return "status " + std::to_string(status);
    std::byte data[256];
    std::uint32_t size = sizeof data;
    std::uint32_t type = 0;
    const Status read = api.QueryValue(key, "", &type, data, &size);
    api.CloseKey(key);
    if (read != kSuccess) return "no value";
    return Utf16LeToUtf8({data, size});
  }

  std::shared_ptr<MemoryStore> store = std::make_shared<MemoryStore>();
  PortableRegistry api;
};

TEST_F(WalkTest, AClosedHandleStaysClosedWhenItsPlaceIsReused) {
  HKey first{};
  ASSERT_EQ(api.OpenKey(HKeyLocalMachine, "A", KEY_READ, first), kSuccess);
  ASSERT_EQ(api.CloseKey(first), kSuccess);
  HKey second{};
  ASSERT_EQ(api.OpenKey(HKeyLocalMachine, "B\\C", KEY_READ, second), kSuccess);
  EXPECT_NE(second, first);
  EXPECT_EQ(api.CloseKey(first), kInvalidHandle) << "closed twice";
  KeyFigures figures;
  EXPECT_EQ(api.QueryInfoKey(first, figures), kInvalidHandle);
  HKey child{};
  EXPECT_EQ(api.OpenKey(first, "B", KEY_READ, child), kInvalidHandle);
  EXPECT_EQ(Open(second, ""), "root B\\C") << "the new handle is untouched";
  for (const HKey made_up : {HKey{0x1001}, HKey{0x1000 + 4 * ((std::uintptr_t{7} << 24) | 0)},
                             HKey{0x0FFC}, HKey{0x7FFFFFFC}}) {
    EXPECT_EQ(api.CloseKey(made_up), kInvalidHandle) << made_up.value;
  }
  EXPECT_EQ(api.CloseKey(second), kSuccess);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

// Each key opened from the one before, while the table of handles grows.
TEST_F(WalkTest, HandlesOpenedFromEachOtherStayValid) {
  std::vector<HKey> keys(1);
  ASSERT_EQ(api.OpenKey(HKeyLocalMachine, "A", KEY_READ, keys[0]), kSuccess);
  for (int i = 0; i < 5000; ++i) {
    HKey next{};
    ASSERT_EQ(api.OpenKey(keys.back(), "", KEY_READ, next), kSuccess) << i;
    keys.push_back(next);
  }
  EXPECT_EQ(api.OpenHandleCount(), keys.size());
  EXPECT_EQ(Open(keys.back(), "B\\C"), "C");
  EXPECT_EQ(Open(keys.front(), "BX"), "BX");
  for (const HKey key : keys) ASSERT_EQ(api.CloseKey(key), kSuccess);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

TEST_F(WalkTest, PathsSharingALeadFindTheirOwnKeys) {
  const HKey m = HKeyLocalMachine;
  const std::vector<std::pair<std::string, std::string>> steps = {
      {"A\\B\\C", "C"},
      {"A\\B\\D", "D"},
      {"A\\B\\E", "status 2"},
      {"A\\B\\C", "C"},
      {"A\\BX", "BX"},  // shares text with A\B but not the key
      {"A\\B\\C", "C"},
      {"A\\B", "no value"},
      {"A", "A"},
      {"a\\b\\c", "C"},
      {"A\\\\B\\C", "C"},  // empty components are skipped
      {"A\\B\\C\\", "C"},
      {"A\\B\\C\\Z", "status 2"},
      {"\\A\\B\\D", "D"},
      {"", "no value"},
      {"B\\C", "root B\\C"},
      {"A\\B\\D", "D"},
  };
  for (const auto& [path, expected] : steps) EXPECT_EQ(Open(m, path), expected) << path;
}

TEST_F(WalkTest, EachBaseKeyWalksFromItself) {
  HKey a{};
  ASSERT_EQ(api.OpenKey(HKeyLocalMachine, "A", KEY_READ, a), kSuccess);
  EXPECT_EQ(Open(HKeyLocalMachine, "B\\C"), "root B\\C");
  EXPECT_EQ(Open(a, "B\\C"), "C");
  EXPECT_EQ(Open(HKeyLocalMachine, "B\\C"), "root B\\C");
  EXPECT_EQ(Open(a, "B\\D"), "D");
  api.CloseKey(a);
}

// Regression guard: only keys found are kept, so a key added to the tree
// after a failed lookup is found by the next one.
TEST_F(WalkTest, AbsentKeysAreLookedUpAgain) {
  EXPECT_EQ(Open(HKeyLocalMachine, "A\\B\\New"), "status 2");
  Text("A\\B\\New", "new");
  EXPECT_EQ(Open(HKeyLocalMachine, "A\\B\\New"), "new");
}

TEST_F(WalkTest, ARemountedRootWalksItsNewStore) {
  EXPECT_EQ(Open(HKeyLocalMachine, "A\\B\\C"), "C");
  // Made with new, so that the old store's memory may be handed out again.
  std::shared_ptr<MemoryStore> other(new MemoryStore());
  other->PutString(other->EnsurePath("A\\B\\C"), "", "other C");
  other->SetWritable(false);
  store.reset();
  api.MountRoot(HKeyLocalMachine, {other, other->RootNode(), std::nullopt});
  EXPECT_EQ(Open(HKeyLocalMachine, "A\\B\\C"), "other C");
  EXPECT_EQ(Open(HKeyLocalMachine, "A\\B\\D"), "status 2");
}

TEST_F(WalkTest, WritableStoresSeeRemovedKeysGone) {
  auto writable = std::make_shared<MemoryStore>();
  const auto key = writable->EnsurePath("X\\Y");
  writable->PutString(key, "", "Y");
  api.MountRoot(HKeyCurrentUser, {writable, writable->RootNode(), std::nullopt});
  EXPECT_EQ(Open(HKeyCurrentUser, "X\\Y"), "Y");
  writable->RemoveKey(*writable->Find("X"));
  EXPECT_EQ(Open(HKeyCurrentUser, "X\\Y"), "status 2");
}

class HiveFastPathTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::error_code ec;
    fs::remove(file_, ec);
  }

  std::unique_ptr<HiveStore> Write(const MemoryStore& tree) {
    file_ = fs::temp_directory_path() /
            ("orbel-fastpath-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".hiv");
    std::string error;
    EXPECT_TRUE(WriteRegfHiveFile(file_, tree, tree.RootNode(), {}, error)) << error;
    auto hive = HiveStore::Open(file_, error);
    EXPECT_TRUE(hive) << error;
    return hive;
  }

  fs::path file_;
};

// Names in Latin-1 and in UTF-16, some long enough to straddle the blocks
// the store reads the file in.
TEST_F(HiveFastPathTest, DecodesEveryNameWhereverItLies) {
  MemoryStore tree;
  const auto list = tree.EnsurePath("List");
  std::vector<std::string> names;
  for (int i = 0; i < 1500; ++i) {
    std::string name = "Key " + std::to_string(i) + " ";
    const std::string piece = i % 3 == 0   ? "\xC3\xA9t\xC3\xA9 "         // Latin-1 été
                              : i % 3 == 1 ? "\xCE\xB1\xCE\xB2\xCE\xB3 "  // UTF-16 Greek
                                           : "plain ";
    // Cells never cross the 4 KiB pages of a hive unless they are larger:
    // some names are.
    const int length = i % 50 == 0 ? 3000 + (i * 137) % 6000 : 150 + i % 97;
    while (name.size() < static_cast<std::size_t>(length)) name += piece;
    names.push_back(name);
    tree.EnsureChild(list, name);
  }
  auto hive = Write(tree);
  ASSERT_TRUE(hive);
  Store::Node node = 0;
  ASSERT_EQ(hive->FindChild(hive->RootNode(), "list", node), kSuccess);
  std::vector<std::string> read;
  std::string name;
  for (std::uint32_t i = 0; hive->SubkeyName(node, i, name) == kSuccess; ++i) read.push_back(name);
  std::vector<std::string> expected;
  for (auto child : tree.ChildrenOf(list)) expected.push_back(tree.NameOf(child));
  EXPECT_EQ(read, expected);
  for (const auto& wanted : names) {
    Store::Node child = 0;
    EXPECT_EQ(hive->FindChild(node, FoldCase(wanted), child), kSuccess) << wanted;
  }
}

TEST_F(HiveFastPathTest, FindsNamesOfTheSameLengthByTheirLetters) {
  MemoryStore tree;
  for (const char* name : {"Ab", "aC", "\xC3\xA4x", "Abc", "X"})
    tree.EnsurePath(std::string("K\\") + name);
  auto hive = Write(tree);
  ASSERT_TRUE(hive);
  Store::Node key = 0;
  ASSERT_EQ(hive->FindChild(hive->RootNode(), "K", key), kSuccess);
  const struct {
    const char* query;
    const char* found;  // nullptr: absent
  } cases[] = {{"AB", "Ab"},   {"ac", "aC"},      {"\xC3\x84X", "\xC3\xA4x"},
               {"ABC", "Abc"}, {"x", "X"},        {"AD", nullptr},
               {"A", nullptr}, {"ABCD", nullptr}, {"\xC3\xA5x", nullptr}};
  for (const auto& c : cases) {
    Store::Node child = 0;
    const Status status = hive->FindChild(key, c.query, child);
    if (!c.found) {
      EXPECT_EQ(status, kFileNotFound) << c.query;
      continue;
    }
    ASSERT_EQ(status, kSuccess) << c.query;
    Store::Node direct = 0;
    std::string name;
    for (std::uint32_t i = 0; hive->SubkeyName(key, i, name) == kSuccess; ++i) {
      if (name == c.found) {
        ASSERT_EQ(hive->FindChild(key, name, direct), kSuccess);
      }
    }
    EXPECT_EQ(child, direct) << c.query;
  }
}

// The value read last is kept for the next call: asking for other values and
// keys in between, in either order, must never give the kept one.
TEST_F(HiveFastPathTest, ValuesComeFromTheirOwnKeys) {
  MemoryStore tree;
  const auto one = tree.EnsurePath("One");
  const auto two = tree.EnsurePath("Two");
  tree.PutString(one, "", "one default");
  tree.PutString(one, "Other", "one other");
  tree.PutString(two, "", "two default");
  tree.PutDword(two, "Number", 7);
  std::vector<std::byte> big(100'000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::byte>(i * 7);
  tree.Put(two, "Big", REG_BINARY, big);
  auto hive = Write(tree);
  ASSERT_TRUE(hive);
  Store::Node k1 = 0, k2 = 0;
  ASSERT_EQ(hive->FindChild(hive->RootNode(), "One", k1), kSuccess);
  ASSERT_EQ(hive->FindChild(hive->RootNode(), "Two", k2), kSuccess);

  const struct {
    Store::Node key;
    const char* name;
    bool infoFirst;
  } reads[] = {{k1, "", true},     {k2, "", false},      {k1, "", false},      {k1, "other", true},
               {k1, "", true},     {k2, "number", true}, {k2, "Big", true},    {k2, "big", false},
               {k2, "BIG", false}, {k1, "Other", false}, {k2, "Number", false}};
  for (const auto& r : reads) {
    const MemoryStore::NamedValue* expected = nullptr;
    for (const auto& value : tree.ValuesOf(r.key == k1 ? one : two)) {
      if (EqualsNoCase(value.name, r.name)) expected = &value;
    }
    ASSERT_TRUE(expected) << r.name;
    std::uint32_t type = 0, size = 0;
    if (r.infoFirst) {
      ASSERT_EQ(hive->GetValueInfo(r.key, r.name, type, size), kSuccess) << r.name;
      EXPECT_EQ(type, expected->value.type) << r.name;
      EXPECT_EQ(size, expected->value.data.size()) << r.name;
    }
    Value value;
    ASSERT_EQ(hive->GetValue(r.key, r.name, value), kSuccess) << r.name;
    EXPECT_EQ(value.type, expected->value.type) << r.name;
    EXPECT_EQ(value.data, expected->value.data) << r.name;
  }
  Value none;
  EXPECT_EQ(hive->GetValue(k1, "Number", none), kFileNotFound);
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(hive->GetValueInfo(k2, "Other", type, size), kFileNotFound);
}

}  // namespace
}  // namespace orbel::platform
