// Findings in the window: a reading of a machine with files shows only the
// objects with findings when asked, the whole tree again when not; a
// finding's row is described by its rule's explanation.
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <string>

#include "catalogue/COLESettingsUnit.h"
#include "findings/ClassFindings.h"
#include "registry/RegIniFile.h"
#include "support/FakeScreen.h"
#include "support/MemoryRegistry.h"
#include "ui/AttributeListView.h"
#include "ui/MainWindowUnit.h"
#include "ui/ObjectTreeView.h"

using orbel::TMainWindow;
using orbel::TObjectTreeView;
using orbel::testing::FakeScreen;
using orbel::testing::MemoryRegistry;

namespace {

constexpr char kHooked[] = "{40000000-0000-0000-0000-000000000001}";

// A machine whose C: is `drive`: "Hooked Widget" served from the public
// profile, "Plain Widget" from the system folder, and "Redirected Widget",
// a plain widget treated as the hooked one.
void MakeMachine(MemoryRegistry& registry, const QString& drive) {
  QDir(drive).mkpath(QStringLiteral("users/Public"));
  QDir(drive).mkpath(QStringLiteral("windows/system32"));
  for (const char* file : {"users/Public/hook.dll", "windows/system32/plain.dll"}) {
    QFile planted(drive + "/" + file);
    QVERIFY(planted.open(QIODevice::WriteOnly));
  }
  registry.api.MountRoot(orbel::platform::HKeyLocalMachine,
                         {registry.machine, registry.machine->RootNode(), drive.toStdString()});
  const std::string classes = "Software\\Classes\\CLSID\\";
  const auto add = [&](const std::string& guid, const char* name, const char* server) {
    registry.Text(classes + guid, "", name);
    registry.Text(classes + guid + "\\InprocServer32", "", server);
  };
  add(kHooked, "Hooked Widget", "C:\\users\\Public\\hook.dll");
  add("{40000000-0000-0000-0000-000000000002}", "Plain Widget", "C:\\windows\\system32\\plain.dll");
  const std::string redirected = "{40000000-0000-0000-0000-000000000003}";
  add(redirected, "Redirected Widget", "C:\\windows\\system32\\plain.dll");
  registry.Text(classes + redirected + "\\TreatAs", "", kHooked);
  orbel::TRegIniFile settings(registry.api, orbel::kProgramKey);
  settings.WriteFlag("General", "First Start", false);
}

// The names of the objects in the tree, in order.
QStringList ObjectsOf(const TObjectTreeView& tree) {
  QStringList names;
  for (auto node = tree.First(); node; node = tree.Next(node)) {
    if (tree.Level(node) >= 2) names << TObjectTreeView::ItemOf(node)->text(0);
  }
  return names;
}

}  // namespace

class FindingsViewTest : public QObject {
  Q_OBJECT

 private slots:
  void filterLeavesTheObjectsWithFindings() {
    FakeScreen screen;
    MemoryRegistry registry;
    QTemporaryDir drive;
    MakeMachine(registry, drive.path());
    TMainWindow window(registry.api);
    window.show();
    window.mnuViewRefreshClick();
    const QStringList all = ObjectsOf(*window.TreeViewObjects);
    QCOMPARE(all.size(), 3);
    for (auto node = window.TreeViewObjects->First(); node;
         node = window.TreeViewObjects->Next(node)) {
      if (window.TreeViewObjects->Level(node) < 2) continue;
      const QTreeWidgetItem* item = TObjectTreeView::ItemOf(node);
      const bool plain = item->text(0) == QStringLiteral("Plain Widget");
      QCOMPARE((TObjectTreeView::BadgesOf(item) & orbel::BadgeFinding) != 0, !plain);
    }

    auto* button = window.findChild<QToolButton*>("tolFindings");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(ObjectsOf(*window.TreeViewObjects),
             QStringList({"Hooked Widget", "Redirected Widget"}));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(ObjectsOf(*window.TreeViewObjects), all);

    // The summary counts them by rule.
    window.mnuFileInformationClick();
    QVERIFY(!screen.messages.empty());
    const std::string& summary = screen.messages.back().text;
    QVERIFY2(summary.find("Findings in 2 Objects:\n") != std::string::npos, summary.c_str());
    QVERIFY2(summary.find("\n1 treat-as\n") != std::string::npos, summary.c_str());
  }

  void aFindingRowIsDescribedByItsRule_data() {
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("value");  // a part of the row's value
    QTest::addColumn<QString>("help");
    const auto explained = [](const char* rule) {
      return QString::fromStdString(std::string(orbel::FindingExplanation(rule)));
    };
    QTest::newRow("writable folder") << "Hooked Widget"
                                     << "Finding: writable-folder"
                                     << "hook.dll" << explained("writable-folder");
    QTest::newRow("treat as") << "Redirected Widget"
                              << "Finding: treat-as" << kHooked << explained("treat-as");
    // The server the TreatAs class runs, as found in the machine's files.
    QTest::newRow("resolved server")
        << "Redirected Widget"
        << "Resolved Server"
        << "users\\Public\\hook.dll" << QString::fromLatin1(orbel::kResolvedServerHelp);
  }

  void aFindingRowIsDescribedByItsRule() {
    QFETCH(QString, object);
    QFETCH(QString, caption);
    QFETCH(QString, value);
    QFETCH(QString, help);
    FakeScreen screen;
    MemoryRegistry registry;
    QTemporaryDir drive;
    MakeMachine(registry, drive.path());
    TMainWindow window(registry.api);
    window.show();
    window.mnuViewRefreshClick();
    const auto items =
        window.TreeViewObjects->findItems(object, Qt::MatchExactly | Qt::MatchRecursive);
    QCOMPARE(items.size(), 1);
    window.TreeViewObjects->setCurrentItem(items.first());
    const auto* model = window.ListViewValues->Model();
    int row = model->rowCount() - 1;
    while (row >= 0 && model->Caption(row) != caption) --row;
    QVERIFY2(row >= 0, qPrintable(caption));
    QVERIFY2(model->Value(row).contains(value, Qt::CaseInsensitive), qPrintable(model->Value(row)));
    window.ListViewValues->SelectRow(row);
    QCOMPARE(window.findChild<QPlainTextEdit*>("staDescription")->toPlainText(), help);
  }
};

QTEST_MAIN(FindingsViewTest)
#include "FindingsViewTest.moc"
