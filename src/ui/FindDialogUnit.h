// The modeless find dialog `FindDialog`: a text, the match-case and
// whole-word options, and the Find Next, Cancel and Help buttons. The
// search always runs downwards, so there is no direction choice.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace orbel {

class TFindDialog : public QDialog {
 public:
  explicit TFindDialog(QWidget* parent = nullptr);

  QString FindText() const;
  void SetFindText(const QString& text);
  bool MatchCase() const;
  bool WholeWord() const;

  // "&Find Next" (the main window's FindDialogFind) and "&Help".
  std::function<void()> onFind;
  std::function<void()> onHelp;

 private:
  QLineEdit* edtFindText_;
  QCheckBox* chkWholeWord_;
  QCheckBox* chkMatchCase_;
  QPushButton* btnFindNext_;
  QPushButton* btnCancel_;
  QPushButton* btnHelp_;
};

}  // namespace orbel
