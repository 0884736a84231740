// A registry tree behind the registry API: an in-memory tree, a text registry
// file loaded into one, or a regf hive. The API layer resolves paths one
// component at a time through FindChild and hands out handles to nodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/LogRecovery.h"
#include "platform/store/RegistryTypes.h"

namespace orbel::platform {

struct Value {
  std::uint32_t type = REG_NONE;
  std::vector<std::byte> data;
};

class Store {
 public:
  // Identifies a key inside the store. Values below 2^63; the top bit is
  // reserved for the virtual keys that mount a store below a path.
  using Node = std::uint64_t;

  virtual ~Store() = default;

  virtual Node RootNode() const = 0;

  // Looks up the subkey of `parent` named `name`, without regard to case.
  // kSuccess and `out` set when found, kFileNotFound when absent, another
  // status when the store could not tell (damage).
  virtual Status FindChild(Node parent, std::string_view name, Node& out) = 0;

  // The figures of a key: counts, longest names and data, last-write time
  // (0 when the key has no stamp of its own).
  virtual Status Figures(Node node, KeyFigures& out) = 0;

  // The name of the subkey at `index`, in the store's enumeration order.
  // kNoMoreItems past the end.
  virtual Status SubkeyName(Node node, std::uint32_t index, std::string& out) = 0;

  // The value named `name` (empty: the key's default value), matched without
  // regard to case. kFileNotFound when absent.
  virtual Status GetValue(Node node, std::string_view name, Value& out) = 0;

  // The name of the value at `index`, in the store's order; kNoMoreItems past
  // the end. Stores that cannot list values answer kInvalidFunction.
  virtual Status ValueName(Node /*node*/, std::uint32_t /*index*/, std::string& /*out*/) {
    return kInvalidFunction;
  }

  // The type and data size of a value without its data. Stores that can
  // tell them apart override it, so that a value whose data cannot be read is
  // reported as such and not as absent.
  virtual Status GetValueInfo(Node node, std::string_view name, std::uint32_t& type,
                              std::uint32_t& size) {
    Value value;
    const Status status = GetValue(node, name, value);
    if (status != kSuccess) return status;
    type = value.type;
    size = static_cast<std::uint32_t>(value.data.size());
    return kSuccess;
  }

  // Writing. Read-only stores answer kAccessDenied.
  virtual bool Writable() const { return false; }
  virtual Status CreateChild(Node /*parent*/, std::string_view /*name*/, Node& /*out*/) {
    return kAccessDenied;
  }
  virtual Status SetValue(Node /*node*/, std::string_view /*name*/, std::uint32_t /*type*/,
                          std::span<const std::byte> /*data*/) {
    return kAccessDenied;
  }

  // One line the reader of this store should be told (a hive read without
  // the newer data of its transaction logs); empty when there is none.
  virtual std::string Notice() const { return {}; }

  // What the transaction logs gave, for a store read from a hive file (none
  // applied when it was read as stored); nothing for any other store.
  virtual std::optional<LogRecovery> Recovery() const { return std::nullopt; }

  // What of the file behind this store could not be read (lines of a text
  // registry that were skipped), in one line; empty when it read whole.
  virtual std::string Damage() const { return {}; }

  // Called when a key of this store is opened from a predefined root, so
  // that a file-backed store can pick up changes made by another process.
  virtual void Refresh() {}
};

}  // namespace orbel::platform
