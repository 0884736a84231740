#include "platform/computer/WindowsRegistry.h"

#ifdef _WIN32

#include <algorithm>
#include <cctype>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/base/Text.h"
#include "platform/computer/LocalImage.h"
#include "platform/images/RegistryImage.h"

#include "platform/base/WindowsApi.h"

namespace fs = std::filesystem;

namespace orbel::platform {
namespace {

// Keys of images are numbered from here. A process holds at most 2^24 kernel
// handles, numbered in fours with the registry's tags in the two low bits,
// so that a real key's handle stays below 2^26 and never meets these.
constexpr std::uintptr_t kFirstImageHandle = 0x10000000;

// The enumeration buffer starts small and grows to the longest name met, up
// to this many UTF-16 code units.
constexpr std::size_t kFirstNameUnits = 64;
constexpr std::size_t kMaxNameUnits = std::size_t{1} << 16;

// The HKEY of a key or root: Windows' predefined roots are 32-bit numbers,
// sign-extended on 64-bit Windows.
HKEY Native(HKey key) {
  if (IsPredefinedRoot(key)) {
    const auto number = static_cast<LONG>(static_cast<ULONG>(key.value));
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(number));
  }
  return reinterpret_cast<HKEY>(key.value);
}

// The predefined root an HKEY is, if it is one.
std::optional<HKey> PredefinedRootOf(HKEY native) {
  const HKey low{static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(native))};
  if (IsPredefinedRoot(low) && Native(low) == native) return low;
  return std::nullopt;
}

std::string SystemMessage(LSTATUS status) {
  std::string text = std::system_category().message(static_cast<int>(status));
  while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.back())) != 0)) {
    text.pop_back();
  }
  return text;
}

// The root folder of the drive Windows runs from.
std::optional<fs::path> SystemDrive() {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return std::nullopt;
  const fs::path root = fs::path(std::wstring(buffer, length)).root_path();
  if (root.empty()) return std::nullopt;
  return root;
}

bool IsThisComputer(std::string_view name) {
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buffer, &length)) return false;
  return EqualsNoCase(Narrow(buffer, length), name);
}

}  // namespace

WindowsRegistry::WindowsRegistry()
    : nextImageHandle_(kFirstImageHandle), nameBuffer_(kFirstNameUnits) {
  // The machine name reaches the connector as the path of the image.
  images_.SetConnector([](std::string_view path, HKey root, Mount& out, std::string& error) {
    auto image = OpenRegistryImage(fs::path(Wide(path)), error, SystemImageOptions());
    if (!image) return kBadNetPath;
    return MountImageRoot(*image, root, out, error);
  });
}

WindowsRegistry::~WindowsRegistry() {
  for (const auto& [key, handle] : handles_) {
    if (handle.side != Side::Image) RegCloseKey(Native(handle.inner));
  }
}

std::optional<WindowsRegistry::Handle> WindowsRegistry::Find(HKey key) const {
  if (IsPredefinedRoot(key)) return Handle{Side::ThisComputer, key};
  const auto it = handles_.find(key);
  if (it == handles_.end()) return std::nullopt;
  return it->second;
}

HKey WindowsRegistry::AddNative(std::uintptr_t native, Side side) {
  if (const auto root = PredefinedRootOf(reinterpret_cast<HKEY>(native))) return *root;
  const HKey key{native};
  handles_.insert_or_assign(key, Handle{side, key});
  return key;
}

HKey WindowsRegistry::AddImage(HKey inner) {
  while (handles_.count(HKey{nextImageHandle_}) != 0) nextImageHandle_ += 4;
  const HKey key{nextImageHandle_};
  nextImageHandle_ += 4;
  handles_.emplace(key, Handle{Side::Image, inner});
  return key;
}

Status WindowsRegistry::OpenKey(HKey base, std::string_view subkey, std::uint32_t access,
                                HKey& result) {
  const auto owner = Find(base);
  if (!owner) return kInvalidHandle;
  if (owner->side == Side::Image) {
    HKey inner{};
    const Status status = images_.OpenKey(owner->inner, subkey, access, inner);
    if (status == kSuccess) result = AddImage(inner);
    return status;
  }
  HKEY native = nullptr;
  const LSTATUS status =
      RegOpenKeyExW(Native(owner->inner), Wide(subkey).c_str(), 0, access, &native);
  if (status != ERROR_SUCCESS) return status;
  result = AddNative(reinterpret_cast<std::uintptr_t>(native), owner->side);
  return kSuccess;
}

Status WindowsRegistry::CreateKey(HKey base, std::string_view subkey, std::uint32_t access,
                                  HKey& result) {
  const auto owner = Find(base);
  if (!owner) return kInvalidHandle;
  if (owner->side == Side::Image) {
    HKey inner{};
    const Status status = images_.CreateKey(owner->inner, subkey, access, inner);
    if (status == kSuccess) result = AddImage(inner);
    return status;
  }
  HKEY native = nullptr;
  const LSTATUS status =
      RegCreateKeyExW(Native(owner->inner), Wide(subkey).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, access, nullptr, &native, nullptr);
  if (status != ERROR_SUCCESS) return status;
  result = AddNative(reinterpret_cast<std::uintptr_t>(native), owner->side);
  return kSuccess;
}

Status WindowsRegistry::CloseKey(HKey key) {
  if (IsPredefinedRoot(key)) return kSuccess;
  const auto it = handles_.find(key);
  if (it == handles_.end()) return kInvalidHandle;
  const Handle handle = it->second;
  handles_.erase(it);
  if (handle.side == Side::Image) return images_.CloseKey(handle.inner);
  return RegCloseKey(Native(handle.inner));
}

Status WindowsRegistry::QueryValue(HKey key, std::string_view name, std::uint32_t* type,
                                   std::byte* data, std::uint32_t* size) {
  const auto owner = Find(key);
  if (!owner) return kInvalidHandle;
  if (owner->side == Side::Image) return images_.QueryValue(owner->inner, name, type, data, size);
  if (data && !size) return kInvalidParameter;
  DWORD valueType = REG_NONE;
  DWORD valueSize = size ? *size : 0;
  const LSTATUS status =
      RegQueryValueExW(Native(owner->inner), Wide(name).c_str(), nullptr, &valueType,
                       reinterpret_cast<BYTE*>(data), size ? &valueSize : nullptr);
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    if (type) *type = valueType;
    if (size) *size = valueSize;
  }
  return status;
}

Status WindowsRegistry::QueryInfoKey(HKey key, KeyFigures& figures) {
  const auto owner = Find(key);
  if (!owner) return kInvalidHandle;
  if (owner->side == Side::Image) return images_.QueryInfoKey(owner->inner, figures);
  DWORD subkeys = 0;
  DWORD longestSubkey = 0;
  DWORD values = 0;
  DWORD longestValueName = 0;
  DWORD largestValue = 0;
  FILETIME written{};
  const LSTATUS status =
      RegQueryInfoKeyW(Native(owner->inner), nullptr, nullptr, nullptr, &subkeys, &longestSubkey,
                       nullptr, &values, &longestValueName, &largestValue, nullptr, &written);
  if (status != ERROR_SUCCESS) return status;
  figures.subkeyCount = subkeys;
  figures.maxSubkeyNameLength = longestSubkey;
  figures.valueCount = values;
  figures.maxValueNameLength = longestValueName;
  figures.maxValueDataLength = largestValue;
  figures.lastWriteTime = (FileTime{written.dwHighDateTime} << 32) | written.dwLowDateTime;
  return kSuccess;
}

Status WindowsRegistry::EnumKey(HKey key, std::uint32_t index, std::string& name) {
  const auto owner = Find(key);
  if (!owner) return kInvalidHandle;
  if (owner->side == Side::Image) return images_.EnumKey(owner->inner, index, name);
  const HKEY native = Native(owner->inner);
  for (;;) {
    DWORD length = static_cast<DWORD>(nameBuffer_.size());
    const LSTATUS status = RegEnumKeyExW(native, index, nameBuffer_.data(), &length, nullptr,
                                         nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
      name = Narrow(nameBuffer_.data(), std::min<std::size_t>(length, nameBuffer_.size()));
      return kSuccess;
    }
    if (status != ERROR_MORE_DATA || nameBuffer_.size() >= kMaxNameUnits) return status;
    // The longest name and its terminator; twice the buffer when the key
    // gives no larger figure (its subkeys changed in between).
    DWORD longest = 0;
    std::size_t wanted = nameBuffer_.size() * 2;
    if (RegQueryInfoKeyW(native, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        std::size_t{longest} + 1 > nameBuffer_.size()) {
      wanted = std::size_t{longest} + 1;
    }
    nameBuffer_.resize(std::min(wanted, kMaxNameUnits));
  }
}

Status WindowsRegistry::ConnectRegistry(std::string_view machine, HKey root, HKey& result) {
  if (!IsPredefinedRoot(root)) return kInvalidHandle;
  lastConnectError_.clear();
  std::string_view name = machine;
  while (!name.empty() && name.front() == '\\') name.remove_prefix(1);
  // A bare name is a computer, even when a folder of that name exists here;
  // anything with a backslash or "/" in it is the path of an image: a drive
  // path (\\D:\evidence\SOFTWARE as the selector gives it, or without the
  // two backslashes), a Unix path under Wine, else a network path.
  if (name.find_first_of("\\/") != std::string_view::npos) {
    const bool drive = name.size() >= 2 && name[1] == ':';
    const bool network = machine.size() - name.size() >= 2 && !drive && name.front() != '/';
    const std::string path = network ? "\\\\" + std::string(name) : std::string(name);
    HKey inner{};
    const Status status = images_.ConnectRegistry(path, root, inner);
    if (status != kSuccess) {
      lastConnectError_ = images_.LastConnectError();
      return status;
    }
    result = AddImage(inner);
    return kSuccess;
  }
  const std::wstring wide = Wide(machine);
  HKEY native = nullptr;
  const LSTATUS status =
      RegConnectRegistryW(name.empty() ? nullptr : wide.c_str(), Native(root), &native);
  if (status != ERROR_SUCCESS) {
    lastConnectError_ = (name.empty() ? std::string("this computer") : std::string(machine)) +
                        ": " + SystemMessage(status);
    return status;
  }
  const bool local = name.empty() || IsThisComputer(name);
  result = AddNative(reinterpret_cast<std::uintptr_t>(native),
                     local ? Side::ThisComputer : Side::OtherComputer);
  return kSuccess;
}

Status WindowsRegistry::SetValue(HKey key, std::string_view name, std::uint32_t type,
                                 std::span<const std::byte> data) {
  const auto owner = Find(key);
  if (!owner) return kInvalidHandle;
  if (owner->side == Side::Image) return images_.SetValue(owner->inner, name, type, data);
  if (data.size() > 0xFFFFFFFFu) return kInvalidParameter;
  return RegSetValueExW(Native(owner->inner), Wide(name).c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

std::optional<fs::path> WindowsRegistry::DriveFolderOf(HKey key) {
  const auto owner = Find(key);
  if (!owner) return std::nullopt;
  switch (owner->side) {
    case Side::ThisComputer:
      return SystemDrive();
    case Side::OtherComputer:
      return std::nullopt;
    case Side::Image:
      return images_.DriveFolderOf(owner->inner);
  }
  return std::nullopt;
}

RegistryApi& SystemRegistry() {
  // Never destroyed: objects destroyed at exit may still use it.
  static WindowsRegistry* registry = new WindowsRegistry();
  return *registry;
}

}  // namespace orbel::platform

#endif  // _WIN32
