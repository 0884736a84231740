#include "platform/store/MemoryStore.h"

#include <algorithm>
#include <stdexcept>

#include "platform/base/Text.h"

namespace orbel::platform {
namespace {

const std::string kEmpty;
const std::vector<Store::Node> kNoNodes;
const std::vector<MemoryStore::NamedValue> kNoValues;

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

constexpr std::size_t kValueIndexThreshold = 32;

std::uint32_t Clamp32(std::size_t n) {
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

}  // namespace

MemoryStore::MemoryStore() { keys_.push_back(Key{}); }

bool MemoryStore::Valid(Node node) const { return node < keys_.size() && keys_[node].alive; }

std::size_t MemoryStore::FindValue(const Key& key, std::string_view name) const {
  if (!key.valueIndex.empty()) {
    const auto it = key.valueIndex.find(FoldCase(name));
    return it == key.valueIndex.end() ? std::string::npos : it->second;
  }
  for (std::size_t i = 0; i < key.values.size(); ++i) {
    if (EqualsNoCase(key.values[i].name, name)) return i;
  }
  return std::string::npos;
}

std::vector<Store::Node>::const_iterator MemoryStore::LowerBound(const Key& key,
                                                                 const std::string& folded) const {
  return std::lower_bound(
      key.children.begin(), key.children.end(), folded,
      [this](Node child, const std::string& f) { return keys_[child].folded < f; });
}

Status MemoryStore::FindChild(Node parent, std::string_view name, Node& out) {
  if (!Valid(parent)) return kInvalidHandle;
  const std::string folded = FoldCase(name);
  const Key& key = keys_[parent];
  const auto it = LowerBound(key, folded);
  if (it == key.children.end() || keys_[*it].folded != folded) return kFileNotFound;
  out = *it;
  return kSuccess;
}

Status MemoryStore::Figures(Node node, KeyFigures& out) {
  if (!Valid(node)) return kInvalidHandle;
  const Key& key = keys_[node];
  out = KeyFigures{};
  out.subkeyCount = Clamp32(key.children.size());
  for (Node child : key.children) {
    out.maxSubkeyNameLength = std::max(out.maxSubkeyNameLength, Clamp32(keys_[child].name.size()));
  }
  out.valueCount = Clamp32(key.values.size());
  for (const auto& value : key.values) {
    out.maxValueNameLength = std::max(out.maxValueNameLength, Clamp32(value.name.size()));
    out.maxValueDataLength = std::max(out.maxValueDataLength, Clamp32(value.value.data.size()));
  }
  out.lastWriteTime = key.lastWrite;
  return kSuccess;
}

Status MemoryStore::SubkeyName(Node node, std::uint32_t index, std::string& out) {
  if (!Valid(node)) return kInvalidHandle;
  const Key& key = keys_[node];
  if (index >= key.children.size()) return kNoMoreItems;
  out = keys_[key.children[index]].name;
  return kSuccess;
}

Status MemoryStore::GetValue(Node node, std::string_view name, Value& out) {
  if (!Valid(node)) return kInvalidHandle;
  const Key& key = keys_[node];
  const std::size_t at = FindValue(key, name);
  if (at == std::string::npos) return kFileNotFound;
  out = key.values[at].value;
  return kSuccess;
}

Status MemoryStore::CreateChild(Node parent, std::string_view name, Node& out) {
  if (!writable_) return kAccessDenied;
  if (!Valid(parent)) return kInvalidHandle;
  if (name.empty() || name.find('\\') != std::string_view::npos) return kInvalidParameter;
  out = EnsureChild(parent, name);
  return kSuccess;
}

Status MemoryStore::SetValue(Node node, std::string_view name, std::uint32_t type,
                             std::span<const std::byte> data) {
  if (!writable_) return kAccessDenied;
  if (!Valid(node)) return kInvalidHandle;
  Put(node, name, type, data);
  return kSuccess;
}

Store::Node MemoryStore::EnsureChild(Node parent, std::string_view name) {
  if (!Valid(parent)) throw std::invalid_argument("MemoryStore: no such key");
  std::string folded = FoldCase(name);
  {
    const Key& key = keys_[parent];
    const auto it = LowerBound(key, folded);
    if (it != key.children.end() && keys_[*it].folded == folded) return *it;
  }
  const Node node = keys_.size();
  Key child;
  child.name = std::string(name);
  child.folded = folded;
  child.parent = parent;
  keys_.push_back(std::move(child));
  Key& key = keys_[parent];
  key.children.insert(LowerBound(key, folded), node);
  return node;
}

Store::Node MemoryStore::EnsurePath(std::string_view path) {
  Node node = RootNode();
  for (auto part : SplitPath(path)) node = EnsureChild(node, part);
  return node;
}

std::optional<Store::Node> MemoryStore::Find(std::string_view path) const {
  Node node = RootNode();
  for (auto part : SplitPath(path)) {
    const std::string folded = FoldCase(part);
    const Key& key = keys_[node];
    const auto it = LowerBound(key, folded);
    if (it == key.children.end() || keys_[*it].folded != folded) return std::nullopt;
    node = *it;
  }
  return node;
}

void MemoryStore::Put(Node node, std::string_view name, std::uint32_t type,
                      std::span<const std::byte> data) {
  if (!Valid(node)) throw std::invalid_argument("MemoryStore: no such key");
  Key& key = keys_[node];
  const std::size_t at = FindValue(key, name);
  if (at != std::string::npos) {
    key.values[at].value.type = type;
    key.values[at].value.data.assign(data.begin(), data.end());
    return;
  }
  key.values.push_back(NamedValue{std::string(name), Value{type, {data.begin(), data.end()}}});
  if (!key.valueIndex.empty()) {
    key.valueIndex.emplace(FoldCase(name), key.values.size() - 1);
  } else if (key.values.size() > kValueIndexThreshold) {
    for (std::size_t i = 0; i < key.values.size(); ++i) {
      key.valueIndex.emplace(FoldCase(key.values[i].name), i);
    }
  }
}

void MemoryStore::PutString(Node node, std::string_view name, std::string_view text,
                            std::uint32_t type) {
  const auto bytes = Utf16LeStringValue(text);
  Put(node, name, type, bytes);
}

void MemoryStore::PutDword(Node node, std::string_view name, std::uint32_t number) {
  const std::byte bytes[4] = {std::byte(number & 0xFF), std::byte((number >> 8) & 0xFF),
                              std::byte((number >> 16) & 0xFF), std::byte(number >> 24)};
  Put(node, name, REG_DWORD, bytes);
}

void MemoryStore::SetLastWrite(Node node, FileTime time) {
  if (Valid(node)) keys_[node].lastWrite = time;
}

bool MemoryStore::RemoveKey(Node node) {
  if (!Valid(node) || node == RootNode()) return false;
  auto& siblings = keys_[keys_[node].parent].children;
  siblings.erase(std::find(siblings.begin(), siblings.end(), node));
  // Mark the whole subtree dead; the slots are not reused.
  std::vector<Node> pending{node};
  while (!pending.empty()) {
    const Node n = pending.back();
    pending.pop_back();
    Key& key = keys_[n];
    key.alive = false;
    pending.insert(pending.end(), key.children.begin(), key.children.end());
    key.children.clear();
    key.values.clear();
    key.valueIndex.clear();
  }
  return true;
}

bool MemoryStore::RemoveValue(Node node, std::string_view name) {
  if (!Valid(node)) return false;
  Key& key = keys_[node];
  const std::size_t at = FindValue(key, name);
  if (at == std::string::npos) return false;
  key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(at));
  key.valueIndex.clear();
  if (key.values.size() > kValueIndexThreshold) {
    for (std::size_t i = 0; i < key.values.size(); ++i) {
      key.valueIndex.emplace(FoldCase(key.values[i].name), i);
    }
  }
  return true;
}

const std::string& MemoryStore::NameOf(Node node) const {
  return Valid(node) ? keys_[node].name : kEmpty;
}

const std::vector<Store::Node>& MemoryStore::ChildrenOf(Node node) const {
  return Valid(node) ? keys_[node].children : kNoNodes;
}

const std::vector<MemoryStore::NamedValue>& MemoryStore::ValuesOf(Node node) const {
  return Valid(node) ? keys_[node].values : kNoValues;
}

FileTime MemoryStore::LastWriteOf(Node node) const {
  return Valid(node) ? keys_[node].lastWrite : 0;
}

std::size_t MemoryStore::NodeCount() const {
  return static_cast<std::size_t>(
      std::count_if(keys_.begin(), keys_.end(), [](const Key& k) { return k.alive; }));
}

}  // namespace orbel::platform
