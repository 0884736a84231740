// What the object model needs of the main window's controls: the attribute
// list and its two image lists. The Qt layer implements these; tests record.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace orbel {

// The attribute list (name/value rows with an image each).
class AttributeList {
 public:
  virtual ~AttributeList() = default;
  // No redrawing between the two.
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  virtual void DeleteAllRows() = 0;
  virtual void AppendRow(const std::string& caption, int image, const std::string& value) = 0;
  virtual void SetFocus() = 0;
  // Marks the row at `position` (from 0) selected; false when there is none.
  virtual bool SelectRow(int position) = 0;
};

// An image list of the attribute list: the fixed images and the icons the
// entries append.
class ImageList {
 public:
  virtual ~ImageList() = default;
  virtual int Count() const = 0;
  // Appends an icon given as the bytes of an .ico file, stored at the list's
  // own size. The new position, or -1 when the icon cannot be used.
  virtual int AppendIcon(std::span<const std::byte> ico) = 0;
  virtual void Delete(int position) = 0;
};

}  // namespace orbel
