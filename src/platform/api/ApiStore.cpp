#include "platform/api/ApiStore.h"

#include "platform/base/Text.h"

namespace orbel::platform {

ApiStore::ApiStore(RegistryApi& api, HKey root) : api_(api) { keys_.push_back(root); }

ApiStore::~ApiStore() {
  for (std::size_t i = 1; i < keys_.size(); ++i) api_.CloseKey(keys_[i]);
}

Status ApiStore::FindChild(Node parent, std::string_view name, Node& out) {
  if (parent >= keys_.size()) return kInvalidHandle;
  const auto known = known_.find({parent, FoldCase(name)});
  if (known != known_.end()) {
    out = known->second;
    return kSuccess;
  }
  HKey child;
  const Status status = api_.OpenKey(keys_[parent], name, KEY_READ, child);
  if (status != kSuccess) return status;
  out = keys_.size();
  keys_.push_back(child);
  known_.emplace(std::pair{parent, FoldCase(name)}, out);
  return kSuccess;
}

Status ApiStore::Figures(Node node, KeyFigures& out) {
  if (node >= keys_.size()) return kInvalidHandle;
  return api_.QueryInfoKey(keys_[node], out);
}

Status ApiStore::SubkeyName(Node node, std::uint32_t index, std::string& out) {
  if (node >= keys_.size()) return kInvalidHandle;
  return api_.EnumKey(keys_[node], index, out);
}

Status ApiStore::GetValue(Node node, std::string_view name, Value& out) {
  if (node >= keys_.size()) return kInvalidHandle;
  // The size first, then the data; once more if the value grew between.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::uint32_t type = REG_NONE, size = 0;
    Status status = api_.QueryValue(keys_[node], name, &type, nullptr, &size);
    if (status != kSuccess) return status;
    out.data.resize(size);
    status = api_.QueryValue(keys_[node], name, &type, out.data.data(), &size);
    if (status == kMoreData) continue;
    if (status != kSuccess) return status;
    out.data.resize(size);
    out.type = type;
    return kSuccess;
  }
  return kMoreData;
}

}  // namespace orbel::platform
