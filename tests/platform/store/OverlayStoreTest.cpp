// A user's classes over the machine's as Windows merges them for a process
// of that user, in the shapes of the classes-root conformance tests: the
// user's key over the machine's, values merged by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/store/MemoryStore.h"
#include "platform/store/OverlayStore.h"

namespace orbel::platform {
namespace {

// A machine side that cannot list its values, as the registry API's store.
class UnlistedStore : public MemoryStore {
 public:
  Status ValueName(Node, std::uint32_t, std::string&) override { return kInvalidFunction; }
};

Store::Node Open(OverlayStore& overlay, std::string_view path) {
  Store::Node node = overlay.RootNode();
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t cut = std::min(path.find('\\', start), path.size());
    EXPECT_EQ(overlay.FindChild(node, path.substr(start, cut - start), node), kSuccess) << path;
    start = cut + 1;
  }
  return node;
}

// Used to read the key present on both sides from the user's side alone: a
// user key holding only a server made the class lose its name.
TEST(OverlayStore, MergesValuesByNameTheUsersWinning) {
  constexpr FileTime kUserTime = 2000, kMachineTime = 1000;
  for (const bool machineLists : {true, false}) {
    SCOPED_TRACE(machineLists ? "both sides list values" : "the machine's side cannot");
    auto user = std::make_shared<MemoryStore>();
    std::shared_ptr<MemoryStore> machine =
        machineLists ? std::make_shared<MemoryStore>() : std::make_shared<UnlistedStore>();
    const auto userKey = user->EnsurePath("CLSID\\{X}");
    user->SetLastWrite(userKey, kUserTime);
    user->PutString(userKey, "X", "user x");
    user->PutString(userKey, "Y", "user y, the longest data");
    user->PutString(user->EnsurePath("CLSID\\{X}\\InprocServer32"), "", "user.dll");
    user->PutString(user->EnsurePath("CLSID\\{X}\\Implied\\Below"), "", "b");
    const auto machineKey = machine->EnsurePath("CLSID\\{X}");
    machine->SetLastWrite(machineKey, kMachineTime);
    machine->PutString(machineKey, "", "Shortcut");
    machine->PutString(machineKey, "x", "machine x");
    machine->PutString(machineKey, "Z", "machine z");
    const auto server = machine->EnsurePath("CLSID\\{X}\\InprocServer32");
    machine->PutString(server, "", "machine.dll");
    machine->PutString(server, "ThreadingModel", "Both");
    machine->PutString(machine->EnsurePath("CLSID\\{X}\\Implied"), "", "machine's");
    machine->SetLastWrite(*machine->Find("CLSID\\{X}\\Implied"), kMachineTime);
    machine->PutString(machine->EnsurePath("CLSID\\{X}\\ProgID"), "", "lnkfile");
    OverlayStore overlay(user, "user", machine, "machine");

    const struct {
      const char* key;
      const char* value;
      std::optional<std::string> expected;
    } cases[] = {
        {"CLSID\\{X}", "x", "user x"},
        {"CLSID\\{X}", "Y", "user y, the longest data"},
        {"CLSID\\{X}", "z", "machine z"},
        {"CLSID\\{X}", "", "Shortcut"},  // the default value, named ""
        {"CLSID\\{X}", "W", std::nullopt},
        {"CLSID\\{X}\\InprocServer32", "", "user.dll"},
        {"CLSID\\{X}\\InprocServer32", "ThreadingModel", "Both"},
        {"CLSID\\{X}\\ProgID", "", "lnkfile"},
        {"CLSID\\{X}\\Implied", "", "machine's"},
        {"CLSID\\{X}\\Implied\\Below", "", "b"},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.key) + " " + c.value);
      const auto node = Open(overlay, c.key);
      Value value;
      const Status status = overlay.GetValue(node, c.value, value);
      if (!c.expected) {
        EXPECT_EQ(status, kFileNotFound);
        continue;
      }
      ASSERT_EQ(status, kSuccess);
      EXPECT_EQ(value.data, Utf16LeStringValue(*c.expected));
      std::uint32_t type = 0, size = 0;
      ASSERT_EQ(overlay.GetValueInfo(node, c.value, type, size), kSuccess);
      EXPECT_EQ(size, value.data.size());
    }

    const auto key = Open(overlay, "CLSID\\{X}");
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t i = 0; overlay.ValueName(key, i, name) == kSuccess; ++i) {
      names.push_back(name);
    }
    if (machineLists) {
      EXPECT_EQ(names, (std::vector<std::string>{"X", "Y", "", "Z"}));
    } else {
      EXPECT_TRUE(names.empty()) << "a side that cannot list values lists none merged";
    }
    KeyFigures figures;
    ASSERT_EQ(overlay.Figures(key, figures), kSuccess);
    EXPECT_EQ(figures.valueCount, 4u) << "x counts once";
    EXPECT_EQ(figures.maxValueNameLength, 1u);
    EXPECT_EQ(figures.maxValueDataLength, Utf16LeStringValue("user y, the longest data").size());
    EXPECT_EQ(figures.subkeyCount, 3u);
    EXPECT_EQ(figures.lastWriteTime, kUserTime);
    // A user key without a stamp of its own shows the machine's.
    ASSERT_EQ(overlay.Figures(Open(overlay, "CLSID\\{X}\\Implied"), figures), kSuccess);
    EXPECT_EQ(figures.lastWriteTime, kMachineTime);
    EXPECT_TRUE(overlay.Damages().empty());
  }
}

}  // namespace
}  // namespace orbel::platform
