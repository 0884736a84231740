#include "platform/api/PortableRegistry.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace orbel::platform {
namespace {

constexpr std::uint32_t kWriteBits = 0x00000006;  // KEY_SET_VALUE | KEY_CREATE_SUB_KEY

// The value buffer kept between reads is let go when a value larger than
// this passed through it.
constexpr std::size_t kKeptScratchBytes = std::size_t{64} << 10;

// Handle values: kHandleBase + 4 * (generation << kSlotBits | slot). Slots
// stay below 2^(kSlotBits - 1), so no handle falls among the predefined
// roots (0x80000000 to 0x80000006).
constexpr std::uintptr_t kHandleBase = 0x1000;
constexpr unsigned kSlotBits = 24;
constexpr std::size_t kMaxSlots = std::size_t{1} << (kSlotBits - 1);
// Generations wrap within what a handle value holds: where it has 32 bits,
// four bits of generation keep every handle below the predefined roots.
constexpr std::uint32_t kGenerationMask = sizeof(std::uintptr_t) >= 8 ? 0xFFFFFFFFu : 0xFu;

// The slot a handle value names, if it has the form of one.
std::optional<std::size_t> SlotIndex(HKey key) {
  if (key.value < kHandleBase || (key.value - kHandleBase) % 4 != 0) return std::nullopt;
  const std::uint64_t code = (key.value - kHandleBase) / 4;
  return static_cast<std::size_t>(code & ((std::uint64_t{1} << kSlotBits) - 1));
}

bool WantsWrite(std::uint32_t access) { return (access & kWriteBits) != 0; }

}  // namespace

void PortableRegistry::MountRoot(HKey root, Mount mount) {
  roots_[root] = RootSlot{std::move(mount), {}, kSuccess, {}};
}

void PortableRegistry::MountRootLazily(HKey root, RootProvider provider) {
  roots_[root] = RootSlot{std::nullopt, std::move(provider), kSuccess, {}};
}

void PortableRegistry::SetConnector(Connector connector) { connector_ = std::move(connector); }

const Mount* PortableRegistry::Resolve(HKey key, bool refresh, Status& status) {
  if (IsPredefinedRoot(key)) {
    const auto it = roots_.find(key);
    if (it == roots_.end()) {
      status = kFileNotFound;
      return nullptr;
    }
    RootSlot& slot = it->second;
    if (!slot.mount && slot.failure == kSuccess && slot.provider) {
      Mount mount;
      slot.failure = slot.provider(mount, slot.problem);
      if (slot.failure == kSuccess) slot.mount = std::move(mount);
    }
    if (!slot.mount) {
      status = slot.failure != kSuccess ? slot.failure : kFileNotFound;
      return nullptr;
    }
    if (refresh) slot.mount->store->Refresh();
    status = kSuccess;
    return &*slot.mount;
  }
  HandleSlot* slot = SlotOf(key);
  if (!slot) {
    status = kInvalidHandle;
    return nullptr;
  }
  status = kSuccess;
  return &slot->handle.mount;
}

PortableRegistry::HandleSlot* PortableRegistry::SlotOf(HKey key) {
  const auto at = SlotIndex(key);
  if (!at || *at >= handles_.size() || handles_[*at].key != key) return nullptr;
  return &handles_[*at];
}

Status PortableRegistry::Walk(const Mount& base, std::string_view subkey, bool create,
                              Store::Node& out) {
  Store::Node node = base.node;
  // A single name is one lookup; the memo pays only on longer paths.
  if (!create && !subkey.empty() && subkey.find('\\') == std::string_view::npos) {
    return base.store->FindChild(node, subkey, out);
  }
  std::size_t start = 0;
  WalkMemo* memo = nullptr;
  if (!create && !base.store->Writable()) {
    for (auto& candidate : memos_) {
      if (candidate.raw == base.store.get() && candidate.base == base.node &&
          !candidate.store.expired()) {
        memo = &candidate;
        break;
      }
    }
    std::size_t kept = 0;  // leading components taken from the memo
    if (memo) {
      for (std::size_t i = memo->ends.size(); i > 0; --i) {
        const std::size_t end = memo->ends[i - 1].first;
        if (end <= subkey.size() && (end == subkey.size() || subkey[end] == '\\') &&
            subkey.compare(0, end, memo->path, 0, end) == 0) {
          node = memo->ends[i - 1].second;
          start = end;
          kept = i;
          break;
        }
      }
    } else {
      memo =
          &*std::min_element(memos_.begin(), memos_.end(),
                             [](const WalkMemo& a, const WalkMemo& b) { return a.used < b.used; });
      memo->store = base.store;
      memo->raw = base.store.get();
      memo->base = base.node;
    }
    memo->used = ++walks_;
    memo->ends.resize(kept);
  }
  // Keeps the memo at the deepest key found, however the walk ends; its
  // text up to `start` is the same already.
  const std::size_t resumed = start;
  std::size_t found = start;
  auto remember = [&] {
    if (!memo) return;
    memo->path.resize(resumed);
    memo->path.append(subkey.substr(resumed, found - resumed));
  };
  while (start < subkey.size()) {
    const std::size_t end = std::min(subkey.find('\\', start), subkey.size());
    const std::string_view name = subkey.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    Store::Node child = 0;
    Status status = base.store->FindChild(node, name, child);
    if (status == kFileNotFound && create) status = base.store->CreateChild(node, name, child);
    if (status != kSuccess) {
      remember();
      return status;
    }
    node = child;
    found = end;
    if (memo) memo->ends.emplace_back(end, node);
  }
  remember();
  out = node;
  return kSuccess;
}

HKey PortableRegistry::Add(const Mount& base, Store::Node node, std::uint32_t access) {
  std::uint32_t at = 0;
  if (!freeSlots_.empty()) {
    at = freeSlots_.back();
    freeSlots_.pop_back();
  } else {
    // More open handles than any reader keeps is a leak; failing loudly
    // beats handing out a handle that names a predefined root.
    if (handles_.size() >= kMaxSlots) throw std::length_error("too many open registry keys");
    at = static_cast<std::uint32_t>(handles_.size());
    handles_.emplace_back();
  }
  HandleSlot& slot = handles_[at];
  slot.generation = (slot.generation + 1) & kGenerationMask;
  const std::uint64_t code = (std::uint64_t{slot.generation} << kSlotBits) | at;
  slot.key = HKey{static_cast<std::uintptr_t>(kHandleBase + 4 * code)};
  // Assigned piece by piece: a slot used before keeps its path's buffer.
  slot.handle.mount.store = base.store;
  slot.handle.mount.node = node;
  slot.handle.mount.driveFolder = base.driveFolder;
  slot.handle.access = access;
  ++openHandles_;
  return slot.key;
}

Status PortableRegistry::OpenKey(HKey base, std::string_view subkey, std::uint32_t access,
                                 HKey& result) {
  Status status = kSuccess;
  const Mount* mount = Resolve(base, true, status);
  if (!mount) return status;
  if (WantsWrite(access) && !mount->store->Writable()) return kAccessDenied;
  Store::Node node = 0;
  status = Walk(*mount, subkey, false, node);
  if (status != kSuccess) return status;
  result = Add(*mount, node, access);
  return kSuccess;
}

Status PortableRegistry::CreateKey(HKey base, std::string_view subkey, std::uint32_t access,
                                   HKey& result) {
  Status status = kSuccess;
  const Mount* mount = Resolve(base, true, status);
  if (!mount) return status;
  if (!mount->store->Writable()) return kAccessDenied;
  Store::Node node = 0;
  status = Walk(*mount, subkey, true, node);
  if (status != kSuccess) return status;
  result = Add(*mount, node, access);
  return kSuccess;
}

Status PortableRegistry::CloseKey(HKey key) {
  if (IsPredefinedRoot(key)) return kSuccess;
  HandleSlot* slot = SlotOf(key);
  if (!slot) return kInvalidHandle;
  slot->key = HKey{};
  // The store goes with its last handle.
  slot->handle.mount.store.reset();
  freeSlots_.push_back(static_cast<std::uint32_t>(*SlotIndex(key)));
  --openHandles_;
  return kSuccess;
}

Status PortableRegistry::QueryValue(HKey key, std::string_view name, std::uint32_t* type,
                                    std::byte* data, std::uint32_t* size) {
  Status status = kSuccess;
  const Mount* mount = Resolve(key, false, status);
  if (!mount) return status;
  if (!data) {
    std::uint32_t valueType = REG_NONE;
    std::uint32_t valueSize = 0;
    status = mount->store->GetValueInfo(mount->node, name, valueType, valueSize);
    if (status != kSuccess) return status;
    if (type) *type = valueType;
    if (size) *size = valueSize;
    return kSuccess;
  }
  if (!size) return kInvalidParameter;
  // The value goes through a buffer kept from call to call, unless it is a
  // large one.
  Value& value = scratch_;
  status = mount->store->GetValue(mount->node, name, value);
  if (status == kSuccess) {
    if (type) *type = value.type;
    if (value.data.size() > *size) {
      *size = static_cast<std::uint32_t>(std::min<std::size_t>(value.data.size(), 0xFFFFFFFFu));
      status = kMoreData;
    } else {
      if (!value.data.empty()) std::memcpy(data, value.data.data(), value.data.size());
      *size = static_cast<std::uint32_t>(value.data.size());
    }
  }
  if (value.data.capacity() > kKeptScratchBytes) value = Value{};
  return status;
}

Status PortableRegistry::QueryInfoKey(HKey key, KeyFigures& figures) {
  Status status = kSuccess;
  const Mount* mount = Resolve(key, false, status);
  if (!mount) return status;
  return mount->store->Figures(mount->node, figures);
}

Status PortableRegistry::EnumKey(HKey key, std::uint32_t index, std::string& name) {
  Status status = kSuccess;
  const Mount* mount = Resolve(key, false, status);
  if (!mount) return status;
  return mount->store->SubkeyName(mount->node, index, name);
}

Status PortableRegistry::ConnectRegistry(std::string_view machine, HKey root, HKey& result) {
  if (!IsPredefinedRoot(root)) return kInvalidHandle;
  lastConnectError_.clear();
  if (!connector_) {
    lastConnectError_ = std::string(machine) + ": other computers cannot be reached";
    return kBadNetPath;
  }
  Mount mount;
  const Status status = connector_(machine, root, mount, lastConnectError_);
  if (status != kSuccess) return status;
  result = Add(mount, mount.node, KEY_READ);
  return kSuccess;
}

Status PortableRegistry::SetValue(HKey key, std::string_view name, std::uint32_t type,
                                  std::span<const std::byte> data) {
  Status status = kSuccess;
  const Mount* mount = Resolve(key, false, status);
  if (!mount) return status;
  if (!IsPredefinedRoot(key) && !WantsWrite(SlotOf(key)->handle.access)) return kAccessDenied;
  return mount->store->SetValue(mount->node, name, type, data);
}

std::string PortableRegistry::RootProblem(HKey root) {
  Status status = kSuccess;
  Resolve(root, false, status);
  const auto it = roots_.find(root);
  return it == roots_.end() ? std::string() : it->second.problem;
}

std::string PortableRegistry::NoticeOf(HKey key) {
  Status status = kSuccess;
  const Mount* mount = Resolve(key, false, status);
  return mount ? mount->store->Notice() : std::string();
}

std::optional<LogRecovery> PortableRegistry::RecoveryOf(HKey key) {
  Status status = kSuccess;
  const Mount* mount = Resolve(key, false, status);
  return mount ? mount->store->Recovery() : std::nullopt;
}

std::string PortableRegistry::DamageOf(HKey key) {
  Status status = kSuccess;
  const Mount* mount = Resolve(key, false, status);
  return mount ? mount->store->Damage() : std::string();
}

std::optional<std::filesystem::path> PortableRegistry::DriveFolderOf(HKey key) {
  Status status = kSuccess;
  const Mount* mount = Resolve(key, false, status);
  return mount ? mount->driveFolder : std::nullopt;
}

}  // namespace orbel::platform
