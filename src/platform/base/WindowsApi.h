// <windows.h> for the Windows-only sources: without the min and max macros
// and the rarely used parts of the API; and the conversions between our
// UTF-8 text and the wide strings of the wide-character calls.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Text.h"

namespace orbel::platform {

inline std::wstring Wide(std::string_view text) {
  const std::vector<std::byte> units = Utf8ToUtf16Le(text);
  std::wstring wide(units.size() / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), units.data(), wide.size() * sizeof(wchar_t));
  return wide;
}

inline std::string Narrow(const wchar_t* text, std::size_t length) {
  return Utf16LeToUtf8(std::as_bytes(std::span<const wchar_t>(text, length)));
}

}  // namespace orbel::platform
#endif
