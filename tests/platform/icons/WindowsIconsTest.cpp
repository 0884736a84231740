// The shell's icons, on Windows or under Wine: every class of the live
// registry whose default icon lies in shell32.dll gets it through
// ExtractIconW, as an .ico that the portable reader reads back.
#include <gtest/gtest.h>

#ifdef _WIN32

#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/icons/WindowsIcons.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace orbel::platform {
namespace {

// The DefaultIcon values of the classes of HKEY_LOCAL_MACHINE that name shell32.dll.
std::vector<std::string> Shell32Locations() {
  std::vector<std::string> locations;
  HKEY list = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0, KEY_READ, &list) != 0) {
    return locations;
  }
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(list, index, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
    const std::wstring key = std::wstring(name, length) + L"\\DefaultIcon";
    wchar_t value[1024];
    DWORD size = sizeof value;
    if (RegGetValueW(list, key.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                     RRF_NOEXPAND, nullptr, value, &size) != 0) {
      continue;
    }
    const std::string text = Utf16LeToUtf8(std::as_bytes(std::span<const wchar_t>(value, size / 2 - 1)));
    if (AsciiUpper(text).find("SHELL32.DLL") != std::string::npos) locations.push_back(text);
  }
  RegCloseKey(list);
  return locations;
}

TEST(WindowsIcons, ClassesWithShell32IconsGetThemFromTheShell) {
  const std::vector<std::string> locations = Shell32Locations();
  ASSERT_FALSE(locations.empty()) << "the registry names no icon in shell32.dll";
  for (const std::string& location : locations) {
    // "file,index" as the icon rows give it to the extractor.
    const std::size_t comma = location.rfind(',');
    const std::string file = location.substr(0, comma);
    const int index = comma == std::string::npos ? 0 : std::stoi(location.substr(comma + 1));
    const ExtractedIcon icon = ExtractIconWithShell(file, index, true);
    ASSERT_EQ(icon.outcome, IconOutcome::Found) << location << ": " << icon.error;
    const ExtractedIcon again = ExtractIconFromBytes(icon.ico, 0);
    ASSERT_EQ(again.outcome, IconOutcome::Found) << location << ": " << again.error;
    EXPECT_EQ(icon.ico[6], std::byte{32}) << location << ": 32 pixels wide";
  }
  EXPECT_EQ(ExtractIconWithShell("%SystemRoot%\\system32\\shell32.dll", 100000, true).outcome,
            IconOutcome::NoIcon);
  EXPECT_EQ(ExtractIconWithShell("C:\\no\\such\\file.dll", 0, true).outcome, IconOutcome::NoIcon);
  // From another computer's registry a drive path is opened, a network path not.
  EXPECT_EQ(ExtractIconWithShell("%SystemRoot%\\system32\\shell32.dll", 0, false).outcome,
            IconOutcome::Found);
  const ExtractedIcon share =
      ExtractIconWithShell("\\\\127.0.0.1\\c$\\Windows\\system32\\shell32.dll", 0, false);
  EXPECT_EQ(share.outcome, IconOutcome::NoIcon);
  EXPECT_NE(share.error.find("not a file of this computer's drives"), std::string::npos)
      << share.error;
}

}  // namespace
}  // namespace orbel::platform

#endif  // _WIN32
