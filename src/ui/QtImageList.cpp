#include "ui/QtImageList.h"

#include <QByteArray>
#include <QPainter>
#ifndef ORBEL_PNG_IMAGES
#include <QSvgRenderer>
#endif
#include <algorithm>
#include <cstdint>
#include <cstdlib>

// Resource registration must happen outside any namespace.
static void RegisterOrbelResources() { Q_INIT_RESOURCE(orbel); }

namespace orbel {
namespace {

constexpr std::size_t kMaxIconFileSize = 16u << 20;
constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;

QStringList Numbered(const char* stem, int count, int digits) {
  QStringList files;
  for (int i = 0; i < count; ++i) {
    files << QStringLiteral(":/images/%1%2%3")
                 .arg(QLatin1String(stem))
                 .arg(i, digits, 10, QLatin1Char('0'))
                 .arg(QLatin1String(kImageSuffix));
  }
  return files;
}

std::uint32_t Little(std::span<const std::byte> bytes, std::size_t offset, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + static_cast<std::size_t>(i)]);
  }
  return value;
}

struct IconEntry {
  int width;
  int height;
  int bitCount;
  std::size_t offset;
  std::size_t length;
  std::size_t directoryOffset;
};

bool IsPng(std::span<const std::byte> data) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data.size() < 8) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    if (static_cast<unsigned char>(data[i]) != signature[i]) return false;
  }
  return true;
}

// Decodes one entry: PNG data directly, bitmap data as a one-image .ico.
QImage DecodeEntry(std::span<const std::byte> file, const IconEntry& entry) {
  const auto data = file.subspan(entry.offset, entry.length);
  if (IsPng(data)) {
    return QImage::fromData(reinterpret_cast<const uchar*>(data.data()),
                            static_cast<int>(data.size()), "PNG");
  }
  QByteArray single;
  single.reserve(static_cast<qsizetype>(kDirectorySize + kEntrySize + data.size()));
  const char header[6] = {0, 0, 1, 0, 1, 0};
  single.append(header, 6);
  // The entry as written, with its data moved right behind it.
  single.append(reinterpret_cast<const char*>(file.data() + entry.directoryOffset), 12);
  const std::uint32_t offset = kDirectorySize + kEntrySize;
  for (int i = 0; i < 4; ++i) single.append(static_cast<char>((offset >> (8 * i)) & 0xFF));
  single.append(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
  return QImage::fromData(single, "ICO");
}

QImage FitToSquare(const QImage& image, int size) {
  QImage argb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (argb.width() == size && argb.height() == size) return argb;
  const QImage scaled = argb.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QImage square(size, size, QImage::Format_ARGB32_Premultiplied);
  square.fill(Qt::transparent);
  QPainter painter(&square);
  painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
  return square;
}

}  // namespace

void InitUiResources() { RegisterOrbelResources(); }

QStringList AttributeImageFiles() { return Numbered("attr", 17, 2); }
QStringList TreeImageFiles() { return Numbered("tree", 9, 1); }
QStringList ToolbarImageFiles() { return Numbered("tool", 10, 1); }
QStringList AnimationImageFiles() { return Numbered("anim", 6, 1); }

QPixmap RenderImage(const QString& file, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
#ifdef ORBEL_PNG_IMAGES
  QImage picture(file);
  if (!picture.isNull() && size > picture.width() && file.endsWith(QLatin1String(".png"))) {
    const QImage doubled(file.chopped(4) + QLatin1String("@2x.png"));
    if (!doubled.isNull()) picture = doubled;
  }
  if (!picture.isNull()) {
    QPainter painter(&image);
    painter.drawImage(0, 0, picture.scaled(size, size, Qt::IgnoreAspectRatio,
                                           Qt::SmoothTransformation));
  }
#else
  QSvgRenderer renderer(file);
  if (renderer.isValid()) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
  }
#endif
  return QPixmap::fromImage(image);
}

QImage DecodeIcon(std::span<const std::byte> ico, int size) {
  if (ico.size() < kDirectorySize || ico.size() > kMaxIconFileSize) return {};
  if (Little(ico, 0, 2) != 0 || Little(ico, 2, 2) != 1) return {};
  const std::size_t count = Little(ico, 4, 2);
  if (count == 0 || kDirectorySize + count * kEntrySize > ico.size()) return {};
  std::vector<IconEntry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kDirectorySize + i * kEntrySize;
    IconEntry entry{};
    entry.width = static_cast<int>(Little(ico, at, 1));
    entry.height = static_cast<int>(Little(ico, at + 1, 1));
    if (entry.width == 0) entry.width = 256;
    if (entry.height == 0) entry.height = 256;
    entry.bitCount = static_cast<int>(Little(ico, at + 6, 2));
    entry.length = Little(ico, at + 8, 4);
    entry.offset = Little(ico, at + 12, 4);
    entry.directoryOffset = at;
    if (entry.length == 0 || entry.offset > ico.size() ||
        entry.length > ico.size() - entry.offset) {
      continue;
    }
    entries.push_back(entry);
  }
  // Nearest size first; of two equally near, the larger (shrinking looks
  // better than growing), then the one with more colours.
  std::stable_sort(entries.begin(), entries.end(), [size](const IconEntry& a, const IconEntry& b) {
    const int da = std::abs(a.width - size) + std::abs(a.height - size);
    const int db = std::abs(b.width - size) + std::abs(b.height - size);
    if (da != db) return da < db;
    if (a.width != b.width) return a.width > b.width;
    return a.bitCount > b.bitCount;
  });
  for (const IconEntry& entry : entries) {
    const QImage image = DecodeEntry(ico, entry);
    if (!image.isNull()) return FitToSquare(image, size);
  }
  return {};
}

QtImageList::QtImageList(int size, const QStringList& files, QObject* parent)
    : QObject(parent), size_(size) {
  InitUiResources();
  images_.reserve(static_cast<std::size_t>(files.size()));
  for (const QString& file : files) images_.push_back(RenderImage(file, size));
}

int QtImageList::Count() const { return static_cast<int>(images_.size()); }

int QtImageList::AppendIcon(std::span<const std::byte> ico) {
  if (ico.empty()) return -1;
  const QImage image = DecodeIcon(ico, size_);
  if (image.isNull()) return -1;
  images_.push_back(QPixmap::fromImage(image));
  return Count() - 1;
}

void QtImageList::Delete(int position) {
  if (position < 0 || position >= Count()) return;
  images_.erase(images_.begin() + position);
}

QPixmap QtImageList::Pixmap(int position) const {
  if (position < 0 || position >= Count()) return {};
  return images_[static_cast<std::size_t>(position)];
}

QIcon PairedIcon(const QtImageList* small, const QtImageList* large, int position) {
  QIcon icon;
  if (small) {
    const QPixmap pixmap = small->Pixmap(position);
    if (!pixmap.isNull()) icon.addPixmap(pixmap);
  }
  if (large) {
    const QPixmap pixmap = large->Pixmap(position);
    if (!pixmap.isNull()) icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace orbel
