#include <gtest/gtest.h>

#include "model/COLEObjectRegistrySettingsUnit.h"
#include "platform/api/PortableRegistry.h"
#include "support/MemoryRegistry.h"

namespace orbel {
namespace {

using platform::HKeyLocalMachine;
using testing::MemoryRegistry;

const std::string kClsid = "Software\\Classes\\CLSID\\";

// 1998-07-05 23:30 UTC.
constexpr platform::FileTime kJuly5th1998 = (899681400ull + 11644473600ull) * 10000000ull;

class RegistrationRecordTest : public ::testing::Test {
 protected:
  // Reads the record of `guid` the way the loader positions its reader.
  COLEObjectRegistrySettings Read(const std::string& guid) {
    TPatchRegistry reader(registry.api);
    reader.SelectRoot(HKeyLocalMachine);
    EXPECT_TRUE(reader.OpenPath("Software\\Classes\\CLSID"));
    EXPECT_TRUE(reader.OpenPath(guid));
    return COLEObjectRegistrySettings(reader);
  }
  platform::Store::Node Key(const std::string& guid, const std::string& subkey = "") {
    return registry.machine->EnsurePath(kClsid + guid + (subkey.empty() ? "" : "\\" + subkey));
  }
  void Default(const std::string& guid, const std::string& subkey, const std::string& text) {
    registry.machine->PutString(Key(guid, subkey), "", text);
  }

  MemoryRegistry registry;
};

TEST_F(RegistrationRecordTest, AnEmptyClassKeyIsUnknownButForItsIdentityAndDate) {
  registry.machine->SetLastWrite(Key("{EMPTY}"), kJuly5th1998);
  const auto r = Read("{EMPTY}");
  for (const FieldText* field :
       {&r.Name, &r.InprocServer, &r.InprocServer32, &r.ThreadingModel, &r.LocalServer,
        &r.LocalServer32, &r.InProcHandler, &r.InProcHandler32, &r.HandlerThreadingModel,
        &r.ToolboxBitmap, &r.ToolboxBitmap32, &r.ProgID, &r.VersionIndependentProgID,
        &r.OLE1Class, &r.Version, &r.DefaultIcon, &r.MiscStatus, &r.TypeLibName,
        &r.ConvertToName}) {
    EXPECT_EQ(*field, "<Unknown>");
  }
  EXPECT_EQ(r.Guid, "{EMPTY}");
  EXPECT_EQ(r.RegistryPath, "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{EMPTY}\\");
  EXPECT_EQ(r.LastChange, "1998/07/05") << "UTC, whatever the local time zone";
  EXPECT_FALSE(r.IsInsertable || r.IsProgrammable || r.IsControl || r.IsShellExtension ||
               r.IsDocObject);
  EXPECT_TRUE(r.OtherSubkeyNames.empty());
  EXPECT_TRUE(r.OtherSubkeyValues.empty());
}

TEST_F(RegistrationRecordTest, GuidIsTheKeyNameUpperCased) {
  Key("{00000300-0000-0000-c000-000000000046}");
  EXPECT_EQ(Read("{00000300-0000-0000-c000-000000000046}").Guid,
            "{00000300-0000-0000-C000-000000000046}");
}

TEST_F(RegistrationRecordTest, DatesAreUtcCalendarDays) {
  EXPECT_EQ(COLEObjectRegistrySettings::DateOf(0), "");
  EXPECT_EQ(COLEObjectRegistrySettings::DateOf(864'000'000'000ull - 1), "") << "still 1601-01-01";
  EXPECT_EQ(COLEObjectRegistrySettings::DateOf(864'000'000'000ull), "1601/01/02");
  EXPECT_EQ(COLEObjectRegistrySettings::DateOf(kJuly5th1998), "1998/07/05");
  EXPECT_EQ(COLEObjectRegistrySettings::DateOf(kJuly5th1998 + 36'000'000'000ull), "1998/07/06");
  EXPECT_EQ(COLEObjectRegistrySettings::DateOf(0x7FFFFFFFFFFFFFFFull), "30828/09/14");
  EXPECT_EQ(COLEObjectRegistrySettings::DateOf(0x8000000000000000ull), "") << "beyond the calendar";
  Key("{ZERO}");
  EXPECT_EQ(Read("{ZERO}").LastChange, "<Unknown>");
}

TEST_F(RegistrationRecordTest, ReadsEveryFieldFromItsOwnSubkey) {
  const std::string g = "{FULL}";
  Default(g, "", "Full Class");
  const std::vector<std::pair<std::string, std::string>> subkeys = {
      {"InprocServer", "full16.dll"},       {"InprocServer32", "full32.dll"},
      {"LocalServer", "full16.exe"},        {"LocalServer32", "full32.exe /Automation"},
      {"InProcHandler", "ole2.dll"},        {"InProcHandler32", "ole32.dll"},
      {"ToolboxBitmap", "full16.dll,1"},    {"ToolboxBitmap32", "full32.dll,2"},
      {"ProgID", "Full.Class.1"},           {"VersionIndependentProgID", "Full.Class"},
      {"OLE1Class", "FullOle1"},            {"Version", "1.0"},
      {"DefaultIcon", "full32.dll,-3"},     {"MiscStatus", "131473"},
  };
  for (const auto& [subkey, value] : subkeys) Default(g, subkey, value);
  registry.machine->PutString(Key(g, "InprocServer32"), "ThreadingModel", "Apartment");
  registry.machine->PutString(Key(g, "InProcHandler32"), "ThreadingModel", "Both");
  registry.machine->PutString(Key(g, "InprocServer"), "ThreadingModel", "Free");

  const auto r = Read(g);
  EXPECT_EQ(r.Name, "Full Class");
  EXPECT_EQ(r.InprocServer, "full16.dll");
  EXPECT_EQ(r.InprocServer32, "full32.dll");
  EXPECT_EQ(r.ThreadingModel, "Apartment") << "read from InprocServer32 only";
  EXPECT_EQ(r.LocalServer, "full16.exe");
  EXPECT_EQ(r.LocalServer32, "full32.exe /Automation");
  EXPECT_EQ(r.InProcHandler, "ole2.dll");
  EXPECT_EQ(r.InProcHandler32, "ole32.dll");
  EXPECT_EQ(r.HandlerThreadingModel, "Both");
  EXPECT_EQ(r.ToolboxBitmap, "full16.dll,1");
  EXPECT_EQ(r.ToolboxBitmap32, "full32.dll,2");
  EXPECT_EQ(r.ProgID, "Full.Class.1");
  EXPECT_EQ(r.VersionIndependentProgID, "Full.Class");
  EXPECT_EQ(r.OLE1Class, "FullOle1");
  EXPECT_EQ(r.Version, "1.0");
  EXPECT_EQ(r.DefaultIcon, "full32.dll,-3");
  EXPECT_EQ(r.MiscStatus, "131473");
  EXPECT_TRUE(r.OtherSubkeyNames.empty()) << "every interpreted subkey is consumed";
}

TEST_F(RegistrationRecordTest, MiscStatusZeroMeansNothing) {
  Default("{M0}", "MiscStatus", "0");
  Default("{M00}", "MiscStatus", "00");
  EXPECT_EQ(Read("{M0}").MiscStatus, "<Unknown>");
  EXPECT_EQ(Read("{M00}").MiscStatus, "00");
}

TEST_F(RegistrationRecordTest, TypeLibraryNameIsLookedUpAtTheClassVersion) {
  registry.Text("Software\\Classes\\TypeLib\\{LIB}\\1.0", "", "Sample Library 1.0");
  registry.Text("Software\\Classes\\TypeLib\\{LIB}\\2.0", "", "Sample Library 2.0");
  Default("{NOVERSION}", "TypeLib", "{LIB}");
  Default("{V2}", "TypeLib", "{lib}");
  Default("{V2}", "Version", "2.0");
  Default("{V3}", "TypeLib", "{LIB}");
  Default("{V3}", "Version", "3.0");
  Default("{NOLIB}", "Version", "1.0");
  EXPECT_EQ(Read("{NOVERSION}").TypeLibName, "<Unknown>");
  EXPECT_EQ(Read("{V2}").TypeLibName, "Sample Library 2.0");
  EXPECT_EQ(Read("{V3}").TypeLibName, "<Unknown>") << "not the identifier";
  EXPECT_EQ(Read("{NOLIB}").TypeLibName, "<Unknown>");
}

TEST_F(RegistrationRecordTest, ConvertToNameIsTheTargetClassName) {
  Default("{TARGET}", "", "Target Class");
  Default("{OLD}", "AutoConvertTo", "{TARGET}");
  Default("{DANGLING}", "AutoConvertTo", "{NOT-REGISTERED}");
  EXPECT_EQ(Read("{OLD}").ConvertToName, "Target Class");
  EXPECT_EQ(Read("{DANGLING}").ConvertToName, "<Unknown>");
}

TEST_F(RegistrationRecordTest, ConsumedSubkeysNeverBecomeExtras) {
  const std::string g = "{CONSUMED}";
  for (const char* subkey : {"verb", "ThreadingModel", "{40FC6ED3-2438-11CF-A3DB-080036F12502}",
                             "TreatAs", "Control", "SHELLEX", "Implemented Categories"}) {
    Default(g, subkey, "has a value");
  }
  Default(g, "AuxUserType", "Aux");
  Default(g, "Conversion", "Readable");
  Key(g, "NoDefault");
  Default(g, "LiteralUnknown", "<Unknown>");
  Default(g, "Empty", "");
  const auto r = Read(g);
  EXPECT_EQ(r.OtherSubkeyNames, (std::vector<std::string>{"AuxUserType", "Conversion"}));
  EXPECT_EQ(r.OtherSubkeyValues, (std::vector<std::string>{"Aux", "Readable"}));
  EXPECT_TRUE(r.IsControl);
  EXPECT_TRUE(r.IsShellExtension);
  EXPECT_FALSE(r.IsInsertable) << "a category GUID directly under the class key is no category";
}

// Past the first 64 subkeys the pending ones are kept apart; they are
// consumed and kept all the same.
TEST_F(RegistrationRecordTest, AClassWithManySubkeysKeepsEveryExtra) {
  const std::string g = "{MANY}";
  std::vector<std::string> extras;
  for (int i = 0; i < 70; ++i) {
    extras.push_back("Extra" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    Default(g, extras.back(), "value " + std::to_string(i));
  }
  Default(g, "ProgID", "Many.1");
  Default(g, "Verb", "consumed");
  Default(g, "Zeta", "last");
  const auto r = Read(g);
  extras.push_back("Zeta");
  EXPECT_EQ(r.ProgID, "Many.1");
  EXPECT_EQ(r.OtherSubkeyNames, extras);
  ASSERT_EQ(r.OtherSubkeyValues.size(), extras.size());
  EXPECT_EQ(r.OtherSubkeyValues[69], "value 69");
  EXPECT_EQ(r.OtherSubkeyValues.back(), "last");
}

TEST_F(RegistrationRecordTest, CategoryFlagsFromCategoriesOrPlainSubkeys) {
  const std::string categories = "Implemented Categories\\";
  Key("{INS}", categories + "{40FC6ED3-2438-11CF-A3DB-080036F12502}");
  Key("{PROG}", categories + "{40fc6ed5-2438-11cf-a3db-080036f12502}");
  Key("{PROG2}", "Programmable");
  Key("{CTL}", categories + "{40FC6ED4-2438-11CF-A3DB-080036F12502}");
  Key("{DOC}", categories + "{40FC6ED8-2438-11CF-A3DB-080036F12502}");
  Key("{SHELL}", "ShellExplorerRoot");
  Key("{FOLDER}", "ShellFolder");
  Key("{OTHERCAT}", categories + "{00000000-0000-0000-0000-000000000001}");
  EXPECT_TRUE(Read("{INS}").IsInsertable);
  EXPECT_TRUE(Read("{PROG}").IsProgrammable);
  EXPECT_TRUE(Read("{PROG2}").IsProgrammable);
  EXPECT_TRUE(Read("{CTL}").IsControl);
  EXPECT_TRUE(Read("{DOC}").IsDocObject);
  EXPECT_TRUE(Read("{SHELL}").IsShellExtension);
  EXPECT_TRUE(Read("{FOLDER}").IsShellExtension);
  const auto other = Read("{OTHERCAT}");
  EXPECT_FALSE(other.IsInsertable || other.IsProgrammable || other.IsControl ||
               other.IsShellExtension || other.IsDocObject);
  EXPECT_TRUE(other.OtherSubkeyNames.empty());
}

TEST_F(RegistrationRecordTest, ANonStringDefaultValueStopsTheReading) {
  registry.machine->PutDword(Key("{NUMBER}"), "", 5);
  registry.machine->PutDword(Key("{THREADS}", "InprocServer32"), "ThreadingModel", 1);
  try {
    Read("{NUMBER}");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for ''");
  }
  try {
    Read("{THREADS}");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'ThreadingModel'");
  }
  EXPECT_EQ(registry.api.OpenHandleCount(), 0u) << "the short-lived readers closed their keys";
}

// The type library and the convert-to class of a class read from another
// machine are that machine's, not this computer's.
TEST_F(RegistrationRecordTest, LookupsOnAnotherMachineUseThatMachine) {
  auto remote = std::make_shared<platform::MemoryStore>();
  registry.api.SetConnector([remote](std::string_view, platform::HKey, platform::Mount& out,
                                     std::string&) {
    out = {remote, remote->RootNode(), std::nullopt};
    return platform::kSuccess;
  });
  registry.Text("Software\\Classes\\TypeLib\\{LIB}\\1.0", "", "Local Library");
  registry.Text(kClsid + "{TARGET}", "", "Local Target");
  auto put = [&](const std::string& path, const std::string& text) {
    remote->PutString(remote->EnsurePath(path), "", text);
  };
  put("Software\\Classes\\TypeLib\\{LIB}\\1.0", "Remote Library");
  put(kClsid + "{TARGET}", "Remote Target");
  put(kClsid + "{CLASS}\\TypeLib", "{LIB}");
  put(kClsid + "{CLASS}\\Version", "1.0");
  put(kClsid + "{CLASS}\\AutoConvertTo", "{TARGET}");

  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.ConnectRemote("\\\\OTHER"));
  ASSERT_TRUE(reader.OpenPath("Software\\Classes\\CLSID"));
  ASSERT_TRUE(reader.OpenPath("{CLASS}"));
  const COLEObjectRegistrySettings r(reader);
  EXPECT_EQ(r.TypeLibName, "Remote Library");
  EXPECT_EQ(r.ConvertToName, "Remote Target");
  EXPECT_EQ(r.RegistryPath, "<Unknown>\\Software\\Classes\\CLSID\\{CLASS}\\");
}

// A store whose class key cannot list its subkeys though each can be opened
// by name, as a key with a damaged list on another computer.
class UnlistableStore : public platform::MemoryStore {
 public:
  platform::Status SubkeyName(Node node, std::uint32_t index, std::string& out) override {
    if (node == unlistable) return platform::kBadDb;
    return MemoryStore::SubkeyName(node, index, out);
  }
  Node unlistable = 0;
};

// The record used to skip every subkey its list did not give, so a class key
// whose list could not be read showed "<Unknown>" everywhere.
TEST(RegistrationRecordDamage, NamedSubkeysAreOpenedWhenTheListCannotBeRead) {
  auto store = std::make_shared<UnlistableStore>();
  store->unlistable = store->EnsurePath(kClsid + "{DAMAGED}");
  store->PutString(store->EnsurePath(kClsid + "{DAMAGED}\\InprocServer32"), "", "server.dll");
  store->PutString(store->EnsurePath(kClsid + "{DAMAGED}\\InprocServer32"), "ThreadingModel",
                   "Both");
  store->EnsurePath(kClsid + "{DAMAGED}\\Control");
  store->PutString(store->EnsurePath(kClsid + "{DAMAGED}\\Extra"), "", "not listed");
  platform::PortableRegistry api;
  api.MountRoot(HKeyLocalMachine, {store, store->RootNode(), std::nullopt});
  TPatchRegistry reader(api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.OpenPath(kClsid + "{DAMAGED}"));
  const COLEObjectRegistrySettings r(reader);
  EXPECT_EQ(r.SubkeysNotListed, 3u);
  EXPECT_EQ(r.InprocServer32, "server.dll");
  EXPECT_EQ(r.ThreadingModel, "Both");
  EXPECT_TRUE(r.IsControl);
  EXPECT_EQ(r.LocalServer32, "<Unknown>") << "absent stays absent";
  EXPECT_TRUE(r.OtherSubkeyNames.empty()) << "what was not listed cannot be an extra";
}

}  // namespace
}  // namespace orbel
