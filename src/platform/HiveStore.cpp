#include "platform/HiveStore.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>

#include "platform/Text.h"

namespace orbel::platform {
namespace {

// Keys with more subkeys than this get a hash index on their first lookup.
constexpr std::size_t kIndexThreshold = 16;
// What the cache may hold before the least recently used keys are forgotten.
constexpr std::size_t kCacheBudget = std::size_t{16} << 20;
// A single key whose names need more than this is refused: only a hostile
// hive (one list naming the same long-named cell over and over) gets there.
constexpr std::size_t kMaxEntryBytes = std::size_t{32} << 20;
// Rough cost of one cache entry and of one hash index slot beyond their strings.
constexpr std::size_t kEntryOverhead = 160;
constexpr std::size_t kIndexSlotBytes = 56;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

Status FromErrno(int err) {
  switch (err) {
    case ENOMEM:
      return kNotEnoughMemory;
    case EIO:
      return kCantRead;
    default:
      return kBadDb;
  }
}

std::uint32_t Clamp32(std::size_t n) {
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

std::size_t HeapBytes(const std::string& s) {
  // Short strings live inside the object itself.
  return s.capacity() > 15 ? s.capacity() + 1 : 0;
}

std::string Latin1ToUtf8(std::span<const std::byte> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::byte b : bytes) {
    const auto c = std::to_integer<unsigned char>(b);
    if (c == 0) break;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

unsigned Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }

std::int64_t Le32Signed(const unsigned char* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (std::uint32_t{p[1]} << 8) |
                                   (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24));
}

bool IsFormatError(int err) {
  return err == 0 || err == ENOTSUP || err == EINVAL || err == EFAULT || err == ERANGE ||
         err == EILSEQ;
}

}  // namespace

std::unique_ptr<HiveStore> HiveStore::Open(const std::filesystem::path& file, std::string& error) {
  const std::string shown = file.string();
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) {
    error = shown + ": " + std::strerror(EISDIR);
    return nullptr;
  }
  errno = 0;
  hive_h* hive = hivex_open(file.c_str(), HIVEX_OPEN_UNSAFE);
  if (hive == nullptr) {
    const int err = errno;
    error = shown + ": " + (IsFormatError(err) ? "not a registry hive" : std::strerror(err));
    return nullptr;
  }
  errno = 0;
  const hive_node_h root = hivex_root(hive);
  if (root == 0) {
    hivex_close(hive);
    error = shown + ": not a registry hive (it has no root key)";
    return nullptr;
  }
  // A second, plain handle on the file, only for names libhivex cannot decode.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  const std::uint64_t size =
      (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0) ? std::uint64_t(st.st_size) : 0;
  return std::unique_ptr<HiveStore>(new HiveStore(file, hive, fd, size, root));
}

HiveStore::HiveStore(std::filesystem::path file, hive_h* hive, int fd, std::uint64_t fileSize,
                     Node root)
    : file_(std::move(file)), hive_(hive), fd_(fd), fileSize_(fileSize), root_(root) {}

HiveStore::~HiveStore() {
  hivex_close(hive_);
  if (fd_ >= 0) ::close(fd_);
}

Status HiveStore::Touch(Node node, Entry*& out) {
  if (node == 0 || node >= (Node{1} << 63)) return kInvalidHandle;
  if (const auto it = cache_.find(node); it != cache_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second.lru);
    out = &it->second;
    return kSuccess;
  }
  // A node that libhivex does not take for a key cell is no key of ours. A
  // key whose name overruns its cell (EFAULT) is still a key.
  errno = 0;
  if (hivex_node_struct_length(hive_, node) == 0 && errno != EFAULT) return kInvalidHandle;
  Entry& entry = cache_[node];
  lru_.push_front(node);
  entry.lru = lru_.begin();
  out = &entry;
  Account(entry, kEntryOverhead);
  return kSuccess;
}

void HiveStore::Account(Entry& entry, std::size_t bytes) {
  entry.bytes += bytes;
  cacheBytes_ += bytes;
  Evict();
}

void HiveStore::Evict() {
  // The front entry is the one in use; it stays even when it alone is over budget.
  while (cacheBytes_ > kCacheBudget && lru_.size() > 1) {
    const auto it = cache_.find(lru_.back());
    lru_.pop_back();
    cacheBytes_ -= it->second.bytes;
    cache_.erase(it);
  }
}

Status HiveStore::LoadChildren(Entry& entry, Node node) {
  List& list = entry.children;
  if (list.loaded) return list.status;
  list.loaded = true;
  errno = 0;
  const Owned<hive_node_h> children(hivex_node_children(hive_, node));
  if (!children) return list.status = FromErrno(errno);
  std::size_t count = 0;
  while (children.get()[count] != 0) ++count;
  list.items.reserve(count);
  std::size_t bytes = count * sizeof(Named);
  for (std::size_t i = 0; i < count; ++i) {
    const hive_node_h child = children.get()[i];
    std::optional<std::string> name;
    if (const Owned<char> raw(hivex_node_name(hive_, child)); raw) {
      name.emplace(raw.get());  // cut at an embedded NUL
    } else {
      name = RawName(child, true);
    }
    if (!name) continue;
    Named item{std::move(*name), {}, child};
    item.folded = FoldCase(item.name);
    bytes += HeapBytes(item.name) + HeapBytes(item.folded);
    if (bytes > kMaxEntryBytes) {
      list.items = {};
      list.longestName = 0;
      return list.status = kNotEnoughMemory;
    }
    list.longestName = std::max(list.longestName, Clamp32(item.name.size()));
    list.items.push_back(std::move(item));
  }
  Account(entry, bytes);
  return kSuccess;
}

Status HiveStore::LoadValues(Entry& entry, Node node) {
  List& list = entry.values;
  if (list.loaded) return list.status;
  list.loaded = true;
  errno = 0;
  const Owned<hive_value_h> values(hivex_node_values(hive_, node));
  if (!values) return list.status = FromErrno(errno);
  std::size_t count = 0;
  while (values.get()[count] != 0) ++count;
  list.items.reserve(count);
  std::size_t bytes = count * sizeof(Named);
  for (std::size_t i = 0; i < count; ++i) {
    const hive_value_h value = values.get()[i];
    std::optional<std::string> name;
    if (const Owned<char> raw(hivex_value_key(hive_, value)); raw) {
      name.emplace(raw.get());
    } else {
      name = RawName(value, false);
    }
    if (!name) continue;
    Named item{std::move(*name), {}, value};
    item.folded = FoldCase(item.name);
    bytes += HeapBytes(item.name) + HeapBytes(item.folded);
    if (bytes > kMaxEntryBytes) {
      list.items = {};
      list.longestName = list.largestData = 0;
      return list.status = kNotEnoughMemory;
    }
    hive_type type;
    std::size_t length = 0;
    if (hivex_value_type(hive_, value, &type, &length) == 0) {
      list.largestData = std::max(list.largestData, Clamp32(length));
    }
    list.longestName = std::max(list.longestName, Clamp32(item.name.size()));
    list.items.push_back(std::move(item));
  }
  Account(entry, bytes);
  return kSuccess;
}

std::optional<std::string> HiveStore::RawName(std::uint64_t offset, bool key) const {
  // Cell layout: a 32-bit size (negative when in use), the two-letter
  // signature, then the record; the name length, flags and name sit at
  // fixed places, different for key and value records.
  const std::size_t lengthAt = key ? 0x4C : 6;
  const std::size_t flagsAt = key ? 6 : 20;
  const std::size_t nameAt = key ? 0x50 : 24;
  const unsigned latin1Flag = key ? 0x20 : 0x01;
  if (fd_ < 0 || offset >= fileSize_ || fileSize_ - offset < nameAt) return std::nullopt;
  std::array<unsigned char, 0x50> head{};
  if (::pread(fd_, head.data(), nameAt, static_cast<off_t>(offset)) != ssize_t(nameAt)) {
    return std::nullopt;
  }
  if (head[4] != (key ? 'n' : 'v') || head[5] != 'k') return std::nullopt;
  const std::int64_t cellSize = std::abs(Le32Signed(head.data()));
  std::uint64_t available = cellSize > std::int64_t(nameAt) ? cellSize - nameAt : 0;
  available = std::min<std::uint64_t>(available, fileSize_ - offset - nameAt);
  const std::size_t length = std::min<std::uint64_t>(Le16(head.data() + lengthAt), available);
  std::vector<std::byte> bytes(length);
  const ssize_t got = ::pread(fd_, bytes.data(), length, static_cast<off_t>(offset + nameAt));
  bytes.resize(got > 0 ? std::size_t(got) : 0);
  if (Le16(head.data() + flagsAt) & latin1Flag) return Latin1ToUtf8(bytes);
  return Utf16LeToUtf8(bytes);
}

void HiveStore::BuildIndex(Entry& entry) {
  const auto& items = entry.children.items;
  entry.index = std::make_unique<std::unordered_map<std::string_view, std::uint32_t>>();
  entry.index->reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    // The first of duplicated names wins, as a scan in hive order would find.
    entry.index->try_emplace(items[i].folded, static_cast<std::uint32_t>(i));
  }
  Account(entry, items.size() * kIndexSlotBytes);
}

Status HiveStore::FindChild(Node parent, std::string_view name, Node& out) {
  Entry* entry = nullptr;
  if (const Status status = Touch(parent, entry); status != kSuccess) return status;
  if (const Status status = LoadChildren(*entry, parent); status != kSuccess) return status;
  const std::string folded = FoldCase(name);
  const auto& items = entry->children.items;
  if (items.size() > kIndexThreshold) {
    if (!entry->index) BuildIndex(*entry);
    const auto it = entry->index->find(folded);
    if (it == entry->index->end()) return kFileNotFound;
    out = items[it->second].handle;
    return kSuccess;
  }
  for (const Named& item : items) {
    if (item.folded == folded) {
      out = item.handle;
      return kSuccess;
    }
  }
  return kFileNotFound;
}

Status HiveStore::Figures(Node node, KeyFigures& out) {
  Entry* entry = nullptr;
  if (const Status status = Touch(node, entry); status != kSuccess) return status;
  const Status children = LoadChildren(*entry, node);
  const Status values = LoadValues(*entry, node);
  out = KeyFigures{};
  out.subkeyCount = Clamp32(entry->children.items.size());
  out.maxSubkeyNameLength = entry->children.longestName;
  out.valueCount = Clamp32(entry->values.items.size());
  out.maxValueNameLength = entry->values.longestName;
  out.maxValueDataLength = entry->values.largestData;
  const std::int64_t stamp = hivex_node_timestamp(hive_, node);
  out.lastWriteTime = stamp > 0 ? FileTime(stamp) : 0;
  return children != kSuccess ? children : values;
}

Status HiveStore::SubkeyName(Node node, std::uint32_t index, std::string& out) {
  Entry* entry = nullptr;
  if (const Status status = Touch(node, entry); status != kSuccess) return status;
  if (const Status status = LoadChildren(*entry, node); status != kSuccess) return status;
  const auto& items = entry->children.items;
  if (index >= items.size()) return kNoMoreItems;
  out = items[index].name;
  return kSuccess;
}

Status HiveStore::GetValue(Node node, std::string_view name, Value& out) {
  Entry* entry = nullptr;
  if (const Status status = Touch(node, entry); status != kSuccess) return status;
  if (const Status status = LoadValues(*entry, node); status != kSuccess) return status;
  // Matched here rather than by hivex_node_get_value, which folds ASCII only
  // and gives up at the first name it cannot decode.
  const std::string folded = FoldCase(name);
  for (const Named& item : entry->values.items) {
    if (item.folded != folded) continue;
    hive_type type = hive_t_REG_NONE;
    std::size_t length = 0;
    errno = 0;
    const Owned<char> data(hivex_value_value(hive_, item.handle, &type, &length));
    if (!data && (length != 0 || errno != 0)) return FromErrno(errno);
    // The hive's type field is any 32-bit number; copied as bytes so that no
    // out-of-range enumerator is ever read as one.
    static_assert(sizeof(type) == sizeof(out.type));
    std::memcpy(&out.type, &type, sizeof(out.type));
    const auto* bytes = reinterpret_cast<const std::byte*>(data.get());
    out.data.assign(bytes, bytes + (data ? length : 0));
    return kSuccess;
  }
  return kFileNotFound;
}

}  // namespace orbel::platform
