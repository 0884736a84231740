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

// Keys with more subkeys or values than this get a name index.
constexpr std::size_t kIndexThreshold = 32;

std::uint32_t Clamp32(std::size_t n) {
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

}  // namespace

MemoryStore::MemoryStore() { keys_.push_back(Key{}); }

MemoryStore::MemoryStore(const MemoryStore& other)
    : Store(other), keys_(other.keys_), writable_(other.writable_), damage_(other.damage_) {
  ReindexChildren();
}

MemoryStore& MemoryStore::operator=(const MemoryStore& other) {
  if (this != &other) *this = MemoryStore(other);
  return *this;
}

void MemoryStore::ReindexChildren() {
  std::vector<Node> nodes;
  for (Key& key : keys_) {
    if (!key.ChildrenIndexed()) continue;
    auto& index = key.index.p->children;
    nodes.clear();
    for (const auto& [folded, child] : index) nodes.push_back(child);
    index.clear();
    for (Node child : nodes) index.emplace(keys_[child].Folded(), child);
  }
}

bool MemoryStore::Valid(Node node) const { return node < keys_.size() && keys_[node].alive; }

std::size_t MemoryStore::FindValue(const Key& key, std::string_view name) const {
  if (key.ValuesIndexed()) {
    const auto& index = key.index.p->values;
    const auto it = index.find(FoldCase(name));
    return it == index.end() ? std::string::npos : it->second;
  }
  for (std::size_t i = 0; i < key.values.size(); ++i) {
    if (EqualsNoCase(key.values[i].name, name)) return i;
  }
  return std::string::npos;
}

std::optional<Store::Node> MemoryStore::FindFolded(const Key& key,
                                                   const std::string& folded) const {
  if (key.ChildrenIndexed()) {
    const auto& index = key.index.p->children;
    const auto it = index.find(folded);
    if (it == index.end()) return std::nullopt;
    return it->second;
  }
  const auto it = std::lower_bound(
      key.children.begin(), key.children.end(), folded,
      [this](Node child, const std::string& f) { return keys_[child].Folded() < f; });
  if (it == key.children.end() || keys_[*it].Folded() != folded) return std::nullopt;
  return *it;
}

const std::vector<Store::Node>& MemoryStore::Children(Node node) const {
  Key& key = keys_[node];
  if (key.index.p && key.index.p->childrenStale) {
    key.children.clear();
    key.children.reserve(key.index.p->children.size());
    for (const auto& [folded, child] : key.index.p->children) key.children.push_back(child);
    key.index.p->childrenStale = false;
  }
  return key.children;
}

const std::vector<MemoryStore::NamedValue>& MemoryStore::Values(Node node) const {
  Key& key = keys_[node];
  if (key.index.p && key.index.p->removedCount != 0) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < key.values.size(); ++i) {
      if (key.index.p->removed[i]) continue;
      if (kept != i) key.values[kept] = std::move(key.values[i]);
      ++kept;
    }
    key.values.resize(kept);
    key.index.p->removed.clear();
    key.index.p->removedCount = 0;
    IndexValues(key);
  }
  return key.values;
}

void MemoryStore::IndexValues(Key& key) {
  Index& index = key.Extra();
  index.valuesIndexed = true;
  index.values.clear();
  for (std::size_t i = 0; i < key.values.size(); ++i) {
    if (!key.Removed(i)) index.values.emplace(FoldCase(key.values[i].name), i);
  }
}

Status MemoryStore::FindChild(Node parent, std::string_view name, Node& out) {
  if (!Valid(parent)) return kInvalidHandle;
  const auto child = FindFolded(keys_[parent], FoldCase(name));
  if (!child) return kFileNotFound;
  out = *child;
  return kSuccess;
}

Status MemoryStore::Figures(Node node, KeyFigures& out) {
  if (!Valid(node)) return kInvalidHandle;
  const auto& children = Children(node);
  const auto& values = Values(node);
  out = KeyFigures{};
  out.subkeyCount = Clamp32(children.size());
  for (Node child : children) {
    out.maxSubkeyNameLength = std::max(out.maxSubkeyNameLength, Clamp32(keys_[child].name.size()));
  }
  out.valueCount = Clamp32(values.size());
  for (const auto& value : values) {
    out.maxValueNameLength = std::max(out.maxValueNameLength, Clamp32(value.name.size()));
    out.maxValueDataLength = std::max(out.maxValueDataLength, Clamp32(value.value.data.size()));
  }
  out.lastWriteTime = keys_[node].lastWrite;
  return kSuccess;
}

Status MemoryStore::SubkeyName(Node node, std::uint32_t index, std::string& out) {
  if (!Valid(node)) return kInvalidHandle;
  const auto& children = Children(node);
  if (index >= children.size()) return kNoMoreItems;
  out = keys_[children[index]].name;
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

Status MemoryStore::ValueName(Node node, std::uint32_t index, std::string& out) {
  if (!Valid(node)) return kInvalidHandle;
  const auto& values = Values(node);
  if (index >= values.size()) return kNoMoreItems;
  out = values[index].name;
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
  if (const auto existing = FindFolded(keys_[parent], folded)) return *existing;
  const Node node = keys_.size();
  Key child;
  child.name = std::string(name);
  if (folded != child.name) child.folded = folded;
  child.parent = parent;
  keys_.push_back(std::move(child));
  Key& key = keys_[parent];
  if (key.ChildrenIndexed()) {
    key.index.p->children.emplace(keys_[node].Folded(), node);
    key.index.p->childrenStale = true;
    return node;
  }
  const auto at =
      std::lower_bound(key.children.begin(), key.children.end(), folded,
                       [this](Node c, const std::string& f) { return keys_[c].Folded() < f; });
  key.children.insert(at, node);
  if (key.children.size() > kIndexThreshold) {
    Index& index = key.Extra();
    index.childrenIndexed = true;
    for (Node c : key.children) index.children.emplace(keys_[c].Folded(), c);
  }
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
    const auto child = FindFolded(keys_[node], FoldCase(part));
    if (!child) return std::nullopt;
    node = *child;
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
  if (key.ValuesIndexed()) {
    Index& index = *key.index.p;
    if (index.removedCount != 0) index.removed.push_back(false);
    index.values.emplace(FoldCase(name), key.values.size() - 1);
  } else if (key.values.size() > kIndexThreshold) {
    IndexValues(key);
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
  Key& parent = keys_[keys_[node].parent];
  if (parent.ChildrenIndexed()) {
    parent.index.p->children.erase(keys_[node].Folded());
    parent.index.p->childrenStale = true;
  } else {
    parent.children.erase(std::find(parent.children.begin(), parent.children.end(), node));
  }
  // Mark the whole subtree dead; the slots are not reused.
  std::vector<Node> pending{node};
  while (!pending.empty()) {
    const Node n = pending.back();
    pending.pop_back();
    const auto& children = Children(n);
    pending.insert(pending.end(), children.begin(), children.end());
    keys_[n] = Key{};
    keys_[n].alive = false;
  }
  return true;
}

bool MemoryStore::RemoveValue(Node node, std::string_view name) {
  if (!Valid(node)) return false;
  Key& key = keys_[node];
  const std::size_t at = FindValue(key, name);
  if (at == std::string::npos) return false;
  if (!key.ValuesIndexed()) {
    key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
  }
  // Marked, and dropped with the others once they are half the list.
  Index& index = *key.index.p;
  index.values.erase(FoldCase(key.values[at].name));
  if (index.removed.empty()) index.removed.assign(key.values.size(), false);
  index.removed[at] = true;
  key.values[at] = NamedValue{};
  if (++index.removedCount * 2 > key.values.size()) Values(node);
  return true;
}

const std::string& MemoryStore::NameOf(Node node) const {
  return Valid(node) ? keys_[node].name : kEmpty;
}

const std::vector<Store::Node>& MemoryStore::ChildrenOf(Node node) const {
  return Valid(node) ? Children(node) : kNoNodes;
}

const std::vector<MemoryStore::NamedValue>& MemoryStore::ValuesOf(Node node) const {
  return Valid(node) ? Values(node) : kNoValues;
}

FileTime MemoryStore::LastWriteOf(Node node) const {
  return Valid(node) ? keys_[node].lastWrite : 0;
}

std::size_t MemoryStore::NodeCount() const {
  return static_cast<std::size_t>(
      std::count_if(keys_.begin(), keys_.end(), [](const Key& k) { return k.alive; }));
}

}  // namespace orbel::platform
