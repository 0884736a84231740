// Keeps a window's position and size between runs: four REG_DWORD values
// below HKEY_CURRENT_USER\RegPath, read before the window is first shown and
// written when it is destroyed. The values are the outer frame's left and top
// edge and its width and height; 0 or a missing value means "keep what the
// window was built with", and the size it was built with is an outer size
// too.
#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/api/RegistryApi.h"

namespace orbel {

class TPersWindow : public QObject {
  Q_OBJECT

 public:
  // Remembers the owner, whose child it becomes.
  TPersWindow(QWidget* owner, platform::RegistryApi& registry);

  // false: neither restores nor saves.
  bool Enabled = true;
  // The key below HKEY_CURRENT_USER that holds the values.
  std::string RegPath;
  // Value names; empty means "Left", "Height", "Width" and "Top".
  std::string RgNameLeft, RgNameHeight, RgNameWidth, RgNameTop;
  bool SaveLeft = true, SaveHeight = true, SaveWidth = true, SaveTop = true;
  bool SetLeft = true, SetHeight = true, SetWidth = true, SetTop = true;

  // Opens (creating it) the key, reads the stored height, left, top and
  // width, in that order, and applies them, the edges first, skipping 0.
  // An empty RegPath reads from HKEY_CURRENT_USER itself. Does nothing when
  // Enabled is false. An owner not yet framed gets the client size that
  // gives it these outer sizes (or the outer size it was built with) inside
  // the frame it is expected to get.
  void RestorePlacement();

  // The frame a window not yet shown will get from the window manager; by
  // default what the window manager says, else no frame. Any difference is
  // made good once the window is framed.
  std::function<QMargins(QWidget& window)> ExpectedFrame;
  // Writes the owner's height, left, top and width, in that order. Does nothing
  // when Enabled is false or RegPath is empty. Registry errors are ignored.
  void SavePlacement();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Opens or creates the key RegPath below HKEY_CURRENT_USER; no key on failure.
  platform::HKey OpenKey();
  // The stored number, 0 when missing or unreadable.
  std::int32_t ReadNumber(platform::HKey key, const std::string& name);
  void WriteNumber(platform::HKey key, const std::string& name, std::int32_t number);
  // The owner's frame size minus its client size.
  QSize FrameExtra() const;

  QPointer<QWidget> owner_;
  platform::RegistryApi& registry_;
  // Outer sizes applied before the window manager framed the owner, and the
  // frame they were applied with: the client is resized again when the real
  // frame differs.
  std::optional<QSize> pendingFrame_;
  QMargins expectedMargins_;
};

}  // namespace orbel
