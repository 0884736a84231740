// The Windows registry behind the registry API, on Windows or under Wine:
// keys are written below a scratch key of HKEY_CURRENT_USER and read back.
#include <gtest/gtest.h>

#ifdef _WIN32

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/computer/WindowsRegistry.h"
#include "support/TempFolder.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::byte> Dword(std::uint32_t value) {
  std::vector<std::byte> bytes(4);
  for (int i = 0; i < 4; ++i) bytes[i] = std::byte((value >> (8 * i)) & 0xFF);
  return bytes;
}

// A scratch key of HKEY_CURRENT_USER, removed with everything below it.
class WindowsRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = std::string("Software\\OrbelTest-") + std::to_string(GetCurrentProcessId()) + "-" +
               info->name();
    ASSERT_EQ(registry_.CreateKey(HKeyCurrentUser, scratch_, KEY_ALL_ACCESS, key_), kSuccess);
  }
  void TearDown() override {
    if (key_) registry_.CloseKey(key_);
    const std::vector<std::byte> units = Utf16LeStringValue(scratch_);
    RegDeleteTreeW(HKEY_CURRENT_USER, reinterpret_cast<const wchar_t*>(units.data()));
  }
  HKey Create(std::string_view path) {
    HKey key{};
    EXPECT_EQ(registry_.CreateKey(key_, path, KEY_ALL_ACCESS, key), kSuccess) << path;
    return key;
  }
  std::vector<std::string> Names(HKey key) {
    std::vector<std::string> names;
    std::string name;
    Status status = kSuccess;
    std::uint32_t index = 0;
    while ((status = registry_.EnumKey(key, index++, name)) == kSuccess) names.push_back(name);
    EXPECT_EQ(status, kNoMoreItems);
    return names;
  }

  WindowsRegistry registry_;
  std::string scratch_;
  HKey key_{};
};

TEST_F(WindowsRegistryTest, ValuesKeepTheirTypeAndBytesAndNamesTheirText) {
  const HKey cls = Create("CLSID\\{\xC3\x84rger}");  // Ärger
  const std::vector<std::byte> text = Utf16LeStringValue("Klasse \xE2\x84\xA2");
  const std::vector<std::byte> binary{std::byte{0}, std::byte{0xFF}, std::byte{7}};
  ASSERT_EQ(registry_.SetValue(cls, "", REG_SZ, text), kSuccess);
  ASSERT_EQ(registry_.SetValue(cls, "Gr\u00f6\u00dfe", REG_DWORD, Dword(0x12345678)), kSuccess);
  ASSERT_EQ(registry_.SetValue(cls, "Bytes", REG_BINARY, binary), kSuccess);

  HKey opened{};
  ASSERT_EQ(registry_.OpenKey(key_, "clsid\\{\xC3\xA4RGER}", KEY_READ, opened), kSuccess)
      << "names match without regard to case";
  struct Case {
    const char* name;
    std::uint32_t type;
    std::vector<std::byte> data;
  };
  for (const Case& c : std::vector<Case>{{"", REG_SZ, text},
                                         {"GR\u00d6\u00dfE", REG_DWORD, Dword(0x12345678)},
                                         {"bytes", REG_BINARY, binary}}) {
    SCOPED_TRACE(c.name);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    ASSERT_EQ(registry_.QueryValue(opened, c.name, &type, nullptr, &size), kSuccess);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.data.size());
    std::vector<std::byte> data(size + 4, std::byte{0xEE});
    size = static_cast<std::uint32_t>(data.size());
    ASSERT_EQ(registry_.QueryValue(opened, c.name, nullptr, data.data(), &size), kSuccess);
    data.resize(size);
    EXPECT_EQ(data, c.data);
    // A buffer one byte short answers how much is needed.
    size = static_cast<std::uint32_t>(c.data.size() - 1);
    EXPECT_EQ(registry_.QueryValue(opened, c.name, &type, data.data(), &size), kMoreData);
    EXPECT_EQ(size, c.data.size());
  }
  std::uint32_t type = 0;
  std::byte byte{};
  EXPECT_EQ(registry_.QueryValue(opened, "Bytes", &type, &byte, nullptr), kInvalidParameter);
  EXPECT_EQ(registry_.QueryValue(opened, "Missing", &type, nullptr, nullptr), kFileNotFound);
  EXPECT_EQ(registry_.CloseKey(opened), kSuccess);
  EXPECT_EQ(registry_.CloseKey(cls), kSuccess);
}

TEST_F(WindowsRegistryTest, SubkeysEnumerateByNameWithLongAndWideNames) {
  const std::string longName(200, 'L');          // past the first enumeration buffer
  const std::string smile = "\xF0\x9F\x98\x80";  // two UTF-16 code units
  for (const std::string& name :
       {std::string("beta"), std::string("Alpha"), longName, "\xE2\x82\xAC" + smile}) {
    registry_.CloseKey(Create(name));
  }
  std::set<std::string> names;
  for (const auto& name : Names(key_)) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"Alpha", "beta", longName, "\xE2\x82\xAC" + smile}));

  KeyFigures figures;
  ASSERT_EQ(registry_.QueryInfoKey(key_, figures), kSuccess);
  EXPECT_EQ(figures.subkeyCount, 4u);
  EXPECT_EQ(figures.valueCount, 0u);
  EXPECT_EQ(figures.maxSubkeyNameLength, 200u) << "in UTF-16 code units";
  EXPECT_NE(figures.lastWriteTime, 0u);

  const HKey wide = Create("wide");
  ASSERT_EQ(registry_.CloseKey(Create("wide\\" + smile + smile)), kSuccess);
  ASSERT_EQ(registry_.QueryInfoKey(wide, figures), kSuccess);
  EXPECT_EQ(figures.maxSubkeyNameLength, 4u) << "two surrogate pairs";
  EXPECT_EQ(Names(wide), std::vector<std::string>{smile + smile});
  registry_.CloseKey(wide);
}

TEST_F(WindowsRegistryTest, HandlesAreTrackedAndBadOnesRefused) {
  const std::size_t before = registry_.OpenHandleCount();
  HKey software{};
  ASSERT_EQ(registry_.OpenKey(HKeyLocalMachine, "Software", KEY_READ, software), kSuccess);
  HKey again{};
  ASSERT_EQ(registry_.OpenKey(software, "", KEY_READ, again), kSuccess);
  EXPECT_NE(again, software);
  EXPECT_EQ(registry_.OpenHandleCount(), before + 2);
  EXPECT_EQ(registry_.CloseKey(again), kSuccess);
  EXPECT_EQ(registry_.CloseKey(software), kSuccess);
  EXPECT_EQ(registry_.OpenHandleCount(), before);

  EXPECT_EQ(registry_.CloseKey(software), kInvalidHandle) << "closed twice";
  HKey key{};
  EXPECT_EQ(registry_.OpenKey(software, "x", KEY_READ, key), kInvalidHandle);
  EXPECT_EQ(registry_.OpenKey(key_, "No\\Such\\Key", KEY_READ, key), kFileNotFound);
  EXPECT_EQ(registry_.CloseKey(HKeyLocalMachine), kSuccess) << "roots are not closed";

  const auto drive = registry_.DriveFolderOf(HKeyLocalMachine);
  ASSERT_TRUE(drive);
  EXPECT_EQ(*drive, drive->root_path());
  EXPECT_EQ(registry_.DriveFolderOf(key_), drive);
  EXPECT_FALSE(registry_.DriveFolderOf(software)) << "a closed handle";
}

using orbel::testing::TempFolder;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TEST(WindowsRegistryImages, AnExistingPathIsOpenedAsAnImageBesideTheRealRegistry) {
  TempFolder folder;
  folder.Write("prefix\\system.reg",
               "WINE REGISTRY Version 2\n\n"
               "[Software\\\\Classes\\\\CLSID\\\\{ORBEL-IMAGE}] 1600000000\n@=\"Image class\"\n");
  fs::create_directories(folder.path() / "prefix" / "drive_c");
  WindowsRegistry registry;

  HKey machine{};
  ASSERT_EQ(
      registry.ConnectRegistry("\\\\" + Utf8(folder.path() / "prefix"), HKeyLocalMachine, machine),
      kSuccess)
      << registry.LastConnectError();
  EXPECT_EQ(registry.DriveFolderOf(machine), folder.path() / "prefix" / "drive_c");
  HKey cls{};
  ASSERT_EQ(registry.OpenKey(machine, "Software\\Classes\\CLSID\\{orbel-image}", KEY_READ, cls),
            kSuccess);
  std::vector<std::byte> data(64);
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  std::uint32_t type = 0;
  ASSERT_EQ(registry.QueryValue(cls, "", &type, data.data(), &size), kSuccess);
  data.resize(size);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(data, Utf16LeStringValue("Image class"));
  EXPECT_EQ(registry.DriveFolderOf(cls), folder.path() / "prefix" / "drive_c");
  EXPECT_EQ(registry.SetValue(cls, "x", REG_DWORD, Dword(1)), kAccessDenied)
      << "an image is read-only";

  HKey classes{};
  ASSERT_EQ(registry.ConnectRegistry(Utf8(folder.path() / "prefix"), HKeyClassesRoot, classes),
            kSuccess);
  KeyFigures figures;
  HKey list{};
  ASSERT_EQ(registry.OpenKey(classes, "CLSID", KEY_READ, list), kSuccess);
  ASSERT_EQ(registry.QueryInfoKey(list, figures), kSuccess);
  EXPECT_EQ(figures.subkeyCount, 1u);

  // Keys of the image and of the real registry live side by side, each
  // handle reaching its own.
  HKey real{};
  ASSERT_EQ(registry.OpenKey(HKeyLocalMachine, "Software", KEY_READ, real), kSuccess);
  const std::set<HKey, bool (*)(HKey, HKey)> distinct(
      {machine, cls, classes, list, real}, [](HKey a, HKey b) { return a.value < b.value; });
  EXPECT_EQ(distinct.size(), 5u);
  EXPECT_EQ(registry.OpenKey(real, "Classes\\CLSID\\{ORBEL-IMAGE}", KEY_READ, cls), kFileNotFound);
  EXPECT_EQ(registry.OpenHandleCount(), 5u);
  for (HKey key : {machine, cls, classes, list, real}) EXPECT_EQ(registry.CloseKey(key), kSuccess);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(WindowsRegistryImages, ConnectFailuresSayWhy) {
  TempFolder folder;
  WindowsRegistry registry;
  HKey key{};
  // A bare name is a computer, even when a folder of that name holding a
  // registry is at hand; with a path in front it is that folder.
  folder.Write("ORBEL-NO-SUCH-PC\\system.reg",
               "WINE REGISTRY Version 2\n\n[Software\\\\Classes\\\\CLSID\\\\{X}] 1600000000\n");
  const fs::path before = fs::current_path();
  fs::current_path(folder.path());
  EXPECT_NE(registry.ConnectRegistry("\\\\ORBEL-NO-SUCH-PC", HKeyLocalMachine, key), kSuccess);
  EXPECT_NE(registry.LastConnectError().find("ORBEL-NO-SUCH-PC"), std::string::npos)
      << registry.LastConnectError();
  EXPECT_NE(registry.ConnectRegistry("ORBEL-NO-SUCH-PC", HKeyLocalMachine, key), kSuccess);
  const Status local = registry.ConnectRegistry(".\\ORBEL-NO-SUCH-PC", HKeyLocalMachine, key);
  EXPECT_EQ(local, kSuccess) << registry.LastConnectError();
  if (local == kSuccess) registry.CloseKey(key);
  fs::current_path(before);

  const fs::path notes = folder.Write("notes.txt", "just some text\n");
  EXPECT_EQ(registry.ConnectRegistry(Utf8(notes), HKeyLocalMachine, key), kBadNetPath);
  EXPECT_NE(registry.LastConnectError().find("notes.txt"), std::string::npos)
      << registry.LastConnectError();

  const fs::path export_ = folder.Write(
      "export.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{E}]\r\n");
  EXPECT_EQ(registry.ConnectRegistry(Utf8(export_), HKeyCurrentUser, key), kFileNotFound);
  EXPECT_NE(registry.LastConnectError().find("only HKEY_LOCAL_MACHINE"), std::string::npos)
      << registry.LastConnectError();
#ifndef ORBEL_HAVE_HIVEX
  const fs::path hive = folder.Write("UsrClass.dat", std::string("regf") + std::string(4092, '\0'));
  EXPECT_EQ(registry.ConnectRegistry(Utf8(hive), HKeyLocalMachine, key), kBadNetPath);
  EXPECT_NE(registry.LastConnectError().find("UsrClass.dat: reading hive files needs libhivex"),
            std::string::npos)
      << registry.LastConnectError();
#endif
  EXPECT_EQ(registry.ConnectRegistry(Utf8(notes), HKey{0x1234}, key), kInvalidHandle);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);

  // No name is this computer.
  ASSERT_EQ(registry.ConnectRegistry("", HKeyLocalMachine, key), kSuccess)
      << registry.LastConnectError();
  EXPECT_EQ(registry.LastConnectError(), "");
  EXPECT_TRUE(registry.DriveFolderOf(key));
  HKey software{};
  EXPECT_EQ(registry.OpenKey(key, "Software", KEY_READ, software), kSuccess);
  registry.CloseKey(software);
  registry.CloseKey(key);
}

}  // namespace
}  // namespace orbel::platform

#endif  // _WIN32
