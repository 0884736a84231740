// The main window on an in-memory registry: start-up and preferences, the
// tree and the attribute list, the description box, search, copy, the
// commands and their messages, and what is saved at the end.
#include <QAbstractItemModelTester>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/COLESettingsUnit.h"
#include "platform/computer/LocalImage.h"
#include "registry/PatchedRegistry.h"
#include "registry/RegIniFile.h"
#include "support/FakeScreen.h"
#include "support/MemoryRegistry.h"
#include "ui/AboutWindowUnit.h"
#include "ui/AttributeListView.h"
#include "ui/FindDialogUnit.h"
#include "ui/MainWindowUnit.h"
#include "ui/ObjectTreeView.h"
#include "ui/ProgressWindow.h"
#include "ui/QtScreen.h"

using orbel::COLEObject;
using orbel::TAttributeListView;
using orbel::TMainWindow;
using orbel::TObjectTreeView;
using orbel::TreeNode;
using orbel::TRegIniFile;
using orbel::ViewStyle;
using orbel::testing::FakeScreen;
using orbel::testing::MemoryRegistry;
namespace platform = orbel::platform;

namespace {

const std::string kClsid = "Software\\Classes\\CLSID\\";
const std::string kViewKey = std::string(orbel::kProgramKey) + "\\View";
constexpr char kAbsent[] = "<absent>";

struct TestClass {
  std::string guid;
  std::string name;
  // Subkeys with their default values; an empty value only creates the key.
  std::vector<std::pair<std::string, std::string>> subkeys;
};

// Eight classes: two embeddable, one of every other kind, two others.
const std::vector<TestClass>& Classes() {
  static const std::vector<TestClass> classes = {
      {"{10000000-0000-0000-0000-000000000001}",
       "Alpha Sketch",
       {{"Insertable", ""}, {"InprocServer32", "C:\\alpha.dll"}, {"ProgID", "Alpha.Sketch.1"}}},
      {"{10000000-0000-0000-0000-000000000002}", "Beta Chart", {{"Insertable", ""}}},
      {"{10000000-0000-0000-0000-000000000003}",
       "Gamma Engine",
       {{"Programmable", ""},
        {"ProgID", "Gamma.Engine.1"},
        {"VersionIndependentProgID", "Gamma.Engine"}}},
      {"{10000000-0000-0000-0000-000000000004}",
       "Delta Slider",
       {{"Control", ""}, {"ToolboxBitmap32", "C:\\delta.ocx,1"}}},
      {"{10000000-0000-0000-0000-000000000005}",
       "Epsilon Folder",
       {{"ShellEx\\ContextMenuHandlers", ""}}},
      {"{10000000-0000-0000-0000-000000000006}", "Zeta Report", {{"ProgID", "Zeta.Document.1"}}},
      {"{10000000-0000-0000-0000-000000000007}", "Eta Helper", {}},
      {"{10000000-0000-0000-0000-000000000008}", "Theta Helper", {{"Type", "custom type"}}},
  };
  return classes;
}

void AddClasses(platform::MemoryStore& store, const std::vector<TestClass>& classes) {
  for (const auto& test : classes) {
    const auto key = store.EnsurePath(kClsid + test.guid);
    store.PutString(key, "", test.name);
    for (const auto& [path, value] : test.subkeys) {
      const auto subkey = store.EnsurePath(kClsid + test.guid + "\\" + path);
      if (!value.empty()) store.PutString(subkey, "", value);
    }
  }
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void firstStartAsksOnceAndNoLeavesCatalogueEmpty();
  void welcomeYesReadsTheCatalogue();
  void defaultsOnFirstRun();
  void storedViewStyle_data();
  void storedViewStyle();
  void wrongTypedPreferenceStopsReadingButWindowOpens();
  void menusAndShortcuts_data();
  void menusAndShortcuts();
  void toolButtons_data();
  void toolButtons();
  void viewStylesFollowMenuAndButtons();
  void viewStylesLayOutTheirItems_data();
  void viewStylesLayOutTheirItems();
  void treeHoldsCategoriesAndObjects();
  void rootAndCategoriesEmptyTheList();
  void describingRowsAndLeavingTheList();
  void hideUnknownTogglesRows();
  void copyValueToClipboard();
  void findThroughTheDialogAndFindNext();
  void findWithWholeValueAndCase();
  void descriptionBoxHideAndShow();
  void paneWidths();
  void splittersMoveTheBorder();
  void testObjectNeedsAnObject();
  void clearEmptiesEverything();
  void titleNamesTheComputerRead();
  void cancelDuringReading();
  void refreshQueuedAtTheEndOfAReading();
  void problemOfThisComputersRegistryIsShown();
  void connectReadsAnotherComputer();
  void connectRefusedAndDeclinedSaysNothingMore();
  void computerNameNeverOpensAFolder_data();
  void computerNameNeverOpensAFolder();
  void informationAndHelpCommands();
  void applyLogsMenuItem();
  void aboutShowsProgramAndVersion();
  void preferencesWrittenAtClose();

 private:
  std::unique_ptr<TMainWindow> MakeWindow();
  // Builds the window and reads the catalogue (no welcome question: the
  // first start is already past).
  std::unique_ptr<TMainWindow> LoadedWindow();
  void Show(TMainWindow& window);
  TreeNode NodeNamed(TMainWindow& window, const QString& text);
  void SelectNode(TMainWindow& window, const QString& text);
  int RowNamed(TMainWindow& window, const QString& caption);
  void ClickRow(TMainWindow& window, int row);
  std::string Stored(const std::string& section, const std::string& ident);
  void Store(const std::string& ident, const std::string& text);
  template <typename T>
  T* Child(TMainWindow& window, const char* name) {
    T* child = window.findChild<T*>(QLatin1String(name));
    if (!child) qFatal("no child %s", name);
    return child;
  }
  QString StatusText(TMainWindow& window) { return Child<QLabel>(window, "StatusBarText")->text(); }
  QString Heading(TMainWindow& window) {
    return Child<QLabel>(window, "staDescriptionHeading")->text();
  }
  QString Description(TMainWindow& window) {
    return Child<QPlainTextEdit>(window, "staDescription")->toPlainText();
  }

  std::unique_ptr<MemoryRegistry> registry_;
  std::unique_ptr<FakeScreen> screen_;
};

void MainWindowTest::init() {
  registry_ = std::make_unique<MemoryRegistry>();
  AddClasses(*registry_->machine, Classes());
  screen_ = std::make_unique<FakeScreen>();
  orbel::SetApplicationTitle(QStringLiteral("Vell Orbel"));
}

void MainWindowTest::cleanup() {
  screen_.reset();
  registry_.reset();
}

std::unique_ptr<TMainWindow> MainWindowTest::MakeWindow() {
  return std::make_unique<TMainWindow>(registry_->api);
}

std::unique_ptr<TMainWindow> MainWindowTest::LoadedWindow() {
  {
    TRegIniFile settings(registry_->api, orbel::kProgramKey);
    settings.WriteFlag("General", "First Start", false);
  }
  auto window = MakeWindow();
  window->mnuViewRefreshClick();
  return window;
}

void MainWindowTest::Show(TMainWindow& window) {
  window.show();
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QTRY_COMPARE(QApplication::activeWindow(), &window);
}

TreeNode MainWindowTest::NodeNamed(TMainWindow& window, const QString& text) {
  const QList<QTreeWidgetItem*> items =
      window.TreeViewObjects->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  if (items.size() != 1) qFatal("no single node %s", qPrintable(text));
  return TObjectTreeView::NodeOf(items.first());
}

void MainWindowTest::SelectNode(TMainWindow& window, const QString& text) {
  window.TreeViewObjects->setCurrentItem(TObjectTreeView::ItemOf(NodeNamed(window, text)));
}

int MainWindowTest::RowNamed(TMainWindow& window, const QString& caption) {
  const auto* model = window.ListViewValues->Model();
  for (int row = 0; row < model->rowCount(); ++row) {
    if (model->Caption(row) == caption) return row;
  }
  return -1;
}

void MainWindowTest::ClickRow(TMainWindow& window, int row) {
  QTreeView* view = window.ListViewValues->DetailsView();
  const QModelIndex index = view->model()->index(row, 0);
  view->scrollTo(index);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

std::string MainWindowTest::Stored(const std::string& section, const std::string& ident) {
  TRegIniFile settings(registry_->api, orbel::kProgramKey);
  return settings.ReadText(section, ident, kAbsent);
}

void MainWindowTest::Store(const std::string& ident, const std::string& text) {
  TRegIniFile settings(registry_->api, orbel::kProgramKey);
  settings.WriteText("View", ident, text);
}

void MainWindowTest::firstStartAsksOnceAndNoLeavesCatalogueEmpty() {
  auto window = MakeWindow();
  // Written at once, so that a later start does not ask whatever happens now.
  QCOMPARE(Stored("General", "First Start"), std::string("0"));
  QVERIFY(screen_->messages.empty());
  Show(*window);
  QTRY_COMPARE(screen_->messages.size(), std::size_t{1});
  const auto& question = screen_->messages.front();
  QCOMPARE(question.kind, orbel::MessageKind::Confirm);
  QCOMPARE(question.caption, std::string("Confirm"));
  QCOMPARE(question.text,
           std::string("Welcome to Vell Orbel! Would you like to read the COM information right "
                       "now?\n\n(Note: This message will only appear at the first start of this "
                       "program. After that, you can simply read the COM information by selecting "
                       "\"View\" - \"Refresh\" from the menu)."));
  QCOMPARE(window->COLESettings().EntryCount(), 0);
  QCOMPARE(window->windowTitle(), QStringLiteral("Vell Orbel"));

  // Coming back from another window of the program is no first activation.
  window->mnuFileFindClick();
  auto* find = Child<orbel::TFindDialog>(*window, "FindDialog");
  QVERIFY(QTest::qWaitForWindowActive(find));
  find->close();
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window.get()));
  QTest::qWait(20);
  QCOMPARE(screen_->messages.size(), std::size_t{1});

  window.reset();
  auto second = MakeWindow();
  Show(*second);
  QTest::qWait(20);
  QCOMPARE(screen_->messages.size(), std::size_t{1});
}

void MainWindowTest::welcomeYesReadsTheCatalogue() {
  screen_->answers.push_back(true);
  auto window = MakeWindow();
  Show(*window);
  QTRY_COMPARE(window->COLESettings().EntryCount(), 8);
  QCOMPARE(screen_->messages.size(), std::size_t{1});
  QCOMPARE(StatusText(*window), QStringLiteral("Done"));
}

void MainWindowTest::defaultsOnFirstRun() {
  auto window = MakeWindow();
  QCOMPARE(window->NameColumnWidth, 150);
  QCOMPARE(window->ValueColumnWidth, 190);
  QCOMPARE(window->ListViewValues->ColumnWidth(0), 150);
  QCOMPARE(window->ListViewValues->ColumnWidth(1), 190);
  QCOMPARE(window->leftWidth_, 229);
  QCOMPARE(window->rightWidth_, 373);
  QVERIFY(window->FirstStart);
  QVERIFY(!window->IgnoreListChanges);
  QVERIFY(!window->IgnoreTreeChanges);
  QVERIFY(Child<QAction>(*window, "mnuViewDescription")->isChecked());
  QVERIFY(!Child<QToolButton>(*window, "tolShowUnknown")->isChecked());
  QCOMPARE(window->ListViewValues->Style(), ViewStyle::Details);
  QVERIFY(Child<QToolButton>(*window, "tolViewDetailed")->isChecked());
  QVERIFY(Child<QAction>(*window, "mnuViewDetails")->isChecked());
  QCOMPARE(window->windowTitle(), QStringLiteral("Vell Orbel"));
  QCOMPARE(window->size(), QSize(753, 447));
  QCOMPARE(window->pos(), QPoint(15, 15));

  screen_->answers.push_back(false);
  Show(*window);
  QCOMPARE(StatusText(*window), QString());
  QCOMPARE(Heading(*window), QStringLiteral(" Description"));
  QCOMPARE(Description(*window), QStringLiteral("(Nothing selected)"));
  QVERIFY(Child<QWidget>(*window, "panDescription")->isVisible());
  QCOMPARE(Child<QWidget>(*window, "panLeft")->width(), 229);

  // The empty tree: the root, open, with six closed categories.
  QTreeWidgetItem* root = window->TreeViewObjects->topLevelItem(0);
  QCOMPARE(window->TreeViewObjects->topLevelItemCount(), 1);
  QCOMPARE(root->text(0), QStringLiteral("COM Objects"));
  QVERIFY(root->isExpanded());
  QCOMPARE(root->childCount(), 6);
  for (int i = 0; i < 6; ++i) {
    QVERIFY(!root->child(i)->isExpanded());
    QCOMPARE(root->child(i)->childCount(), 0);
  }
}

void MainWindowTest::storedViewStyle_data() {
  QTest::addColumn<QString>("stored");
  QTest::addColumn<int>("style");
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("item");
  QTest::addColumn<QString>("saved");
  QTest::newRow("0") << "0" << 4 << "tolViewDetailed"
                     << "mnuViewDetails"
                     << "4";
  QTest::newRow("5") << "5" << 4 << "tolViewDetailed"
                     << "mnuViewDetails"
                     << "4";
  QTest::newRow("7") << "7" << 4 << "tolViewDetailed"
                     << "mnuViewDetails"
                     << "4";
  QTest::newRow("no number") << "large" << 4 << "tolViewDetailed"
                             << "mnuViewDetails"
                             << "4";
  QTest::newRow("1") << "1" << 1 << "tolViewBigIcons"
                     << "mnuViewLargeIcons"
                     << "1";
  QTest::newRow("0x2") << "0x2" << 2 << "tolViewSmallIcons"
                       << "mnuViewSmallIcons"
                       << "2";
  QTest::newRow("3") << "3" << 3 << "tolViewList"
                     << "mnuViewList"
                     << "3";
}

void MainWindowTest::storedViewStyle() {
  QFETCH(QString, stored);
  QFETCH(int, style);
  QFETCH(QString, button);
  QFETCH(QString, item);
  QFETCH(QString, saved);
  Store("View Style", stored.toStdString());
  auto window = MakeWindow();
  QCOMPARE(static_cast<int>(window->ListViewValues->Style()), style);
  for (const char* name :
       {"tolViewBigIcons", "tolViewSmallIcons", "tolViewList", "tolViewDetailed"}) {
    QCOMPARE(Child<QToolButton>(*window, name)->isChecked(), button == QLatin1String(name));
  }
  QVERIFY(window->findChild<QAction*>(item)->isChecked());
  window.reset();
  QCOMPARE(Text(Stored("View", "View Style")), saved);
}

void MainWindowTest::wrongTypedPreferenceStopsReadingButWindowOpens() {
  const auto view = registry_->user->EnsurePath(kViewKey);
  registry_->user->PutDword(view, "Name Width", 200);
  Store("View Style", "1");
  auto window = MakeWindow();
  QCOMPARE(screen_->messages.size(), std::size_t{1});
  QCOMPARE(screen_->messages[0].kind, orbel::MessageKind::Error);
  QCOMPARE(screen_->messages[0].text, std::string("Invalid data type for 'Name Width'"));
  // The reading stopped there: the first start was recorded, the style was not read.
  QCOMPARE(Stored("General", "First Start"), std::string("0"));
  QCOMPARE(window->ListViewValues->Style(), ViewStyle::Details);
  screen_->answers.push_back(false);
  Show(*window);
  QVERIFY(window->isVisible());
  window->mnuViewRefreshClick();
  QCOMPARE(window->COLESettings().EntryCount(), 8);
  window.reset();
  // The next save leaves valid text behind.
  QCOMPARE(Stored("View", "Name Width"), std::string("150"));
}

void MainWindowTest::menusAndShortcuts_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QKeySequence>("keys");
  QTest::addColumn<QString>("menu");
  const auto row = [](const char* name, const char* caption, QKeySequence keys, const char* menu) {
    QTest::newRow(name) << name << caption << keys << menu;
  };
  row("mnuFileConnect", "&Connect...", QKeySequence(Qt::Key_F8), "mnuFile");
  row("mnuFileFind", "&Find...", QKeySequence(Qt::CTRL | Qt::Key_F), "mnuFile");
  row("mnuFileFindNext", "Find &Next", QKeySequence(Qt::Key_F3), "mnuFile");
  row("mnuFileTestObject", "&Test Object...", QKeySequence(Qt::Key_F10), "mnuFile");
  row("mnuFileInformation", "&Information...", QKeySequence(Qt::Key_F6), "mnuFile");
  row("mnuFileExit", "E&xit", QKeySequence(), "mnuFile");
  row("mnuViewRefresh", "&Refresh", QKeySequence(Qt::Key_F5), "Edit1");
  row("mnuViewLargeIcons", "Lar&ge Icons", QKeySequence(), "Edit1");
  row("mnuViewSmallIcons", "S&mall Icons", QKeySequence(), "Edit1");
  row("mnuViewList", "&List", QKeySequence(), "Edit1");
  row("mnuViewDetails", "&Details", QKeySequence(), "Edit1");
  row("mnuViewDescription", "D&escription box", QKeySequence(), "Edit1");
  row("mnuViewApplyLogs", "Apply Transaction &Logs", QKeySequence(), "Edit1");
  row("mnuViewFindings", "Show Only &Findings", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
      "Edit1");
  row("mnuViewClear", "&Clear", QKeySequence(), "Edit1");
  row("mnuHelpContents", "&Contents", QKeySequence(Qt::Key_F1), "mnuHelp");
  row("mnuHelpOnHelp", "&Help on Help", QKeySequence(), "mnuHelp");
  row("mnuHelpWeb", "Vell in the &Web", QKeySequence(), "mnuHelp");
  row("mnuHelpAbout", "&About", QKeySequence(), "mnuHelp");
  row("popValueCopy", "Cop&y Value to Clipboard", QKeySequence(), "popValue");
  row("popValueCancel", "&Cancel", QKeySequence(), "popValue");
}

void MainWindowTest::menusAndShortcuts() {
  QFETCH(QString, name);
  QFETCH(QString, caption);
  QFETCH(QKeySequence, keys);
  QFETCH(QString, menu);
  auto window = MakeWindow();
  auto* action = window->findChild<QAction*>(name);
  QVERIFY(action);
  QCOMPARE(action->text(), caption);
  QCOMPARE(action->shortcut(), keys);
  auto* owner = window->findChild<QMenu*>(menu);
  QVERIFY(owner);
  QVERIFY(owner->actions().contains(action));

  // The menu titles with their blanks, and the separators where they belong.
  QStringList titles;
  for (QAction* top : window->menuBar()->actions()) titles << top->text();
  QCOMPARE(titles, QStringList({" &File ", " &View ", " &Help "}));
  QStringList file;
  for (QAction* entry : Child<QMenu>(*window, "mnuFile")->actions()) file << entry->objectName();
  QCOMPARE(file,
           QStringList({"mnuFileConnect", "N7", "mnuFileFind", "mnuFileFindNext", "N1",
                        "mnuFileTestObject", "N11", "mnuFileInformation", "N6", "mnuFileExit"}));
  QStringList view;
  for (QAction* entry : Child<QMenu>(*window, "Edit1")->actions()) view << entry->objectName();
  QCOMPARE(view, QStringList({"mnuViewRefresh", "mnuViewApplyLogs", "mnuViewFindings", "N4",
                              "mnuViewLargeIcons", "mnuViewSmallIcons", "mnuViewList",
                              "mnuViewDetails", "N5", "mnuViewDescription", "N10",
                              "mnuViewClear"}));
  QStringList help;
  for (QAction* entry : Child<QMenu>(*window, "mnuHelp")->actions()) help << entry->objectName();
  QCOMPARE(help, QStringList({"mnuHelpContents", "N2", "mnuHelpOnHelp", "N8", "mnuHelpWeb", "N3",
                              "mnuHelpAbout"}));
}

void MainWindowTest::toolButtons_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("hint");
  QTest::addColumn<bool>("toggle");
  QTest::newRow("tolRefresh") << "tolRefresh"
                              << "Refresh" << false;
  QTest::newRow("tolConnect") << "tolConnect"
                              << "Connect other PC" << false;
  QTest::newRow("tolInfo") << "tolInfo"
                           << "Information" << false;
  QTest::newRow("tolTestObject") << "tolTestObject"
                                 << "Test Object" << false;
  QTest::newRow("tolShowUnknown") << "tolShowUnknown"
                                  << "Show/hide unknown items" << true;
  QTest::newRow("tolFindings") << "tolFindings"
                               << "Show only findings" << true;
  QTest::newRow("tolViewBigIcons") << "tolViewBigIcons"
                                   << "Large Icons" << true;
  QTest::newRow("tolViewSmallIcons") << "tolViewSmallIcons"
                                     << "Small Icons" << true;
  QTest::newRow("tolViewList") << "tolViewList"
                               << "List" << true;
  QTest::newRow("tolViewDetailed") << "tolViewDetailed"
                                   << "Details" << true;
}

void MainWindowTest::toolButtons() {
  QFETCH(QString, name);
  QFETCH(QString, hint);
  QFETCH(bool, toggle);
  auto window = MakeWindow();
  auto* button = window->findChild<QToolButton*>(name);
  QVERIFY(button);
  QCOMPARE(button->toolTip(), hint);
  QCOMPARE(button->isCheckable(), toggle);
  QCOMPARE(button->size(), QSize(24, 23));
  QVERIFY(!button->icon().isNull());
}

void MainWindowTest::viewStylesFollowMenuAndButtons() {
  auto window = LoadedWindow();
  Show(*window);
  SelectNode(*window, "Gamma Engine");
  const struct {
    const char* button;
    const char* item;
    ViewStyle style;
    QListView::ViewMode mode;
  } styles[] = {
      {"tolViewBigIcons", "mnuViewLargeIcons", ViewStyle::LargeIcons, QListView::IconMode},
      {"tolViewSmallIcons", "mnuViewSmallIcons", ViewStyle::SmallIcons, QListView::ListMode},
      {"tolViewList", "mnuViewList", ViewStyle::List, QListView::ListMode},
  };
  for (const auto& style : styles) {
    QTest::mouseClick(Child<QToolButton>(*window, style.button), Qt::LeftButton);
    QCOMPARE(window->ListViewValues->Style(), style.style);
    QCOMPARE(window->ListViewValues->currentWidget(), window->ListViewValues->IconView());
    QCOMPARE(window->ListViewValues->IconView()->viewMode(), style.mode);
    QVERIFY(Child<QAction>(*window, style.item)->isChecked());
    int down = 0;
    for (const char* name :
         {"tolViewBigIcons", "tolViewSmallIcons", "tolViewList", "tolViewDetailed"}) {
      down += Child<QToolButton>(*window, name)->isChecked() ? 1 : 0;
    }
    QCOMPARE(down, 1);
    QVERIFY(Child<QToolButton>(*window, style.button)->isChecked());
  }
  // A grouped button that is down stays down when clicked again.
  QTest::mouseClick(Child<QToolButton>(*window, "tolViewList"), Qt::LeftButton);
  QVERIFY(Child<QToolButton>(*window, "tolViewList")->isChecked());
  QCOMPARE(window->ListViewValues->IconView()->iconSize(), QSize(16, 16));

  Child<QAction>(*window, "mnuViewDetails")->trigger();
  QCOMPARE(window->ListViewValues->currentWidget(), window->ListViewValues->DetailsView());
  QVERIFY(Child<QToolButton>(*window, "tolViewDetailed")->isChecked());
  QVERIFY(!Child<QToolButton>(*window, "tolViewList")->isChecked());
}

// As a Windows list control: both icon styles in rows that wrap at the list's
// width, the list top to bottom in columns, details one row under another.
void MainWindowTest::viewStylesLayOutTheirItems_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<bool>("inRows");
  QTest::newRow("large icons") << "tolViewBigIcons" << true;
  QTest::newRow("small icons") << "tolViewSmallIcons" << true;
  QTest::newRow("list") << "tolViewList" << false;
  QTest::newRow("details") << "tolViewDetailed" << false;
}

void MainWindowTest::viewStylesLayOutTheirItems() {
  QFETCH(QString, button);
  QFETCH(bool, inRows);
  auto window = LoadedWindow();
  Show(*window);
  SelectNode(*window, "Gamma Engine");
  QTest::mouseClick(Child<QToolButton>(*window, qPrintable(button)), Qt::LeftButton);
  QAbstractItemView* view = window->ListViewValues->CurrentView();
  const auto* model = window->ListViewValues->Model();
  QVERIFY(model->rowCount() > 2);
  const QRect first = view->visualRect(model->index(0, 0));
  const QRect second = view->visualRect(model->index(1, 0));
  QVERIFY(!first.isEmpty());
  if (inRows) {
    QCOMPARE(second.top(), first.top());
    QVERIFY(second.left() > first.left());
    // The rows wrap: some item starts a second row below the first.
    bool wrapped = false;
    for (int row = 1; row < model->rowCount(); ++row) {
      wrapped = wrapped || view->visualRect(model->index(row, 0)).top() > first.top();
    }
    QVERIFY(wrapped);
  } else {
    QCOMPARE(second.left(), first.left());
    QVERIFY(second.top() > first.top());
  }
}

void MainWindowTest::treeHoldsCategoriesAndObjects() {
  auto window = LoadedWindow();
  QAbstractItemModelTester tester(window->TreeViewObjects->model(),
                                  QAbstractItemModelTester::FailureReportingMode::QtTest);
  window->mnuViewRefreshClick();
  QTreeWidgetItem* root = window->TreeViewObjects->topLevelItem(0);
  const QStringList categories = {"Embeddable Objects", "Automation Objects", "ActiveX Controls",
                                  "Shell Extensions",   "Documents",          "Other Objects"};
  const QList<QStringList> objects = {{"Alpha Sketch", "Beta Chart"},
                                      {"Gamma Engine"},
                                      {"Delta Slider"},
                                      {"Epsilon Folder"},
                                      {"Zeta Report"},
                                      {"Eta Helper", "Theta Helper"}};
  QCOMPARE(root->childCount(), 6);
  for (int i = 0; i < 6; ++i) {
    QTreeWidgetItem* category = root->child(i);
    QCOMPARE(category->text(0), categories[i]);
    QVERIFY(!category->isExpanded());
    QStringList names;
    for (int j = 0; j < category->childCount(); ++j) names << category->child(j)->text(0);
    QCOMPARE(names, objects[i]);
  }
  QVERIFY(window->TreeViewObjects->editTriggers() == QAbstractItemView::NoEditTriggers);
  QCOMPARE(window->TreeViewObjects->indentation(), 19);
  window->mnuViewClearClick();
}

void MainWindowTest::rootAndCategoriesEmptyTheList() {
  auto window = LoadedWindow();
  Show(*window);
  QAbstractItemModelTester tester(window->ListViewValues->Model(),
                                  QAbstractItemModelTester::FailureReportingMode::QtTest);
  for (const QString& other : {QStringLiteral("COM Objects"), QStringLiteral("Documents")}) {
    SelectNode(*window, "Alpha Sketch");
    QCOMPARE(window->ListViewValues->Model()->rowCount(), 23);
    ClickRow(*window, RowNamed(*window, "GUID"));
    QVERIFY(!window->ListViewValues->Hint().isEmpty());
    SelectNode(*window, other);
    QCOMPARE(window->ListViewValues->Model()->rowCount(), 0);
    QCOMPARE(window->ListViewValues->Hint(), QString());
    QCOMPARE(Heading(*window), QStringLiteral(" Description"));
    QCOMPARE(Description(*window), QStringLiteral("(Nothing selected)"));
    QCOMPARE(StatusText(*window), QStringLiteral("Done"));
  }
}

void MainWindowTest::describingRowsAndLeavingTheList() {
  auto window = LoadedWindow();
  Show(*window);
  SelectNode(*window, "Theta Helper");
  const int guid = RowNamed(*window, "GUID");
  ClickRow(*window, guid);
  QCOMPARE(Heading(*window), QStringLiteral(" Description: GUID"));
  QCOMPARE(Description(*window), Text(window->COLESettings().DescriptionFor("GUID")));
  QVERIFY(!Description(*window).isEmpty());
  QCOMPARE(window->ListViewValues->Hint(),
           QStringLiteral("{10000000-0000-0000-0000-000000000008}"));
  QCOMPARE(window->LastDescribedItem, std::string("GUID"));

  // A second row with the name already described keeps the description and the hint.
  const int type = RowNamed(*window, "Type");
  const int extraType = window->ListViewValues->Model()->rowCount() - 1;
  QCOMPARE(window->ListViewValues->Model()->Caption(extraType), QStringLiteral("Type"));
  ClickRow(*window, type);
  QCOMPARE(window->ListViewValues->Hint(), QStringLiteral("Other/Unknown Object"));
  ClickRow(*window, extraType);
  QCOMPARE(window->ListViewValues->SelectedRow(), extraType);
  QCOMPARE(window->ListViewValues->Hint(), QStringLiteral("Other/Unknown Object"));
  QCOMPARE(Heading(*window), QStringLiteral(" Description: Type"));

  // Opening a menu with Alt+letter keeps the selection and the description.
  QTest::keyClick(window->ListViewValues->DetailsView(), Qt::Key_V, Qt::AltModifier);
  QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
  QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
  QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
  // A second Escape leaves the menu bar for the list again.
  QTRY_COMPARE(QApplication::focusWidget(), window->menuBar());
  QTest::keyClick(window->menuBar(), Qt::Key_Escape);
  QTRY_COMPARE(QApplication::focusWidget(), window->ListViewValues->DetailsView());
  QCOMPARE(window->ListViewValues->SelectedRow(), extraType);
  QCOMPARE(Heading(*window), QStringLiteral(" Description: Type"));
  QCOMPARE(window->ListViewValues->Hint(), QStringLiteral("Other/Unknown Object"));

  // Clicking into the tree leaves the list, though the tree selection stays.
  auto* tree = window->TreeViewObjects;
  const QRect selected = tree->visualItemRect(tree->currentItem());
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, selected.center());
  QCOMPARE(Heading(*window), QStringLiteral(" Description"));
  QCOMPARE(Description(*window), QStringLiteral("(Nothing selected)"));
  QCOMPARE(window->ListViewValues->Hint(), QString());
  QCOMPARE(window->ListViewValues->SelectedRow(), -1);
  QCOMPARE(window->LastDescribedItem, std::string());
  QCOMPARE(window->ListViewValues->Model()->rowCount(), 24);
}

void MainWindowTest::hideUnknownTogglesRows() {
  auto window = LoadedWindow();
  Show(*window);
  auto* filter = Child<QToolButton>(*window, "tolShowUnknown");
  const auto* model = window->ListViewValues->Model();
  SelectNode(*window, "Eta Helper");
  QCOMPARE(model->rowCount(), 23);
  QTest::mouseClick(filter, Qt::LeftButton);
  QVERIFY(filter->isChecked());
  QVERIFY(model->rowCount() > 0);
  QVERIFY(model->rowCount() < 23);
  QCOMPARE(model->Caption(0), QStringLiteral("Name"));
  for (int row = 0; row < model->rowCount(); ++row) {
    QVERIFY(model->Value(row) != QLatin1String("<Unknown>"));
  }
  QTest::mouseClick(filter, Qt::LeftButton);
  QCOMPARE(model->rowCount(), 23);

  // With a category selected the list stays empty either way.
  SelectNode(*window, "Other Objects");
  QTest::mouseClick(filter, Qt::LeftButton);
  QCOMPARE(model->rowCount(), 0);
}

void MainWindowTest::copyValueToClipboard() {
  auto window = LoadedWindow();
  Show(*window);
  auto* copy = Child<QAction>(*window, "popValueCopy");
  window->popValuePopup();
  QVERIFY(!copy->isEnabled());

  SelectNode(*window, "Gamma Engine");
  ClickRow(*window, RowNamed(*window, "Convert to"));
  QCOMPARE(window->ListViewValues->Hint(), QStringLiteral("<Unknown>"));
  window->popValuePopup();
  QVERIFY(!copy->isEnabled());

  ClickRow(*window, RowNamed(*window, "COM Name (with Version)"));
  window->popValuePopup();
  QVERIFY(copy->isEnabled());
  QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
  copy->trigger();
  QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Gamma.Engine.1"));

  // The popup opened over the list does not count as leaving it.
  auto* popup = Child<QMenu>(*window, "popValue");
  QTreeView* view = window->ListViewValues->DetailsView();
  emit window->ListViewValues->popupRequested(view->viewport()->mapToGlobal(QPoint(5, 5)));
  QTRY_VERIFY(popup->isVisible());
  QVERIFY(copy->isEnabled());
  popup->close();
  QCOMPARE(window->ListViewValues->Hint(), QStringLiteral("Gamma.Engine.1"));
}

void MainWindowTest::findThroughTheDialogAndFindNext() {
  auto window = LoadedWindow();
  Show(*window);
  window->mnuFileFindClick();
  auto* dialog = Child<orbel::TFindDialog>(*window, "FindDialog");
  QVERIFY(dialog->isVisible());
  QVERIFY(!dialog->isModal());
  auto* findNext = dialog->findChild<QPushButton*>("btnFindNext");
  QVERIFY(!findNext->isEnabled());
  QTest::keyClicks(dialog->findChild<QLineEdit*>("edtFindText"), "Helper");
  QTest::mouseClick(findNext, Qt::LeftButton);
  QVERIFY(!dialog->isVisible());
  QCOMPARE(window->TreeViewObjects->currentItem()->text(0), QStringLiteral("Eta Helper"));
  QVERIFY(window->TreeViewObjects->currentItem()->parent()->isExpanded());
  QCOMPARE(window->ListViewValues->SelectedRow(), RowNamed(*window, "Name"));
  QCOMPARE(Heading(*window), QStringLiteral(" Description: Name"));
  QCOMPARE(window->ListViewValues->Hint(), QStringLiteral("Eta Helper"));
  QVERIFY(!window->IgnoreListChanges);

  Child<QAction>(*window, "mnuFileFindNext")->trigger();
  QCOMPARE(window->TreeViewObjects->currentItem()->text(0), QStringLiteral("Theta Helper"));
  QVERIFY(screen_->messages.empty());
  for (int i = 1; i <= 2; ++i) {
    Child<QAction>(*window, "mnuFileFindNext")->trigger();
    QCOMPARE(screen_->messages.size(), std::size_t(i));
    QCOMPARE(screen_->messages.back().caption, std::string("Information"));
    QCOMPARE(screen_->messages.back().text,
             std::string("Finished searching through all available objects."));
  }
  QCOMPARE(window->TreeViewObjects->currentItem()->text(0), QStringLiteral("Theta Helper"));
}

void MainWindowTest::findWithWholeValueAndCase() {
  auto window = LoadedWindow();
  Show(*window);
  auto* dialog = Child<orbel::TFindDialog>(*window, "FindDialog");
  auto search = [&](const char* text, bool wholeWord, bool matchCase) {
    window->mnuFileFindClick();
    dialog->SetFindText(QString::fromLatin1(text));
    dialog->findChild<QCheckBox*>("chkWholeWord")->setChecked(wholeWord);
    dialog->findChild<QCheckBox*>("chkMatchCase")->setChecked(matchCase);
    QTest::mouseClick(dialog->findChild<QPushButton*>("btnFindNext"), Qt::LeftButton);
  };
  search("Gamma.Engine", true, false);
  QCOMPARE(window->TreeViewObjects->currentItem()->text(0), QStringLiteral("Gamma Engine"));
  QCOMPARE(window->ListViewValues->Model()->Caption(window->ListViewValues->SelectedRow()),
           QStringLiteral("COM Name (no Version)"));
  search("Gamma.Engine", false, false);
  QCOMPARE(window->ListViewValues->Model()->Caption(window->ListViewValues->SelectedRow()),
           QStringLiteral("COM Name (with Version)"));
  QVERIFY(screen_->messages.empty());
  search("gamma.engine", false, true);
  QCOMPARE(screen_->messages.size(), std::size_t{1});
  QCOMPARE(screen_->messages.back().text, std::string("Sorry, no matching objects found."));
}

void MainWindowTest::descriptionBoxHideAndShow() {
  auto window = MakeWindow();
  screen_->answers.push_back(false);
  Show(*window);
  auto* pane = Child<QWidget>(*window, "panRightLeft");
  auto* list = Child<QWidget>(*window, "panListView");
  auto* box = Child<QWidget>(*window, "panDescription");
  auto* item = Child<QAction>(*window, "mnuViewDescription");
  const int height = pane->height();
  QVERIFY(height > 100);
  QCOMPARE(list->height(), height - 75);
  QCOMPARE(box->height(), 70);
  QCOMPARE(box->y(), height - 70);

  item->trigger();
  QVERIFY(!item->isChecked());
  QVERIFY(!box->isVisible());
  QCOMPARE(list->height(), height);

  item->trigger();
  QVERIFY(item->isChecked());
  QVERIFY(box->isVisible());
  QCOMPARE(list->height(), height - 74);
  QCOMPARE(box->height(), 70);

  window->resize(window->width(), window->height() + 40);
  QTRY_COMPARE(pane->height(), height + 40);
  QCOMPARE(list->height(), height + 40 - 75);
  QCOMPARE(box->y(), height + 40 - 70);
}

void MainWindowTest::paneWidths() {
  {
    auto window = MakeWindow();
    screen_->answers.push_back(false);
    Show(*window);
    auto* client = Child<QWidget>(*window, "panClient");
    auto* left = Child<QWidget>(*window, "panLeft");
    auto* right = Child<QWidget>(*window, "panRight");
    QCOMPARE(left->width(), 229);
    QCOMPARE(right->width(), client->width() - 229 - 6);
    QCOMPARE(right->geometry().right(), client->width() - 1);
    QCOMPARE(Child<QWidget>(*window, "panRightRight")->width(), 2);
    // A wider window gives all its width to the right pane.
    const int before = right->width();
    window->resize(window->width() + 100, window->height());
    QTRY_COMPARE(right->width(), before + 100);
    QCOMPARE(left->width(), 229);
  }
  // Only the stored tree width decides the split; the other is recomputed.
  Store("Objects Width", "300");
  Store("Details Width", "10");
  {
    auto window = MakeWindow();
    Show(*window);
    auto* client = Child<QWidget>(*window, "panClient");
    QCOMPARE(Child<QWidget>(*window, "panLeft")->width(), 300);
    QCOMPARE(Child<QWidget>(*window, "panRight")->width(), client->width() - 306);
  }
  // A pane of no width could never be dragged back: a stored width of 0 or
  // less gives the design's, and one is never saved.
  Store("Objects Width", "-40");
  {
    auto window = MakeWindow();
    Show(*window);
    QCOMPARE(Child<QWidget>(*window, "panLeft")->width(), 229);
  }
  // A tree width wider than the window hid the list at start: it gives way to
  // the design's as well.
  Store("Objects Width", "5000");
  {
    auto window = MakeWindow();
    Show(*window);
    QCOMPARE(Child<QWidget>(*window, "panLeft")->width(), 229);
    QCOMPARE(Child<QWidget>(*window, "panRight")->width(),
             Child<QWidget>(*window, "panClient")->width() - 235);
    // A window narrower than the tree leaves the list no width, which is not saved.
    window->resize(200, window->height());
    QTRY_COMPARE(Child<QWidget>(*window, "panRight")->width(), 0);
  }
  QCOMPARE(Stored("View", "Details Width"), std::string("373"));
}

void MainWindowTest::splittersMoveTheBorder() {
  Store("Objects Width", "229");
  auto window = LoadedWindow();
  Show(*window);
  auto* client = Child<QWidget>(*window, "panClient");
  auto* left = Child<QWidget>(*window, "panLeft");
  auto* right = Child<QWidget>(*window, "panRight");
  auto drag = [](QWidget* bar, int by) {
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(1, 10));
    QTest::mouseMove(bar, QPoint(1 + by, 10));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(1 + by, 10));
  };
  drag(Child<QWidget>(*window, "SplitterLeft"), 20);
  QCOMPARE(left->width(), 249);
  QCOMPARE(right->width(), client->width() - 255);
  drag(Child<QWidget>(*window, "SplitterRight"), -30);
  QCOMPARE(left->width(), 219);
  QCOMPARE(right->width(), client->width() - 225);
  // No pane goes below one pixel.
  drag(Child<QWidget>(*window, "SplitterLeft"), -1000);
  QCOMPARE(left->width(), 1);
}

void MainWindowTest::testObjectNeedsAnObject() {
  const std::string error =
      "You have to select an object before you can use this function.\n\n"
      "Please select an object and try again.";
  auto window = LoadedWindow();
  window->mnuFileTestObjectClick();
  SelectNode(*window, "COM Objects");
  window->mnuFileTestObjectClick();
  SelectNode(*window, "ActiveX Controls");
  Child<QToolButton>(*window, "tolTestObject")->click();
  QCOMPARE(screen_->messages.size(), std::size_t{3});
  for (const auto& message : screen_->messages) {
    QCOMPARE(message.kind, orbel::MessageKind::Error);
    QCOMPARE(message.text, error);
  }
}

void MainWindowTest::clearEmptiesEverything() {
  auto window = LoadedWindow();
  Show(*window);
  SelectNode(*window, "Zeta Report");
  ClickRow(*window, 0);
  QVERIFY(window->windowTitle() != QStringLiteral("Vell Orbel"));
  Child<QAction>(*window, "mnuViewClear")->trigger();
  QCOMPARE(window->windowTitle(), QStringLiteral("Vell Orbel"));
  QCOMPARE(orbel::ApplicationTitle(), QStringLiteral("Vell Orbel"));
  QCOMPARE(window->ListViewValues->Model()->rowCount(), 0);
  QCOMPARE(window->COLESettings().EntryCount(), 0);
  QTreeWidgetItem* root = window->TreeViewObjects->topLevelItem(0);
  QCOMPARE(root->childCount(), 6);
  for (int i = 0; i < 6; ++i) QCOMPARE(root->child(i)->childCount(), 0);
  QCOMPARE(StatusText(*window), QStringLiteral("Done"));
  QCOMPARE(Description(*window), QStringLiteral("(Nothing selected)"));
  QVERIFY(!window->IgnoreListChanges);
  QVERIFY(!window->IgnoreTreeChanges);
  QVERIFY(!screen_->busy);
}

void MainWindowTest::titleNamesTheComputerRead() {
  auto window = LoadedWindow();
  const QString title =
      QStringLiteral("Vell Orbel - Viewing Computer \"%1\"").arg(Text(orbel::LocalComputerName()));
  QCOMPARE(window->windowTitle(), title);
  QCOMPARE(orbel::ApplicationTitle(), title);
  QCOMPARE(StatusText(*window), QStringLiteral("Done"));
  QVERIFY(!window->IgnoreListChanges);
  QVERIFY(!window->IgnoreTreeChanges);
  // Showing the window keeps the title the application carries.
  Show(*window);
  QCOMPARE(window->windowTitle(), title);
}

void MainWindowTest::cancelDuringReading() {
  auto window = LoadedWindow();
  auto* progress = Child<orbel::TProgressWindow>(*window, "COLESettings");
  bool clicked = false;
  bool visibleWhileReading = false;
  screen_->onPump = [&] {
    visibleWhileReading = visibleWhileReading || progress->isVisible();
    if (!clicked) {
      clicked = true;
      QTest::mouseClick(progress->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    }
  };
  window->mnuViewRefreshClick();
  QVERIFY(visibleWhileReading);
  QVERIFY(!progress->isVisible());
  auto& catalogue = window->COLESettings();
  QCOMPARE(catalogue.ReadStatus, orbel::ReadInterrupted);
  QCOMPARE(catalogue.EntryCount(), 1);
  QCOMPARE(catalogue.NotReadCount, 7);
  screen_->onPump = nullptr;
  Child<QToolButton>(*window, "tolInfo")->click();
  QVERIFY(screen_->messages.back().text.starts_with(
      "Status: Interrupted by user, 7 objects not read.\n\n1 Objects displayed\n\n"));
}

void MainWindowTest::refreshQueuedAtTheEndOfAReading() {
  auto window = LoadedWindow();
  Show(*window);
  auto* progress = Child<orbel::TProgressWindow>(*window, "COLESettings");
  bool pressed = false;
  screen_->onPump = [&] {
    // The progress window has closed, the reading is not over yet.
    if (!pressed && !progress->isVisible()) {
      pressed = true;
      QTest::keyClick(window.get(), Qt::Key_F5);
      Child<QToolButton>(*window, "tolRefresh")->click();
    }
  };
  Child<QToolButton>(*window, "tolRefresh")->click();
  screen_->onPump = nullptr;
  QVERIFY(pressed);
  QCOMPARE(window->COLESettings().EntryCount(), 8);
  QTreeWidgetItem* root = window->TreeViewObjects->topLevelItem(0);
  QVERIFY(root);
  QCOMPARE(root->text(0), QStringLiteral("COM Objects"));
  QCOMPARE(root->childCount(), 6);
  QCOMPARE(window->TreeViewObjects->findItems("Alpha Sketch", Qt::MatchRecursive).size(), 1);
  QCOMPARE(StatusText(*window), QStringLiteral("Done"));
  // The window takes commands again afterwards.
  Child<QAction>(*window, "mnuViewClear")->trigger();
  QCOMPARE(window->COLESettings().EntryCount(), 0);
}

void MainWindowTest::problemOfThisComputersRegistryIsShown() {
  platform::PortableRegistry api;
  api.MountRootLazily(platform::HKeyLocalMachine, [](platform::Mount&, std::string& error) {
    error = "/nowhere/system.reg: cannot be read";
    return platform::kBadDb;
  });
  api.MountRoot(platform::HKeyCurrentUser, {registry_->user, registry_->user->RootNode(), {}});
  {
    TRegIniFile settings(api, orbel::kProgramKey);
    settings.WriteFlag("General", "First Start", false);
  }
  TMainWindow window(api);
  window.mnuViewRefreshClick();
  QCOMPARE(window.COLESettings().EntryCount(), 0);
  QCOMPARE(screen_->messages.size(), std::size_t{1});
  QCOMPARE(screen_->messages[0].kind, orbel::MessageKind::Error);
  QCOMPARE(screen_->messages[0].text, std::string("/nowhere/system.reg: cannot be read"));
  QCOMPARE(StatusText(window), QStringLiteral("Done"));

  // The same when another computer refused and "&Yes" read this one instead.
  api.SetConnector([](std::string_view, platform::HKey, platform::Mount&, std::string& error) {
    error = "cannot be reached";
    return platform::kBadNetPath;
  });
  screen_->messages.clear();
  screen_->answers.push_back(true);
  window.COLESettings().RequestedComputer = "\\\\NOWHERE";
  window.mnuViewRefreshClick();
  QCOMPARE(screen_->messages.size(), std::size_t{2});
  QCOMPARE(screen_->messages[0].kind, orbel::MessageKind::Confirm);
  QCOMPARE(screen_->messages[1].kind, orbel::MessageKind::Error);
  QCOMPARE(screen_->messages[1].text, std::string("/nowhere/system.reg: cannot be read"));
}

void MainWindowTest::connectReadsAnotherComputer() {
  auto remote = std::make_shared<platform::MemoryStore>();
  AddClasses(*remote, {{"{20000000-0000-0000-0000-000000000001}", "Remote Thing", {}}});
  registry_->api.SetConnector(
      [remote](std::string_view name, platform::HKey, platform::Mount& out, std::string& error) {
        if (name != "\\\\FARAWAY") {
          error = "cannot be reached";
          return platform::kBadNetPath;
        }
        out = platform::Mount{remote, remote->RootNode(), std::nullopt};
        return platform::kSuccess;
      });
  auto window = LoadedWindow();
  Show(*window);
  bool answered = false;
  QTimer::singleShot(0, window.get(), [&] {
    auto* selector = QApplication::activeModalWidget();
    QVERIFY(selector);
    selector->findChild<QComboBox*>("drpComputers")->setEditText(QStringLiteral("faraway"));
    selector->findChild<QPushButton*>("btnOK")->click();
    answered = true;
  });
  Child<QToolButton>(*window, "tolConnect")->click();
  QVERIFY(answered);
  QCOMPARE(window->COLESettings().EntryCount(), 1);
  QCOMPARE(window->COLESettings().RequestedComputer, std::string("\\\\FARAWAY"));
  QCOMPARE(window->windowTitle(), QStringLiteral("Vell Orbel - Viewing Computer \"\\\\FARAWAY\""));
  QVERIFY(screen_->messages.empty());
  // Refresh reads the same computer again.
  window->mnuViewRefreshClick();
  QCOMPARE(window->TreeViewObjects->findItems("Remote Thing", Qt::MatchRecursive).size(), 1);
}

void MainWindowTest::connectRefusedAndDeclinedSaysNothingMore() {
  auto window = LoadedWindow();
  Show(*window);
  QTimer::singleShot(0, window.get(), [] {
    auto* selector = QApplication::activeModalWidget();
    QVERIFY(selector);
    selector->findChild<QComboBox*>("drpComputers")->setEditText(QStringLiteral("nowhere"));
    selector->findChild<QPushButton*>("btnOK")->click();
  });
  screen_->answers.push_back(false);
  window->mnuFileConnectClick();
  QCOMPARE(screen_->messages.size(), std::size_t{1});
  QCOMPARE(screen_->messages[0].text,
           std::string("Unable to retrieve information from \"\\\\NOWHERE\", maybe "
                       "access-forbidden.\n\n\\\\NOWHERE: other computers cannot be reached\n\n"
                       "Read the settings from this computer instead?"));
  QCOMPARE(window->COLESettings().EntryCount(), 0);
  QCOMPARE(window->windowTitle(), QStringLiteral("Vell Orbel"));
  QVERIFY(window->COLESettings().RequestedComputer.empty());
}

void MainWindowTest::computerNameNeverOpensAFolder_data() {
  QTest::addColumn<QString>("typed");
  QTest::newRow("bare") << QStringLiteral("server1");
  QTest::newRow("backslashes") << QStringLiteral("\\\\server1");
}

// Off Windows a typed computer name opened the folder of that name in the
// current folder, here a Wine prefix.
void MainWindowTest::computerNameNeverOpensAFolder() {
  QFETCH(QString, typed);
  QTemporaryDir folder;
  QVERIFY(folder.isValid());
  QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("SERVER1")));
  QVERIFY(QFile::copy(QStringLiteral(ORBEL_SAMPLE_REGISTRY),
                      folder.filePath(QStringLiteral("SERVER1/system.reg"))));
  struct Back {
    QString path;
    ~Back() { QDir::setCurrent(path); }
  } back{QDir::currentPath()};
  QVERIFY(QDir::setCurrent(folder.path()));
  platform::PortableRegistry api;
  platform::SetUpPortableRegistry(api, {ORBEL_SAMPLE_REGISTRY, "sample registry"}, registry_->user);
  {
    TRegIniFile settings(api, orbel::kProgramKey);
    settings.WriteFlag("General", "First Start", false);
  }
  platform::HKey image{};
  const bool opensByPath =
      api.ConnectRegistry("./SERVER1", platform::HKeyLocalMachine, image) == platform::kSuccess;
  TMainWindow window(api);
  Show(window);
  QTimer::singleShot(0, &window, [typed] {
    auto* selector = QApplication::activeModalWidget();
    QVERIFY(selector);
    selector->findChild<QComboBox*>("drpComputers")->setEditText(typed);
    selector->findChild<QPushButton*>("btnOK")->click();
  });
  screen_->answers.push_back(false);
  window.mnuFileConnectClick();
  QVERIFY(opensByPath);
  QCOMPARE(screen_->messages.size(), std::size_t{1});
  QCOMPARE(screen_->messages[0].text,
           std::string("Unable to retrieve information from \"\\\\SERVER1\", maybe "
                       "access-forbidden.\n\n\\\\SERVER1: off Windows another computer is read "
                       "from its image, named by a path (a Wine prefix, a Windows folder, a hive "
                       "or a .reg file; ./NAME for one in the current folder)\n\n"
                       "Read the settings from this computer instead?"));
  QCOMPARE(window.COLESettings().EntryCount(), 0);
  QCOMPARE(window.windowTitle(), QStringLiteral("Vell Orbel"));
}

// View -> Apply Transaction Logs is kept in the preferences and decides
// whether the next reading of a dirty hive replays its logs.
void MainWindowTest::applyLogsMenuItem() {
#ifndef ORBEL_HAVE_HIVEX
  QSKIP("this build reads no hive files");
#endif
  const QString corpus = QStringLiteral(ORBEL_CORPUS_DIR "/real/");
  if (!QFileInfo::exists(corpus + "regipy_UsrClass.dat")) QSKIP("the hive corpus is missing");
  QTemporaryDir folder;
  QVERIFY(folder.isValid());
  for (const char* suffix : {"", ".LOG1", ".LOG2"}) {
    const QString name = QStringLiteral("regipy_UsrClass.dat") + suffix;
    QVERIFY(QFile::copy(corpus + name, folder.filePath(name)));
  }
  const QString hive = folder.filePath(QStringLiteral("regipy_UsrClass.dat"));
  platform::PortableRegistry api;
  platform::SetUpPortableRegistry(api, {ORBEL_SAMPLE_REGISTRY, "sample registry"}, registry_->user,
                                  platform::SystemImageOptions);
  {
    TRegIniFile settings(api, orbel::kProgramKey);
    settings.WriteFlag("General", "First Start", false);
  }
  const std::string recovered =
      "Recovered from the transaction logs: 14 entries of "
      "regipy_UsrClass.dat.LOG1 and regipy_UsrClass.dat.LOG2 applied";
  const std::string stale = "its transaction logs hold newer data, which is not applied";
  for (const bool apply : {false, true}) {
    {
      TMainWindow window(api);
      Show(window);
      auto* item = window.findChild<QAction*>("mnuViewApplyLogs");
      QVERIFY(item && item->isCheckable());
      QCOMPARE(item->isChecked(), !apply);  // as the last window left it; on at first
      item->trigger();
      QTimer::singleShot(0, &window, [hive] {
        auto* selector = QApplication::activeModalWidget();
        QVERIFY(selector);
        selector->findChild<QComboBox*>("drpComputers")->setEditText(hive);
        selector->findChild<QPushButton*>("btnOK")->click();
      });
      window.mnuFileConnectClick();
      QTRY_VERIFY(window.COLESettings().EntryCount() > 0);
      for (const bool applied : {apply, !apply}) {
        const std::string text = window.COLESettings().InformationText();
        QVERIFY2((text.find(recovered) != std::string::npos) == applied, text.c_str());
        QVERIFY2((text.find(stale) != std::string::npos) == !applied, text.c_str());
        // Refresh reads the connected hive again, with the choice changed.
        item->trigger();
        window.mnuViewRefreshClick();
        QTRY_VERIFY(window.COLESettings().EntryCount() > 0);
      }
    }
    QCOMPARE(Stored("View", "Apply Logs"), std::string(apply ? "1" : "0"));
  }
}

void MainWindowTest::informationAndHelpCommands() {
  auto window = MakeWindow();
  screen_->answers.push_back(false);
  Show(*window);
  screen_->messages.clear();
  // The shortcut reaches the command.
  QTest::keyClick(window.get(), Qt::Key_F6);
  QCOMPARE(screen_->messages.size(), std::size_t{1});
  QCOMPARE(screen_->messages[0].text,
           std::string("Currently there are no objects available. Please select \"View\" -> "
                       "\"Refresh\" from the menu to start reading the COM information."));

  Child<QAction>(*window, "mnuHelpWeb")->trigger();
  Child<QAction>(*window, "mnuHelpContents")->trigger();
  Child<QAction>(*window, "mnuHelpOnHelp")->trigger();
  QCOMPARE(screen_->opened.size(), std::size_t{3});
  QCOMPARE(screen_->opened[0], std::string(orbel::kMakerWebSite));
  const std::string manual = TMainWindow::ManualPath();
  QVERIFY(manual.ends_with("Orbel.html"));
  QVERIFY(QFileInfo::exists(Text(manual)));
  QCOMPARE(screen_->opened[1], manual);
  QVERIFY(screen_->opened[2].starts_with(manual + "#"));
}

void MainWindowTest::aboutShowsProgramAndVersion() {
  auto window = MakeWindow();
  QString nameLine;
  QString caption;
  QTimer poll;
  poll.setInterval(10);
  connect(&poll, &QTimer::timeout, window.get(), [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (!box || !box->isVisible()) return;
    caption = box->windowTitle();
    nameLine = box->findChild<QLabel*>("staAppName")->text();
    box->close();
  });
  poll.start();
  window->mnuHelpAboutClick();
  poll.stop();
  QCOMPARE(caption, QStringLiteral("About"));
  QCOMPARE(nameLine, QStringLiteral("Vell Orbel 1.1"));
  QVERIFY(window->findChildren<orbel::TAboutWindow*>().isEmpty());
}

void MainWindowTest::preferencesWrittenAtClose() {
  auto window = LoadedWindow();
  Show(*window);
  SelectNode(*window, "Alpha Sketch");
  QTreeView* details = window->ListViewValues->DetailsView();
  // Widths are recorded when the pointer moves over the rows, not at the end.
  window->ListViewValues->SetColumnWidth(0, 200);
  QTest::mouseMove(details->viewport(), QPoint(20, 20));
  QTRY_COMPARE(window->NameColumnWidth, 200);
  window->ListViewValues->SetColumnWidth(0, 260);
  window->ListViewValues->SetColumnWidth(1, 90);
  Child<QToolButton>(*window, "tolShowUnknown")->click();
  Child<QToolButton>(*window, "tolViewList")->click();
  Child<QAction>(*window, "mnuViewDescription")->trigger();
  const int rightWidth = Child<QWidget>(*window, "panRight")->width();
  window->close();
  QVERIFY(window->IgnoreListChanges);
  QVERIFY(window->IgnoreTreeChanges);
  window.reset();

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Name Width", "200"},     {"Value Width", "190"},
      {"Objects Width", "229"},  {"Details Width", std::to_string(rightWidth)},
      {"Show Description", "0"}, {"Hide Unknown", "1"},
      {"View Style", "3"},       {"Apply Logs", "1"},
  };
  const auto view = registry_->user->Find(kViewKey);
  QVERIFY(view.has_value());
  std::vector<std::string> order;
  for (const auto& value : registry_->user->ValuesOf(*view)) order.push_back(value.name);
  QCOMPARE(order.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    QCOMPARE(order[i], expected[i].first);
    QCOMPARE(Stored("View", expected[i].first), expected[i].second);
  }

  // The next start takes them up again.
  auto again = MakeWindow();
  QCOMPARE(again->ListViewValues->ColumnWidth(0), 200);
  QCOMPARE(again->ListViewValues->Style(), ViewStyle::List);
  QVERIFY(Child<QToolButton>(*again, "tolShowUnknown")->isChecked());
  QVERIFY(!Child<QAction>(*again, "mnuViewDescription")->isChecked());
  QVERIFY(!again->FirstStart);
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
