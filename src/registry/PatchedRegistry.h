// The read-only registry reader: one open key at a time below a root of this
// computer or of another one, string values as UTF-8 text.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/RegistryApi.h"

namespace orbel {

using platform::HKey;

// The one exception of the registry code; its message is shown to the user.
class ERegistryException : public std::runtime_error {
 public:
  explicit ERegistryException(const std::string& message) : std::runtime_error(message) {}
};

// Figures of a key, as QueryKeyInfo gives them.
struct KeyInfo {
  std::uint32_t SubkeyCount = 0;
  std::uint32_t MaxSubkeyNameLength = 0;
  std::uint32_t ValueCount = 0;
  std::uint32_t MaxValueNameLength = 0;
  std::uint32_t MaxValueDataLength = 0;
  platform::FileTime LastWriteTime = 0;
};

class TPatchRegistry {
 public:
  // A reader on HKEY_CURRENT_USER with no key open.
  explicit TPatchRegistry(platform::RegistryApi& api);
  ~TPatchRegistry();
  TPatchRegistry(const TPatchRegistry&) = delete;
  TPatchRegistry& operator=(const TPatchRegistry&) = delete;

  // Makes `root` the root; the open key is closed unless it is the root
  // already. A root that came from ConnectRemote is released.
  void SelectRoot(HKey root);
  // Replaces the root by the same root on the named computer; false (and
  // nothing changed) when it cannot be reached.
  bool ConnectRemote(const std::string& computer);

  // Opens a key read-only and makes it the current key. A path beginning
  // with "\" starts at the root, any other path at the open key (or the root
  // when none is open). On failure nothing changes.
  bool OpenPath(std::string_view path);
  void ClosePath();
  // Whether the key can be opened for reading; the current key stays.
  bool PathExists(std::string_view path);

  // A string value of the current key (empty name: the default value).
  // Missing or empty values, and no open key, give empty text; data that
  // cannot be read, or a value that is no string, raise ERegistryException.
  std::string ReadText(std::string_view name);
  // A string value of a subkey of the current key, read as ReadText reads
  // it; empty text when the subkey cannot be opened. The current key stays.
  std::string ReadSubkeyText(std::string_view subkey, std::string_view name);
  // Several values of one subkey, with one opening: texts[i] is the value
  // names[i], in that order until one raises; all empty when the subkey
  // cannot be opened.
  void ReadSubkeyTexts(std::string_view subkey, std::span<const std::string_view> names,
                       std::span<std::string> texts);
  // Replaces `list` by the names of the current key's subkeys and answers
  // how many of the subkeys the key counts could not be enumerated (0 when
  // all were). A key that counts more subkeys than a key can hold raises
  // ERegistryException. A name holding a NUL is listed cut at it, as a
  // reader of NUL-ended names sees it; with `withNul`, such names go there
  // whole instead.
  std::uint32_t ListSubkeys(std::vector<std::string>& list,
                            std::vector<std::string>* withNul = nullptr);
  bool QueryKeyInfo(KeyInfo& info);
  // A list for ListSubkeys kept from key to key: listing many keys in turn
  // into it reuses its strings instead of allocating each name again.
  std::vector<std::string>& SubkeyScratch() { return scratch_; }

  HKey Current() const { return current_; }
  HKey Root() const { return root_; }
  const std::string& Path() const { return path_; }
  bool OwnsRoot() const { return ownsRoot_; }
  platform::RegistryApi& Api() const { return api_; }

 private:
  // Opens `path` by the path rules; the handle in `key`, and whether the
  // path was taken from the current key in `fromCurrent`.
  bool OpenByRules(std::string_view path, HKey& key, bool& fromCurrent);
  // ReadText on any open key.
  std::string ReadTextOf(HKey key, std::string_view name);

  platform::RegistryApi& api_;
  HKey current_{};
  HKey root_ = platform::HKeyCurrentUser;
  std::string path_;
  bool ownsRoot_ = false;
  std::vector<std::string> scratch_;
};

}  // namespace orbel
