// The frame that the window manager will put around a top-level window that
// is not shown yet, so that its outer size can be set before it appears.
#pragma once

#include <QMargins>

class QWidget;

namespace orbel {

// Asks the window manager (on X11, through _NET_REQUEST_FRAME_EXTENTS) and
// waits a moment for the answer; no margins when it cannot tell, on other
// platforms, and for a window already shown.
QMargins ExpectedWindowFrame(QWidget& window);

}  // namespace orbel
