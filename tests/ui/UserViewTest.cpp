// A user's classes in the window: the selector offers the users of a Wine
// prefix and remembers the one chosen; a class the user overrides carries
// its badge and shows the machine's value beside the user's.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <string>

#include "catalogue/COLESettingsUnit.h"
#include "platform/computer/LocalImage.h"
#include "registry/RegIniFile.h"
#include "support/FakeScreen.h"
#include "support/MemoryRegistry.h"
#include "ui/AttributeListView.h"
#include "ui/MainWindowUnit.h"
#include "ui/ObjectTreeView.h"
#include "ui/PCSelectorUnit.h"

using orbel::TMainWindow;
using orbel::TObjectTreeView;
using orbel::TPCSelector;
using orbel::testing::FakeScreen;
using orbel::testing::MemoryRegistry;

namespace {

constexpr char kGuid[] = "{30000000-0000-0000-0000-000000000001}";

// A Wine prefix of the user alice whose user.reg replaces the control of kGuid.
void MakePrefix(const QString& folder) {
  QDir(folder).mkpath(QStringLiteral("drive_c/users/Public"));
  QDir(folder).mkpath(QStringLiteral("drive_c/users/alice"));
  QFile reg(folder + QStringLiteral("/user.reg"));
  QVERIFY(reg.open(QIODevice::WriteOnly));
  reg.write(QStringLiteral("WINE REGISTRY Version 2\n\n"
                           "[Software\\\\Classes\\\\CLSID\\\\%1\\\\InprocServer32] 1700000000\n"
                           "@=\"C:\\\\users\\\\alice\\\\AppData\\\\hook.dll\"\n")
                .arg(kGuid)
                .toUtf8());
}

}  // namespace

class UserViewTest : public QObject {
  Q_OBJECT

 private slots:
  void selectorOffersAndRemembersTheUsersOfAPrefix() {
#ifdef _WIN32
    QSKIP("on Windows every name is a computer's: no prefix has users to offer");
#endif
    FakeScreen screen;
    MemoryRegistry registry;
    QTemporaryDir folder;
    MakePrefix(folder.path());
    for (const bool again : {false, true}) {
      TPCSelector selector(registry.api, nullptr);
      selector.show();
      auto* users = selector.findChild<QComboBox*>("drpUsers");
      auto* view32 = selector.findChild<QCheckBox*>("chkView32");
      selector.findChild<QComboBox*>("drpComputers")->lineEdit()->setText(folder.path());
      QCOMPARE(users->count(), 2);  // (none) and alice; Public is nobody's
      QCOMPARE(users->itemText(1), QStringLiteral("alice"));
      // The choice comes back with the computer, as it was confirmed.
      QCOMPARE(users->currentIndex(), again ? 1 : 0);
      QCOMPARE(view32->isChecked(), again);
      users->setCurrentIndex(1);
      view32->setChecked(true);
      selector.findChild<QPushButton*>("btnOK")->click();
      QCOMPARE(selector.SelectedUserName, std::string("alice"));
      QCOMPARE(QString::fromStdString(selector.SelectedUserClasses),
               folder.filePath(QStringLiteral("user.reg")));
      QCOMPARE(selector.SelectedView, std::string("both"));
    }
  }

  void anOverrideHasItsBadgeAndTheMachinesRow() {
    FakeScreen screen;
    MemoryRegistry registry;
    const std::string key = std::string("Software\\Classes\\CLSID\\") + kGuid;
    registry.Text(key, "", "Shared Widget");
    registry.Text(key + "\\InprocServer32", "", "C:\\windows\\system32\\widget.dll");
    registry.Text("Software\\Classes\\CLSID\\{30000000-0000-0000-0000-000000000002}", "",
                  "Plain Widget");
    {
      orbel::TRegIniFile settings(registry.api, orbel::kProgramKey);
      settings.WriteFlag("General", "First Start", false);
    }
    QTemporaryDir folder;
    MakePrefix(folder.path());
    TMainWindow window(registry.api);
    window.OpenAtStart("",
                       {folder.filePath(QStringLiteral("user.reg")).toStdString(), "alice", "64"});
    window.show();
    QTRY_COMPARE(window.COLESettings().EntryCount(), 2);
    QCOMPARE(window.windowTitle().toStdString(),
             "Vell Orbel - Viewing Computer \"" + orbel::LocalComputerName() + "\" (user alice)");

    const auto badges = [&](const char* name) {
      const auto items = window.TreeViewObjects->findItems(QString::fromLatin1(name),
                                                           Qt::MatchExactly | Qt::MatchRecursive);
      return items.size() == 1 ? TObjectTreeView::BadgesOf(items.first()) : 99u;
    };
    QCOMPARE(badges("Shared Widget"), unsigned(orbel::BadgeUser));
    QCOMPARE(badges("Plain Widget"), unsigned(orbel::BadgeNone));

    window.TreeViewObjects->setCurrentItem(
        window.TreeViewObjects
            ->findItems(QStringLiteral("Shared Widget"), Qt::MatchExactly | Qt::MatchRecursive)
            .first());
    const auto* model = window.ListViewValues->Model();
    const auto value = [&](const QString& caption) {
      for (int row = 0; row < model->rowCount(); ++row) {
        if (model->Caption(row) == caption) return row;
      }
      return -1;
    };
    const int user = value(QStringLiteral("Control"));
    const int machine = value(QStringLiteral("Control (machine)"));
    QVERIFY(user >= 0 && machine > user);
    QCOMPARE(model->Value(user), QStringLiteral("C:\\users\\alice\\AppData\\hook.dll"));
    QCOMPARE(model->Value(machine), QStringLiteral("C:\\windows\\system32\\widget.dll"));
    QCOMPARE(model->Value(value(QStringLiteral("Scope"))),
             QStringLiteral("Both (the user's values win)"));
    // The added row is described by its own help text.
    window.ListViewValues->SelectRow(machine);
    QCOMPARE(window.findChild<QPlainTextEdit*>("staDescription")->toPlainText().toStdString(),
             orbel::MachineRowHelp("Control"));
  }
};

QTEST_MAIN(UserViewTest)
#include "UserViewTest.moc"
