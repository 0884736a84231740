#include "model/COLEObjectUnit.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/objects/ObjectHelper.h"
#include "support/FakeScreen.h"
#include "support/MemoryRegistry.h"
#include "support/RecordingControls.h"

namespace orbel {
namespace {

using platform::HKeyLocalMachine;
using testing::FakeScreen;
using testing::MemoryRegistry;
using testing::RecordingImages;
using testing::RecordingList;

const std::string kClsid = "Software\\Classes\\CLSID\\";

// Finds no icon anywhere, so every row keeps its fixed image.
class NoIcons : public IconExtractor {
 public:
  platform::ExtractedIcon Extract(const std::string&, std::int32_t) override { return {}; }
};

class ObjectEntryTest : public ::testing::Test {
 protected:
  std::unique_ptr<COLEObject> Entry(const std::string& guid) {
    TPatchRegistry reader(registry.api);
    reader.SelectRoot(HKeyLocalMachine);
    EXPECT_TRUE(reader.OpenPath("Software\\Classes\\CLSID"));
    EXPECT_TRUE(reader.OpenPath(guid));
    return std::make_unique<COLEObject>(reader, &list, &small, &large, std::make_shared<NoIcons>());
  }
  void Default(const std::string& guid, const std::string& subkey, const std::string& text) {
    registry.Text(kClsid + guid + (subkey.empty() ? "" : "\\" + subkey), "", text);
  }
  void Flag(const std::string& guid, const std::string& subkey) {
    registry.machine->EnsurePath(kClsid + guid + "\\" + subkey);
  }
  // A class with the given identifiers ("" = none) and category subkeys.
  std::int32_t KindOf(const std::string& vipid, const std::string& pid,
                      std::vector<std::string> flags = {}) {
    const std::string guid = "{K" + std::to_string(++counter) + "}";
    Flag(guid, "x");
    if (!vipid.empty()) Default(guid, "VersionIndependentProgID", vipid);
    if (!pid.empty()) Default(guid, "ProgID", pid);
    for (const auto& flag : flags) Flag(guid, flag);
    return Entry(guid)->Kind;
  }

  MemoryRegistry registry;
  RecordingList list;
  RecordingImages small, large;
  int counter = 0;
};

TEST_F(ObjectEntryTest, KindFollowsTheFirstRuleThatHolds) {
  const std::string doc = "Implemented Categories\\{40FC6ED8-2438-11CF-A3DB-080036F12502}";
  EXPECT_EQ(KindOf("Pad.Document", "Pad.Document.3", {"Programmable"}), KindDocument);
  EXPECT_EQ(KindOf("", "", {doc, "Control"}), KindDocument);
  EXPECT_EQ(KindOf("Calc.Application", ""), KindAutomation);
  EXPECT_EQ(KindOf("Foo.AppServer", ""), KindAutomation) << "\".App\" occurs in it";
  EXPECT_EQ(KindOf("", "Foo.Lib.2"), KindAutomation);
  EXPECT_EQ(KindOf("", "Foo.Library.1"), KindAutomation);
  EXPECT_EQ(KindOf("", "Foo.Application"), KindOther) << "the ProgID test needs a trailing dot";
  EXPECT_EQ(KindOf("Foo.app", "", {"Insertable"}), KindEmbeddable) << "case matters";
  EXPECT_EQ(KindOf("", "", {"Control", "Insertable"}), KindControl);
  EXPECT_EQ(KindOf("", "", {"ShellEx", "Insertable"}), KindShellExtension);
  EXPECT_EQ(KindOf("", "", {"Insertable"}), KindEmbeddable);
  EXPECT_EQ(KindOf("", ""), KindOther);
  EXPECT_EQ(KindDisplayName(KindOther), "Other/Unknown Object");
  EXPECT_EQ(KindDisplayName(12345), "Other/Unknown Object");
  EXPECT_EQ(KindDisplayName(KindAutomation), "Automation/Programmable Object");
}

TEST_F(ObjectEntryTest, DisplayNameIsAVellTypeLibraryOrTheClassName) {
  registry.Text("Software\\Classes\\TypeLib\\{LIB}\\1.0", "", "Vell Sample Controls");
  registry.Text("Software\\Classes\\TypeLib\\{OTHER}\\1.0", "", "vell lower case");
  Default("{A}", "", "Class A");
  Default("{A}", "TypeLib", "{LIB}");
  Default("{A}", "Version", "1.0");
  Default("{B}", "", "Class B");
  Default("{B}", "TypeLib", "{OTHER}");
  Default("{B}", "Version", "1.0");
  Flag("{C}", "x");
  EXPECT_EQ(Entry("{A}")->DisplayName, "Vell Sample Controls");
  EXPECT_EQ(Entry("{B}")->DisplayName, "Class B");
  EXPECT_EQ(Entry("{C}")->DisplayName, "<Unknown>");
}

TEST_F(ObjectEntryTest, FillsTheRowsInOrderAndHidesUnknownOnRequest) {
  Default("{R}", "", "Row Class");
  Default("{R}", "InprocServer32", "row.dll");
  Default("{R}", "Zeta", "extra z");
  Default("{R}", "Alpha", "extra a");
  auto entry = Entry("{R}");
  entry->FillValueList();
  ASSERT_EQ(list.rows.size(), 25u);
  EXPECT_EQ(list.depth, 0) << "the update bracket is closed";
  const std::vector<std::string> expected = {
      "Name", "Type", "GUID", "RegPath", "Convert to", "COM Name (with Version)",
      "COM Name (no Version)", "OLE 1.0 Name", "Type Library Name", "Last change",
      "Control (16bit)", "Control", "Threading", "Server (16bit)", "Server", "Handler (16bit)",
      "Handler", "Handler Threading", "Development Icon (16bit)", "Development Icon",
      "Default Icon", "Version", "Misc. Settings", "Alpha", "Zeta"};
  EXPECT_EQ(list.Captions(), expected);
  EXPECT_EQ(list.rows[11].value, "row.dll");
  EXPECT_EQ(list.rows[11].image, 10);
  EXPECT_EQ(list.rows[2].image, 2);
  EXPECT_EQ(list.rows[24].image, 0) << "extra rows";

  entry->HideUnknown = true;
  entry->FillValueList();
  EXPECT_EQ(list.Captions(), (std::vector<std::string>{"Name", "Type", "GUID", "RegPath",
                                                       "Control", "Alpha", "Zeta"}));
}

TEST_F(ObjectEntryTest, AllUnknownStillShowsTypeAndPath) {
  Flag("{U}", "x");
  auto entry = Entry("{U}");
  entry->HideUnknown = true;
  entry->FillValueList();
  EXPECT_EQ(list.Captions(), (std::vector<std::string>{"Type", "GUID", "RegPath"}));
}

TEST_F(ObjectEntryTest, GetValueOutsideTheTableSaysSo) {
  Flag("{G}", "x");
  FakeScreen screen;
  auto entry = Entry("{G}");
  EXPECT_EQ(entry->GetValue(6), "");
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_EQ(entry->GetValue(25), "");
  EXPECT_EQ(entry->GetValue(0), "");
  ASSERT_EQ(screen.messages.size(), 2u);
  EXPECT_EQ(screen.messages[0].text, "Unknown value in GetValue (COLEObject) of 25");
  EXPECT_EQ(screen.messages[1].text, "Unknown value in GetValue (COLEObject) of 0");
}

TEST_F(ObjectEntryTest, FindGivesTheRowOfTheFirstMatchingValue) {
  Default("{F}", "", "Sample Grid");
  Flag("{F}", "Control");
  Default("{F}", "InprocServer32", "grid.ocx");
  registry.machine->PutString(registry.machine->EnsurePath(kClsid + "{F}\\InprocServer32"),
                              "ThreadingModel", "Apartment");
  Default("{F}", "Extra", "needle in the extras");
  auto entry = Entry("{F}");
  struct Case {
    std::string text;
    bool matchCase, wholeValue;
    bool found;
    int index;
  };
  const std::vector<Case> cases = {
      {"control", false, false, true, 2},     // "ActiveX/OCX Control"
      {"control", true, false, false, 0},
      {"Apartment", false, true, true, 13},
      {"apart", false, true, false, 0},
      {"clsid", false, false, true, 4},
      {"<Unknown>", false, true, false, 0},
      {"<Unknown>", false, false, false, 0},
      {"", false, false, false, 0},
      {"", false, true, false, 0},
      {"NEEDLE", false, false, true, 24},
      {"needle in the extras", true, true, true, 24},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(entry->Find(c.text, c.matchCase, c.wholeValue), c.found) << c.text;
    EXPECT_EQ(entry->FoundIndex, c.index) << c.text;
  }
}

TEST_F(ObjectEntryTest, FindPassesOverUnknownButNotPathsThatHoldIt) {
  auto remote = std::make_shared<platform::MemoryStore>();
  remote->EnsurePath(kClsid + "{REMOTE}\\x");
  registry.api.SetConnector([remote](std::string_view, platform::HKey, platform::Mount& out,
                                     std::string&) {
    out = {remote, remote->RootNode(), std::nullopt};
    return platform::kSuccess;
  });
  TPatchRegistry reader(registry.api);
  reader.SelectRoot(HKeyLocalMachine);
  ASSERT_TRUE(reader.ConnectRemote("\\\\OTHER"));
  ASSERT_TRUE(reader.OpenPath("Software\\Classes\\CLSID\\{REMOTE}"));
  COLEObject entry(reader, &list, &small, &large, std::make_shared<NoIcons>());
  EXPECT_TRUE(entry.Find("<Unknown>", false, false));
  EXPECT_EQ(entry.FoundIndex, 4);
}

TEST_F(ObjectEntryTest, SelectFoundRowCountsOnlyTheShownRows) {
  Default("{S}", "", "Selectable");
  Default("{S}", "Extra", "findme");
  auto entry = Entry("{S}");
  ASSERT_TRUE(entry->Find("findme", false, true));
  ASSERT_EQ(entry->FoundIndex, 24);

  entry->FillValueList();
  entry->SelectFoundRow();
  EXPECT_TRUE(list.focused);
  EXPECT_EQ(list.selected, 23);

  entry->HideUnknown = true;
  entry->FillValueList();
  entry->SelectFoundRow();
  EXPECT_EQ(list.selected, 4) << "Name, Type, GUID, RegPath, then the extra";
  EXPECT_EQ(list.rows[4].value, "findme");

  ASSERT_TRUE(entry->Find("selectable", false, true));
  list.rows.clear();
  list.selected = -1;
  entry->SelectFoundRow();  // no such row: nothing happens
  EXPECT_EQ(list.selected, -1);
}

// Records the calls of an object test and answers from a script.
class ScriptedCreation : public platform::ObjectCreation {
 public:
  bool ClassIdFromProgId(const std::string& progId, std::string& classId) override {
    tried.push_back(progId);
    classId = "clsid";
    return resolves;
  }
  bool CreateInstance(const std::string&, void*& unknown) override {
    if (!creates) return false;
    unknown = &object;
    ++live;
    return true;
  }
  bool QueryDispatch(void*, void*& dispatch) override {
    if (!dispatches) return false;
    dispatch = &object;
    ++live;
    return true;
  }
  void Release(void*) override { --live; }

  bool resolves = true, creates = true, dispatches = true;
  std::vector<std::string> tried;
  int live = 0;
  int object = 0;
};

TEST_F(ObjectEntryTest, TestCreateTriesTheIdentifiersAndReportsTheOutcome) {
  Default("{PID}", "ProgID", "X.Y.1");
  Default("{BOTH}", "ProgID", "X.Y.1");
  Default("{BOTH}", "VersionIndependentProgID", "X.Y");
  Flag("{NONE}", "x");
  FakeScreen screen;
  ScriptedCreation creation;

  Entry("{PID}")->TestCreate(creation);
  ASSERT_EQ(creation.tried, std::vector<std::string>{"X.Y.1"});
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(screen.messages[0].text,
            "The object 'X.Y.1' was succesfully created and seems to be OK.");
  EXPECT_FALSE(screen.messages[0].busyWhileShown);
  EXPECT_EQ(creation.live, 0) << "both references released";

  creation.dispatches = false;
  Entry("{BOTH}")->TestCreate(creation);
  EXPECT_EQ(creation.tried.back(), "X.Y");
  EXPECT_EQ(screen.messages.back().kind, MessageKind::Error);
  EXPECT_EQ(screen.messages.back().text,
            "Vell Orbel was unable to create the object 'X.Y'.\n\nNote: This does not "
            "automatically mean that this object is corrupt! Some objects simply can't be "
            "tested with Vell Orbel.");
  EXPECT_EQ(creation.live, 0);

  const auto tries = creation.tried.size();
  Entry("{NONE}")->TestCreate(creation);
  EXPECT_EQ(creation.tried.size(), tries) << "nothing is created without a name";
  EXPECT_EQ(screen.messages.back().text,
            "No COM/OLE name is available for this object. Vell Orbel is unable to test objects "
            "without OLE names.\n\nPlease choose another object and try again.");
  EXPECT_FALSE(screen.messages.back().busyWhileShown);
  EXPECT_FALSE(screen.busy);
}

#ifndef _WIN32
// A helper that hangs is stopped; meanwhile the hourglass stays up and the
// window's messages keep running.
TEST_F(ObjectEntryTest, AHangingHelperIsStoppedWhileTheWindowKeepsRunning) {
  Default("{HANGS}", "ProgID", "Hangs.Forever.1");
  FakeScreen screen;
  std::vector<bool> busyWhilePumped;
  screen.onPump = [&] { busyWhilePumped.push_back(screen.busy); };
  platform::HelperObjectCreation creation({{"/bin/sh", "-c", "exec sleep 600"}, {}},
                                          [] { PumpMessages(); }, std::chrono::milliseconds(300));
  Entry("{HANGS}")->TestCreate(creation);
  ASSERT_FALSE(busyWhilePumped.empty());
  EXPECT_EQ(std::count(busyWhilePumped.begin(), busyWhilePumped.end(), false), 0);
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].kind, MessageKind::Error);
  EXPECT_FALSE(screen.busy);
}
#endif

}  // namespace
}  // namespace orbel
