// The in-memory registry tree: what tests build and what text registry files
// load into. Subkeys enumerate ascending by upper-cased name.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/Store.h"

namespace orbel::platform {

class MemoryStore : public Store {
 public:
  MemoryStore();
  // A copy gets name indexes of its own (they point at the names of the
  // store's keys); a move keeps them, since the keys stay where they are.
  MemoryStore(const MemoryStore& other);
  MemoryStore& operator=(const MemoryStore& other);
  MemoryStore(MemoryStore&&) = default;
  MemoryStore& operator=(MemoryStore&&) = default;

  Node RootNode() const override { return 0; }
  Status FindChild(Node parent, std::string_view name, Node& out) override;
  Status Figures(Node node, KeyFigures& out) override;
  Status SubkeyName(Node node, std::uint32_t index, std::string& out) override;
  Status GetValue(Node node, std::string_view name, Value& out) override;
  Status ValueName(Node node, std::uint32_t index, std::string& out) override;
  bool Writable() const override { return writable_; }
  Status CreateChild(Node parent, std::string_view name, Node& out) override;
  Status SetValue(Node node, std::string_view name, std::uint32_t type,
                  std::span<const std::byte> data) override;

  void SetWritable(bool writable) { writable_ = writable; }
  // What of the file this tree was loaded from could not be read.
  void SetDamage(std::string damage) { damage_ = std::move(damage); }
  std::string Damage() const override { return damage_; }

  // Building, for loaders and tests. Paths are key names joined by "\";
  // every missing key on the way is created (with time 0).
  Node EnsurePath(std::string_view path);
  Node EnsureChild(Node parent, std::string_view name);
  std::optional<Node> Find(std::string_view path) const;
  void Put(Node node, std::string_view name, std::uint32_t type, std::span<const std::byte> data);
  void PutString(Node node, std::string_view name, std::string_view text,
                 std::uint32_t type = REG_SZ);
  void PutDword(Node node, std::string_view name, std::uint32_t number);
  void SetLastWrite(Node node, FileTime time);
  // Removes a key with everything below it; false when absent or the root.
  bool RemoveKey(Node node);
  // Removes a value; false when absent.
  bool RemoveValue(Node node, std::string_view name);

  // Reading for writers and tests.
  struct NamedValue {
    std::string name;
    Value value;
  };
  const std::string& NameOf(Node node) const;
  const std::vector<Node>& ChildrenOf(Node node) const;      // in enumeration order
  const std::vector<NamedValue>& ValuesOf(Node node) const;  // in insertion order
  FileTime LastWriteOf(Node node) const;
  std::size_t NodeCount() const;
  // Keys made so far, removed ones included: what the tree has cost.
  std::size_t Slots() const { return keys_.size(); }

 private:
  // Keys with many subkeys or values get an ordered name index (ordered, so
  // that chosen names cannot flood it), so that a hostile file that adds,
  // looks up or removes thousands of them in one key, in any order, loads
  // in n log n. The lists in enumeration and insertion order are then
  // brought up to date when next read. Few keys need it, so it is held apart.
  struct Index {
    bool childrenIndexed = false;
    bool childrenStale = false;  // the key's `children` is rebuilt from `children` here
    // The child's folded name, viewed in the child's own key (keys never
    // move and their names never change) -> child.
    std::map<std::string_view, Node, std::less<>> children;
    bool valuesIndexed = false;
    std::map<std::string, std::size_t, std::less<>> values;  // folded name -> position
    std::vector<bool> removed;                               // per value, once one was removed
    std::size_t removedCount = 0;
  };
  // Owns an Index and copies it with the store.
  struct IndexPtr {
    std::unique_ptr<Index> p;
    IndexPtr() = default;
    IndexPtr(const IndexPtr& o) : p(o.p ? std::make_unique<Index>(*o.p) : nullptr) {}
    IndexPtr& operator=(const IndexPtr& o) {
      p = o.p ? std::make_unique<Index>(*o.p) : nullptr;
      return *this;
    }
    IndexPtr(IndexPtr&&) = default;
    IndexPtr& operator=(IndexPtr&&) = default;
  };
  struct Key {
    std::string name;
    // The folded name when it differs from the name (most names, class
    // GUIDs among them, are folded already); see Folded.
    std::string folded;
    Node parent = 0;
    bool alive = true;
    FileTime lastWrite = 0;
    std::vector<Node> children;      // sorted by folded name (see Index)
    std::vector<NamedValue> values;  // insertion order (removed ones, see Index)
    IndexPtr index;
    Index& Extra() {
      if (!index.p) index.p = std::make_unique<Index>();
      return *index.p;
    }
    const std::string& Folded() const { return folded.empty() ? name : folded; }
    bool ChildrenIndexed() const { return index.p && index.p->childrenIndexed; }
    bool ValuesIndexed() const { return index.p && index.p->valuesIndexed; }
    bool Removed(std::size_t at) const {
      return index.p && index.p->removedCount != 0 && index.p->removed[at];
    }
  };
  bool Valid(Node node) const;
  // The position of a value in its key's list, or npos.
  std::size_t FindValue(const Key& key, std::string_view name) const;
  // The child of `key` with the folded name, or nothing.
  std::optional<Node> FindFolded(const Key& key, const std::string& folded) const;
  // The key's subkeys in enumeration order, and its values in insertion
  // order, each list brought up to date first.
  const std::vector<Node>& Children(Node node) const;
  const std::vector<NamedValue>& Values(Node node) const;
  static void IndexValues(Key& key);
  // Points every name index at this store's own keys (after a copy).
  void ReindexChildren();

  // A deque: it grows without moving what it holds, so that a large tree
  // never needs twice its size while it grows. Lists are brought up to
  // date when read.
  mutable std::deque<Key> keys_;
  bool writable_ = true;
  std::string damage_;
};

}  // namespace orbel::platform
