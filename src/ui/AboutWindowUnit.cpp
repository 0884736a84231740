#include "ui/AboutWindowUnit.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QFrame>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStringList>
#include <filesystem>

#include "tools/Vell_Tools.h"
#include "ui/QtImageList.h"
#include "ui/QtScreen.h"

namespace orbel {

namespace {

constexpr int kClientWidth = 320;
constexpr int kClientHeight = 287;
constexpr int kRightColumnLeft = 115;
constexpr int kRightColumnWidth = 197;
constexpr int kButtonHeight = 23;

// The first word of the name line; the program's name and version follow it.
constexpr char kAppNameDesignText[] = "Vell";
constexpr char kInfoText[] =
    "The newest information about Vell, new programs or support is available through our "
    "internet-site. Thank you for using a Vell program.";
constexpr char kLogoMessage[] = "Vell makes small tools for Windows developers.";

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A button caption that shows the text as it is, ampersands included.
QString LiteralCaption(const char* text) { return QString::fromUtf8(text).replace("&", "&&"); }

void AddBold(QWidget& widget) {
  QFont font = widget.font();
  font.setBold(true);
  widget.setFont(font);
}

QFrame* Separator(QWidget* parent, const char* name, int top) {
  auto* line = new QFrame(parent);
  line->setObjectName(name);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(8, top, 305, 2);
  return line;
}

}  // namespace

TAboutWindow::TAboutWindow(QWidget* owner) : QDialog(owner) {
  setObjectName("AboutWindow");
  setWindowTitle("About");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(QFont("MS Sans Serif", 8));

  panLogo = new QFrame(this);
  panLogo->setObjectName("panLogo");
  panLogo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panLogo->setLineWidth(1);
  panLogo->setGeometry(8, 8, 101, 93);

  Image1 = new QLabel(panLogo);
  Image1->setObjectName("Image1");
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setGeometry(panLogo->contentsRect());
  Image1->installEventFilter(this);

  panMain = new QFrame(this);
  panMain->setObjectName("panMain");
  panMain->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panMain->setLineWidth(2);
  panMain->setGeometry(kRightColumnLeft, 8, kRightColumnWidth, 93);
  panMain->setFont(QFont("MS Sans Serif", 8));

  const auto mainLabel = [this](const char* name, const char* text, int top) {
    auto* label = new QLabel(text, panMain);
    label->setObjectName(name);
    label->setGeometry(10, top, kRightColumnWidth - 20, 18);
    return label;
  };
  staAppName = mainLabel("staAppName", kAppNameDesignText, 6);
  staNotice = mainLabel("staNotice", "COM class browser", 26);
  staRights = mainLabel("staRights", "Copyright (c) Vell", 46);
  staFreeware = mainLabel("staFreeware", "", 66);

  panLine1 = Separator(this, "panLine1", 109);

  staEMail = new QLabel("Contact Vell", this);
  staEMail->setObjectName("staEMail");
  staEMail->setAlignment(Qt::AlignCenter);
  staEMail->setGeometry(kRightColumnLeft, 117, kRightColumnWidth, 18);

  btnEMail = new QPushButton(this);
  btnEMail->setObjectName("btnEMail");
  btnEMail->setGeometry(kRightColumnLeft, 135, kRightColumnWidth, kButtonHeight);

  staInternet = new QLabel("Vell in the Web", this);
  staInternet->setObjectName("staInternet");
  staInternet->setAlignment(Qt::AlignCenter);
  staInternet->setGeometry(kRightColumnLeft, 164, kRightColumnWidth, 18);

  btnInternet = new QPushButton(this);
  btnInternet->setObjectName("btnInternet");
  btnInternet->setDefault(true);
  btnInternet->setGeometry(kRightColumnLeft, 182, kRightColumnWidth, kButtonHeight);

  panLine2 = Separator(this, "panLine2", 215);

  staInfo = new QLabel(this);
  staInfo->setObjectName("staInfo");
  staInfo->setWordWrap(true);
  staInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  staInfo->setGeometry(8, 225, 305, 41);

  setTabOrder(btnEMail, btnInternet);

  connect(btnEMail, &QPushButton::clicked, this, &TAboutWindow::btnEMailClick);
  connect(btnInternet, &QPushButton::clicked, this, &TAboutWindow::btnInternetClick);

  LoadLogo();
  FormCreate();
}

void TAboutWindow::FormCreate() {
  if (FontInstalled("Tahoma")) {
    QFont boxFont = font();
    boxFont.setFamily("Tahoma");
    setFont(boxFont);
    QFont mainFont = panMain->font();
    mainFont.setFamily("Tahoma");
    panMain->setFont(mainFont);
  }
  AddBold(*staAppName);
  AddBold(*staNotice);
  AddBold(*staEMail);
  AddBold(*staInternet);
  btnEMail->setText(LiteralCaption(kMakerEMail));
  btnInternet->setText(LiteralCaption(kMakerWebSite));
  staInfo->setText(kInfoText);
}

void TAboutWindow::FormActivate() {
  // Built from the design text each time, so that the line never grows.
  staAppName->setText(
      FromUtf8(std::string(kAppNameDesignText) + " " + ProgramName + " " + ProgramVersion));
  staFreeware->setText(FromUtf8(ProgramName + " is freeware."));
  btnInternet->setFocus();
}

void TAboutWindow::SetProgramName(const std::string& name) { ProgramName = name; }

void TAboutWindow::SetProgramVersion(const std::string& version) { ProgramVersion = version; }

void TAboutWindow::btnEMailClick() { OpenDocument(std::string("mailto: ") + kMakerEMail); }

void TAboutWindow::btnInternetClick() { OpenDocument(kMakerWebSite); }

void TAboutWindow::Image1DblClick() { InfoMessage(kLogoMessage); }

void TAboutWindow::LoadLogo() {
  const std::string name = std::string("logo") + kImageSuffix;
  QStringList candidates{QString::fromLatin1(kLogoFile)};
  candidates << QString::fromStdString(
      (std::filesystem::path(__FILE__).parent_path() / "images" / name).string());
  if (QCoreApplication::instance() != nullptr) {
    candidates << QCoreApplication::applicationDirPath() + "/images/" + QString::fromStdString(name);
  }
  for (const QString& candidate : candidates) {
    QImageReader reader(candidate);
    reader.setScaledSize(Image1->size());
    const QImage logo = reader.read();
    if (!logo.isNull()) {
      Image1->setPixmap(QPixmap::fromImage(logo));
      return;
    }
  }
}

void TAboutWindow::showEvent(QShowEvent* event) {
  // A spontaneous show is the window coming back from the task bar, not a new showing.
  if (!event->spontaneous()) {
    CentreOnScreen(*this);
    FormActivate();
  }
  QDialog::showEvent(event);
}

bool TAboutWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Image1 && event->type() == QEvent::MouseButtonDblClick) {
    Image1DblClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace orbel
