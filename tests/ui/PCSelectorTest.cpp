// The computer selector against an in-memory user registry: the OK rule, the
// normalised name, the remembered list in "Computers", and Cancel.
#include <QComboBox>
#include <QLabel>
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
  const bool ascii = std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 128; });
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
  void controlsAndCaption() {
    FakeScreen screen;
    MemoryRegistry registry;
    TPCSelector selector(registry.api, nullptr);
    QCOMPARE(selector.windowTitle(), QString("Select a computer"));
    QCOMPARE(selector.size(), QSize(394, 137));
    QCOMPARE(selector.minimumSize(), selector.maximumSize());
    QVERIFY(Combo(selector)->isEditable());
    QCOMPARE(Combo(selector)->maxVisibleItems(), 10);
    QCOMPARE(OkButton(selector)->text(), QString("&OK"));
    QVERIFY(OkButton(selector)->isDefault());
    QCOMPARE(selector.findChild<QPushButton*>("btnCancel")->text(), QString("&Cancel"));
    QVERIFY(selector.findChild<QLabel*>("Label3")->text().count("\\\\") >= 3);
  }

  void okFollowsTheText() {
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"\\\\ALPHA"});
    TPCSelector selector(registry.api, nullptr);
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QLineEdit* edit = Combo(selector)->lineEdit();

    QVERIFY(edit->text().isEmpty());
    QVERIFY(!OkButton(selector)->isEnabled());
    // Enter with an empty text does nothing.
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(selector.isVisible());
    QCOMPARE(selector.result(), 0);

    QTest::keyClick(edit, Qt::Key_X);
    QVERIFY(OkButton(selector)->isEnabled());
    QTest::keyClick(edit, Qt::Key_Backspace);
    QVERIFY(!OkButton(selector)->isEnabled());
    // A blank is a character.
    QTest::keyClick(edit, Qt::Key_Space);
    QVERIFY(OkButton(selector)->isEnabled());
    edit->clear();
    QVERIFY(!OkButton(selector)->isEnabled());
    // Choosing a remembered name enables it.
    Combo(selector)->setCurrentIndex(0);
    QCOMPARE(edit->text(), QString("\\\\ALPHA"));
    QVERIFY(OkButton(selector)->isEnabled());
  }

  void enterConfirmsATypedName() {
    FakeScreen screen;
    MemoryRegistry registry;
    TPCSelector selector(registry.api, nullptr);
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QLineEdit* edit = Combo(selector)->lineEdit();
    QTest::keyClicks(edit, "beta");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(selector.result(), int(QDialog::Accepted));
    QCOMPARE(selector.SelectedComputer, std::string("\\\\BETA"));
    QCOMPARE(StoredComputers(registry), std::vector<std::string>{"\\\\BETA"});
  }

  void normalisesTheName_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("lower case, no backslash") << "server1" << "\\\\SERVER1";
    QTest::newRow("two backslashes") << "\\\\office-pc" << "\\\\OFFICE-PC";
    QTest::newRow("one backslash stays one") << "\\lab-07" << "\\LAB-07";
    QTest::newRow("blanks are kept") << " pc 2 " << "\\\\ PC 2 ";
    QTest::newRow("only ASCII letters change") << QString::fromUtf8("größe")
                                               << QString::fromUtf8("\\\\GRößE");
    QTest::newRow("a path gets the same rule") << "/srv/images/wine"
                                               << "\\\\/SRV/IMAGES/WINE";
  }

  void normalisesTheName() {
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    FakeScreen screen;
    MemoryRegistry registry;
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, typed);
    QCOMPARE(selector.result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromStdString(selector.SelectedComputer), expected);
    QCOMPARE(StoredComputers(registry), std::vector<std::string>{expected.toStdString()});
    QVERIFY(screen.messages.empty());
  }

  void readsIdentsOneToTenWithoutGaps() {
    FakeScreen screen;
    MemoryRegistry registry;
    {
      TRegIniFile settings(registry.api, kProgramKey);
      settings.WriteText("Computers", "1", "\\\\A");
      settings.WriteText("Computers", "2", "");
      settings.WriteText("Computers", "4", "\\\\D");
      settings.WriteText("Computers", "10", "\\\\J");
      settings.WriteText("Computers", "11", "\\\\K");
    }
    TPCSelector selector(registry.api, nullptr);
    QCOMPARE(Items(selector), (std::vector<std::string>{"\\\\A", "\\\\D", "\\\\J"}));
    QVERIFY(Combo(selector)->currentText().isEmpty());
  }

  void confirmingAKnownNameMovesItToTheTop() {
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"\\\\ALPHA", "\\\\BETA", "\\\\GAMMA"});
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, "\\\\bEtA");
    QCOMPARE(selector.SelectedComputer, std::string("\\\\BETA"));
    QCOMPARE(StoredComputers(registry),
             (std::vector<std::string>{"\\\\BETA", "\\\\ALPHA", "\\\\GAMMA"}));
  }

  void elevenNamesWriteElevenIdentsAndShowTen() {
    FakeScreen screen;
    MemoryRegistry registry;
    for (int i = 1; i <= 11; ++i) {
      TPCSelector selector(registry.api, nullptr);
      Confirm(selector, QString("pc%1").arg(i));
      QCOMPARE(selector.result(), int(QDialog::Accepted));
    }
    std::vector<std::string> newestFirst;
    for (int i = 11; i >= 1; --i) newestFirst.push_back("\\\\PC" + std::to_string(i));
    QCOMPARE(StoredComputers(registry), newestFirst);

    TPCSelector next(registry.api, nullptr);
    newestFirst.pop_back();
    QCOMPARE(Items(next), newestFirst);
  }

  void cancelLeavesTheRegistry() {
    FakeScreen screen;
    MemoryRegistry registry;
    const std::vector<std::string> before{"\\\\ALPHA", "\\\\BETA"};
    WriteComputers(registry, before);
    TPCSelector selector(registry.api, nullptr);
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QTest::keyClicks(Combo(selector)->lineEdit(), "gamma");
    QTest::mouseClick(selector.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    QCOMPARE(selector.result(), int(QDialog::Rejected));
    QVERIFY(selector.SelectedComputer.empty());
    QCOMPARE(StoredComputers(registry), before);
  }

  void escapeCancelsAfterAnEarlierConfirmation() {
    FakeScreen screen;
    MemoryRegistry registry;
    TPCSelector selector(registry.api, nullptr);
    Confirm(selector, "first");
    QCOMPARE(selector.SelectedComputer, std::string("\\\\FIRST"));
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QTest::keyClick(Combo(selector)->lineEdit(), Qt::Key_Escape);
    QCOMPARE(selector.result(), int(QDialog::Rejected));
    QVERIFY(!selector.isVisible());
    QVERIFY(selector.SelectedComputer.empty());
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

  void aBadValueKeepsWhatWasRead() {
    FakeScreen screen;
    MemoryRegistry registry;
    WriteComputers(registry, {"\\\\ALPHA"});
    const auto section = registry.user->Find("Software\\Vell Inc.\\Orbel\\1.0\\Computers");
    QVERIFY(section.has_value());
    registry.user->PutDword(*section, "2", 7);
    TRegIniFile(registry.api, kProgramKey).WriteText("Computers", "3", "\\\\GAMMA");

    TPCSelector selector(registry.api, nullptr);
    QCOMPARE(Items(selector), std::vector<std::string>{"\\\\ALPHA"});
    QCOMPARE(screen.messages.size(), std::size_t{1});
    QCOMPARE(screen.messages[0].text, std::string("Invalid data type for '2'"));
    QVERIFY(!OkButton(selector)->isEnabled());
  }
};

QTEST_MAIN(PCSelectorTest)
#include "PCSelectorTest.moc"
