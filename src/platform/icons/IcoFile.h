// The .ico file: its directory (ICONDIR and its entries) read from a file and
// written for the images of one icon.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/icons/IconBytes.h"

namespace orbel::platform::iconfile {

inline constexpr std::uint64_t kIconDirSize = 6;
inline constexpr std::uint64_t kIconDirEntrySize = 16;

// The most bytes one image may take: a 256x256 image of 32 bits with its
// mask takes 270,376, a PNG of that size even without compression less
// than 600 KB. An entry claiming more is damage.
inline constexpr std::uint64_t kMaxIconImageSize = 1ull << 20;
// The most bytes the images of one icon may take in all; further images
// are left out, as those past the file's size.
inline constexpr std::uint64_t kMaxIconBytes = 8ull << 20;

// True when `file` starts with an ICONDIR whose entries all lie in the file.
bool IsIconFile(Bytes file);

// One image of an icon: its directory head (width, height, colours, reserved,
// planes, bit count) and its bytes.
struct IconImage {
  Bytes head;
  Bytes image;
};

// Where one image of an .ico file lies: its directory entry and its bytes.
struct IcoEntry {
  std::uint64_t entry = 0;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

// The images to read of an .ico file of `fileSize` bytes whose first bytes,
// the whole directory at least, are `head` (IsIconFile true), in directory
// order. Images whose data lies outside the file or that claim more than
// kMaxIconImageSize are left out, and so are images past the file's size or
// kMaxIconBytes in all, so that entries naming the same bytes cannot make a
// huge icon. When none is left, `error` says why.
std::vector<IcoEntry> PickIcoEntries(Bytes head, std::uint64_t fileSize, std::string& error);

// The images of an .ico file held whole in `file`, as PickIcoEntries picks them.
std::vector<IconImage> ReadIcoImages(Bytes file, std::string& error);

// A complete .ico file of `images`, in that order.
std::vector<std::byte> BuildIco(const std::vector<IconImage>& images);

}  // namespace orbel::platform::iconfile
