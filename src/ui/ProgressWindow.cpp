#include "ui/ProgressWindow.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "tools/Vell_Tools.h"
#include "ui/QtImageList.h"

namespace orbel {
namespace {

// How long the work waits for the dialog to appear, in milliseconds.
constexpr qint64 kExposeWait = 500;

// The area the animation frames are drawn into.
class PaintBox : public QWidget {
 public:
  PaintBox(const QtImageList* frames, const int* frame, QWidget* parent)
      : QWidget(parent), frames_(frames), frame_(frame) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    if (*frame_ < 0) return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, frames_->Pixmap(*frame_));
  }

 private:
  const QtImageList* frames_;
  const int* frame_;
};

}  // namespace

TProgressWindow::TProgressWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      imlMain_(new QtImageList(32, AnimationImageFiles(), this)) {
  setObjectName(QStringLiteral("COLESettings"));
  imlMain_->setObjectName(QStringLiteral("imlMain"));
  setWindowTitle(QStringLiteral("Vell Orbel"));
  if (FontInstalled("Tahoma")) {
    QFont tahoma = font();
    tahoma.setFamily(QStringLiteral("Tahoma"));
    setFont(tahoma);
  }
  setFixedSize(236, 104);

  paintBox_ = new PaintBox(imlMain_, &frame_, this);
  paintBox_->setObjectName(QStringLiteral("PaintBox"));
  paintBox_->setGeometry(8, 4, 32, 32);

  staDesc_ = new QLabel(QStringLiteral("Please wait while the COM settings are loaded..."), this);
  staDesc_->setObjectName(QStringLiteral("staDesc"));
  staDesc_->setWordWrap(true);
  staDesc_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  staDesc_->setGeometry(52, 8, 173, 33);

  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName(QStringLiteral("ProgressBar"));
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  progressBar_->setGeometry(8, 52, 221, 12);

  btnCancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
  btnCancel_->setObjectName(QStringLiteral("btnCancel"));
  btnCancel_->setGeometry(76, 76, 75, 23);
  btnCancel_->setAutoDefault(false);
  connect(btnCancel_, &QPushButton::clicked, this, [this] {
    if (cancelHandler) cancelHandler();
  });
}

TProgressWindow::~TProgressWindow() = default;

void TProgressWindow::CentreOnScreen() {
  const QScreen* screen =
      parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  move(area.center() - QPoint(width() / 2, height() / 2));
}

void TProgressWindow::RunModal(const std::function<void()>& work) {
  if (loop_) return;
  setWindowModality(Qt::ApplicationModal);
  CentreOnScreen();
  show();
  QEventLoop loop;
  loop_ = &loop;
  std::exception_ptr failure;
  // The work starts from the event loop once the dialog is on screen (or
  // after a short wait for a display that never says so), painted.
  QElapsedTimer waited;
  waited.start();
  QTimer start;
  start.setInterval(1);
  connect(&start, &QTimer::timeout, this, [&] {
    const QWindow* window = windowHandle();
    if (window && !window->isExposed() && waited.elapsed() < kExposeWait) return;
    start.stop();
    repaint();
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    loop.quit();
  });
  start.start();
  loop.exec();
  loop_ = nullptr;
  hide();
  // The owner takes the keyboard again, as after any modal dialog.
  if (QWidget* owner = parentWidget()) owner->activateWindow();
  if (failure) std::rethrow_exception(failure);
}

void TProgressWindow::HideDialog() { hide(); }

void TProgressWindow::ShowDialog() { show(); }

void TProgressWindow::SetMaximum(int maximum) { progressBar_->setMaximum(std::max(1, maximum)); }

void TProgressWindow::SetPosition(int position) {
  progressBar_->setValue(std::clamp(position, progressBar_->minimum(), progressBar_->maximum()));
}

void TProgressWindow::Step() {
  progressBar_->setValue(std::min(progressBar_->value() + 1, progressBar_->maximum()));
}

void TProgressWindow::DrawFrame(int frame) {
  if (frame < 0 || frame >= imlMain_->Count()) return;
  frame_ = frame;
  paintBox_->update();
}

void TProgressWindow::closeEvent(QCloseEvent* event) {
  // The close box does not end a reading; the dialog closes when it ends.
  if (loop_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TProgressWindow::reject() {
  if (!loop_) QDialog::reject();
}

}  // namespace orbel
