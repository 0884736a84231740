// The in-memory registry tree: what tests build and what text registry files
// load into. Subkeys enumerate ascending by upper-cased name.
#pragma once

#include <memory>
#include <optional>
#include <unordered_map>
#include <string>
#include <vector>

#include "platform/store/Store.h"

namespace orbel::platform {

class MemoryStore : public Store {
 public:
  MemoryStore();

  Node RootNode() const override { return 0; }
  Status FindChild(Node parent, std::string_view name, Node& out) override;
  Status Figures(Node node, KeyFigures& out) override;
  Status SubkeyName(Node node, std::uint32_t index, std::string& out) override;
  Status GetValue(Node node, std::string_view name, Value& out) override;
  bool Writable() const override { return writable_; }
  Status CreateChild(Node parent, std::string_view name, Node& out) override;
  Status SetValue(Node node, std::string_view name, std::uint32_t type,
                  std::span<const std::byte> data) override;

  void SetWritable(bool writable) { writable_ = writable; }

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

 private:
  struct Key {
    std::string name;
    std::string folded;
    Node parent = 0;
    bool alive = true;
    FileTime lastWrite = 0;
    std::vector<Node> children;  // sorted by folded name
    std::vector<NamedValue> values;
    // Folded value name -> position, kept once a key has many values, so
    // that a hostile file with thousands of values in one key loads in
    // linear time.
    std::unordered_map<std::string, std::size_t> valueIndex;
  };
  bool Valid(Node node) const;
  // The position of a value in its key's list, or npos.
  std::size_t FindValue(const Key& key, std::string_view name) const;
  std::vector<Node>::const_iterator LowerBound(const Key& key, const std::string& folded) const;

  std::vector<Key> keys_;
  bool writable_ = true;
};

}  // namespace orbel::platform
