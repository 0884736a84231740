#include "ui/PCSelectorUnit.h"

#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

#include "platform/Text.h"
#include "registry/PatchedRegistry.h"
#include "registry/RegIniFile.h"
#include "tools/Vell_Tools.h"
#include "ui/QtScreen.h"

namespace orbel {

namespace {

constexpr char kProgramKey[] = "Software\\Vell Inc.\\Orbel\\1.0";
constexpr char kComputersSection[] = "Computers";
// Idents "1" to this are read; a longer list is written but never read back.
constexpr int kRememberedComputers = 10;

constexpr int kClientWidth = 394;
constexpr int kClientHeight = 137;
constexpr int kLeftColumnWidth = 273;
constexpr int kButtonWidth = 93;
constexpr int kButtonHeight = 23;

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

std::string NormaliseComputerName(const std::string& typed) {
  std::string name = platform::AsciiUpper(typed);
  if (name.empty() || name.front() != '\\') name.insert(0, "\\\\");
  return name;
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
  Label1->setGeometry(8, 8, kLeftColumnWidth, 28);

  Label3 = new QLabel(
      "Type in the name of the computer, for example \\\\SERVER1, \\\\OFFICE-PC or "
      "\\\\LAB-07 (off Windows also the path of a Wine prefix, a Windows folder or a hive "
      "file), or select a computer you have viewed before:",
      this);
  Label3->setObjectName("Label3");
  Label3->setWordWrap(true);
  Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label3->setGeometry(8, 40, kLeftColumnWidth, 60);

  drpComputers = new QComboBox(this);
  drpComputers->setObjectName("drpComputers");
  drpComputers->setEditable(true);
  // The list changes only on "&OK"; Enter in the text field must not add to it.
  drpComputers->setInsertPolicy(QComboBox::NoInsert);
  drpComputers->setMaxVisibleItems(kRememberedComputers);
  drpComputers->setGeometry(8, 106, kLeftColumnWidth, 22);

  btnOK = new QPushButton("&OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnOK->setGeometry(kClientWidth - 8 - kButtonWidth, 8, kButtonWidth, kButtonHeight);

  btnCancel = new QPushButton("&Cancel", this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(kClientWidth - 8 - kButtonWidth, 8 + kButtonHeight + 8, kButtonWidth,
                         kButtonHeight);

  setTabOrder(drpComputers, btnOK);
  setTabOrder(btnOK, btnCancel);
  drpComputers->setFocus();

  connect(drpComputers, &QComboBox::currentTextChanged, this, &TPCSelector::drpComputersChange);
  connect(btnOK, &QPushButton::clicked, this, &TPCSelector::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TPCSelector::btnCancelClick);

  FormCreate();
}

void TPCSelector::FormCreate() {
  setFont(FontInstalled("Tahoma") ? QFont("Tahoma", 8) : QFont("MS Sans Serif", 8));
  try {
    TRegIniFile settings(registry_, kProgramKey);
    for (int n = 1; n <= kRememberedComputers; ++n) {
      const std::string name = settings.ReadText(kComputersSection, std::to_string(n), "");
      if (!name.empty()) drpComputers->addItem(FromUtf8(name));
    }
  } catch (const ERegistryException& error) {
    // The names read before the error stay in the list.
    ErrorMessage(error.what());
  }
  drpComputers->setEditText(QString());
  drpComputersChange();
}

void TPCSelector::drpComputersChange() {
  btnOK->setEnabled(!drpComputers->currentText().isEmpty());
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

  std::vector<std::string> entries = ListEntries();
  const auto same = std::find_if(entries.begin(), entries.end(), [this](const std::string& entry) {
    return platform::EqualsNoCase(entry, SelectedComputer);
  });
  if (same != entries.end()) entries.erase(same);
  entries.insert(entries.begin(), SelectedComputer);

  {
    const QSignalBlocker blocker(drpComputers);
    drpComputers->clear();
    for (const std::string& entry : entries) drpComputers->addItem(FromUtf8(entry));
    drpComputers->setEditText(FromUtf8(SelectedComputer));
  }

  try {
    TRegIniFile settings(registry_, kProgramKey);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      settings.WriteText(kComputersSection, std::to_string(i + 1), entries[i]);
    }
  } catch (const ERegistryException& error) {
    // The name is chosen all the same; only remembering it failed.
    ErrorMessage(error.what());
  }
  accept();
}

void TPCSelector::btnCancelClick() { reject(); }

void TPCSelector::reject() {
  SelectedComputer.clear();
  QDialog::reject();
}

void TPCSelector::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) CentreOnScreen(*this);
  QDialog::showEvent(event);
}

}  // namespace orbel
