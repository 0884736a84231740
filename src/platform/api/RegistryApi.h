// The registry API the reader and the settings store call: handle-based, like
// the Windows registry functions, so that open keys, shared roots and remote
// roots behave as they do there. Names and strings are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/store/LogRecovery.h"
#include "platform/store/RegistryTypes.h"

namespace orbel::platform {

class RegistryApi {
 public:
  virtual ~RegistryApi() = default;

  // Opens the subkey `subkey` of `base` (an open key or a predefined root);
  // an empty subkey opens `base` again. A write access on a read-only store
  // gives kAccessDenied.
  virtual Status OpenKey(HKey base, std::string_view subkey, std::uint32_t access,
                         HKey& result) = 0;

  // Releases an open key or a connected root. Predefined roots are ignored.
  virtual Status CloseKey(HKey key) = 0;

  // Type and data of a value. With `data` null only the type and the size
  // are given. With `data`, `*size` is the buffer's size on entry; a buffer
  // too small gives kMoreData and the needed size. `type` may be null.
  virtual Status QueryValue(HKey key, std::string_view name, std::uint32_t* type, std::byte* data,
                            std::uint32_t* size) = 0;

  virtual Status QueryInfoKey(HKey key, KeyFigures& figures) = 0;

  // The name of the subkey at `index`; kNoMoreItems past the end.
  virtual Status EnumKey(HKey key, std::uint32_t index, std::string& name) = 0;

  // A handle for the predefined root `root` on another computer, released
  // with CloseKey.
  virtual Status ConnectRegistry(std::string_view machine, HKey root, HKey& result) = 0;

  // Opens or creates `subkey` below `base` (every missing key on the way).
  virtual Status CreateKey(HKey base, std::string_view subkey, std::uint32_t access,
                           HKey& result) = 0;

  virtual Status SetValue(HKey key, std::string_view name, std::uint32_t type,
                          std::span<const std::byte> data) = 0;

  // The folder holding the files of the machine a key belongs to (what its
  // registrations call C:\), when there is one.
  virtual std::optional<std::filesystem::path> DriveFolderOf(HKey key) = 0;

  // Why the last ConnectRegistry failed, in words; empty when it did not.
  virtual std::string LastConnectError() const { return {}; }

  // Why a predefined root of this computer cannot be read, in words (the
  // root is read on first use); empty when it can.
  virtual std::string RootProblem(HKey /*root*/) { return {}; }
  // One line to tell whoever reads below `key` about the store behind it
  // (a hive read without the newer data of its logs); empty when none.
  virtual std::string NoticeOf(HKey /*key*/) { return {}; }
  // What the transaction logs gave when the store behind `key` was read
  // from a hive file; nothing for any other store.
  virtual std::optional<LogRecovery> RecoveryOf(HKey /*key*/) { return std::nullopt; }
  // What of the file behind the root of `key` could not be read, in one
  // line (a text registry's skipped lines); empty when it read whole.
  virtual std::string DamageOf(HKey /*key*/) { return {}; }
};


}  // namespace orbel::platform
