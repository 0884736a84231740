#include "platform/store/MemoryStore.h"

#include <gtest/gtest.h>

#include "platform/base/Text.h"

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
    EXPECT_EQ(std::to_integer<int>(value.data[0]) | (std::to_integer<int>(value.data[1]) << 8), 999);
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

}  // namespace
}  // namespace orbel::platform
