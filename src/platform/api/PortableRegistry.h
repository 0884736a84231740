// The registry API over stores: each predefined root is mounted on a key of a
// store, handles point at keys, and another computer is a registry image
// opened by the connector.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/api/RegistryApi.h"
#include "platform/store/Store.h"

namespace orbel::platform {

// A key of a store, and the folder of the machine's files it belongs to.
struct Mount {
  std::shared_ptr<Store> store;
  Store::Node node = 0;
  std::optional<std::filesystem::path> driveFolder;
};

class PortableRegistry : public RegistryApi {
 public:
  // Gives the mount of a root when it is first used; a status other than
  // kSuccess makes every use of the root fail with it, `error` saying why.
  using RootProvider = std::function<Status(Mount& out, std::string& error)>;
  // Opens the registry of another computer for one predefined root; on
  // failure `error` says why.
  using Connector =
      std::function<Status(std::string_view machine, HKey root, Mount& out, std::string& error)>;

  void MountRoot(HKey root, Mount mount);
  void MountRootLazily(HKey root, RootProvider provider);
  void SetConnector(Connector connector);

  Status OpenKey(HKey base, std::string_view subkey, std::uint32_t access, HKey& result) override;
  Status CloseKey(HKey key) override;
  Status QueryValue(HKey key, std::string_view name, std::uint32_t* type, std::byte* data,
                    std::uint32_t* size) override;
  Status QueryInfoKey(HKey key, KeyFigures& figures) override;
  Status EnumKey(HKey key, std::uint32_t index, std::string& name) override;
  Status ConnectRegistry(std::string_view machine, HKey root, HKey& result) override;
  Status CreateKey(HKey base, std::string_view subkey, std::uint32_t access, HKey& result) override;
  Status SetValue(HKey key, std::string_view name, std::uint32_t type,
                  std::span<const std::byte> data) override;
  std::optional<std::filesystem::path> DriveFolderOf(HKey key) override;
  std::string LastConnectError() const override { return lastConnectError_; }
  std::string RootProblem(HKey root) override;
  std::string NoticeOf(HKey key) override;
  std::optional<LogRecovery> RecoveryOf(HKey key) override;
  std::string DamageOf(HKey key) override;

  // Handles open now (keys and connected roots), for tests that look for leaks.
  std::size_t OpenHandleCount() const { return openHandles_; }

 private:
  struct RootSlot {
    std::optional<Mount> mount;
    RootProvider provider;
    Status failure = kSuccess;
    std::string problem;
  };
  struct OpenHandle {
    Mount mount;
    std::uint32_t access = 0;
  };
  // A place for an open handle. A handle names its slot and the slot's
  // generation, so that a handle closed once is not taken for the next one
  // given out in the same slot.
  struct HandleSlot {
    HKey key{};  // empty: the slot is free
    std::uint32_t generation = 0;
    OpenHandle handle;
  };

  // The key behind a handle or a predefined root; null with `status` set
  // when there is none.
  const Mount* Resolve(HKey key, bool refresh, Status& status);
  Status Walk(const Mount& base, std::string_view subkey, bool create, Store::Node& out);
  // A new handle on `node` of the store of `base`.
  HKey Add(const Mount& base, Store::Node node, std::uint32_t access);
  // The slot of an open handle; null when `key` is not one.
  HandleSlot* SlotOf(HKey key);

  // The last path walked from a base key of a store that cannot be written,
  // up to the deepest key found, with the node at the end of each of its
  // components: a walk below the same keys (the next value of the same class
  // key) starts where they end instead of at the base. Such a store does not
  // change under the registry, so a node once found stays valid.
  struct WalkMemo {
    std::weak_ptr<Store> store;
    const Store* raw = nullptr;
    Store::Node base = 0;
    std::uint64_t used = 0;  // when last walked, to replace the least recent
    std::string path;
    std::vector<std::pair<std::size_t, Store::Node>> ends;
  };

  std::unordered_map<HKey, RootSlot> roots_;
  // A deque, so that a new slot leaves the mounts of open handles where
  // they are (a handle is opened from another one).
  std::deque<HandleSlot> handles_;
  std::vector<std::uint32_t> freeSlots_;
  std::size_t openHandles_ = 0;
  Connector connector_;
  std::string lastConnectError_;
  // A few bases at a time: readers walk from a root and from an open key by turns.
  std::array<WalkMemo, 4> memos_;
  Value scratch_;
  std::uint64_t walks_ = 0;
};

}  // namespace orbel::platform
