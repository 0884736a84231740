#include "catalogue/COLESettingsUnit.h"

#include <gtest/gtest.h>

#include "catalogue/PlainControls.h"
#include "support/FakeScreen.h"
#include "support/MemoryRegistry.h"

namespace orbel {
namespace {

using platform::HKey;
using platform::Mount;
using testing::FakeScreen;

const std::string kClsid = "Software\\Classes\\CLSID\\";

// A store that refuses to open the keys it is told to, as a computer that
// denies access to some class keys.
class GuardedStore : public platform::MemoryStore {
 public:
  platform::Status FindChild(Node parent, std::string_view name, Node& out) override {
    for (const auto& refused : refusedKeys) {
      if (name == refused) return platform::kAccessDenied;
    }
    return MemoryStore::FindChild(parent, name, out);
  }
  std::vector<std::string> refusedKeys;
};

// Gives every file the same small icon.
class OneIcon : public IconExtractor {
 public:
  platform::ExtractedIcon Extract(const std::string& file, std::int32_t) override {
    if (file != "x.dll") return {};
    return {platform::IconOutcome::Found, std::vector<std::byte>(8, std::byte{1}), ""};
  }
};

class CatalogueTest : public ::testing::Test {
 protected:
  CatalogueTest() {
    api.MountRoot(platform::HKeyLocalMachine, {machine, machine->RootNode(), std::nullopt});
    api.SetConnector([this](std::string_view name, HKey, Mount& out, std::string& error) {
      if (name != "\\\\REMOTE") {
        error = std::string(name) + ": cannot be reached";
        return platform::kBadNetPath;
      }
      out = Mount{remote, remote->RootNode(), std::nullopt};
      return platform::kSuccess;
    });
    tree.selectionHandler = [this](TreeNode node) { selections.push_back(node); };
  }

  void Class(platform::MemoryStore& store, const std::string& guid, const std::string& name,
             const std::vector<std::string>& flags = {}) {
    const auto key = store.EnsurePath(kClsid + guid);
    if (!name.empty()) store.PutString(key, "", name);
    for (const auto& flag : flags) store.EnsureChild(key, flag);
  }
  void Class(const std::string& guid, const std::string& name,
             const std::vector<std::string>& flags = {}) {
    Class(*machine, guid, name, flags);
  }
  TCOLESettings& Catalogue() {
    if (!catalogue) {
      CatalogueWindows windows{&api, &progress, &tree, &list, &small, &large,
                               [this] { return ticks; },
                               [](platform::RegistryApi&, HKey) { return std::make_shared<OneIcon>(); }};
      catalogue = std::make_unique<TCOLESettings>(windows);
    }
    return *catalogue;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int i = 0; i < Catalogue().EntryCount(); ++i) names.push_back(Catalogue().EntryAt(i)->DisplayName);
    return names;
  }
  // The texts of a node's children.
  std::vector<std::string> Children(TreeNode node) {
    std::vector<std::string> texts;
    for (TreeNode child : tree.At(node).children) texts.push_back(tree.At(child).text);
    return texts;
  }
  TreeNode Category(int position) { return tree.At(tree.First()).children.at(position); }

  FakeScreen screen;
  std::shared_ptr<GuardedStore> machine = std::make_shared<GuardedStore>();
  std::shared_ptr<platform::MemoryStore> remote = std::make_shared<platform::MemoryStore>();
  platform::PortableRegistry api;
  PlainProgress progress;
  PlainTree tree;
  PlainList list;
  PlainImages small{17}, large{17};
  std::uint32_t ticks = 1000;
  std::vector<TreeNode> selections;
  std::unique_ptr<TCOLESettings> catalogue;
};

TEST_F(CatalogueTest, ANewCatalogueShowsTheEmptyCategories) {
  Catalogue();
  ASSERT_EQ(tree.Roots().size(), 1u);
  const auto& root = tree.At(tree.First());
  EXPECT_EQ(root.text, "COM Objects");
  EXPECT_EQ(root.image, 2);
  EXPECT_TRUE(root.expanded);
  EXPECT_EQ(Children(tree.First()),
            (std::vector<std::string>{"Embeddable Objects", "Automation Objects", "ActiveX Controls",
                                      "Shell Extensions", "Documents", "Other Objects"}));
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(tree.At(Category(i)).image, 3 + i);
    EXPECT_EQ(tree.At(Category(i)).selectedImage, 3 + i);
    EXPECT_FALSE(tree.At(Category(i)).expanded);
  }
  EXPECT_EQ(Catalogue().InformationText(),
            "Currently there are no objects available. Please select \"View\" -> \"Refresh\" from "
            "the menu to start reading the COM information.");
  EXPECT_EQ(Catalogue().BaseImageCount, 17);
}

TEST_F(CatalogueTest, AReadingSortsCountsAndFillsTheTree) {
  Class("{1}", "zebra control", {"Control"});
  Class("{2}", "Alpha Insertable", {"Insertable"});
  Class("{3}", "beta shell", {"ShellEx"});
  Class("{4}", "sample viewer", {});
  Class("{5}", "Sample Viewer", {});
  Class("{6}", "", {"Programmable"});
  Catalogue().LoadCatalogue();
  auto& c = Catalogue();
  EXPECT_EQ(Names(), (std::vector<std::string>{"<Unknown>", "Alpha Insertable", "beta shell",
                                              "sample viewer", "Sample Viewer", "zebra control"}))
      << "without regard to case; equal names keep their registry order";
  EXPECT_EQ(c.EntriesRead, 6);
  EXPECT_EQ(c.ControlCount, 1);
  EXPECT_EQ(c.EmbeddableCount, 1);
  EXPECT_EQ(c.ShellExtensionCount, 1);
  EXPECT_EQ(c.AutomationCount, 1);
  EXPECT_EQ(c.OtherCount, 2);
  EXPECT_EQ(c.NotReadCount, 0);
  EXPECT_EQ(c.ReadStatus, ReadComplete);
  EXPECT_EQ(c.ViewedComputer, LocalComputerName());
  EXPECT_FALSE(progress.visible) << "the dialog is closed";
  EXPECT_EQ(progress.maximum, 6);
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_EQ(Children(Category(5)), (std::vector<std::string>{"sample viewer", "Sample Viewer"}));
  EXPECT_EQ(Children(Category(1)), std::vector<std::string>{"<Unknown>"});
  const auto& object = tree.At(tree.At(Category(0)).children.front());
  EXPECT_EQ(object.image, 0);
  EXPECT_EQ(object.selectedImage, 1);
  EXPECT_EQ(object.data->DisplayName, "Alpha Insertable");
  EXPECT_FALSE(tree.At(Category(0)).expanded) << "the categories stay closed";
  EXPECT_EQ(c.InformationText(),
            "Status: OK, all available objects have been read.\n\n6 Objects displayed\n\n"
            "1 Embeddable Objects\n1 Automation Objects\n1 ActiveX Controls\n1 Shell Extensions\n"
            "0 Documents\n2 Other Objects\n");
}

TEST_F(CatalogueTest, SortingLooksPastTheFirstEightLettersAndKeepsEqualNamesInOrder) {
  // Registry order is the order of the class keys.
  const char* const names[] = {"Serverbeta",   "serveralpha", "SERVERALPHA", "Server",
                               "Serveralphaz", "Abcdefgh",    "abcdefgh",    "Abcdefg"};
  int n = 0;
  for (const char* name : names) Class("{0" + std::to_string(++n) + "}", name);
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"Abcdefg", "Abcdefgh", "abcdefgh", "Server", "serveralpha",
                                      "SERVERALPHA", "Serveralphaz", "Serverbeta"}));
}

TEST_F(CatalogueTest, AComputerWithoutClassesGivesAnEmptyCompleteReading) {
  machine->EnsurePath("Software\\Classes");
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Catalogue().EntryCount(), 0);
  EXPECT_EQ(Catalogue().ReadStatus, ReadComplete);
  EXPECT_TRUE(screen.messages.empty()) << "no warning";
  Catalogue().ShowInformation();
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].caption, "Information");
  EXPECT_EQ(screen.messages[0].text.substr(0, 34), "Currently there are no objects ava");
}

TEST_F(CatalogueTest, KeysThatCannotBeOpenedAreCountedAndWarnedAbout) {
  Class("{1}", "one");
  Class("{2}", "two");
  Class("{3}", "three");
  machine->refusedKeys = {"{2}"};
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Names(), (std::vector<std::string>{"one", "three"}));
  EXPECT_EQ(Catalogue().NotReadCount, 1);
  EXPECT_EQ(Catalogue().ReadStatus, ReadDenied);
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].kind, MessageKind::Warning);
  EXPECT_EQ(screen.messages[0].text,
            "Some objects could not be read because the computer has denid the access.\n\n"
            "1 class keys could not be read.\n\n"
            "Please see \"File\" -> \"Information\" for further details.");
  EXPECT_EQ(Catalogue().InformationText().substr(0, 60),
            "Status: The computer has denid the access to 1 objects.\n\n2 O");
}

// A class key whose value has the wrong type used to end the whole reading;
// now it gives no entry and the reading goes on.
TEST_F(CatalogueTest, ABadKeyInTheMiddleDoesNotEndTheReading) {
  Class("{1}", "before");
  machine->PutDword(machine->EnsurePath(kClsid + "{2}"), "", 42);
  Class("{3}", "after");
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Names(), (std::vector<std::string>{"after", "before"}));
  EXPECT_EQ(Catalogue().NotReadCount, 1);
  EXPECT_EQ(Catalogue().ReadStatus, ReadDenied);
  ASSERT_EQ(Catalogue().ReadErrors.size(), 1u);
  EXPECT_EQ(Catalogue().ReadErrors[0].key, "{2}");
  EXPECT_EQ(Catalogue().ReadErrors[0].message, "Invalid data type for ''");
  EXPECT_EQ(api.OpenHandleCount(), 0u) << "the reader is gone with its keys";
}

TEST_F(CatalogueTest, CancelKeepsWhatWasReadAndCountsTheRest) {
  for (int i = 1; i <= 14; ++i) Class("{" + std::to_string(100 + i) + "}", "class " + std::to_string(i));
  int pumps = 0;
  screen.onPump = [&] {
    if (++pumps == 2) Catalogue().btnCancelClick();
  };
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Catalogue().EntryCount(), 2);
  EXPECT_EQ(Catalogue().NotReadCount, 12);
  EXPECT_EQ(Catalogue().ReadStatus, ReadInterrupted);
  EXPECT_FALSE(Catalogue().CancelRequested) << "cleared for the next reading";
  EXPECT_EQ(Catalogue().InformationText().substr(0, 72),
            "Status: Interrupted by user, 12 objects not read.\n\n2 Objects displayed\n\n");
  EXPECT_TRUE(screen.messages.empty()) << "no warning after a cancel";
}

TEST_F(CatalogueTest, CancelAtTheLastKeyIsAnInterruptionWithNothingMissing) {
  Class("{1}", "one");
  Class("{2}", "two");
  int pumps = 0;
  screen.onPump = [&] {
    if (++pumps == 2) Catalogue().btnCancelClick();
  };
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Catalogue().ReadStatus, ReadInterrupted);
  EXPECT_EQ(Catalogue().InformationText().rfind("Status: Interrupted by user, 0 objects not read.\n", 0),
            0u);
}

TEST_F(CatalogueTest, ARefusedComputerOffersThisOneInstead) {
  Class("{LOCAL}", "local class");
  bool visibleWhenAsked = true;
  screen.answers = {true};
  screen.onMessage = [&](const FakeScreen::Message&) { visibleWhenAsked = progress.visible; };
  std::vector<bool> visibleWhileReading;
  screen.onPump = [&] { visibleWhileReading.push_back(progress.visible); };
  Catalogue().RequestedComputer = "\\\\NOWHERE";
  Catalogue().LoadCatalogue();
  EXPECT_FALSE(visibleWhenAsked) << "the dialog is hidden for the question";
  EXPECT_EQ(visibleWhileReading.front(), true) << "and shown again for the reading";
  ASSERT_FALSE(screen.messages.empty());
  EXPECT_EQ(screen.messages[0].kind, MessageKind::Confirm);
  EXPECT_EQ(screen.messages[0].text,
            "Unable to retrieve information from \"\\\\NOWHERE\", maybe access-forbidden.\n\n"
            "\\\\NOWHERE: cannot be reached\n\n"
            "Read the settings from this computer instead?");
  EXPECT_EQ(Names(), std::vector<std::string>{"local class"});
  EXPECT_EQ(Catalogue().ViewedComputer, LocalComputerName());
  EXPECT_EQ(Catalogue().RequestedComputer, "");
}

TEST_F(CatalogueTest, ARefusedComputerAndNoLeavesNothing) {
  Class("{LOCAL}", "local class");
  screen.answers = {false};
  Catalogue().RequestedComputer = "\\\\NOWHERE";
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Catalogue().EntryCount(), 0);
  EXPECT_EQ(Catalogue().ViewedComputer, "");
  EXPECT_EQ(Catalogue().RequestedComputer, "");
  EXPECT_EQ(Catalogue().ReadProblem, "\\\\NOWHERE: cannot be reached");
  EXPECT_EQ(tree.At(tree.First()).children.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(tree.At(Category(i)).children.empty());
  ASSERT_EQ(screen.messages.size(), 1u) << "only the question";
}

TEST_F(CatalogueTest, ARemoteComputerIsReadAgainByTheNextReading) {
  Class(*remote, "{R}", "remote class");
  Class("{L}", "local class");
  Catalogue().RequestedComputer = "\\\\REMOTE";
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Names(), std::vector<std::string>{"remote class"});
  EXPECT_EQ(Catalogue().ViewedComputer, "\\\\REMOTE");
  Catalogue().LoadCatalogue();
  EXPECT_EQ(Names(), std::vector<std::string>{"remote class"});
  EXPECT_EQ(api.OpenHandleCount(), 0u) << "the connection ends with the reading";
  Catalogue().ResetCatalogue();
  EXPECT_EQ(Catalogue().ViewedComputer, "");
  EXPECT_EQ(Catalogue().RequestedComputer, "");
}

TEST_F(CatalogueTest, ResetTakesTheImageListsBackToTheirFixedImages) {
  const auto key = machine->EnsurePath(kClsid + "{ICON}");
  machine->PutString(key, "", "with icons");
  machine->PutString(machine->EnsureChild(key, "InprocServer32"), "", "x.dll");
  machine->PutString(machine->EnsureChild(key, "DefaultIcon"), "", "x.dll,1");
  Catalogue().LoadCatalogue();
  Catalogue().EntryAt(0)->FillValueList();
  EXPECT_EQ(small.count, 19);
  EXPECT_EQ(large.count, 19);
  Catalogue().ResetCatalogue();
  EXPECT_EQ(small.count, 17);
  EXPECT_EQ(large.count, 17);
  EXPECT_TRUE(list.rows.empty());
}

TEST_F(CatalogueTest, SearchWalksTheCategoriesInTreeOrderAndStopsAtTheEnd) {
  Class("{A}", "match other");                       // Other Objects, last category
  Class("{B}", "match embeddable", {"Insertable"});  // Embeddable Objects, first
  Class("{C}", "match control", {"Control"});
  Class("{D}", "nothing here");
  Catalogue().LoadCatalogue();
  screen.messages.clear();
  auto& c = Catalogue();
  c.Find("MATCH", false, false);
  ASSERT_NE(tree.selected, 0u);
  EXPECT_EQ(tree.At(tree.selected).text, "match embeddable");
  EXPECT_TRUE(tree.At(tree.At(tree.selected).parent).expanded) << "the category was opened";
  ASSERT_EQ(selections.size(), 1u);
  EXPECT_EQ(selections[0], tree.selected);
  c.FindNext();
  EXPECT_EQ(tree.At(tree.selected).text, "match control");
  c.FindNext();
  EXPECT_EQ(tree.At(tree.selected).text, "match other");
  EXPECT_TRUE(screen.messages.empty());
  c.FindNext();
  c.FindNext();
  ASSERT_EQ(screen.messages.size(), 2u);
  EXPECT_EQ(screen.messages[0].text, "Finished searching through all available objects.");
  EXPECT_EQ(screen.messages[1].text, "Finished searching through all available objects.");
  c.Find("MATCH", false, false);
  EXPECT_EQ(tree.At(tree.selected).text, "match embeddable") << "Find starts over";
  c.Find("absent", false, false);
  EXPECT_EQ(screen.messages.back().text, "Sorry, no matching objects found.");
  EXPECT_EQ(c.FindNode, 0u);
}

TEST_F(CatalogueTest, SearchingNothingSaysSo) {
  Catalogue().FindNext();
  Catalogue().Find("x", false, false);
  ASSERT_EQ(screen.messages.size(), 2u);
  EXPECT_EQ(screen.messages[0].text, "Finished searching through all available objects.");
  EXPECT_EQ(screen.messages[1].text, "Sorry, no matching objects found.");
}

TEST_F(CatalogueTest, TheAnimationChangesAtMostEvery200Milliseconds) {
  for (int i = 10; i <= 22; ++i) Class("{" + std::to_string(i) + "}", "c");
  int pumps = 0;
  screen.onPump = [&] { ticks += (++pumps % 2) ? 150 : 100; };
  Catalogue().LoadCatalogue();
  // Frames at the start, then whenever 200 ms have passed since the last.
  EXPECT_EQ(progress.frames, (std::vector<int>{0, 1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(progress.position, 14) << "one step at the start and one per class key";
}

}  // namespace
}  // namespace orbel
