// The Windows registry behind the registry API: advapi32's wide-character
// calls, names converted between UTF-8 and UTF-16. Another computer, named
// without "\" or "/" once its leading backslashes are removed, is reached
// through RegConnectRegistry; any other name is the path of a registry image,
// opened as the portable registry does. Windows only.
#pragma once

#ifdef _WIN32

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/api/PortableRegistry.h"
#include "platform/api/RegistryApi.h"

namespace orbel::platform {

// Open keys are the real HKEY values, the predefined roots their Windows
// numbers and status codes Windows' own. Keys of images come from a
// PortableRegistry held inside, under handles of a range that kernel handles
// never reach; a table says which side owns each open handle. String data
// stays UTF-16LE, as RegQueryValueExW gives it. One thread at a time.
class WindowsRegistry : public RegistryApi {
 public:
  WindowsRegistry();
  // Closes the keys still open.
  ~WindowsRegistry() override;
  WindowsRegistry(const WindowsRegistry&) = delete;
  WindowsRegistry& operator=(const WindowsRegistry&) = delete;

  Status OpenKey(HKey base, std::string_view subkey, std::uint32_t access, HKey& result) override;
  Status CloseKey(HKey key) override;
  Status QueryValue(HKey key, std::string_view name, std::uint32_t* type, std::byte* data,
                    std::uint32_t* size) override;
  // Name lengths as Windows gives them, in UTF-16 code units.
  Status QueryInfoKey(HKey key, KeyFigures& figures) override;
  Status EnumKey(HKey key, std::uint32_t index, std::string& name) override;
  Status ConnectRegistry(std::string_view machine, HKey root, HKey& result) override;
  Status CreateKey(HKey base, std::string_view subkey, std::uint32_t access, HKey& result) override;
  Status SetValue(HKey key, std::string_view name, std::uint32_t type,
                  std::span<const std::byte> data) override;
  // The system drive (C:\) for this computer's keys, the image's drive folder
  // for an image's, nothing for another computer's.
  std::optional<std::filesystem::path> DriveFolderOf(HKey key) override;
  std::string LastConnectError() const override { return lastConnectError_; }

  // Whether `key` is a key of a registry image (not of a computer's registry).
  bool IsImageKey(HKey key) const {
    const auto owner = Find(key);
    return owner && owner->side == Side::Image;
  }

  // Whether `key` is a key of this computer's own registry.
  bool IsThisComputersKey(HKey key) const {
    const auto owner = Find(key);
    return owner && owner->side == Side::ThisComputer;
  }

  // Handles open now (keys and connected roots), for tests that look for leaks.
  std::size_t OpenHandleCount() const { return handles_.size(); }

 private:
  enum class Side { ThisComputer, OtherComputer, Image };
  struct Handle {
    Side side = Side::ThisComputer;
    HKey inner;  // the image registry's handle; the key itself otherwise
  };

  // The owner of `key`, a predefined root being this computer's; nothing
  // when the handle is not open.
  std::optional<Handle> Find(HKey key) const;
  // Records a key (an HKEY) that Windows opened for a key of `side`; a
  // predefined root that Windows hands back is not recorded.
  HKey AddNative(std::uintptr_t native, Side side);
  // Records a key of the image registry under a handle of its own.
  HKey AddImage(HKey inner);

  std::unordered_map<HKey, Handle> handles_;
  PortableRegistry images_;
  std::uintptr_t nextImageHandle_;
  std::string lastConnectError_;
  std::vector<wchar_t> nameBuffer_;  // grows to the longest subkey name met
};

}  // namespace orbel::platform

#endif  // _WIN32
