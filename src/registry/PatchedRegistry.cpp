#include "registry/PatchedRegistry.h"

#include <span>

#include "platform/Text.h"

namespace orbel {
namespace {

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

bool TPatchRegistry::OpenByRules(const std::string& path, HKey& key, std::string& newPath) {
  const bool absolute = !path.empty() && path.front() == '\\';
  const std::string relative = absolute ? path.substr(1) : path;
  const bool fromCurrent = !absolute && current_;
  const HKey base = fromCurrent ? current_ : root_;
  if (api_.OpenKey(base, relative, platform::KEY_READ, key) != platform::kSuccess) return false;
  newPath = fromCurrent ? path_ + "\\" + relative : relative;
  return true;
}

bool TPatchRegistry::OpenPath(const std::string& path) {
  HKey key{};
  std::string newPath;
  if (!OpenByRules(path, key, newPath)) return false;
  ClosePath();
  current_ = key;
  path_ = std::move(newPath);
  return true;
}

void TPatchRegistry::ClosePath() {
  if (!current_) return;
  api_.CloseKey(current_);
  current_ = HKey{};
  path_.clear();
}

bool TPatchRegistry::PathExists(const std::string& path) {
  HKey key{};
  std::string ignored;
  if (!OpenByRules(path, key, ignored)) return false;
  api_.CloseKey(key);
  return true;
}

std::string TPatchRegistry::ReadText(const std::string& name) {
  std::uint32_t type = platform::REG_NONE;
  std::uint32_t size = 0;
  std::int64_t known = -1;
  if (current_ && api_.QueryValue(current_, name, &type, nullptr, &size) == platform::kSuccess) {
    known = size;
  }
  if (known <= 0) return {};
  std::vector<std::byte> buffer(static_cast<std::size_t>(known));
  if (api_.QueryValue(current_, name, &type, buffer.data(), &size) != platform::kSuccess) {
    throw ERegistryException(FormatMessage("Failed to get data for '%s'", name));
  }
  if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) {
    throw ERegistryException(FormatMessage("Invalid data type for '%s'", name));
  }
  buffer.resize(size);
  return platform::Utf16LeToUtf8(buffer);
}

void TPatchRegistry::ListSubkeys(std::vector<std::string>& list) {
  list.clear();
  KeyInfo info;
  if (!QueryKeyInfo(info)) return;
  list.reserve(info.SubkeyCount);
  std::string name;
  for (std::uint32_t index = 0; index < info.SubkeyCount; ++index) {
    name.clear();
    // A key changed under us may end early; what was read is kept.
    if (api_.EnumKey(current_, index, name) != platform::kSuccess) continue;
    list.push_back(name.substr(0, name.find('\0')));
  }
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
