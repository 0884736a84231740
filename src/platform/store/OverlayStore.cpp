#include "platform/store/OverlayStore.h"

#include <algorithm>
#include <set>
#include <utility>

#include "platform/base/Text.h"

namespace orbel::platform {

OverlayStore::OverlayStore(std::shared_ptr<Store> upper, std::string upperName,
                           std::shared_ptr<Store> lower, std::string lowerName)
    : upper_(std::move(upper)),
      lower_(std::move(lower)),
      upperName_(std::move(upperName)),
      lowerName_(std::move(lowerName)) {
  keys_.push_back({upper_->RootNode(), lower_->RootNode(), "", std::nullopt});
}

// Absent and present pass; any other status is damage, recorded once per
// key and side and then taken as absent on that side.
Status OverlayStore::Check(bool upperSide, const Key& key, Status status, const char* what) {
  if (status == kSuccess || status == kFileNotFound || status == kNoMoreItems) return status;
  const std::string& side = upperSide ? upperName_ : lowerName_;
  const std::string message = std::string(what) + " failed (error " + std::to_string(status) + ")";
  bool known = false;
  for (const Damage& damage : damages_) {
    known = known || (damage.side == side && damage.key == key.path && damage.message == message);
  }
  if (!known) damages_.push_back({side, key.path, message});
  return status;
}

Status OverlayStore::FindChild(Node parent, std::string_view name, Node& out) {
  if (parent >= keys_.size()) return kInvalidHandle;
  std::optional<Node> upper, lower;
  Node found = 0;
  if (const Key& key = keys_[parent]; key.upper) {
    if (Check(true, key, upper_->FindChild(*key.upper, name, found), "finding a subkey") ==
        kSuccess) {
      upper = found;
    }
  }
  if (const Key& key = keys_[parent]; key.lower) {
    if (Check(false, key, lower_->FindChild(*key.lower, name, found), "finding a subkey") ==
        kSuccess) {
      lower = found;
    }
  }
  if (!upper && !lower) return kFileNotFound;
  const auto [at, added] = known_.try_emplace({upper, lower}, static_cast<Node>(keys_.size()));
  if (added) {
    const std::string& base = keys_[parent].path;
    keys_.push_back({upper, lower,
                     base.empty() ? std::string(name) : base + "\\" + std::string(name),
                     std::nullopt});
  }
  out = at->second;
  return kSuccess;
}

const std::vector<std::string>& OverlayStore::SubkeysOf(Key& key) {
  if (key.subkeys) return *key.subkeys;
  std::vector<std::string> names;
  std::set<std::string> seen;
  const auto take = [&](bool upperSide, Store& store, Node node) {
    std::string name;
    for (std::uint32_t i = 0;; ++i) {
      const Status status =
          Check(upperSide, key, store.SubkeyName(node, i, name), "listing subkeys");
      if (status != kSuccess) break;
      if (seen.insert(FoldCase(name)).second) names.push_back(name);
    }
  };
  if (key.upper) take(true, *upper_, *key.upper);
  if (key.lower) take(false, *lower_, *key.lower);
  key.subkeys = std::move(names);
  return *key.subkeys;
}

Status OverlayStore::Figures(Node node, KeyFigures& out) {
  if (node >= keys_.size()) return kInvalidHandle;
  KeyFigures lower;
  const bool hasLower =
      keys_[node].lower && Check(false, keys_[node], lower_->Figures(*keys_[node].lower, lower),
                                 "reading figures") == kSuccess;
  KeyFigures upper;
  const bool hasUpper =
      keys_[node].upper && Check(true, keys_[node], upper_->Figures(*keys_[node].upper, upper),
                                 "reading figures") == kSuccess;
  if (!hasUpper && !hasLower) return kBadDb;
  out = hasUpper ? upper : lower;
  const auto& names = SubkeysOf(keys_[node]);
  out.subkeyCount = static_cast<std::uint32_t>(names.size());
  out.maxSubkeyNameLength = 0;
  for (const auto& name : names) {
    out.maxSubkeyNameLength =
        std::max(out.maxSubkeyNameLength, static_cast<std::uint32_t>(name.size()));
  }
  return kSuccess;
}

Status OverlayStore::SubkeyName(Node node, std::uint32_t index, std::string& out) {
  if (node >= keys_.size()) return kInvalidHandle;
  const auto& names = SubkeysOf(keys_[node]);
  if (index >= names.size()) return kNoMoreItems;
  out = names[index];
  return kSuccess;
}

Status OverlayStore::GetValue(Node node, std::string_view name, Value& out) {
  if (node >= keys_.size()) return kInvalidHandle;
  const Key& key = keys_[node];
  if (key.upper)
    return Check(true, key, upper_->GetValue(*key.upper, name, out), "reading a value");
  return Check(false, key, lower_->GetValue(*key.lower, name, out), "reading a value");
}

Status OverlayStore::GetValueInfo(Node node, std::string_view name, std::uint32_t& type,
                                  std::uint32_t& size) {
  if (node >= keys_.size()) return kInvalidHandle;
  const Key& key = keys_[node];
  if (key.upper) {
    return Check(true, key, upper_->GetValueInfo(*key.upper, name, type, size), "reading a value");
  }
  return Check(false, key, lower_->GetValueInfo(*key.lower, name, type, size), "reading a value");
}

OverlayStore::Sides OverlayStore::SidesOf(std::string_view path) {
  Node node = RootNode();
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t cut = std::min(path.find('\\', start), path.size());
    if (cut > start && FindChild(node, path.substr(start, cut - start), node) != kSuccess) {
      return {};
    }
    start = cut + 1;
  }
  return {keys_[node].upper.has_value(), keys_[node].lower.has_value()};
}

}  // namespace orbel::platform
