// The About box: its texts, the name line built on showing, the two address
// buttons and the logo's double click.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <string>

#include "support/FakeScreen.h"
#include "tools/Vell_Tools.h"
#include "ui/AboutWindowUnit.h"

using orbel::TAboutWindow;
using orbel::testing::FakeScreen;

namespace {

QString Text(TAboutWindow& box, const char* label) { return box.findChild<QLabel*>(label)->text(); }

QPushButton* Button(TAboutWindow& box, const char* name) {
  return box.findChild<QPushButton*>(name);
}

// The two lines built on showing: each holds the program's name once.
void ExpectShowingLines(TAboutWindow& box) {
  QCOMPARE(Text(box, "staAppName"), QString("Vell Orbel 1.1"));
  QCOMPARE(Text(box, "staFreeware"), QString("Orbel is freeware."));
}

// Shows the box as the main window's About command does.
void ShowAsOrbel(TAboutWindow& box) {
  box.SetProgramName("Orbel");
  box.SetProgramVersion("1.1");
  box.show();
}

}  // namespace

class AboutWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void fixedTexts() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    QCOMPARE(box.windowTitle(), QString("About"));
    QCOMPARE(box.size(), QSize(320, 287));
    QCOMPARE(Text(box, "staAppName"), QString("Vell"));
    QCOMPARE(Text(box, "staEMail"), QString("Contact Vell"));
    QCOMPARE(Text(box, "staInternet"), QString("Vell in the Web"));
    QCOMPARE(Text(box, "staInfo"),
             QString("The newest information about Vell, new programs or support is available "
                     "through our internet-site. Thank you for using a Vell program."));
    QCOMPARE(Button(box, "btnEMail")->text(), QString(orbel::kMakerEMail));
    QCOMPARE(Button(box, "btnInternet")->text(), QString(orbel::kMakerWebSite));
    // No OK or Close button: only the two address buttons.
    QCOMPARE(box.findChildren<QPushButton*>().size(), 2);
    for (const char* bold : {"staAppName", "staNotice", "staEMail", "staInternet"}) {
      QVERIFY2(box.findChild<QLabel*>(bold)->font().bold(), bold);
    }
    QVERIFY(!box.findChild<QLabel*>("staRights")->font().bold());
    QVERIFY(!box.findChild<QLabel*>("Image1")->pixmap().isNull());
  }

  void everyShowingHasTheSameNameLine() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    ShowAsOrbel(box);
    ExpectShowingLines(box);
    box.hide();
    box.show();
    ExpectShowingLines(box);
    TAboutWindow second(nullptr);
    ShowAsOrbel(second);
    ExpectShowingLines(second);
  }

  void enterOpensTheWebSiteAndTheBoxStays() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    ShowAsOrbel(box);
    box.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    QCOMPARE(QApplication::focusWidget(), Button(box, "btnInternet"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(screen.opened, std::vector<std::string>{orbel::kMakerWebSite});
    QTest::mouseClick(Button(box, "btnEMail"), Qt::LeftButton);
    QCOMPARE(screen.opened.back(), std::string("mailto: ") + orbel::kMakerEMail);
    QVERIFY(box.isVisible());
    QCOMPARE(box.result(), 0);
  }

  void logoDoubleClickShowsInformation() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    ShowAsOrbel(box);
    QTest::mouseDClick(box.findChild<QLabel*>("Image1"), Qt::LeftButton);
    QCOMPARE(screen.messages.size(), std::size_t{1});
    QCOMPARE(screen.messages[0].caption, std::string("Information"));
    ExpectShowingLines(box);
    QVERIFY(box.isVisible());
  }
};

QTEST_MAIN(AboutWindowTest)
#include "AboutWindowTest.moc"
