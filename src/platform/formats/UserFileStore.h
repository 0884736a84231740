// HKEY_CURRENT_USER off Windows: one per-user registry file in "Windows
// Registry Editor Version 5.00" text, keys written as [HKEY_CURRENT_USER\...].
// The file is read afresh whenever a key is opened from the root and before
// every change, and replaced atomically after every change, so that two
// running copies share it and a crash never leaves half a file.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/Environment.h"
#include "platform/store/MemoryStore.h"
#include "platform/store/Store.h"

namespace orbel::platform {

class UserFileStore : public Store {
 public:
  // The file need not exist: a missing file is an empty tree, created by the
  // first change. The file is read when first used, so that a program that
  // never reads its settings never parses them.
  explicit UserFileStore(std::filesystem::path file);

  // $XDG_CONFIG_HOME/orbel/user.reg when that variable holds an absolute
  // path, else ~/.config/orbel/user.reg; empty when HOME is unset too.
  static std::filesystem::path DefaultFile(const EnvironmentLookup& environment);

  // Node ids name key paths (without regard to case) and stay valid while the
  // file is replaced; each operation looks its path up in the tree read last.
  // A key that is gone from the file answers kFileNotFound, and a change
  // below it re-creates it. A file that exists but cannot be read answers
  // kCantRead everywhere (ReadProblem says why) and is never overwritten.
  Node RootNode() const override { return 0; }
  Status FindChild(Node parent, std::string_view name, Node& out) override;
  Status Figures(Node node, KeyFigures& out) override;
  Status SubkeyName(Node node, std::uint32_t index, std::string& out) override;
  Status GetValue(Node node, std::string_view name, Value& out) override;

  // Each change re-reads the file, applies itself and replaces the file.
  // kAccessDenied when the folder or the file cannot be written, kCantRead
  // when the existing file cannot be read; LastError says why, and the file
  // and the tree stay as they were. Names holding a line break cannot be
  // written in the file: kInvalidParameter.
  bool Writable() const override { return true; }
  Status CreateChild(Node parent, std::string_view name, Node& out) override;
  Status SetValue(Node node, std::string_view name, std::uint32_t type,
                  std::span<const std::byte> data) override;

  // Re-reads the file.
  void Refresh() override;

  // Why the last change failed, or empty.
  const std::string& LastError() const { return lastError_; }
  // What was wrong at the last reading: why the file could not be read, or
  // the lines that were skipped; empty when it read cleanly.
  const std::string& ReadProblem() {
    if (!loaded_) Reload();
    return readProblem_;
  }
  const std::filesystem::path& File() const { return file_; }

 private:
  using Change = std::function<Status(MemoryStore& tree, bool& changed)>;

  void Reload();
  // The key of `node` in the current tree.
  Status Locate(Node node, MemoryStore::Node& out);
  // The id of a key path, given out once and kept.
  Node IdOf(const std::string& path);
  // Re-reads the file, applies `change` to a copy of the tree and writes it.
  Status Apply(const Change& change);

  std::filesystem::path file_;
  MemoryStore tree_;
  bool loaded_ = false;
  bool readable_ = true;
  std::string readProblem_;
  std::string lastError_;
  std::vector<std::string> paths_;                  // by id; the root's is ""
  std::unordered_map<std::string, Node> idByPath_;  // folded path to id
};

}  // namespace orbel::platform
