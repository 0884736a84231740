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
  keys_.push_back({upper_->RootNode(), lower_->RootNode(), "", std::nullopt, std::nullopt});
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
                     std::nullopt, std::nullopt});
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

std::optional<std::vector<std::string>> OverlayStore::ValueNamesOn(bool upperSide, const Key& key) {
  Store& store = upperSide ? *upper_ : *lower_;
  const Node node = upperSide ? *key.upper : *key.lower;
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0;; ++i) {
    const Status status = store.ValueName(node, i, name);
    if (status == kNoMoreItems) return names;
    if (status == kInvalidFunction) return std::nullopt;
    if (Check(upperSide, key, status, "listing values") != kSuccess) return std::nullopt;
    names.push_back(name);
  }
}

const std::optional<std::vector<std::string>>& OverlayStore::ValuesOf(Key& key) {
  if (key.values) return *key.values;
  std::vector<std::string> names;
  std::set<std::string> seen;
  key.values.emplace(std::nullopt);
  for (const bool upperSide : {true, false}) {
    if (!(upperSide ? key.upper : key.lower)) continue;
    auto side = ValueNamesOn(upperSide, key);
    if (!side) return *key.values;
    for (std::string& name : *side) {
      if (seen.insert(FoldCase(name)).second) names.push_back(std::move(name));
    }
  }
  *key.values = std::move(names);
  return *key.values;
}

// Counts are exact whenever the upper side lists its values: the lower count
// plus the upper names the lower side lacks. The longest name is the longer
// side's; the largest data is exact when both sides list their values, else
// the larger side's (too large only when the lower side's largest is hidden).
void OverlayStore::MergeValueFigures(Node node, const KeyFigures& upper, const KeyFigures& lower,
                                     KeyFigures& out) {
  out.maxValueNameLength = std::max(upper.maxValueNameLength, lower.maxValueNameLength);
  out.maxValueDataLength = std::max(upper.maxValueDataLength, lower.maxValueDataLength);
  out.valueCount = upper.valueCount + lower.valueCount;
  Key& key = keys_[node];
  std::uint32_t type = 0, size = 0;
  if (const auto& merged = ValuesOf(key)) {
    out.valueCount = static_cast<std::uint32_t>(merged->size());
    std::uint32_t largest = 0;
    for (const std::string& name : *merged) {
      if (GetValueInfo(node, name, type, size) == kSuccess) largest = std::max(largest, size);
    }
    out.maxValueDataLength = largest;
    return;
  }
  const auto upperNames = ValueNamesOn(true, key);
  if (!upperNames) return;
  std::uint32_t count = lower.valueCount;
  for (const std::string& name : *upperNames) {
    if (lower_->GetValueInfo(*key.lower, name, type, size) == kFileNotFound) ++count;
  }
  out.valueCount = count;
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
  if (hasUpper && hasLower) {
    MergeValueFigures(node, upper, lower, out);
    // An upper key without a stamp of its own (made by a text file that
    // names only its subkeys) shows the lower key's.
    if (out.lastWriteTime == 0) out.lastWriteTime = lower.lastWriteTime;
  }
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

Status OverlayStore::ValueName(Node node, std::uint32_t index, std::string& out) {
  if (node >= keys_.size()) return kInvalidHandle;
  const auto& names = ValuesOf(keys_[node]);
  if (!names) return kInvalidFunction;
  if (index >= names->size()) return kNoMoreItems;
  out = (*names)[index];
  return kSuccess;
}

// A value the upper key lacks is the lower key's; one the upper key has, or
// cannot read, is the upper key's.
Status OverlayStore::GetValue(Node node, std::string_view name, Value& out) {
  if (node >= keys_.size()) return kInvalidHandle;
  const Key& key = keys_[node];
  if (key.upper) {
    const Status status =
        Check(true, key, upper_->GetValue(*key.upper, name, out), "reading a value");
    if (status != kFileNotFound || !key.lower) return status;
  }
  return Check(false, key, lower_->GetValue(*key.lower, name, out), "reading a value");
}

Status OverlayStore::GetValueInfo(Node node, std::string_view name, std::uint32_t& type,
                                  std::uint32_t& size) {
  if (node >= keys_.size()) return kInvalidHandle;
  const Key& key = keys_[node];
  if (key.upper) {
    const Status status =
        Check(true, key, upper_->GetValueInfo(*key.upper, name, type, size), "reading a value");
    if (status != kFileNotFound || !key.lower) return status;
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
  const Key& key = keys_[node];
  Sides sides{key.upper.has_value(), key.lower.has_value()};
  KeyFigures figures;
  if (key.upper &&
      Check(true, key, upper_->Figures(*key.upper, figures), "reading figures") == kSuccess) {
    sides.upperTime = figures.lastWriteTime;
  }
  figures = {};
  if (key.lower &&
      Check(false, key, lower_->Figures(*key.lower, figures), "reading figures") == kSuccess) {
    sides.lowerTime = figures.lastWriteTime;
  }
  return sides;
}

}  // namespace orbel::platform
