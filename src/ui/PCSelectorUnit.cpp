#include "ui/PCSelectorUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

#ifndef _WIN32
#include <pwd.h>
#endif

#include "catalogue/UserClasses.h"
#include "platform/base/Text.h"
#include "platform/computer/LocalImage.h"
#include "registry/PatchedRegistry.h"
#include "registry/RegIniFile.h"
#include "tools/Vell_Tools.h"
#include "ui/QtScreen.h"

namespace orbel {

namespace {

constexpr char kProgramKey[] = "Software\\Vell Inc.\\Orbel\\1.0";
constexpr char kComputersSection[] = "Computers";
constexpr char kUserClassesSection[] = "User Classes";
constexpr char kUserNamesSection[] = "User Names";
constexpr char kViewsSection[] = "Views";
constexpr char kNoUser[] = "(none)";
// Idents "1" to this are read; a longer list is written but never read back.
constexpr int kRememberedComputers = 10;

constexpr int kClientWidth = 394;
constexpr int kClientHeight = 137;
constexpr int kLeftColumnWidth = 273;
constexpr int kButtonWidth = 93;
constexpr int kButtonHeight = 23;

// The three example computers; each is shown as one unbreakable word.
constexpr const char* kExampleComputers[] = {"\\\\SERVER1", "\\\\OFFICE-PC", "\\\\LAB-07"};

// A text that never breaks across lines: a word joiner between its characters.
QString Unbroken(const char* text) {
  QString joined;
  for (const QChar c : QString::fromUtf8(text)) {
    if (!joined.isEmpty()) joined += QChar(0x2060);
    joined += c;
  }
  return joined;
}

QString Label3Text() {
  return QStringLiteral("Type in the name of the computer, for example %1, %2 or %3, ")
             .arg(Unbroken(kExampleComputers[0]), Unbroken(kExampleComputers[1]),
                  Unbroken(kExampleComputers[2])) +
#ifdef _WIN32
         QStringLiteral("or the path of a registry image, ") +
#else
         QStringLiteral("or the path of a Wine prefix, a Windows folder, a hive or a .reg file, ") +
#endif
         QStringLiteral("or select a computer you have viewed before:");
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

bool IsImagePath(const std::string& typed) {
#ifdef _WIN32
  (void)typed;
  return false;
#else
  // The registry's own rule, so that a name it refuses is kept a computer's.
  return platform::NamesImagePath(typed);
#endif
}

std::string AbsoluteImagePath(const std::string& typed) {
  QString path = FromUtf8(typed);
#ifndef _WIN32
  if (path.startsWith(QLatin1Char('~'))) {
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    QString home;
    if (user.isEmpty()) {
      home = QDir::homePath();
    } else if (const passwd* entry = getpwnam(user.toLocal8Bit().constData())) {
      home = QString::fromLocal8Bit(entry->pw_dir);
    }
    // "~name" of no known user stays a name in the current folder, as in a shell.
    if (!home.isEmpty()) path = home + (slash < 0 ? QString() : path.mid(slash));
  }
#endif
  return ToUtf8(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
}

std::string NormaliseComputerName(const std::string& typed) {
  if (IsImagePath(typed)) return AbsoluteImagePath(typed);
  std::string name = platform::AsciiUpper(typed);
  if (name.empty() || name.front() != '\\') name.insert(0, "\\\\");
  return name;
}

void RememberFirst(std::vector<std::string>& entries, const std::string& name) {
  const bool path = IsImagePath(name);
  const auto same = std::find_if(entries.begin(), entries.end(), [&](const std::string& entry) {
    return path ? entry == name : platform::EqualsNoCase(entry, name);
  });
  if (same != entries.end()) entries.erase(same);
  entries.insert(entries.begin(), name);
}

void WriteRememberedComputers(platform::RegistryApi& registry,
                              const std::vector<std::string>& entries) {
  TRegIniFile settings(registry, kProgramKey);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    settings.WriteText(kComputersSection, std::to_string(i + 1), entries[i]);
  }
}

void ReadRememberedComputers(platform::RegistryApi& registry, std::vector<std::string>& names) {
  TRegIniFile settings(registry, kProgramKey);
  for (int n = 1; n <= kRememberedComputers; ++n) {
    std::string name = settings.ReadText(kComputersSection, std::to_string(n), "");
    if (!name.empty()) names.push_back(std::move(name));
  }
}

RememberedView ReadRememberedView(platform::RegistryApi& registry, const std::string& computer) {
  TRegIniFile settings(registry, kProgramKey);
  RememberedView view;
  view.userClasses = settings.ReadText(kUserClassesSection, computer, "");
  view.userName = settings.ReadText(kUserNamesSection, computer, "");
  view.view = settings.ReadText(kViewsSection, computer, "64");
  if (view.view != "32" && view.view != "both") view.view = "64";
  return view;
}

void WriteRememberedView(platform::RegistryApi& registry, const std::string& computer,
                         const RememberedView& view) {
  // A computer viewed as the Parts view it writes nothing, unless it had a
  // view of its own remembered before.
  const RememberedView before = ReadRememberedView(registry, computer);
  const bool plain = view.userClasses.empty() && view.view == "64";
  if (plain && before.userClasses.empty() && before.view == "64") return;
  TRegIniFile settings(registry, kProgramKey);
  settings.WriteText(kUserClassesSection, computer, view.userClasses);
  settings.WriteText(kUserNamesSection, computer, view.userName);
  settings.WriteText(kViewsSection, computer, view.view);
}

TPCSelector::TPCSelector(platform::RegistryApi& registry, QWidget* owner)
    : QDialog(owner), registry_(registry) {
  setObjectName("PCSelector");
  setWindowTitle("Select a computer");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);

  Label1 =
      new QLabel("Use this function to view the COM objects on a computer in your network.", this);
  Label1->setObjectName("Label1");
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  Label3 = new QLabel(Label3Text(), this);
  Label3->setObjectName("Label3");
  Label3->setWordWrap(true);
  Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  drpComputers = new QComboBox(this);
  drpComputers->setObjectName("drpComputers");
  drpComputers->setEditable(true);
  // The list changes only on "&OK"; Enter in the text field must not add to it.
  drpComputers->setInsertPolicy(QComboBox::NoInsert);
  // What is typed stays as typed: no completion from the remembered names.
  drpComputers->setCompleter(nullptr);
  drpComputers->setMaxVisibleItems(kRememberedComputers);

  btnOK = new QPushButton("&OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);

  btnCancel = new QPushButton("&Cancel", this);
  btnCancel->setObjectName("btnCancel");

#ifndef _WIN32
  btnBrowse = new QPushButton("&Browse...", this);
  btnBrowse->setObjectName("btnBrowse");
  btnBrowse->setAutoDefault(false);
  auto* browse = new QMenu(btnBrowse);
  browse->setObjectName("popBrowse");
  connect(browse->addAction("&Folder..."), &QAction::triggered, this,
          [this] { btnBrowseClick(true); });
  connect(browse->addAction("F&ile..."), &QAction::triggered, this,
          [this] { btnBrowseClick(false); });
  btnBrowse->setMenu(browse);
  chooseImage = [](QWidget* parent, bool folder) {
    QFileDialog dialog(parent, "Select a registry image");
    dialog.setFileMode(folder ? QFileDialog::Directory : QFileDialog::ExistingFile);
    if (folder) dialog.setOption(QFileDialog::ShowDirsOnly);
    // Wine prefixes are hidden folders, "~/.wine" first of all.
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
  };
#endif

  lblUsers = new QLabel("&User's classes:", this);
  lblUsers->setObjectName("lblUsers");
  drpUsers = new QComboBox(this);
  drpUsers->setObjectName("drpUsers");
  drpUsers->addItem(kNoUser, QString());
  lblUsers->setBuddy(drpUsers);
  // Named apart from the image's Browse button beside it.
  btnUserBrowse = new QPushButton("User's &File...", this);
  btnUserBrowse->setObjectName("btnUserBrowse");
  btnUserBrowse->setToolTip(
      "Choose a file of a user's classes: UsrClass.dat, user.reg or a .reg export");
  btnUserBrowse->setAutoDefault(false);
  chkView32 = new QCheckBox("Classes of &32-bit programs", this);
  chkView32->setObjectName("chkView32");
  chooseUserClasses = [](QWidget* parent) {
    QFileDialog dialog(parent, "Select a user's classes");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({"User's classes (UsrClass.dat user.reg *.reg *.dat)", "All files (*)"});
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
  };
  connect(btnUserBrowse, &QPushButton::clicked, this, &TPCSelector::btnUserBrowseClick);

  setTabOrder(drpComputers, btnOK);
  setTabOrder(btnOK, btnCancel);
  if (btnBrowse) setTabOrder(btnCancel, btnBrowse);
  setTabOrder(btnBrowse ? btnBrowse : btnCancel, drpUsers);
  setTabOrder(drpUsers, btnUserBrowse);
  setTabOrder(btnUserBrowse, chkView32);
  drpComputers->setFocus();

  connect(drpComputers, &QComboBox::currentTextChanged, this, &TPCSelector::drpComputersChange);
  connect(btnOK, &QPushButton::clicked, this, &TPCSelector::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TPCSelector::btnCancelClick);

  FormCreate();
}

void TPCSelector::FormCreate() {
  setFont(FontInstalled("Tahoma") ? QFont("Tahoma", 8) : QFont("MS Sans Serif", 8));
  LayOut();
  std::vector<std::string> names;
  try {
    ReadRememberedComputers(registry_, names);
  } catch (const ERegistryException& error) {
    // The names read before the error stay in the list.
    ErrorMessage(error.what());
  }
  for (const std::string& name : names) drpComputers->addItem(FromUtf8(name));
  // No entry is current, so that the first Down selects the most recent one.
  drpComputers->setCurrentIndex(-1);
  drpComputers->setEditText(QString());
  drpComputersChange();
}

void TPCSelector::LayOut() {
  constexpr int kMargin = 8;
  const int labelHeight = Label1->heightForWidth(kLeftColumnWidth);
  Label1->setGeometry(kMargin, kMargin, kLeftColumnWidth, labelHeight);
  const int label3Top = Label1->geometry().bottom() + 1 + 4;
  Label3->setGeometry(kMargin, label3Top, kLeftColumnWidth,
                      Label3->heightForWidth(kLeftColumnWidth));
  const int comboHeight = std::max(22, drpComputers->sizeHint().height());
  const int comboTop = Label3->geometry().bottom() + 1 + 6;
  drpComputers->setGeometry(kMargin, comboTop, kLeftColumnWidth, comboHeight);
  const int buttonLeft = kClientWidth - kMargin - kButtonWidth;
  // The view below: the user's classes, then the 32-bit classes.
  const int usersTop = std::max(comboTop + comboHeight, kClientHeight - 9) + 8;
  const int labelWidth = lblUsers->sizeHint().width();
  lblUsers->setGeometry(kMargin, usersTop, labelWidth, comboHeight);
  drpUsers->setGeometry(kMargin + labelWidth + 6, usersTop, kLeftColumnWidth - labelWidth - 6,
                        comboHeight);
  btnUserBrowse->setGeometry(buttonLeft, usersTop, kButtonWidth, kButtonHeight);
  const int checkTop = usersTop + comboHeight + 6;
  const int checkHeight = chkView32->sizeHint().height();
  chkView32->setGeometry(kMargin, checkTop, kLeftColumnWidth, checkHeight);
  // The design's height, grown by the view's rows and when the labels
  // need more with this font.
  setFixedSize(kClientWidth, checkTop + checkHeight + 9);

  btnOK->setGeometry(buttonLeft, kMargin, kButtonWidth, kButtonHeight);
  btnCancel->setGeometry(buttonLeft, kMargin + kButtonHeight + kMargin, kButtonWidth,
                         kButtonHeight);
  if (btnBrowse) btnBrowse->setGeometry(buttonLeft, comboTop, kButtonWidth, kButtonHeight);
}

void TPCSelector::btnBrowseClick(bool folder) {
  if (!chooseImage) return;
  const QString chosen = chooseImage(this, folder);
  if (chosen.isEmpty()) return;
  drpComputers->setEditText(chosen);
  drpComputers->setFocus();
}

void TPCSelector::drpComputersChange() {
  btnOK->setEnabled(!drpComputers->currentText().isEmpty());
  ListUsers();
}

void TPCSelector::ListUsers() {
  const QString typed = drpComputers->currentText();
  if (typed == usersListedFor_) return;
  usersListedFor_ = typed;
  const std::string name = ToUtf8(typed);
  std::vector<std::pair<std::string, std::filesystem::path>> users;
  if (!name.empty() && IsImagePath(name)) users = UsersOfImage(AbsoluteImagePath(name));
  RememberedView remembered;
  try {
    if (!name.empty()) remembered = ReadRememberedView(registry_, NormaliseComputerName(name));
  } catch (const ERegistryException&) {
    // Nothing remembered is offered; the computer's list told of the trouble.
  }
  const QSignalBlocker blocker(drpUsers);
  drpUsers->clear();
  drpUsers->addItem(kNoUser, QString());
  for (const auto& [user, file] : users) {
    drpUsers->addItem(FromUtf8(user), FromUtf8(file.string()));
  }
  int chosen = 0;
  if (!remembered.userClasses.empty()) {
    chosen = drpUsers->findData(FromUtf8(remembered.userClasses));
    if (chosen < 0) {
      drpUsers->addItem(FromUtf8(remembered.userName.empty() ? remembered.userClasses
                                                             : remembered.userName),
                        FromUtf8(remembered.userClasses));
      chosen = drpUsers->count() - 1;
    }
  }
  drpUsers->setCurrentIndex(chosen);
  chkView32->setChecked(remembered.view != "64");
  chkView32->setProperty("rememberedView", FromUtf8(remembered.view));
}

void TPCSelector::btnUserBrowseClick() {
  if (!chooseUserClasses) return;
  const QString chosen = chooseUserClasses(this);
  if (chosen.isEmpty()) return;
  int at = drpUsers->findData(chosen);
  if (at < 0) {
    drpUsers->addItem(chosen, chosen);
    at = drpUsers->count() - 1;
  }
  drpUsers->setCurrentIndex(at);
}

std::vector<std::string> TPCSelector::ListEntries() const {
  std::vector<std::string> entries;
  entries.reserve(static_cast<std::size_t>(drpComputers->count()));
  for (int i = 0; i < drpComputers->count(); ++i)
    entries.push_back(ToUtf8(drpComputers->itemText(i)));
  return entries;
}

void TPCSelector::btnOKClick() {
  const QString typed = drpComputers->currentText();
  if (typed.isEmpty()) return;
  SelectedComputer = NormaliseComputerName(ToUtf8(typed));
  ListUsers();
  SelectedUserClasses = ToUtf8(drpUsers->currentData().toString());
  SelectedUserName = SelectedUserClasses.empty() ? std::string() : ToUtf8(drpUsers->currentText());
  // A view of the 32-bit list alone, remembered or asked for on the command
  // line, stays so while the box stays ticked.
  const std::string remembered = ToUtf8(chkView32->property("rememberedView").toString());
  SelectedView = !chkView32->isChecked() ? "64" : remembered == "32" ? "32" : "both";

  std::vector<std::string> entries = ListEntries();
  RememberFirst(entries, SelectedComputer);

  {
    const QSignalBlocker blocker(drpComputers);
    drpComputers->clear();
    for (const std::string& entry : entries) drpComputers->addItem(FromUtf8(entry));
    drpComputers->setEditText(FromUtf8(SelectedComputer));
  }

  try {
    WriteRememberedComputers(registry_, entries);
    WriteRememberedView(registry_, SelectedComputer,
                        {SelectedUserClasses, SelectedUserName, SelectedView});
  } catch (const ERegistryException& error) {
    // The name is chosen all the same; only remembering it failed.
    ErrorMessage(error.what());
  }
  accept();
}

void TPCSelector::btnCancelClick() { reject(); }

void TPCSelector::reject() {
  SelectedComputer.clear();
  SelectedUserClasses.clear();
  SelectedUserName.clear();
  SelectedView = "64";
  QDialog::reject();
}

void TPCSelector::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) CentreOnScreen(*this);
  QDialog::showEvent(event);
}

}  // namespace orbel
