#include "ui/Vell_PersWindow.h"

#include <QEvent>
#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>

#include "platform/store/RegistryTypes.h"
#include "ui/WindowFrame.h"

namespace orbel {

namespace {

const std::string& NameOr(const std::string& name, const std::string& fallback) {
  return name.empty() ? fallback : name;
}

// A stored frame size less the frame's own extent, kept within the range of int.
int ClientSize(std::int32_t frameSize, int extra) {
  const std::int64_t size = std::int64_t{frameSize} - extra;
  return static_cast<int>(std::clamp<std::int64_t>(size, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

const std::string kHeight = "Height";
const std::string kLeft = "Left";
const std::string kTop = "Top";
const std::string kWidth = "Width";

}  // namespace

TPersWindow::TPersWindow(QWidget* owner, platform::RegistryApi& registry)
    : QObject(owner), owner_(owner), registry_(registry) {
  setObjectName("PersWindow");
  ExpectedFrame = ExpectedWindowFrame;
}

platform::HKey TPersWindow::OpenKey() {
  platform::HKey key{};
  if (registry_.CreateKey(platform::HKeyCurrentUser, RegPath, platform::KEY_ALL_ACCESS, key) !=
      platform::kSuccess) {
    return {};
  }
  return key;
}

std::int32_t TPersWindow::ReadNumber(platform::HKey key, const std::string& name) {
  std::array<std::byte, 4> data{};
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  // The value's type is not checked: any value of at most four bytes reads as a number.
  if (registry_.QueryValue(key, name, nullptr, data.data(), &size) != platform::kSuccess) return 0;
  std::uint32_t number = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    number |= static_cast<std::uint32_t>(std::to_integer<std::uint8_t>(data[i])) << (8 * i);
  }
  return static_cast<std::int32_t>(number);
}

void TPersWindow::WriteNumber(platform::HKey key, const std::string& name, std::int32_t number) {
  const auto bits = static_cast<std::uint32_t>(number);
  std::array<std::byte, 4> data{};
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::byte>((bits >> (8 * i)) & 0xFFu);
  }
  registry_.SetValue(key, name, platform::REG_DWORD, data);
}

QSize TPersWindow::FrameExtra() const { return owner_->frameGeometry().size() - owner_->size(); }

void TPersWindow::RestorePlacement() {
  if (!Enabled || owner_.isNull()) return;
  const platform::HKey key = OpenKey();
  if (!key) return;
  const std::int32_t height = SetHeight ? ReadNumber(key, NameOr(RgNameHeight, kHeight)) : 0;
  const std::int32_t left = SetLeft ? ReadNumber(key, NameOr(RgNameLeft, kLeft)) : 0;
  const std::int32_t top = SetTop ? ReadNumber(key, NameOr(RgNameTop, kTop)) : 0;
  const std::int32_t width = SetWidth ? ReadNumber(key, NameOr(RgNameWidth, kWidth)) : 0;
  registry_.CloseKey(key);

  // The edges first: set before the native window exists, they place the
  // frame rather than the client.
  if (left != 0) owner_->move(left, owner_->y());
  if (top != 0) owner_->move(owner_->x(), top);

  // A window not shown yet has no frame: the size it was built with is its
  // outer size, and the frame is the one it is expected to get.
  const bool unframed = owner_->isWindow() && !owner_->isVisible();
  const QMargins margins = unframed && ExpectedFrame ? ExpectedFrame(*owner_) : QMargins();
  const QSize extra =
      unframed ? QSize(margins.left() + margins.right(), margins.top() + margins.bottom())
               : FrameExtra();
  const QSize outer = unframed ? owner_->size() : owner_->frameGeometry().size();
  const int outerHeight = height != 0 ? height : outer.height();
  const int outerWidth = width != 0 ? width : outer.width();
  if (height != 0 || unframed) {
    owner_->resize(owner_->width(), ClientSize(outerHeight, extra.height()));
  }
  if (width != 0 || unframed) {
    owner_->resize(ClientSize(outerWidth, extra.width()), owner_->height());
  }

  if (unframed) {
    pendingFrame_ = QSize(outerWidth, outerHeight);
    expectedMargins_ = margins;
    owner_->installEventFilter(this);
  }
}

void TPersWindow::SavePlacement() {
  pendingFrame_.reset();
  if (!Enabled || RegPath.empty() || owner_.isNull()) return;
  const platform::HKey key = OpenKey();
  if (!key) return;
  const QRect frame = owner_->frameGeometry();
  if (SaveHeight) WriteNumber(key, NameOr(RgNameHeight, kHeight), frame.height());
  if (SaveLeft) WriteNumber(key, NameOr(RgNameLeft, kLeft), frame.x());
  if (SaveTop) WriteNumber(key, NameOr(RgNameTop, kTop), frame.y());
  if (SaveWidth) WriteNumber(key, NameOr(RgNameWidth, kWidth), frame.width());
  registry_.CloseKey(key);
}

bool TPersWindow::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == owner_ && pendingFrame_ &&
      (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize ||
       type == QEvent::WindowActivate) &&
      owner_->isVisible()) {
    // Once the window manager has framed the window, a frame other than the
    // expected one is made good; no frame at all may still come.
    const QSize extra = FrameExtra();
    if (!extra.isNull()) {
      const QSize expected(expectedMargins_.left() + expectedMargins_.right(),
                           expectedMargins_.top() + expectedMargins_.bottom());
      const QSize frame = *pendingFrame_;
      pendingFrame_.reset();
      owner_->removeEventFilter(this);
      if (extra != expected) {
        owner_->resize(ClientSize(frame.width(), extra.width()),
                       ClientSize(frame.height(), extra.height()));
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace orbel
