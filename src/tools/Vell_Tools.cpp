#include "tools/Vell_Tools.h"

#include <cstddef>
#include <iostream>

#include "platform/base/Text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace orbel {

namespace {

using platform::AsciiUpper;

// The platform's own buffer size for the computer name, in characters.
constexpr std::size_t kComputerNameBufferSize = 512;

Screen* g_screen = nullptr;

bool Show(MessageKind kind, const char* caption, const std::string& text) {
  if (g_screen == nullptr) {
    std::cerr << caption << ": " << text << '\n';
    return false;
  }
  return g_screen->ShowMessage(kind, caption, text);
}

// The platform's answer for the computer name, nullopt when the call failed.
std::optional<std::string> PlatformComputerName() {
#ifdef _WIN32
  wchar_t buffer[kComputerNameBufferSize];
  for (wchar_t& c : buffer) c = L' ';
  DWORD size = kComputerNameBufferSize;
  if (!GetComputerNameW(buffer, &size)) return std::nullopt;
  int length = 0;
  while (length < static_cast<int>(kComputerNameBufferSize) && buffer[length] != L'\0') ++length;
  if (length == 0) return std::string();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::nullopt;
  std::string name(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, buffer, length, name.data(), bytes, nullptr, nullptr) !=
      bytes) {
    return std::nullopt;
  }
  return name;
#else
  // gethostname need not terminate a name that fills the buffer; ComputerNameFrom then
  // takes the whole buffer.
  std::string buffer(kComputerNameBufferSize, ' ');
  if (gethostname(buffer.data(), buffer.size()) != 0) return std::nullopt;
  return buffer;
#endif
}

}  // namespace

void SetScreen(Screen* screen) { g_screen = screen; }

Screen* CurrentScreen() { return g_screen; }

bool ConfirmMessage(const std::string& text) { return Show(MessageKind::Confirm, "Confirm", text); }

void ErrorMessage(const std::string& text) { Show(MessageKind::Error, "Error", text); }

void InfoMessage(const std::string& text) { Show(MessageKind::Information, "Information", text); }

void WarningMessage(const std::string& text) { Show(MessageKind::Warning, "Warning", text); }

void PlainMessage(const std::string& text) { Show(MessageKind::Plain, "Vell Orbel", text); }

void NormalCursor() {
  if (g_screen != nullptr) g_screen->SetCursorBusy(false);
}

void BusyCursor() {
  if (g_screen != nullptr) g_screen->SetCursorBusy(true);
}

std::string ReplaceParam(const std::string& text, const std::string& value) {
  const std::size_t position = text.find("%1");
  if (position == std::string::npos) return text;
  std::string result = text;
  result.replace(position, 2, value);
  return result;
}

void OpenDocument(const std::string& target) {
  if (g_screen != nullptr) g_screen->OpenWithShell(target);
}

bool FontInstalled(const std::string& familyName) {
  if (g_screen == nullptr) return false;
  const std::string wanted = AsciiUpper(familyName);
  for (const std::string& family : g_screen->FontFamilies()) {
    if (AsciiUpper(family) == wanted) return true;
  }
  return false;
}

std::string Spaces(std::int32_t count) {
  if (count <= 0) return std::string();
  return std::string(static_cast<std::size_t>(count), ' ');
}

void OpenWebSite() { OpenDocument(kMakerWebSite); }

std::string LocalComputerName() { return ComputerNameFrom(PlatformComputerName()); }

std::string ComputerNameFrom(std::optional<std::string> platformName) {
  if (!platformName) return "LOCAL";
  std::string& name = *platformName;
  const std::size_t end = name.find('\0');
  if (end != std::string::npos) name.resize(end);
  std::size_t start = 0;
  while (start < name.size() && static_cast<unsigned char>(name[start]) <= 32) ++start;
  // A title naming no computer would help nobody.
  if (start == name.size()) return "LOCAL";
  return name.substr(start);
}

int WindowsPlatform() {
#ifdef _WIN32
  // RtlGetVersion tells the truth; GetVersionEx answers a program without a
  // compatibility manifest with an older Windows.
  using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  bool succeeded = false;
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    const auto call =
        reinterpret_cast<RtlGetVersionCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    succeeded = call != nullptr && call(&info) == 0;
  }
  return PlatformKindFrom(succeeded, info.dwPlatformId);
#else
  return 2;
#endif
}

int PlatformKindFrom(bool callSucceeded, std::uint32_t platformId) {
  if (!callSucceeded) return 0;
  // VER_PLATFORM_WIN32_WINDOWS is 1, VER_PLATFORM_WIN32_NT is 2.
  if (platformId == 1) return 1;
  if (platformId == 2) return 2;
  return 0;
}

void PumpMessages() {
  if (g_screen != nullptr) g_screen->ProcessPendingEvents();
}

}  // namespace orbel
