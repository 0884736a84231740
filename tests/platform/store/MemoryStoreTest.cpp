#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/store/MemoryStore.h"

namespace orbel::platform {
namespace {

// Values are found without regard to case whether the key has few values or
// many (past the point where an index keeps the lookups fast).
TEST(MemoryStore, ValuesMatchWithoutRegardToCaseAtAnyCount) {
  for (int count : {3, 40, 5000}) {
    MemoryStore store;
    const auto key = store.EnsurePath("Many");
    for (int i = 0; i < count; ++i) store.PutDword(key, "Value" + std::to_string(i), i);
    store.PutDword(key, "VALUE1", 999);  // replaces "Value1"
    Value value;
    ASSERT_EQ(store.GetValue(key, "value1", value), kSuccess) << count;
    EXPECT_EQ(std::to_integer<int>(value.data[0]) | (std::to_integer<int>(value.data[1]) << 8),
              999);
    EXPECT_EQ(store.ValuesOf(key).size(), static_cast<std::size_t>(count));
    EXPECT_TRUE(store.RemoveValue(key, "VALUE0"));
    EXPECT_EQ(store.GetValue(key, "Value0", value), kFileNotFound);
    ASSERT_EQ(store.GetValue(key, "vALUE" + std::to_string(count - 1), value), kSuccess) << count;
    EXPECT_EQ(std::to_integer<int>(value.data[0]), (count - 1) & 0xFF) << "positions moved up";
  }
}

TEST(MemoryStore, RemovedKeysAreGoneWithEverythingBelow) {
  MemoryStore store;
  const auto a = store.EnsurePath("A\\B\\C");
  store.PutString(a, "", "deep");
  const auto top = *store.Find("a");
  EXPECT_TRUE(store.RemoveKey(top));
  EXPECT_FALSE(store.Find("A\\B\\C"));
  EXPECT_FALSE(store.RemoveKey(store.RootNode()));
  Value value;
  EXPECT_EQ(store.GetValue(a, "", value), kInvalidHandle) << "a node of a removed key";
  EXPECT_EQ(store.NodeCount(), 1u);
  EXPECT_NE(store.EnsurePath("A\\B\\C"), a) << "slots are not reused";
}

// Keys and values added in descending order, then some removed and some added
// again, across the point where a key gets its name index: enumeration stays
// in upper-cased name order and values in insertion order.
TEST(MemoryStore, OrderHoldsThroughAddsAndRemovalsAtAnyCount) {
  for (int count : {5, 40, 2000}) {
    MemoryStore store;
    const auto key = store.EnsurePath("K");
    std::vector<std::string> keys, values;
    for (int i = count - 1; i >= 0; --i) {
      const std::string name = "n" + std::to_string(100000 + i);
      store.EnsureChild(key, name);
      store.PutDword(key, name, i);
      if (i % 3 != 0) keys.push_back(FoldCase(name));
      if (i % 2 != 0) values.push_back(name);
    }
    for (int i = 0; i < count; i += 3)
      store.RemoveKey(*store.Find("K\\n" + std::to_string(100000 + i)));
    for (int i = 0; i < count; i += 2)
      EXPECT_TRUE(store.RemoveValue(key, "N" + std::to_string(100000 + i)));
    store.PutDword(key, "n100000", 7);  // added again: last in insertion order
    values.push_back("n100000");
    std::sort(keys.begin(), keys.end());
    std::vector<std::string> listed, valueNames;
    for (auto child : store.ChildrenOf(key)) listed.push_back(FoldCase(store.NameOf(child)));
    for (const auto& value : store.ValuesOf(key)) valueNames.push_back(value.name);
    EXPECT_EQ(listed, keys) << count;
    EXPECT_EQ(valueNames, values) << count;
    KeyFigures figures;
    ASSERT_EQ(store.Figures(key, figures), kSuccess);
    EXPECT_EQ(figures.subkeyCount, keys.size());
    EXPECT_EQ(figures.valueCount, values.size());
    Value value;
    EXPECT_EQ(store.GetValue(key, "N100002", value), kFileNotFound) << count;
  }
}

}  // namespace
}  // namespace orbel::platform
