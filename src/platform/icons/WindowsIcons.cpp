#include "platform/icons/WindowsIcons.h"

#ifdef _WIN32

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/WindowsApi.h"
#include <shellapi.h>

#include "platform/base/Text.h"
#include "platform/computer/WindowsRegistry.h"
#include "platform/images/WindowsPaths.h"

namespace orbel::platform {
namespace {

std::wstring Expanded(const std::wstring& path) {
  const DWORD needed = ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
  if (needed == 0) return path;
  std::wstring result(needed, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(path.c_str(), result.data(), needed);
  if (written == 0 || written > needed) return path;
  result.resize(written - 1);
  return result;
}

// A variable of this process's environment, as ExpandEnvironmentStringsW reads it.
std::optional<std::string> ProcessVariable(const char* name) {
  const std::wstring wide = Wide(name);
  const DWORD needed = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD written = GetEnvironmentVariableW(wide.c_str(), value.data(), needed);
  if (written == 0 || written >= needed) return std::nullopt;
  value.resize(written);
  return Narrow(value.data(), value.size());
}

ExtractedIcon Outcome(IconOutcome outcome, std::string error) {
  ExtractedIcon result;
  result.outcome = outcome;
  result.error = std::move(error);
  return result;
}

template <typename T>
void Put(std::vector<std::byte>& out, T value) {
  const auto* bytes = reinterpret_cast<const std::byte*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}

// Owns the two bitmaps GetIconInfo hands out.
struct IconBitmaps {
  ICONINFO info{};
  ~IconBitmaps() {
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  }
};

// The icon's colour image and mask as an .ico file of one 32-bit image.
ExtractedIcon IcoOf(HICON icon, const std::string& file) {
  IconBitmaps bitmaps;
  if (!GetIconInfo(icon, &bitmaps.info)) return Outcome(IconOutcome::NoIcon, file + ": GetIconInfo failed");
  if (!bitmaps.info.hbmColor) return Outcome(IconOutcome::NoIcon, file + ": a monochrome icon");
  BITMAP colour{};
  if (GetObjectW(bitmaps.info.hbmColor, sizeof colour, &colour) == 0 || colour.bmWidth <= 0 ||
      colour.bmHeight <= 0 || colour.bmWidth > 256 || colour.bmHeight > 256) {
    return Outcome(IconOutcome::NoIcon, file + ": the icon's image has no usable size");
  }
  const LONG width = colour.bmWidth;
  const LONG height = colour.bmHeight;
  const std::size_t colourBytes = static_cast<std::size_t>(width) * height * 4;
  const std::size_t maskStride = static_cast<std::size_t>((width + 31) / 32) * 4;
  const std::size_t maskBytes = maskStride * static_cast<std::size_t>(height);

  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[2];
  } format{};
  format.header.biSize = sizeof(BITMAPINFOHEADER);
  format.header.biWidth = width;
  format.header.biHeight = height;  // bottom-up, as .ico images are stored
  format.header.biPlanes = 1;
  format.header.biBitCount = 32;
  format.header.biCompression = BI_RGB;
  std::vector<std::uint8_t> pixels(colourBytes);
  std::vector<std::uint8_t> mask(maskBytes);
  HDC screen = GetDC(nullptr);
  const int colourRows = GetDIBits(screen, bitmaps.info.hbmColor, 0, static_cast<UINT>(height),
                                   pixels.data(), reinterpret_cast<BITMAPINFO*>(&format),
                                   DIB_RGB_COLORS);
  format.header.biBitCount = 1;
  format.header.biSizeImage = 0;
  format.header.biClrUsed = 0;
  const int maskRows = GetDIBits(screen, bitmaps.info.hbmMask, 0, static_cast<UINT>(height),
                                 mask.data(), reinterpret_cast<BITMAPINFO*>(&format),
                                 DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (colourRows != height || maskRows != height) {
    return Outcome(IconOutcome::NoIcon, file + ": the icon's bitmaps could not be read");
  }
  // An image without alpha takes its transparency from the mask.
  bool anyAlpha = false;
  for (std::size_t i = 3; i < pixels.size(); i += 4) anyAlpha = anyAlpha || pixels[i] != 0;
  if (!anyAlpha) {
    for (LONG y = 0; y < height; ++y) {
      for (LONG x = 0; x < width; ++x) {
        const std::uint8_t bits = mask[static_cast<std::size_t>(y) * maskStride + x / 8];
        const bool transparent = (bits >> (7 - x % 8)) & 1;
        pixels[(static_cast<std::size_t>(y) * width + x) * 4 + 3] = transparent ? 0 : 255;
      }
    }
  }

  ExtractedIcon result;
  result.outcome = IconOutcome::Found;
  std::vector<std::byte>& out = result.ico;
  const auto imageBytes = static_cast<std::uint32_t>(sizeof(BITMAPINFOHEADER) + colourBytes + maskBytes);
  Put<std::uint16_t>(out, 0);  // ICONDIR: reserved, type 1 (icon), one image
  Put<std::uint16_t>(out, 1);
  Put<std::uint16_t>(out, 1);
  Put<std::uint8_t>(out, static_cast<std::uint8_t>(width & 0xFF));  // 0 stands for 256
  Put<std::uint8_t>(out, static_cast<std::uint8_t>(height & 0xFF));
  Put<std::uint8_t>(out, 0);   // no palette
  Put<std::uint8_t>(out, 0);
  Put<std::uint16_t>(out, 1);  // planes
  Put<std::uint16_t>(out, 32);
  Put<std::uint32_t>(out, imageBytes);
  Put<std::uint32_t>(out, 6 + 16);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height * 2;  // the colour image and the mask
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(colourBytes + maskBytes);
  Put(out, header);
  const auto* colourData = reinterpret_cast<const std::byte*>(pixels.data());
  out.insert(out.end(), colourData, colourData + pixels.size());
  const auto* maskData = reinterpret_cast<const std::byte*>(mask.data());
  out.insert(out.end(), maskData, maskData + mask.size());
  return result;
}

}  // namespace

ExtractedIcon ExtractIconWithShell(const std::string& file, std::int32_t index, bool thisComputer) {
  std::wstring path;
  if (thisComputer) {
    path = Expanded(Wide(file));
  } else if (const auto local = LocalFileForShell(file, ProcessVariable)) {
    path = Wide(*local);
  } else {
    return Outcome(IconOutcome::NoIcon, file + ": not a file of this computer's drives");
  }
  HICON icon = ExtractIconW(GetModuleHandleW(nullptr), path.c_str(), static_cast<UINT>(index));
  if (icon == nullptr) return Outcome(IconOutcome::NoIcon, file + ": no icon at that index");
  // The shell's answer for a file that is no program, library or icon file.
  if (icon == reinterpret_cast<HICON>(1)) {
    return Outcome(IconOutcome::Unusable, file + ": not a program, library or icon file");
  }
  ExtractedIcon result = IcoOf(icon, file);
  DestroyIcon(icon);
  return result;
}

bool IsThisComputersRegistry(RegistryApi& api, HKey root) {
  const auto* windows = dynamic_cast<const WindowsRegistry*>(&api);
  return windows != nullptr && windows->IsThisComputersKey(root);
}

bool ShellGivesIconsFor(RegistryApi& api, HKey root) {
  const auto* windows = dynamic_cast<const WindowsRegistry*>(&api);
  return windows != nullptr && !windows->IsImageKey(root);
}

}  // namespace orbel::platform

#endif  // _WIN32
