// A key of the registry API seen as a store, so that a store-level view
// (such as an overlay) can be built over any root of any registry, this
// computer's included. Keys are opened read-only when first looked up and
// closed with the store.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/api/RegistryApi.h"
#include "platform/store/Store.h"

namespace orbel::platform {

class ApiStore : public Store {
 public:
  // `root` stays open for the life of the store and is not closed by it.
  ApiStore(RegistryApi& api, HKey root);
  ~ApiStore() override;
  ApiStore(const ApiStore&) = delete;
  ApiStore& operator=(const ApiStore&) = delete;

  Node RootNode() const override { return 0; }
  Status FindChild(Node parent, std::string_view name, Node& out) override;
  Status Figures(Node node, KeyFigures& out) override;
  Status SubkeyName(Node node, std::uint32_t index, std::string& out) override;
  Status GetValue(Node node, std::string_view name, Value& out) override;

 private:
  RegistryApi& api_;
  std::vector<HKey> keys_;
  std::map<std::pair<Node, std::string>, Node> known_;
};

}  // namespace orbel::platform
