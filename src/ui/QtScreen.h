// The Qt screen behind the shared message routines: message boxes, the busy
// cursor, the message pump, the installed fonts and the shell. main()
// installs one with SetScreen; tests install a scripted screen instead.
#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "tools/Vell_Tools.h"

namespace orbel {

class QtScreen : public Screen {
 public:
  QtScreen() = default;
  ~QtScreen() override;
  QtScreen(const QtScreen&) = delete;
  QtScreen& operator=(const QtScreen&) = delete;

  bool ShowMessage(MessageKind kind, const std::string& caption, const std::string& text) override;
  void SetCursorBusy(bool busy) override;
  void ProcessPendingEvents() override;
  std::vector<std::string> FontFamilies() override;
  void OpenWithShell(const std::string& target) override;

 private:
  bool busy_ = false;
};

// The application's title: the caption of plain message boxes and the text
// the task bar shows for the program. It starts empty; main() sets "Vell
// Orbel" and the main window follows the computer it shows.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// What the shell is asked to open for a target: an existing file (with an
// optional "#fragment") becomes a file URL, anything else is taken as an
// address as written. Empty for an empty target.
QString ShellUrlFor(const std::string& target);

// Puts a window's frame in the middle of the screen it is on.
void CentreOnScreen(QWidget& window);

}  // namespace orbel
