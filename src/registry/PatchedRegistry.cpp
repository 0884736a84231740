#include "registry/PatchedRegistry.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "platform/base/Text.h"

namespace orbel {
namespace {

// More subkeys than this in one key is no registry's real figure: a store
// (another computer's, a damaged file) that reports it is not believed.
constexpr std::uint32_t kMaxSubkeys = std::uint32_t{1} << 24;
// Room reserved for a list before any name is read; beyond it the list grows
// with the names really given.
constexpr std::uint32_t kReservedSubkeys = std::uint32_t{1} << 16;

// A string value larger than this is no registration's: a store that
// reports such a size gets no buffer for it.
constexpr std::uint32_t kMaxTextBytes = std::uint32_t{64} << 20;

std::string FormatMessage(std::string_view templ, std::string_view name) {
  std::string message(templ);
  const std::size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, name);
  return message;
}

}  // namespace

TPatchRegistry::TPatchRegistry(platform::RegistryApi& api) : api_(api) {}

TPatchRegistry::~TPatchRegistry() {
  ClosePath();
  if (ownsRoot_) api_.CloseKey(root_);
}

void TPatchRegistry::SelectRoot(HKey root) {
  if (root == root_) return;
  if (ownsRoot_) {
    api_.CloseKey(root_);
    ownsRoot_ = false;
  }
  root_ = root;
  ClosePath();
}

bool TPatchRegistry::ConnectRemote(const std::string& computer) {
  HKey remote{};
  if (api_.ConnectRegistry(computer, root_, remote) != platform::kSuccess) return false;
  SelectRoot(remote);
  ownsRoot_ = true;
  return true;
}

bool TPatchRegistry::OpenByRules(std::string_view path, HKey& key, bool& fromCurrent) {
  const bool absolute = !path.empty() && path.front() == '\\';
  if (absolute) path.remove_prefix(1);
  fromCurrent = !absolute && current_;
  return api_.OpenKey(fromCurrent ? current_ : root_, path, platform::KEY_READ, key) ==
         platform::kSuccess;
}

bool TPatchRegistry::OpenPath(std::string_view path) {
  HKey key{};
  bool fromCurrent = false;
  if (!OpenByRules(path, key, fromCurrent)) return false;
  const bool absolute = !path.empty() && path.front() == '\\';
  // The path is built in place, reusing its buffer, before the old key goes.
  const HKey old = current_;
  current_ = key;
  if (fromCurrent) {
    path_ += '\\';
    path_ += path;
  } else {
    path_.assign(path.substr(absolute ? 1 : 0));
  }
  if (old) api_.CloseKey(old);
  return true;
}

void TPatchRegistry::ClosePath() {
  if (!current_) return;
  api_.CloseKey(current_);
  current_ = HKey{};
  path_.clear();
}

bool TPatchRegistry::PathExists(std::string_view path) {
  HKey key{};
  bool fromCurrent = false;
  if (!OpenByRules(path, key, fromCurrent)) return false;
  api_.CloseKey(key);
  return true;
}

std::string TPatchRegistry::ReadText(std::string_view name) { return ReadTextOf(current_, name); }

std::string TPatchRegistry::ReadSubkeyText(std::string_view subkey, std::string_view name) {
  std::string text;
  ReadSubkeyTexts(subkey, {&name, 1}, {&text, 1});
  return text;
}

void TPatchRegistry::ReadSubkeyTexts(std::string_view subkey, std::span<const std::string_view> names,
                                     std::span<std::string> texts) {
  for (std::string& text : texts) text.clear();
  HKey key{};
  if (!current_ || api_.OpenKey(current_, subkey, platform::KEY_READ, key) != platform::kSuccess) {
    return;
  }
  struct Closer {
    platform::RegistryApi& api;
    HKey key;
    ~Closer() { api.CloseKey(key); }
  } closer{api_, key};
  for (std::size_t i = 0; i < names.size() && i < texts.size(); ++i) {
    texts[i] = ReadTextOf(key, names[i]);
  }
}

std::string TPatchRegistry::ReadTextOf(HKey key, std::string_view name) {
  if (!key) return {};
  // Most values fit a buffer on the stack and take one call. The size is
  // asked for on its own only when they do not fit or cannot be read, which
  // tells a value whose data is unreadable from one that is absent.
  std::array<std::byte, 512> local;
  std::uint32_t type = platform::REG_NONE;
  std::uint32_t size = local.size();
  std::vector<std::byte> buffer;
  std::span<const std::byte> data;
  const platform::Status status = api_.QueryValue(key, name, &type, local.data(), &size);
  if (status == platform::kSuccess) {
    // A store may report more than the buffer holds; only the buffer is read.
    data = std::span<const std::byte>(local.data(), std::min<std::size_t>(size, local.size()));
  } else {
    // Absent is empty text; a value the store cannot read is an error.
    if (status != platform::kMoreData && status != platform::kFileNotFound &&
        status != platform::kInvalidHandle) {
      throw ERegistryException(FormatMessage("Failed to get data for '%s'", name));
    }
    size = 0;
    if (api_.QueryValue(key, name, &type, nullptr, &size) != platform::kSuccess || size == 0) {
      return {};
    }
    if (size > kMaxTextBytes) {
      throw ERegistryException(FormatMessage("Failed to get data for '%s'", name));
    }
    buffer.resize(size);
    if (api_.QueryValue(key, name, &type, buffer.data(), &size) != platform::kSuccess) {
      throw ERegistryException(FormatMessage("Failed to get data for '%s'", name));
    }
    data = std::span<const std::byte>(buffer.data(), std::min<std::size_t>(size, buffer.size()));
  }
  if (data.empty()) return {};
  if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) {
    throw ERegistryException(FormatMessage("Invalid data type for '%s'", name));
  }
  return platform::Utf16LeToUtf8(data);
}

std::uint32_t TPatchRegistry::ListSubkeys(std::vector<std::string>& list,
                                          std::vector<std::string>* withNul) {
  // The strings already in `list` are overwritten in turn, keeping their
  // room; those left over go at the end.
  std::size_t used = 0;
  if (withNul) withNul->clear();
  KeyInfo info;
  if (!QueryKeyInfo(info)) {
    list.clear();
    return 0;
  }
  if (info.SubkeyCount > kMaxSubkeys) {
    list.clear();
    throw ERegistryException("The key '" + path_ + "' reports " + std::to_string(info.SubkeyCount) +
                             " subkeys, more than a registry key holds");
  }
  list.reserve(std::min(info.SubkeyCount, kReservedSubkeys));
  std::uint32_t missing = 0;
  std::string name;
  for (std::uint32_t index = 0; index < info.SubkeyCount; ++index) {
    const platform::Status status = api_.EnumKey(current_, index, name);
    if (status == platform::kNoMoreItems) {
      // The key holds fewer subkeys than it counted: those are not read.
      missing += info.SubkeyCount - index;
      break;
    }
    if (status != platform::kSuccess) {
      ++missing;
      continue;
    }
    if (const std::size_t nul = name.find('\0'); nul != std::string::npos) {
      if (withNul) {
        withNul->push_back(name);
        continue;
      }
      name.resize(nul);
    }
    if (used < list.size()) {
      list[used].assign(name);
    } else {
      list.push_back(name);
    }
    ++used;
  }
  list.resize(used);
  return missing;
}

bool TPatchRegistry::QueryKeyInfo(KeyInfo& info) {
  info = KeyInfo{};
  if (!current_) return false;
  platform::KeyFigures figures;
  if (api_.QueryInfoKey(current_, figures) != platform::kSuccess) return false;
  info.SubkeyCount = figures.subkeyCount;
  info.MaxSubkeyNameLength = figures.maxSubkeyNameLength;
  info.ValueCount = figures.valueCount;
  info.MaxValueNameLength = figures.maxValueNameLength;
  info.MaxValueDataLength = figures.maxValueDataLength;
  info.LastWriteTime = figures.lastWriteTime;
  return true;
}

}  // namespace orbel
