// The computer selector against an in-memory user registry: the OK rule, the
// normalised name, the remembered list in "Computers", and Cancel.
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <string>
#include <vector>

#include "registry/RegIniFile.h"
#include "support/FakeScreen.h"
#include "support/MemoryRegistry.h"
#include "ui/PCSelectorUnit.h"

using orbel::TPCSelector;
using orbel::TRegIniFile;
using orbel::testing::FakeScreen;
using orbel::testing::MemoryRegistry;

namespace {

constexpr char kProgramKey[] = "Software\\Vell Inc.\\Orbel\\1.0";
constexpr char kAbsent[] = "<absent>";

void WriteComputers(MemoryRegistry& registry, const std::vector<std::string>& names) {
  TRegIniFile settings(registry.api, kProgramKey);
  for (std::size_t i = 0; i < names.size(); ++i) {
    settings.WriteText("Computers", std::to_string(i + 1), names[i]);
  }
}

// "Computers"/"1" onwards up to the first absent ident.
std::vector<std::string> StoredComputers(MemoryRegistry& registry) {
  TRegIniFile settings(registry.api, kProgramKey);
  std::vector<std::string> names;
  for (int n = 1; n <= 20; ++n) {
    const std::string name = settings.ReadText("Computers", std::to_string(n), kAbsent);
    if (name == kAbsent) break;
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> Items(TPCSelector& selector) {
  auto* combo = selector.findChild<QComboBox*>("drpComputers");
  std::vector<std::string> items;
  for (int i = 0; i < combo->count(); ++i) items.push_back(combo->itemText(i).toStdString());
  return items;
}

QComboBox* Combo(TPCSelector& selector) { return selector.findChild<QComboBox*>("drpComputers"); }
QPushButton* OkButton(TPCSelector& selector) { return selector.findChild<QPushButton*>("btnOK"); }

// Shows the dialog, types the name into the combo box and confirms it with "&OK".
void Confirm(TPCSelector& selector, const QString& name) {
  selector.show();
  QLineEdit* edit = Combo(selector)->lineEdit();
  // Key events carry Latin-1 characters only; other text is put in as an input method would.
  const bool ascii =
      std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 128; });
  if (ascii) {
    QTest::keyClicks(edit, name);
  } else {
    edit->insert(name);
  }
  QTest::mouseClick(OkButton(selector), Qt::LeftButton);
}

}  // namespace

class PCSelectorTest : public QObject {
  Q_OBJECT

 private slots:
  void okFollowsTheText() {
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"\\\\ALPHA"});
    TPCSelector selector(registry.api, nullptr);
    selector.show();
    QLineEdit* edit = Combo(selector)->lineEdit();
    QVERIFY(!OkButton(selector)->isEnabled());
    QTest::keyClick(edit, Qt::Key_Return);  // does nothing with an empty text
    QVERIFY(selector.isVisible());
    QTest::keyClick(edit, Qt::Key_X);
    QVERIFY(OkButton(selector)->isEnabled());
    QTest::keyClick(edit, Qt::Key_Backspace);
    QVERIFY(!OkButton(selector)->isEnabled());
    QTest::keyClick(edit, Qt::Key_Space);  // a blank counts
    QVERIFY(OkButton(selector)->isEnabled());
    edit->clear();
    Combo(selector)->setCurrentIndex(0);  // choosing a remembered name
    QVERIFY(OkButton(selector)->isEnabled());
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(selector.result(), int(QDialog::Accepted));
    QCOMPARE(selector.SelectedComputer, std::string("\\\\ALPHA"));
  }

  void normalisesTheName_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("lower case, no backslash") << "server1"
                                              << "\\\\SERVER1";
    QTest::newRow("two backslashes") << "\\\\office-pc"
                                     << "\\\\OFFICE-PC";
    QTest::newRow("one backslash stays one") << "\\lab-07"
                                             << "\\LAB-07";
    QTest::newRow("blanks are kept") << " pc 2 "
                                     << "\\\\ PC 2 ";
    QTest::newRow("only ASCII letters change")
        << QString::fromUtf8("größe") << QString::fromUtf8("\\\\GRößE");
#ifdef _WIN32
    // Every name is a computer's, a path too: the registry tells an image's
    // path by its backslashes, and Windows paths ignore case.
    QTest::newRow("drive path") << "d:\\evidence\\Software"
                                << "\\\\D:\\EVIDENCE\\SOFTWARE";
#else
    // A path on a case-sensitive file system keeps its case and is made
    // absolute, so that it names the same image tomorrow.
    QTest::newRow("absolute path") << "/Home/Me/.wine/"
                                   << "/Home/Me/.wine";
    QTest::newRow("relative path") << "Images/./SOFTWARE"
                                   << "{cwd}/Images/SOFTWARE";
    QTest::newRow("home folder") << "~/Games/Pfx"
                                 << "{home}/Games/Pfx";
#endif
  }

  void normalisesTheName() {
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    expected.replace("{cwd}", QDir::currentPath()).replace("{home}", QDir::homePath());
    FakeScreen screen;
    MemoryRegistry registry;
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, typed);
    QCOMPARE(selector.result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromStdString(selector.SelectedComputer), expected);
    QCOMPARE(StoredComputers(registry), std::vector<std::string>{expected.toStdString()});
  }

  void typedTextIsNeverCompleted() {
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"\\\\SERVER10"});
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, "\\\\server1");
    QCOMPARE(selector.SelectedComputer, std::string("\\\\SERVER1"));
    QCOMPARE(StoredComputers(registry), (std::vector<std::string>{"\\\\SERVER1", "\\\\SERVER10"}));
  }

  void firstDownSelectsTheMostRecent() {
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"\\\\ALPHA", "\\\\BETA"});
    TPCSelector selector(registry.api, nullptr);
    selector.show();
    QCOMPARE(Combo(selector)->currentText(), QString());
    QTest::keyClick(Combo(selector)->lineEdit(), Qt::Key_Down);
    QCOMPARE(Combo(selector)->currentText(), QString("\\\\ALPHA"));
  }

  void pathsAreComparedExactly() {
#ifdef _WIN32
    QSKIP("on Windows every name is a computer's, compared without regard to case");
#endif
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"/data/wine", "\\\\ALPHA", "/Data/Wine"});
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, "/Data/Wine");
    QCOMPARE(StoredComputers(registry),
             (std::vector<std::string>{"/Data/Wine", "/data/wine", "\\\\ALPHA"}));
  }

  void skipsEmptyIdentsAndReadsOnlyTen() {
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"\\\\A", "", "\\\\C", "", "", "", "", "", "", "\\\\J", "\\\\K"});
    TPCSelector selector(registry.api, nullptr);
    QCOMPARE(Items(selector), (std::vector<std::string>{"\\\\A", "\\\\C", "\\\\J"}));
  }

  void aKnownNameMovesToTheTop() {
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"\\\\ALPHA", "\\\\BETA", "\\\\GAMMA"});
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, "\\\\bEtA");
    QCOMPARE(StoredComputers(registry),
             (std::vector<std::string>{"\\\\BETA", "\\\\ALPHA", "\\\\GAMMA"}));
  }

  void elevenNamesWriteElevenIdentsAndShowTen() {
    FakeScreen screen;
    MemoryRegistry registry;
    for (int i = 1; i <= 11; ++i) {
      TPCSelector selector(registry.api, nullptr);
      Confirm(selector, QString("pc%1").arg(i));
    }
    std::vector<std::string> newestFirst;
    for (int i = 11; i >= 1; --i) newestFirst.push_back("\\\\PC" + std::to_string(i));
    QCOMPARE(StoredComputers(registry), newestFirst);
    TPCSelector next(registry.api, nullptr);
    newestFirst.pop_back();
    QCOMPARE(Items(next), newestFirst);
  }

  void cancelAndEscapeLeaveTheRegistry() {
    FakeScreen screen;
    MemoryRegistry registry;
    const std::vector<std::string> before{"\\\\ALPHA", "\\\\BETA"};
    WriteComputers(registry, before);
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, "gamma");
    selector.show();
    QTest::keyClicks(Combo(selector)->lineEdit(), "delta");
    QTest::keyClick(Combo(selector)->lineEdit(), Qt::Key_Escape);
    QCOMPARE(selector.result(), int(QDialog::Rejected));
    QVERIFY(selector.SelectedComputer.empty());

    TPCSelector second(registry.api, nullptr);
    second.show();
    QTest::keyClicks(Combo(second)->lineEdit(), "epsilon");
    QTest::mouseClick(second.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    QCOMPARE(second.result(), int(QDialog::Rejected));
    QVERIFY(second.SelectedComputer.empty());
    QCOMPARE(StoredComputers(registry),
             (std::vector<std::string>{"\\\\GAMMA", "\\\\ALPHA", "\\\\BETA"}));
  }

  void aFailedWriteStillReturnsTheName() {
    FakeScreen screen;
    MemoryRegistry registry;
    registry.user->SetWritable(false);
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, "delta");
    QCOMPARE(selector.result(), int(QDialog::Accepted));
    QCOMPARE(selector.SelectedComputer, std::string("\\\\DELTA"));
    QCOMPARE(screen.messages.size(), std::size_t{1});
    QCOMPARE(screen.messages[0].caption, std::string("Error"));
    QCOMPARE(screen.messages[0].text, std::string("Failed to create key Computers"));
  }
};

QTEST_MAIN(PCSelectorTest)
#include "PCSelectorTest.moc"
