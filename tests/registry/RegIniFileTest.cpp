#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>

#include "platform/api/PortableRegistry.h"
#include "platform/base/Text.h"
#include "platform/formats/UserFileStore.h"
#include "platform/store/MemoryStore.h"
#include "registry/PatchedRegistry.h"
#include "registry/RegIniFile.h"
#include "support/MemoryRegistry.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using platform::HKey;
using platform::HKeyCurrentUser;
using platform::KEY_ALL_ACCESS;
using platform::KEY_READ;
using platform::kSuccess;

const std::string kProgram = "Software\\Vell Inc.\\Orbel\\1.0";

std::vector<std::byte> Bytes(std::initializer_list<unsigned> values) {
  std::vector<std::byte> out;
  for (unsigned v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

fs::path FreshFolder() {
  static std::atomic<int> counter{0};
  const fs::path folder =
      fs::temp_directory_path() /
      ("orbel-regini-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)));
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

// HKEY_CURRENT_USER in memory.
struct MemoryBackend {
  testing::MemoryRegistry registry;
  platform::PortableRegistry& Api() { return registry.api; }
};

// HKEY_CURRENT_USER in a per-user registry file.
struct FileBackend {
  fs::path folder = FreshFolder();
  fs::path file = folder / "orbel" / "user.reg";
  platform::PortableRegistry api;
  FileBackend() {
    auto store = std::make_shared<platform::UserFileStore>(file);
    api.MountRoot(HKeyCurrentUser, platform::Mount{store, store->RootNode(), std::nullopt});
  }
  ~FileBackend() { fs::remove_all(folder); }
  platform::PortableRegistry& Api() { return api; }
};

template <typename Backend>
class RegIniFileTest : public ::testing::Test {
 protected:
  // Stores a value below the program key as another program would.
  void Put(const std::string& section, const std::string& ident, std::uint32_t type,
           const std::vector<std::byte>& data) {
    HKey key{};
    ASSERT_EQ(api.CreateKey(HKeyCurrentUser, kProgram + "\\" + section, KEY_ALL_ACCESS, key),
              kSuccess);
    ASSERT_EQ(api.SetValue(key, ident, type, data), kSuccess);
    api.CloseKey(key);
  }
  void PutText(const std::string& section, const std::string& ident, std::string_view text) {
    Put(section, ident, platform::REG_SZ, platform::Utf16LeStringValue(text));
  }
  std::optional<platform::Value> Get(const std::string& path, const std::string& ident) {
    HKey key{};
    if (api.OpenKey(HKeyCurrentUser, path, KEY_READ, key) != kSuccess) return std::nullopt;
    platform::Value value;
    std::uint32_t size = 0;
    platform::Status status = api.QueryValue(key, ident, &value.type, nullptr, &size);
    value.data.resize(size);
    if (status == kSuccess)
      status = api.QueryValue(key, ident, &value.type, value.data.data(), &size);
    api.CloseKey(key);
    if (status != kSuccess) return std::nullopt;
    return value;
  }
  bool Exists(const std::string& path) {
    HKey key{};
    if (api.OpenKey(HKeyCurrentUser, path, KEY_READ, key) != kSuccess) return false;
    api.CloseKey(key);
    return true;
  }

  Backend backend;
  platform::PortableRegistry& api = backend.Api();
};

using Backends = ::testing::Types<MemoryBackend, FileBackend>;
TYPED_TEST_SUITE(RegIniFileTest, Backends);

TYPED_TEST(RegIniFileTest, NumbersConvertAsTheStoreReadsThem) {
  constexpr std::int32_t kDefault = 777;
  const struct {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"0x96", 150},
      {"0X96", 150},
      {"150abc", kDefault},
      {"-5", -5},
      {"+7", 7},
      {" 42", 42},
      {"\t42", 42},
      {"42 ", kDefault},
      {"", kDefault},
      {"0x", kDefault},
      {"0xZZ", kDefault},
      {" 0x10", kDefault},
      {"$10", 16},
      {"$ff", 255},
      {"-$10", -16},
      {"$", kDefault},
      {"-", kDefault},
      {"0", 0},
      {"007", 7},
      {"2147483647", std::numeric_limits<std::int32_t>::max()},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"2147483648", kDefault},
      {"99999999999999999999", kDefault},
      // A hexadecimal number is the 32-bit pattern.
      {"$FFFFFFFF", -1},
      {"0x80000000", std::numeric_limits<std::int32_t>::min()},
      {"$100000000", kDefault},
  };
  for (const auto& c : cases) {
    this->PutText("View", "Name Width", c.text);
    TRegIniFile store(this->api, kProgram);
    EXPECT_EQ(store.ReadNumber("View", "Name Width", kDefault), c.expected) << '"' << c.text << '"';
  }
  TRegIniFile store(this->api, kProgram);
  EXPECT_EQ(store.ReadNumber("View", "Missing", kDefault), kDefault);
  EXPECT_EQ(store.ReadNumber("Missing", "Name Width", kDefault), kDefault);
}

TYPED_TEST(RegIniFileTest, FlagsAreNumbersThatAreNotZero) {
  const struct {
    const char* text;
    bool defaultFlag;
    bool expected;
  } cases[] = {
      {"2", false, true},    {"1", false, true}, {"-1", false, true},
      {"0x10", false, true}, {"0", true, false}, {"", true, true},
      {"", false, false},    {"x", true, true},  {"x", false, false},
  };
  for (const auto& c : cases) {
    this->PutText("View", "Show Description", c.text);
    TRegIniFile store(this->api, kProgram);
    EXPECT_EQ(store.ReadFlag("View", "Show Description", c.defaultFlag), c.expected)
        << '"' << c.text << "\" with default " << c.defaultFlag;
  }
}

TYPED_TEST(RegIniFileTest, TextReadsUpToTheFirstNul) {
  this->Put("Computers", "1", platform::REG_SZ, {});
  this->Put("Computers", "2", platform::REG_BINARY, {});
  this->Put("Computers", "3", platform::REG_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0}));
  this->Put("Computers", "4", platform::REG_EXPAND_SZ, platform::Utf16LeStringValue("%X%"));
  TRegIniFile store(this->api, kProgram);
  EXPECT_EQ(store.ReadText("Computers", "1", "default"), "");
  EXPECT_EQ(store.ReadText("Computers", "2", "default"), "") << "size 0 goes before the type";
  EXPECT_EQ(store.ReadText("Computers", "3", "default"), "a");
  EXPECT_EQ(store.ReadText("Computers", "4", "default"), "%X%") << "not expanded";
  EXPECT_EQ(store.ReadText("Computers", "5", "default"), "default");
  store.WriteText("Computers", "6",
                  "\\\\Gr\xC3\xBC\xC3\x9F"
                  "e \"x\"");
  EXPECT_EQ(store.ReadText("Computers", "6", ""),
            "\\\\Gr\xC3\xBC\xC3\x9F"
            "e \"x\"");
}

TYPED_TEST(RegIniFileTest, ValueThatIsNoTextRaisesAndClosesTheSection) {
  this->Put("View", "Name Width", platform::REG_DWORD, Bytes({150, 0, 0, 0}));
  {
    TRegIniFile store(this->api, kProgram);
    const auto expectRaise = [](auto read) {
      try {
        read();
        ADD_FAILURE() << "no exception";
      } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'Name Width'");
      }
    };
    expectRaise([&] { store.ReadNumber("View", "Name Width", 150); });
    expectRaise([&] { store.ReadText("View", "Name Width", ""); });
    expectRaise([&] { store.ReadFlag("View", "Name Width", true); });
    EXPECT_EQ(this->api.OpenHandleCount(), 1u) << "only the program key stays open";
  }
  EXPECT_EQ(this->api.OpenHandleCount(), 0u);
}

TYPED_TEST(RegIniFileTest, WritesStoreDecimalTextWithItsTerminator) {
  {
    TRegIniFile store(this->api, kProgram);
    store.WriteNumber("View", "Objects Width", 229);
    store.WriteNumber("View", "Negative", -5);
    store.WriteNumber("View", "Lowest", std::numeric_limits<std::int32_t>::min());
    store.WriteFlag("View", "On", true);
    store.WriteFlag("View", "Off", false);
  }
  const auto stored = this->Get(kProgram + "\\View", "Objects Width");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, platform::REG_SZ);
  EXPECT_EQ(stored->data, Bytes({'2', 0, '2', 0, '9', 0, 0, 0}));
  const auto text = [this](const char* ident) {
    const auto value = this->Get(kProgram + "\\View", ident);
    return value ? platform::Utf16LeToUtf8(value->data) : "<missing>";
  };
  EXPECT_EQ(text("Negative"), "-5");
  EXPECT_EQ(text("Lowest"), "-2147483648");
  EXPECT_EQ(text("On"), "1");
  EXPECT_EQ(text("Off"), "0");
  EXPECT_EQ(this->api.OpenHandleCount(), 0u);
}

TYPED_TEST(RegIniFileTest, ReadingNeverCreatesASectionAndNothingIsCached) {
  TRegIniFile store(this->api, kProgram);
  EXPECT_TRUE(this->Exists(kProgram)) << "opening the store creates the program key";
  EXPECT_EQ(store.ReadNumber("View", "Name Width", 150), 150);
  EXPECT_EQ(store.ReadText("View", "Name", "x"), "x");
  EXPECT_FALSE(this->Exists(kProgram + "\\View"));
  this->PutText("View", "Name Width", "300");
  EXPECT_EQ(store.ReadNumber("View", "Name Width", 150), 300);
  store.WriteNumber("General", "Count", 1);
  EXPECT_TRUE(this->Exists(kProgram + "\\General"));
}

TEST(RegIniFileReadOnly, WithoutAProgramKeySectionsAreBelowTheRoot) {
  testing::MemoryRegistry registry;
  registry.user->PutString(registry.user->EnsurePath("View"), "Name Width", "99");
  registry.user->PutString(registry.user->EnsurePath(kProgram + "\\View"), "Name Width", "55");
  registry.user->SetWritable(false);
  TRegIniFile store(registry.api, kProgram);
  EXPECT_FALSE(store.ProgramKey()) << "no second attempt with read access";
  EXPECT_EQ(store.ReadNumber("View", "Name Width", 150), 99);
  EXPECT_EQ(store.ReadNumber("General", "First Start", 1), 1);
  try {
    store.WriteNumber("View", "Name Width", 1);
    ADD_FAILURE() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to create key View");
  }
  EXPECT_EQ(registry.api.OpenHandleCount(), 0u);
}

// A registry whose value calls can be made to fail.
class FailingRegistry : public platform::PortableRegistry {
 public:
  bool refuseSet = false;
  bool refuseInfo = false;
  bool refuseData = false;

  platform::Status SetValue(HKey key, std::string_view name, std::uint32_t type,
                            std::span<const std::byte> data) override {
    return refuseSet ? platform::kAccessDenied : PortableRegistry::SetValue(key, name, type, data);
  }
  platform::Status QueryValue(HKey key, std::string_view name, std::uint32_t* type, std::byte* data,
                              std::uint32_t* size) override {
    if (data ? refuseData : refuseInfo) return platform::kCantRead;
    return PortableRegistry::QueryValue(key, name, type, data, size);
  }
};

TEST(RegIniFileFailures, PlatformFailuresRaiseWithTheIdent) {
  auto user = std::make_shared<platform::MemoryStore>();
  user->PutString(user->EnsurePath(kProgram + "\\View"), "Name Width", "150");
  FailingRegistry registry;
  registry.MountRoot(HKeyCurrentUser, platform::Mount{user, user->RootNode(), std::nullopt});
  TRegIniFile store(registry, kProgram);
  const auto expectRaise = [&](auto operation, const char* message) {
    try {
      operation();
      ADD_FAILURE() << "no exception for " << message;
    } catch (const ERegistryException& e) {
      EXPECT_STREQ(e.what(), message);
    }
    EXPECT_EQ(registry.OpenHandleCount(), 1u) << message;
  };
  registry.refuseSet = true;
  expectRaise([&] { store.WriteNumber("View", "Name Width", 1); },
              "Failed to set data for 'Name Width'");
  registry.refuseSet = false;
  registry.refuseData = true;
  expectRaise([&] { store.ReadNumber("View", "Name Width", 0); },
              "Failed to get data for 'Name Width'");
  registry.refuseData = false;
  registry.refuseInfo = true;
  expectRaise([&] { store.ReadText("View", "Name Width", ""); },
              "Failed to get data for 'Name Width'");
  registry.refuseInfo = false;
  EXPECT_EQ(store.ReadNumber("View", "Name Width", 0), 150);
}

TEST(RegIniFileUserFile, FirstRunAndSaveWriteTheExpectedFile) {
  FileBackend backend;
  {
    TRegIniFile store(backend.api, kProgram);
    EXPECT_TRUE(store.ReadFlag("General", "First Start", true));
    store.WriteFlag("General", "First Start", false);
    EXPECT_EQ(store.ReadNumber("View", "Name Width", 150), 150);
    EXPECT_EQ(store.ReadNumber("View", "View Style", 4), 4);
  }
  {
    TRegIniFile store(backend.api, kProgram);
    store.WriteNumber("View", "Name Width", 150);
    store.WriteNumber("View", "Objects Width", 229);
    store.WriteFlag("View", "Hide Unknown", false);
  }
  std::ifstream in(backend.file, std::ios::binary);
  const std::string contents{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(contents,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Vell Inc.\\Orbel\\1.0\\General]\r\n"
            "\"First Start\"=\"0\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Vell Inc.\\Orbel\\1.0\\View]\r\n"
            "\"Name Width\"=\"150\"\r\n"
            "\"Objects Width\"=\"229\"\r\n"
            "\"Hide Unknown\"=\"0\"\r\n\r\n");
  TRegIniFile store(backend.api, kProgram);
  EXPECT_FALSE(store.ReadFlag("General", "First Start", true));
  EXPECT_EQ(store.ReadNumber("View", "Objects Width", 0), 229);
}

TEST(RegIniFileUserFile, UnwritableFileLeavesNoProgramKeyAndWritesRaise) {
  const fs::path folder = FreshFolder();
  std::ofstream(folder / "blocker") << "a file, not a folder";
  auto store = std::make_shared<platform::UserFileStore>(folder / "blocker" / "user.reg");
  platform::PortableRegistry api;
  api.MountRoot(HKeyCurrentUser, platform::Mount{store, store->RootNode(), std::nullopt});
  {
    TRegIniFile settings(api, kProgram);
    EXPECT_FALSE(settings.ProgramKey());
    EXPECT_EQ(settings.ReadNumber("View", "Name Width", 150), 150);
    EXPECT_THROW(settings.WriteNumber("View", "Name Width", 1), ERegistryException);
    EXPECT_FALSE(store->LastError().empty());
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace orbel
