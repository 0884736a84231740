#include "platform/formats/UserFileStore.h"

#include <cerrno>
#include <chrono>
#include <optional>
#include <system_error>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "platform/base/Text.h"
#include "platform/formats/RegText.h"

namespace fs = std::filesystem;

namespace orbel::platform {
namespace {

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr std::size_t kIssuesShown = 3;

bool HasLineBreak(std::string_view name) {
  return name.find_first_of("\r\n") != std::string_view::npos;
}

std::string Join(const std::string& parent, std::string_view name) {
  return parent.empty() ? std::string(name) : parent + "\\" + std::string(name);
}

// Holds an advisory lock on the settings folder while a change re-reads and
// replaces the file, so that two running copies do not interleave their
// changes. A lock that stays taken for two seconds is given up on: the
// change then goes ahead unlocked rather than hang.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder) {
#ifndef _WIN32
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    for (int attempt = 0; attempt < 200; ++attempt) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
      if (errno != EWOULDBLOCK && errno != EINTR) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fd_);
    fd_ = -1;
#else
    (void)folder;
#endif
  }
  ~FolderLock() {
#ifndef _WIN32
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
#endif
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

UserFileStore::UserFileStore(fs::path file) : file_(std::move(file)) {
  paths_.emplace_back();
  idByPath_.emplace(std::string(), RootNode());
}

fs::path UserFileStore::DefaultFile(const EnvironmentLookup& environment) {
  // The XDG rules ignore a relative XDG_CONFIG_HOME.
  if (auto config = environment("XDG_CONFIG_HOME");
      config && !config->empty() && fs::path(*config).is_absolute()) {
    return fs::path(*config) / "orbel" / "user.reg";
  }
  if (auto home = environment("HOME"); home && !home->empty()) {
    return fs::path(*home) / ".config" / "orbel" / "user.reg";
  }
  return {};
}

void UserFileStore::Refresh() { Reload(); }

void UserFileStore::Reload() {
  loaded_ = true;
  tree_ = MemoryStore();
  readable_ = true;
  readProblem_.clear();
  if (file_.empty()) return;
  std::error_code ec;
  const fs::file_status status = fs::status(file_, ec);
  if (status.type() == fs::file_type::not_found) return;
  // An empty file (made by hand, say) holds no settings yet; it is no damage.
  if (fs::is_regular_file(status) && fs::file_size(file_, ec) == 0 && !ec) return;

  std::size_t foreignKeys = 0;
  const RegTextKeyMap map = [&foreignKeys](std::string_view path) -> std::optional<std::string> {
    if (path.size() >= kRootName.size() &&
        AsciiUpper(path.substr(0, kRootName.size())) == kRootName) {
      if (path.size() == kRootName.size()) return std::string();
      if (path[kRootName.size()] == '\\') return std::string(path.substr(kRootName.size() + 1));
    }
    ++foreignKeys;
    return std::nullopt;
  };
  MemoryStore fresh;
  const RegTextResult result = LoadRegistryTextFile(file_, fresh, map);
  if (!result.ok) {
    readable_ = false;
    readProblem_ = result.error;
    return;
  }
  tree_ = std::move(fresh);
  const std::string name = file_.string();
  for (std::size_t i = 0; i < result.issues.size() && i < kIssuesShown; ++i) {
    if (!readProblem_.empty()) readProblem_ += '\n';
    readProblem_ += name + ": line " + std::to_string(result.issues[i].line) + ": " +
                    result.issues[i].message + " (skipped)";
  }
  if (result.issues.size() > kIssuesShown) {
    readProblem_ += "\n" + name + ": " + std::to_string(result.issues.size() - kIssuesShown) +
                    " more lines skipped";
  }
  if (foreignKeys > 0) {
    if (!readProblem_.empty()) readProblem_ += '\n';
    readProblem_ +=
        name + ": " + std::to_string(foreignKeys) + " keys outside HKEY_CURRENT_USER ignored";
  }
}

Status UserFileStore::Locate(Node node, MemoryStore::Node& out) {
  if (node >= paths_.size()) return kInvalidHandle;
  if (!loaded_) Reload();
  if (!readable_) return kCantRead;
  const auto found = tree_.Find(paths_[node]);
  if (!found) return kFileNotFound;
  out = *found;
  return kSuccess;
}

Store::Node UserFileStore::IdOf(const std::string& path) {
  const auto [it, added] = idByPath_.try_emplace(FoldCase(path), paths_.size());
  if (added) paths_.push_back(path);
  return it->second;
}

Status UserFileStore::FindChild(Node parent, std::string_view name, Node& out) {
  MemoryStore::Node at = 0;
  Status status = Locate(parent, at);
  if (status != kSuccess) return status;
  if (name.empty() || name.find('\\') != std::string_view::npos) return kFileNotFound;
  MemoryStore::Node child = 0;
  status = tree_.FindChild(at, name, child);
  if (status != kSuccess) return status;
  out = IdOf(Join(paths_[parent], tree_.NameOf(child)));
  return kSuccess;
}

Status UserFileStore::Figures(Node node, KeyFigures& out) {
  MemoryStore::Node at = 0;
  const Status status = Locate(node, at);
  return status == kSuccess ? tree_.Figures(at, out) : status;
}

Status UserFileStore::SubkeyName(Node node, std::uint32_t index, std::string& out) {
  MemoryStore::Node at = 0;
  const Status status = Locate(node, at);
  return status == kSuccess ? tree_.SubkeyName(at, index, out) : status;
}

Status UserFileStore::GetValue(Node node, std::string_view name, Value& out) {
  MemoryStore::Node at = 0;
  const Status status = Locate(node, at);
  return status == kSuccess ? tree_.GetValue(at, name, out) : status;
}

Status UserFileStore::CreateChild(Node parent, std::string_view name, Node& out) {
  if (parent >= paths_.size()) return kInvalidHandle;
  if (name.empty() || name.find('\\') != std::string_view::npos || HasLineBreak(name)) {
    return kInvalidParameter;
  }
  const std::string parentPath = paths_[parent];
  std::string childPath;
  const Status status = Apply([&](MemoryStore& tree, bool& changed) {
    const std::size_t before = tree.NodeCount();
    const MemoryStore::Node child = tree.EnsureChild(tree.EnsurePath(parentPath), name);
    changed = tree.NodeCount() != before;
    childPath = Join(parentPath, tree.NameOf(child));
    return kSuccess;
  });
  if (status == kSuccess) out = IdOf(childPath);
  return status;
}

Status UserFileStore::SetValue(Node node, std::string_view name, std::uint32_t type,
                               std::span<const std::byte> data) {
  if (node >= paths_.size()) return kInvalidHandle;
  if (HasLineBreak(name)) return kInvalidParameter;
  const std::string path = paths_[node];
  return Apply([&](MemoryStore& tree, bool& changed) {
    tree.Put(tree.EnsurePath(path), name, type, data);
    changed = true;
    return kSuccess;
  });
}

Status UserFileStore::Apply(const Change& change) {
  lastError_.clear();
  if (file_.empty()) {
    lastError_ = "no file for the user's settings: neither XDG_CONFIG_HOME nor HOME is set";
    return kAccessDenied;
  }
  const fs::path folder = file_.has_parent_path() ? file_.parent_path() : fs::path(".");
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    lastError_ =
        file_.string() + ": cannot create the folder " + folder.string() + ": " + ec.message();
    return kAccessDenied;
  }
  const FolderLock lock(folder);
  Reload();
  if (!readable_) {
    lastError_ = readProblem_ + " (the file is left as it is)";
    return kCantRead;
  }
  MemoryStore next = tree_;
  bool changed = false;
  const Status status = change(next, changed);
  if (status != kSuccess || !changed) return status;
  std::string error;
  if (!WriteFileAtomically(file_, WriteRegistryText(next, next.RootNode(), kRootName), error)) {
    lastError_ = error;
    return kAccessDenied;
  }
  // The file now holds exactly the tree: nothing in it is skipped any more.
  tree_ = std::move(next);
  readProblem_.clear();
  return kSuccess;
}

}  // namespace orbel::platform
