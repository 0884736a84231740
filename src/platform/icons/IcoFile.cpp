#include "platform/icons/IcoFile.h"

#include <algorithm>

namespace orbel::platform::iconfile {

bool IsIconFile(Bytes file) {
  if (!Fits(file, 0, kIconDirSize)) return false;
  const std::uint16_t count = U16(file, 4);
  return U16(file, 0) == 0 && U16(file, 2) == 1 && count >= 1 &&
         Fits(file, kIconDirSize, count * kIconDirEntrySize);
}

std::vector<IcoEntry> PickIcoEntries(Bytes head, std::uint64_t fileSize, std::string& error) {
  const std::uint16_t count = U16(head, 4);
  std::vector<IcoEntry> entries;
  std::string firstError;
  std::uint64_t imageBytes = 0;
  const std::uint64_t allowed = std::min(fileSize, kMaxIconBytes);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = kIconDirSize + i * kIconDirEntrySize;
    const std::uint32_t size = U32(head, entry + 8);
    const std::uint32_t offset = U32(head, entry + 12);
    const bool outside = size == 0 || offset > fileSize || size > fileSize - offset;
    if (outside || size > kMaxIconImageSize) {
      if (firstError.empty()) {
        firstError = "image " + std::to_string(i) + " of the .ico file (entry at offset " +
                     Hex(entry) + ") " +
                     (outside ? "lies outside the file: offset " + Hex(offset) + ", size " + Hex(size)
                              : "claims " + Hex(size) + " bytes, more than an icon image takes");
      }
      continue;
    }
    if (size > allowed - imageBytes) continue;
    imageBytes += size;
    entries.push_back({entry, offset, size});
  }
  if (entries.empty()) {
    error = "none of the " + std::to_string(count) +
            " images of the .ico file is present: " + firstError;
  }
  return entries;
}

std::vector<IconImage> ReadIcoImages(Bytes file, std::string& error) {
  std::vector<IconImage> images;
  for (const IcoEntry& e : PickIcoEntries(file, file.size(), error))
    images.push_back({file.subspan(e.entry, 8), file.subspan(e.offset, e.size)});
  return images;
}

std::vector<std::byte> BuildIco(const std::vector<IconImage>& images) {
  std::uint64_t imageBytes = 0;
  for (const IconImage& image : images) imageBytes += image.image.size();
  const std::uint64_t headerSize = kIconDirSize + images.size() * kIconDirEntrySize;
  std::vector<std::byte> ico;
  ico.reserve(headerSize + imageBytes);
  PutU16(ico, 0);
  PutU16(ico, 1);
  PutU16(ico, static_cast<std::uint16_t>(images.size()));
  std::uint64_t offset = headerSize;
  for (const IconImage& image : images) {
    ico.insert(ico.end(), image.head.begin(), image.head.end());
    PutU32(ico, static_cast<std::uint32_t>(image.image.size()));
    PutU32(ico, static_cast<std::uint32_t>(offset));
    offset += image.image.size();
  }
  for (const IconImage& image : images)
    ico.insert(ico.end(), image.image.begin(), image.image.end());
  return ico;
}

}  // namespace orbel::platform::iconfile
