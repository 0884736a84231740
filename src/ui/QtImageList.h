// Image lists of the Qt windows: fixed images drawn from the program's
// pictures, plus (for the attribute lists) the icons that entries append.
// The pictures are SVG resources; a build without Qt Svg (ORBEL_PNG_IMAGES)
// holds PNG renderings of them instead, made at build time at their own size
// and, as name@2x.png, at twice it.
#pragma once

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QStringList>
#include <cstddef>
#include <span>
#include <vector>

#include "model/Controls.h"

namespace orbel {

// Registers the program's compiled-in resources (the images); safe to call
// more than once.
void InitUiResources();

// The file name ending of the pictures: ".svg", or ".png" without Qt Svg.
#ifdef ORBEL_PNG_IMAGES
inline constexpr char kImageSuffix[] = ".png";
#else
inline constexpr char kImageSuffix[] = ".svg";
#endif

// The picture resources of the image lists, in list order.
QStringList AttributeImageFiles();  // 17 attribute row images
QStringList TreeImageFiles();       // 9 tree node images
QStringList ToolbarImageFiles();    // 10 tool bar images
QStringList AnimationImageFiles();  // 6 progress animation frames
#ifdef ORBEL_PNG_IMAGES
inline constexpr char kLogoFile[] = ":/images/logo.png";
#else
inline constexpr char kLogoFile[] = ":/images/logo.svg";
#endif

// A picture drawn into a transparent square of `size` pixels; a transparent
// square when the file is missing or unreadable. A PNG picture is scaled
// from its double-size rendering when `size` is larger than its own.
QPixmap RenderImage(const QString& file, int size);

// The image of an .ico file nearest to `size` pixels (decoded from its PNG
// or bitmap data), scaled to a `size` square when it has another size. Null
// when the bytes hold no decodable icon. Offsets and sizes are checked
// before use; files over 16 MiB are refused.
QImage DecodeIcon(std::span<const std::byte> ico, int size);

class QtImageList : public QObject, public ImageList {
 public:
  // A list of `size` x `size` images, starting with the given pictures.
  QtImageList(int size, const QStringList& files, QObject* parent = nullptr);

  int Count() const override;
  // Appends the icon of the .ico bytes nearest to the list's size; -1 (and
  // nothing appended) for empty or undecodable bytes.
  int AppendIcon(std::span<const std::byte> ico) override;
  void Delete(int position) override;

  int ImageSize() const { return size_; }
  // The image at a position; a null pixmap outside the list.
  QPixmap Pixmap(int position) const;

 private:
  int size_;
  std::vector<QPixmap> images_;
};

// One icon for the views: the small list's image as the 16 px picture and
// the large list's as the 32 px one, so that a view takes the size it shows.
// A null icon when neither list has the position.
QIcon PairedIcon(const QtImageList* small, const QtImageList* large, int position);

}  // namespace orbel
