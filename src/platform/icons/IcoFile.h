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

// True when `file` starts with an ICONDIR whose entries all lie in the file.
bool IsIconFile(Bytes file);

// One image of an icon: its directory head (width, height, colours, reserved,
// planes, bit count) and its bytes.
struct IconImage {
  Bytes head;
  Bytes image;
};

// The images of an .ico file (IsIconFile true), in directory order. Images
// whose data lies outside the file are left out, and so are images past the
// file's size in all, so that entries naming the same bytes cannot make a
// huge icon. When none is left, `error` says why.
std::vector<IconImage> ReadIcoImages(Bytes file, std::string& error);

// A complete .ico file of `images`, in that order.
std::vector<std::byte> BuildIco(const std::vector<IconImage>& images);

}  // namespace orbel::platform::iconfile
