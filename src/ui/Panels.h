// Two small widgets for the main window's hand-made pane layout: a panel
// that reports its resizing, and a splitter bar that reports dragging.
#pragma once

#include <QFrame>
#include <QWidget>
#include <functional>

namespace orbel {

// A panel whose owner lays out its children: `onResize` runs after every
// change of its size.
class TPanel : public QFrame {
 public:
  explicit TPanel(QWidget* parent = nullptr) : QFrame(parent) {}
  std::function<void()> onResize;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

// A vertical bar the user drags sideways: while the left button is held,
// `onDrag` gets each movement in pixels (positive to the right) and answers
// how far the border really moved, so that the bar stays under the pointer.
class TSplitterBar : public QWidget {
 public:
  explicit TSplitterBar(QWidget* parent = nullptr);
  std::function<int(int)> onDrag;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool dragging_ = false;
  int lastX_ = 0;
};

}  // namespace orbel
