// Two registry trees seen as one, as a user's classes lie over the machine's
// in HKEY_CLASSES_ROOT: a key present in both is read from the upper tree
// (its values and figures), subkeys come from whichever tree has them, the
// upper tree's first. Damage in either tree is recorded with the tree named
// and the other tree still read.
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

  // Which trees hold a key, found from the root by `path` (components
  // separated by "\"); both false when neither does.
  struct Sides {
    bool upper = false;
    bool lower = false;
  };
  Sides SidesOf(std::string_view path);

  const std::vector<Damage>& Damages() const { return damages_; }

 private:
  struct Key {
    std::optional<Node> upper, lower;
    std::string path;
    // The merged subkey names, made when first enumerated.
    std::optional<std::vector<std::string>> subkeys;
  };
  Status Check(bool upperSide, const Key& key, Status status, const char* what);
  const std::vector<std::string>& SubkeysOf(Key& key);

  std::shared_ptr<Store> upper_, lower_;
  std::string upperName_, lowerName_;
  std::vector<Key> keys_;
  std::map<std::pair<std::optional<Node>, std::optional<Node>>, Node> known_;
  std::vector<Damage> damages_;
};

}  // namespace orbel::platform
