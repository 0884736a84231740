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

QString Text(TAboutWindow& box, const char* label) {
  return box.findChild<QLabel*>(label)->text();
}

QPushButton* Button(TAboutWindow& box, const char* name) {
  return box.findChild<QPushButton*>(name);
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
    QCOMPARE(box.minimumSize(), box.maximumSize());
    QCOMPARE(Text(box, "staEMail"), QString("Contact Vell"));
    QCOMPARE(Text(box, "staInternet"), QString("Vell in the Web"));
    QCOMPARE(Text(box, "staInfo"),
             QString("The newest information about Vell, new programs or support is available "
                     "through our internet-site. Thank you for using a Vell program."));
    QCOMPARE(Button(box, "btnEMail")->text(), QString(orbel::kMakerEMail));
    QCOMPARE(Button(box, "btnInternet")->text(), QString(orbel::kMakerWebSite));
    QVERIFY(Button(box, "btnInternet")->isDefault());
    QVERIFY(!Button(box, "btnEMail")->isDefault());
    // No OK or Close button: only the two address buttons.
    QCOMPARE(box.findChildren<QPushButton*>().size(), 2);
    for (const char* bold : {"staAppName", "staNotice", "staEMail", "staInternet"}) {
      QVERIFY2(box.findChild<QLabel*>(bold)->font().bold(), bold);
    }
    QVERIFY(!box.findChild<QLabel*>("staRights")->font().bold());
    QVERIFY(!Text(box, "staNotice").isEmpty());
    QVERIFY(!Text(box, "staRights").isEmpty());
  }

  void fontFollowsTahoma_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("family");
    QTest::newRow("installed, any case") << QStringList{"Arial", "TAHOMA"} << "Tahoma";
    QTest::newRow("missing") << QStringList{"Arial"} << "MS Sans Serif";
    QTest::newRow("only a longer name") << QStringList{"Tahoma Bold"} << "MS Sans Serif";
  }

  void fontFollowsTahoma() {
    QFETCH(QStringList, installed);
    QFETCH(QString, family);
    FakeScreen screen;
    for (const QString& name : installed) screen.fonts.push_back(name.toStdString());
    TAboutWindow box(nullptr);
    QCOMPARE(box.font().family(), family);
    QCOMPARE(box.findChild<QWidget*>("panMain")->font().family(), family);
    QCOMPARE(Button(box, "btnInternet")->font().family(), family);
  }

  void nameLineAppearsOnShowing() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    box.SetProgramName("Orbel");
    box.SetProgramVersion("1.1");
    QCOMPARE(Text(box, "staAppName"), QString("Vell"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(Text(box, "staAppName"), QString("Vell Orbel 1.1"));
    QCOMPARE(box.focusWidget(), Button(box, "btnInternet"));

    // Showing the same box again does not make the line longer.
    box.hide();
    box.show();
    QCOMPARE(Text(box, "staAppName"), QString("Vell Orbel 1.1"));
  }

  void aSecondBoxShowsTheSameLines() {
    FakeScreen screen;
    QString first;
    QString notice;
    {
      TAboutWindow box(nullptr);
      ShowAsOrbel(box);
      first = Text(box, "staAppName");
      notice = Text(box, "staNotice");
    }
    TAboutWindow again(nullptr);
    ShowAsOrbel(again);
    QCOMPARE(Text(again, "staAppName"), first);
    QCOMPARE(Text(again, "staNotice"), notice);
  }

  void enterOpensTheWebSiteAndStaysOpen() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    ShowAsOrbel(box);
    box.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    QCOMPARE(QApplication::focusWidget(), Button(box, "btnInternet"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(screen.opened, std::vector<std::string>{orbel::kMakerWebSite});
    QVERIFY(box.isVisible());
    QCOMPARE(box.result(), 0);
    QVERIFY(screen.messages.empty());
  }

  void mailButtonOpensAMailAddress() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    ShowAsOrbel(box);
    QTest::mouseClick(Button(box, "btnEMail"), Qt::LeftButton);
    QCOMPARE(screen.opened, std::vector<std::string>{std::string("mailto: ") + orbel::kMakerEMail});
    QVERIFY(box.isVisible());
  }

  void logoDoubleClickShowsInformation() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    ShowAsOrbel(box);
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto* logo = box.findChild<QLabel*>("Image1");
    QTest::mouseDClick(logo, Qt::LeftButton);
    QCOMPARE(screen.messages.size(), std::size_t{1});
    QCOMPARE(screen.messages[0].caption, std::string("Information"));
    QVERIFY(!screen.messages[0].text.empty());
    QCOMPARE(Text(box, "staAppName"), QString("Vell Orbel 1.1"));
    QVERIFY(box.isVisible());
  }

  void logoIsShown() {
    FakeScreen screen;
    TAboutWindow box(nullptr);
    const QPixmap logo = box.findChild<QLabel*>("Image1")->pixmap();
    QVERIFY(!logo.isNull());
    QVERIFY(logo.width() <= 101 && logo.height() <= 93);
  }
};

QTEST_MAIN(AboutWindowTest)
#include "AboutWindowTest.moc"
