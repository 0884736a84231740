// The About box: the logo, the program's name and version, the notice lines,
// the freeware line, buttons that hand the maker's mail and web addresses to the shell, and a
// short information text. It has no OK button; the close box or Escape ends it.
#pragma once

#include <QDialog>
#include <string>

class QFrame;
class QLabel;
class QPushButton;

namespace orbel {

class TAboutWindow : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutWindow(QWidget* owner);

  // Only store the texts; the name line shows them once the box is shown.
  void SetProgramName(const std::string& name);
  void SetProgramVersion(const std::string& version);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormActivate();
  void btnEMailClick();
  void btnInternetClick();
  void Image1DblClick();
  // Shows the logo from the program's resources, else from the file beside the
  // sources or the program; an empty frame when none can be read.
  void LoadLogo();

  std::string ProgramName;
  std::string ProgramVersion;

  QFrame* panLogo = nullptr;
  QLabel* Image1 = nullptr;
  QFrame* panMain = nullptr;
  QLabel* staAppName = nullptr;
  QLabel* staNotice = nullptr;
  QLabel* staRights = nullptr;
  QLabel* staFreeware = nullptr;
  QFrame* panLine1 = nullptr;
  QLabel* staEMail = nullptr;
  QPushButton* btnEMail = nullptr;
  QLabel* staInternet = nullptr;
  QPushButton* btnInternet = nullptr;
  QFrame* panLine2 = nullptr;
  QLabel* staInfo = nullptr;
};

}  // namespace orbel
