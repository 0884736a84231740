#include "ui/Panels.h"

#include <QMouseEvent>
#include <QResizeEvent>

namespace orbel {

void TPanel::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  if (onResize) onResize();
}

TSplitterBar::TSplitterBar(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::SplitHCursor);
  setFixedWidth(3);
}

void TSplitterBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  dragging_ = true;
  lastX_ = qRound(event->globalPosition().x());
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return QWidget::mouseMoveEvent(event);
  const int moved = qRound(event->globalPosition().x()) - lastX_;
  if (moved != 0 && onDrag) lastX_ += onDrag(moved);
}

void TSplitterBar::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

}  // namespace orbel
