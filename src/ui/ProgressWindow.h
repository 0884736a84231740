// The catalogue's progress dialog: caption "Vell Orbel", an animation, a
// text, a progress bar and a Cancel button, shown modally while a reading
// runs.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <exception>
#include <functional>

#include "catalogue/CatalogueControls.h"

class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;

namespace orbel {

class QtImageList;

class TProgressWindow : public QDialog, public ProgressDialog {
 public:
  explicit TProgressWindow(QWidget* parent = nullptr);
  ~TProgressWindow() override;

  // Shows the dialog application-modal, starts `work` from a one-shot timer
  // once the dialog is up, and keeps a local event loop running until the
  // work returns; the dialog is closed then. An exception from the work is
  // passed on after the dialog has closed.
  void RunModal(const std::function<void()>& work) override;
  void HideDialog() override;
  void ShowDialog() override;
  void SetMaximum(int maximum) override;
  void SetPosition(int position) override;
  void Step() override;
  void DrawFrame(int frame) override;

  // Runs when `btnCancel` is clicked.
  std::function<void()> cancelHandler;

  bool Running() const { return loop_ != nullptr; }
  int Frame() const { return frame_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void CentreOnScreen();

  QWidget* paintBox_;
  QLabel* staDesc_;
  QProgressBar* progressBar_;
  QPushButton* btnCancel_;
  QtImageList* imlMain_;
  QEventLoop* loop_ = nullptr;
  int frame_ = -1;
};

}  // namespace orbel
