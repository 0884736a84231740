#include "ui/QtScreen.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace orbel {
namespace {

QString& TitleStorage() {
  static QString title;
  return title;
}

}  // namespace

QString ApplicationTitle() { return TitleStorage(); }

void SetApplicationTitle(const QString& title) { TitleStorage() = title; }

QtScreen::~QtScreen() {
  if (busy_) QApplication::restoreOverrideCursor();
}

bool QtScreen::ShowMessage(MessageKind kind, const std::string& caption, const std::string& text) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowModality(Qt::ApplicationModal);
  box.setText(QString::fromStdString(text));
  box.setTextFormat(Qt::PlainText);
  box.setWindowTitle(kind == MessageKind::Plain ? ApplicationTitle()
                                                : QString::fromStdString(caption));
  switch (kind) {
    case MessageKind::Confirm:
      box.setIcon(QMessageBox::Question);
      break;
    case MessageKind::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case MessageKind::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case MessageKind::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case MessageKind::Plain:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  // The user must see the box with the usual arrow, whatever the work behind it set.
  const bool wasBusy = busy_;
  if (wasBusy) SetCursorBusy(false);
  bool answer = false;
  if (kind == MessageKind::Confirm) {
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    answer = box.clickedButton() == yes;
  } else {
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
  }
  if (wasBusy) SetCursorBusy(true);
  return answer;
}

void QtScreen::SetCursorBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void QtScreen::ProcessPendingEvents() { QCoreApplication::processEvents(); }

std::vector<std::string> QtScreen::FontFamilies() {
  std::vector<std::string> families;
  for (const QString& family : QFontDatabase::families()) families.push_back(family.toStdString());
  return families;
}

QString ShellUrlFor(const std::string& target) {
  const QString text = QString::fromStdString(target);
  if (text.isEmpty()) return {};
  if (QFileInfo::exists(text))
    return QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath()).toString();
  const qsizetype hash = text.lastIndexOf(QLatin1Char('#'));
  if (hash > 0 && QFileInfo::exists(text.left(hash))) {
    QUrl url = QUrl::fromLocalFile(QFileInfo(text.left(hash)).absoluteFilePath());
    url.setFragment(text.mid(hash + 1));
    return url.toString();
  }
  return QUrl(text, QUrl::TolerantMode).toString();
}

void QtScreen::OpenWithShell(const std::string& target) {
#ifdef _WIN32
  // The shell's own "open", as Explorer does, owned by the program's window.
  const QWidget* owner = QApplication::activeWindow();
  const std::wstring file = QString::fromStdString(target).toStdWString();
  ShellExecuteW(owner ? reinterpret_cast<HWND>(owner->winId()) : nullptr, L"open", file.c_str(),
                nullptr, nullptr, SW_SHOWNORMAL);
#else
  const QString url = ShellUrlFor(target);
  if (!url.isEmpty()) QDesktopServices::openUrl(QUrl(url));
#endif
}

void CentreOnScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  QRect frame = window.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

}  // namespace orbel
