// Two registry trees seen as one, as Windows lays a user's classes over the
// machine's in HKEY_CLASSES_ROOT for a process of that user: a key is in the
// view when either tree has it; its subkeys and its values are those of both
// trees, the upper tree's first, merged by name (the default value is the
// one named ""), the upper tree's winning. A key in both trees carries the
// upper key's last-write time (the lower key's when the upper key has no
// stamp of its own). Damage in either tree is recorded with the
// tree named; a key or subkey list damaged on one side is taken from the
// other, but a damaged upper value is reported, never replaced by the lower
// one (that would show the machine's server for one the user set).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/store/Store.h"

namespace orbel::platform {

class OverlayStore : public Store {
 public:
  // `upperName` and `lowerName` name the trees in the damage records.
  OverlayStore(std::shared_ptr<Store> upper, std::string upperName, std::shared_ptr<Store> lower,
               std::string lowerName);

  // A read of one tree that failed: the key's path from the root, the
  // status and what was being done.
  struct Damage {
    std::string side;
    std::string key;
    std::string message;
  };

  Node RootNode() const override { return 0; }
  Status FindChild(Node parent, std::string_view name, Node& out) override;
  Status Figures(Node node, KeyFigures& out) override;
  Status SubkeyName(Node node, std::uint32_t index, std::string& out) override;
  Status GetValue(Node node, std::string_view name, Value& out) override;
  Status GetValueInfo(Node node, std::string_view name, std::uint32_t& type,
                      std::uint32_t& size) override;
  // Both trees' value names, the upper's first; kInvalidFunction when either
  // tree holding the key cannot list its values.
  Status ValueName(Node node, std::uint32_t index, std::string& out) override;

  // Which trees hold a key, found from the root by `path` (components
  // separated by "\"), and each tree's own last-write time of it (0 when
  // that tree lacks the key, keeps no stamp for it or cannot read it);
  // both false when neither does.
  struct Sides {
    bool upper = false;
    bool lower = false;
    FileTime upperTime = 0, lowerTime = 0;
  };
  Sides SidesOf(std::string_view path);

  const std::vector<Damage>& Damages() const { return damages_; }

 private:
  struct Key {
    std::optional<Node> upper, lower;
    std::string path;
    // The merged subkey names, made when first enumerated.
    std::optional<std::vector<std::string>> subkeys;
    // The merged value names, made when first needed; nothing inside when a
    // side holding the key cannot list its values.
    std::optional<std::optional<std::vector<std::string>>> values;
  };
  // The names of a key's values on one side; nothing when that side cannot
  // list them (or damage stopped the list).
  std::optional<std::vector<std::string>> ValueNamesOn(bool upperSide, const Key& key);
  const std::optional<std::vector<std::string>>& ValuesOf(Key& key);
  // The value figures of a key on both sides, merged by name.
  void MergeValueFigures(Node node, const KeyFigures& upper, const KeyFigures& lower,
                         KeyFigures& out);
  Status Check(bool upperSide, const Key& key, Status status, const char* what);
  const std::vector<std::string>& SubkeysOf(Key& key);

  std::shared_ptr<Store> upper_, lower_;
  std::string upperName_, lowerName_;
  std::vector<Key> keys_;
  std::map<std::pair<std::optional<Node>, std::optional<Node>>, Node> known_;
  std::vector<Damage> damages_;
};

}  // namespace orbel::platform
