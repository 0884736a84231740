#include "platform/formats/HiveStore.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>

#include "platform/base/Hash.h"
#include "platform/base/SafeFile.h"
#include "platform/base/Text.h"
#include "platform/formats/BaseBlock.h"
#include "platform/formats/HiveLogFiles.h"

namespace orbel::platform {
namespace {

// Keys with more subkeys than this get a hash index on their first lookup,
// and are kept in the pool for large keys.
constexpr std::size_t kIndexThreshold = 16;
// What each pool may hold before its least recently used keys are forgotten.
constexpr std::size_t kSmallPoolBudget = std::size_t{64} << 10;
// The large pool may also take as much as the hive's used length, so that
// the lists a walk keeps coming back to (a class list and the keys read for
// each class) are not decoded again and again when together they are larger
// than the fixed budget; the cache stays bounded by the file's size plus a
// constant.
constexpr std::size_t kLargePoolBudget = std::size_t{16} << 20;
// A single key whose names need more than this is refused: only a hostile
// hive (one list naming the same long-named cell over and over) gets there.
constexpr std::size_t kMaxListBytes = std::size_t{32} << 20;
// A forgotten entry keeps its buffers for the next key when they are this
// small, saving allocations on a walk through many small keys.
constexpr std::size_t kReuseBytes = 4096;
// The value read last is kept for the next call when it is this small.
constexpr std::size_t kKeptValueBytes = 4096;
// Names are read from the file through a few windows this large: the cells
// of one key lie close together, and so do those of its neighbours.
constexpr std::size_t kWindowBytes = std::size_t{32} << 10;
constexpr std::uint64_t kWindowAlign = 4096;
// How many cells ahead of the one decoded are fetched from memory: the cells
// of a list lie apart, and waiting for each in turn is most of a list's cost.
constexpr std::size_t kPrefetchAhead = 8;

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

// The home slot of a node in a table of mask + 1 slots.
std::size_t Home(std::uint64_t node, std::size_t mask) {
  return static_cast<std::size_t>((node * 0x9E3779B97F4A7C15u) >> 32) & mask;
}

// Names come from the file: a fixed hash would let chosen names pile up on
// one slot and make every lookup a scan.
std::size_t NameHash(std::string_view folded) {
  return static_cast<std::size_t>(SeededHash(folded));
}

std::uint32_t Clamp32(std::size_t n) {
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

// Appends `name` upper-cased as FoldCase does; ASCII names, nearly all of
// them, eight bytes at a time without the general decoder.
void AppendFolded(std::string& out, std::string_view name) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x80 * kOnes;
  const std::size_t start = out.size();
  out.append(name);
  char* p = out.data() + start;
  const char* const end = out.data() + out.size();
  std::uint64_t high = 0;
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    high |= word;
    // Per byte, below 0x80: the top bit of (b + 0x80 - 'a') says b >= 'a',
    // that of (b + 0x80 - 'z' - 1) says b > 'z'; no carry crosses bytes.
    const std::uint64_t seven = word & ~kHigh;
    const std::uint64_t lower =
        (seven + (0x80 - 'a') * kOnes) & ~(seven + (0x80 - 'z' - 1) * kOnes) & kHigh;
    word ^= lower >> 2;
    std::memcpy(p, &word, 8);
  }
  for (; p != end; ++p) {
    const auto u = static_cast<unsigned char>(*p);
    high |= u;
    if (u - unsigned{'a'} < 26u) *p = static_cast<char>(u - 0x20);
  }
  if (high & kHigh) {
    out.resize(start);
    out += FoldCase(name);
  }
}

// Appends Latin-1 text as UTF-8, up to its first NUL unless `keepNul`.
void AppendLatin1(std::string& out, std::span<const std::byte> bytes, bool keepNul) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p != end) {
    // A run of plain ASCII goes in one piece.
    const auto* run = p;
    while (run != end && (*run != 0 || keepNul) && *run < 0x80) ++run;
    out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(run - p));
    p = run;
    if (p == end || *p == 0) break;
    out.push_back(static_cast<char>(0xC0 | (*p >> 6)));
    out.push_back(static_cast<char>(0x80 | (*p & 0x3F)));
    ++p;
  }
}

unsigned Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }

// Appends UTF-16LE text as UTF-8 with its NULs kept, piece by piece between
// them.
void AppendUtf16KeepingNul(std::string& out, std::span<const std::byte> bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t units = bytes.size() / 2;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= units; ++i) {
    if (i < units && Le16(p + 2 * i) != 0) continue;
    AppendUtf16LeAsUtf8(out, bytes.subspan(2 * from, 2 * (i - from)));
    if (i < units) out.push_back('\0');
    from = i + 1;
  }
}

std::int64_t Le32Signed(const unsigned char* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (std::uint32_t{p[1]} << 8) |
                                   (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24));
}

// The smallest room one subkey takes in a hive: its key cell and its place in
// a list. A key that counts more subkeys than its file could hold is damaged.
constexpr std::uint64_t kMinKeyBytes = 0x58;

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (std::uint32_t{p[1]} << 8) |
         (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// The two sequence numbers of a base block ("regf", then the primary and the
// secondary one); false when the file has none.
bool ReadSequence(int fd, std::uint32_t& primary, std::uint32_t& secondary) {
  unsigned char head[12];
  if (fd < 0 || ::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head))
    return false;
  if (std::memcmp(head, "regf", 4) != 0) return false;
  primary = Le32(head + 4);
  secondary = Le32(head + 8);
  return true;
}

// One line when the hive was left with writes not carried into it: its
// transaction logs beside it hold newer data, or its base block says a
// write was cut short. Empty for a hive saved whole.
std::string LogNotice(const std::filesystem::path& file, int fd) {
  std::uint32_t primary = 0, secondary = 0;
  if (!ReadSequence(fd, primary, secondary)) return {};
  bool newer = false;
  for (const char* suffix : {".LOG1", ".LOG2", ".log1", ".log2"}) {
    std::filesystem::path log = file;
    log += suffix;
    std::uint64_t logSize = 0;
    std::string why;
    const int logFd = OpenRegularFile(log, logSize, why);
    if (logFd < 0) continue;
    std::uint32_t logPrimary = 0, logSecondary = 0;
    if (ReadSequence(logFd, logPrimary, logSecondary) &&
        std::max(logPrimary, logSecondary) > secondary) {
      newer = true;
    }
    ::close(logFd);
  }
  const std::string shown = file.filename().string();
  if (newer) {
    return shown +
           ": its transaction logs hold newer data, which is not applied; the hive is read "
           "as it stands";
  }
  if (primary != secondary) {
    return shown +
           ": its last write was not completed and no transaction logs with newer data are "
           "beside it; the hive is read as it stands";
  }
  return {};
}

// A private copy of the file in memory, so that a file that shrinks or
// fails to read while in use cannot fault the program: the copy is made
// with plain reads, which report such trouble as errors. -1 (errno set) when
// no copy can be made.
int SnapshotOf(int fd, std::uint64_t size) {
  const int copy = ::memfd_create("hive", MFD_CLOEXEC);
  if (copy < 0) return -1;
  const auto fail = [copy] {
    const int err = errno;
    ::close(copy);
    errno = err;
    return -1;
  };
  off_t at = 0;
  bool plain = false;  // sendfile refused this file: plain reads instead
  std::vector<char> buffer;
  while (static_cast<std::uint64_t>(at) < size) {
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(size - static_cast<std::uint64_t>(at), 1u << 30));
    ssize_t n = -1;
    if (!plain) {
      n = ::sendfile(copy, fd, &at, want);
      if (n < 0 && (errno == EINVAL || errno == ENOSYS) && at == 0) {
        plain = true;
        continue;
      }
    } else {
      buffer.resize(std::min<std::size_t>(want, std::size_t{1} << 20));
      n = ::pread(fd, buffer.data(), buffer.size(), at);
      if (n > 0 && ::write(copy, buffer.data(), static_cast<std::size_t>(n)) != n) return fail();
      if (n > 0) at += n;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail();
    }
    if (n == 0) break;  // the file shrank: what it holds now is the hive
  }
  return copy;
}

// Reads [0, length) of `fd` into `out`, as far as the file goes; false
// (errno set) when a read fails.
bool ReadAll(int fd, std::uint64_t length, std::vector<std::byte>& out) {
  out.resize(static_cast<std::size_t>(length));
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t want = std::min<std::size_t>(out.size() - at, 1u << 30);
    const ssize_t n = ::pread(fd, out.data() + at, want, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;  // the file shrank: what it holds now is the hive
    at += static_cast<std::size_t>(n);
  }
  out.resize(at);
  return true;
}

// A private memory file holding `bytes`; -1 (errno set) when none can be made.
int MemoryFileOf(const std::vector<std::byte>& bytes) {
  const int copy = ::memfd_create("hive", MFD_CLOEXEC);
  if (copy < 0) return -1;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t n =
        ::write(copy, bytes.data() + at, std::min<std::size_t>(bytes.size() - at, 1u << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::close(copy);
      errno = err;
      return -1;
    }
    at += static_cast<std::size_t>(n);
  }
  return copy;
}

// The private copy of the first `length` bytes of the hive file `fd`, with
// its transaction logs replayed into it when they may bring anything (a
// clean hive is copied as it is), and what they gave in `report`. -1 (errno
// set) when no copy can be made.
int RecoveredCopyOf(const std::filesystem::path& file, int fd, std::uint64_t length,
                    HiveLogReport& report) {
  std::vector<std::byte> head(kBaseBlockHead);
  if (::pread(fd, head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()) ||
      !HiveLogsMayApply(file, head)) {
    return SnapshotOf(fd, length);
  }
  std::vector<std::byte> bytes;
  if (!ReadAll(fd, length, bytes)) return -1;
  report = RecoverHive(file, bytes);
  return MemoryFileOf(bytes);
}

// The length of the file's hive by its base block: 4 KB and the size of its
// bins, checked to be a whole number of pages. 0 with `why` set when the
// file has no such base block.
std::uint64_t UsedLength(int fd, std::uint64_t fileSize, std::string& why) {
  unsigned char head[48];
  if (fileSize < 4096 || ::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head) ||
      std::memcmp(head, "regf", 4) != 0) {
    why = "not a registry hive";
    return 0;
  }
  const std::uint32_t bins = Le32(head + 40);
  if (bins == 0 || bins % 4096 != 0) {
    why = "not a registry hive (its header gives a hive size of " + std::to_string(bins) +
          " bytes, not a whole number of pages)";
    return 0;
  }
  return std::uint64_t{bins} + 4096;
}

bool IsFormatError(int err) {
  return err == 0 || err == ENOTSUP || err == EINVAL || err == EFAULT || err == ERANGE ||
         err == EILSEQ;
}

// The mapping libhivex made of the memory file `fd` (it maps the whole file
// it opens, read-only, until hivex_close), found in /proc/self/maps by the
// file's device and inode; null when there is none to be found. Reading the
// names through it counts the hive's pages once in the resident memory,
// where a mapping of our own counts every page read through both twice.
// Only a memory file is looked for: it is ours alone, so no other handle's
// mapping of it can be taken by mistake.
const unsigned char* LibhivexMapping(int fd, std::uint64_t size) {
  struct stat file {};
  if (::fstat(fd, &file) != 0 || size == 0) return nullptr;
  std::FILE* maps = std::fopen("/proc/self/maps", "re");
  if (!maps) return nullptr;
  const long page = ::sysconf(_SC_PAGESIZE);
  const std::uint64_t mapped =
      page > 0 ? (size + std::uint64_t(page) - 1) / std::uint64_t(page) * std::uint64_t(page)
               : size;
  const unsigned char* found = nullptr;
  char line[512];
  while (!found && std::fgets(line, sizeof line, maps)) {
    unsigned long long start = 0, end = 0, offset = 0, inode = 0;
    unsigned major = 0, minor = 0;
    char perms[8] = {};
    int path = 0;
    if (std::sscanf(line, "%llx-%llx %7s %llx %x:%x %llu %n", &start, &end, perms, &offset, &major,
                    &minor, &inode, &path) < 7 ||
        path == 0) {
      continue;
    }
    if (inode == file.st_ino && major == ::major(file.st_dev) && minor == ::minor(file.st_dev) &&
        offset == 0 && perms[0] == 'r' && end - start == mapped &&
        std::strncmp(line + path, "/memfd:hive", 11) == 0) {
      found = reinterpret_cast<const unsigned char*>(static_cast<std::uintptr_t>(start));
    }
  }
  std::fclose(maps);
  return found;
}

}  // namespace

std::unique_ptr<HiveStore> HiveStore::Open(const std::filesystem::path& file, std::string& error,
                                           HiveLogs logs) {
  const std::string shown = file.string();
  std::uint64_t sourceSize = 0;
  std::string why;
  const int source = OpenRegularFile(file, sourceSize, why);
  if (source < 0) {
    error = shown + ": " + why;
    return nullptr;
  }
  // The base block says how much of the file the hive uses (4 KB and its
  // bins); only that much is read, so that a file far larger than its hive
  // (a sparse one, or one with garbage after it) costs no more than the hive.
  const std::uint64_t used = UsedLength(source, sourceSize, why);
  if (used == 0) {
    ::close(source);
    error = shown + ": " + why;
    return nullptr;
  }
  // A file cut short is damage: what it lacks may be any key.
  std::string shortfall;
  if (used > sourceSize) {
    shortfall = file.filename().string() + ": the file holds " +
                std::to_string(used - sourceSize) +
                " bytes less than its header says; the hive is read as far as it goes";
  }
  // libhivex maps the file it opens: it is given the private copy, from
  // which the names are decoded here too, with the transaction logs applied
  // to it unless the hive is to be read as stored. Without memory files (an
  // old kernel) the file itself is used, as stored.
  HiveLogReport report;
  int fd = logs == HiveLogs::Apply
               ? RecoveredCopyOf(file, source, std::min(used, sourceSize), report)
               : SnapshotOf(source, std::min(used, sourceSize));
  if (fd < 0 && errno != ENOSYS) {
    error = shown + ": " + std::strerror(errno);
    ::close(source);
    return nullptr;
  }
  std::string logNotice = report.Text(file.filename().string());
  if (fd < 0) {
    fd = source;
    report = {};
    logNotice = LogNotice(file, source);
  } else {
    if (logs == HiveLogs::Ignore) logNotice = LogNotice(file, source);
    for (const std::string& problem : report.problems) {
      logNotice += (logNotice.empty() ? "" : "; ") + problem;
    }
    ::close(source);
  }
  // The copy is reached through its descriptor's name; without /proc,
  // libhivex reads the file by its own name.
  const std::string opened = "/proc/self/fd/" + std::to_string(fd);
  errno = 0;
  hive_h* hive = hivex_open(opened.c_str(), HIVEX_OPEN_UNSAFE);
  if (hive == nullptr && errno == ENOENT) {
    errno = 0;
    hive = hivex_open(file.c_str(), HIVEX_OPEN_UNSAFE);
  }
  if (hive == nullptr) {
    const int err = errno;
    ::close(fd);
    error = shown + ": " + (IsFormatError(err) ? "not a registry hive" : std::strerror(err));
    return nullptr;
  }
  errno = 0;
  const hive_node_h root = hivex_root(hive);
  if (root == 0) {
    hivex_close(hive);
    ::close(fd);
    error = shown + ": not a registry hive (it has no root key)";
    return nullptr;
  }
  // The names are decoded here from the same bytes: libhivex decodes every
  // name through iconv, and gives up on some.
  struct stat copied {};
  const std::uint64_t size =
      (::fstat(fd, &copied) == 0 && copied.st_size > 0) ? std::uint64_t(copied.st_size) : 0;
  auto store = std::unique_ptr<HiveStore>(new HiveStore(file, hive, fd, size, root));
  store->notice_ = std::move(logNotice);
  store->damage_ = std::move(shortfall);
  store->recovery_ = std::move(report);
  return store;
}

HiveStore::HiveStore(std::filesystem::path file, hive_h* hive, int fd, std::uint64_t fileSize,
                     Node root)
    : file_(std::move(file)), hive_(hive), fd_(fd), fileSize_(fileSize), root_(root) {
  // The names are read from libhivex's own mapping of the private copy,
  // else from a mapping of the file made here (its pages count twice when
  // read through both), else through the windows. (Reading the names
  // through the windows counts none twice, but made loading a catalogue a
  // fifth slower.)
  if (fd_ >= 0 && fileSize_ > 0 && fileSize_ <= std::numeric_limits<std::size_t>::max()) {
    map_ = LibhivexMapping(fd_, fileSize_);
    if (!map_) {
      void* map =
          ::mmap(nullptr, static_cast<std::size_t>(fileSize_), PROT_READ, MAP_PRIVATE, fd_, 0);
      if (map != MAP_FAILED) {
        map_ = static_cast<const unsigned char*>(map);
        ownMap_ = true;
      }
    }
  }
  pools_[0].budget = kSmallPoolBudget;
  pools_[1].budget = static_cast<std::size_t>(
      std::max<std::uint64_t>(kLargePoolBudget, std::min<std::uint64_t>(fileSize_, SIZE_MAX)));
  table_.resize(64);
}

std::optional<LogRecovery> HiveStore::Recovery() const { return recovery_.Summary(); }

HiveStore::~HiveStore() {
  hivex_close(hive_);
  if (ownMap_) ::munmap(const_cast<unsigned char*>(map_), static_cast<std::size_t>(fileSize_));
  if (fd_ >= 0) ::close(fd_);
}

std::size_t HiveStore::SlotOf(Node node) const {
  const std::size_t mask = table_.size() - 1;
  std::size_t slot = Home(node, mask);
  while (table_[slot].node != 0 && table_[slot].node != node) slot = (slot + 1) & mask;
  return slot;
}

void HiveStore::Rehash(std::size_t size) {
  std::vector<Slot> old(size);
  old.swap(table_);
  for (const Slot& slot : old) {
    if (slot.node != 0) table_[SlotOf(slot.node)] = slot;
  }
}

Status HiveStore::Touch(Node node, Entry*& out) {
  if (node == 0 || node >= (Node{1} << 63)) return kInvalidHandle;
  std::size_t slot = SlotOf(node);
  if (table_[slot].node == node) {
    const std::uint32_t at = table_[slot].entry;
    const int pool = entries_[at].pool;
    if (pools_[pool].newest != at) {
      Unlink(at);
      Link(at, pool);
    }
    out = &entries_[at];
    return kSuccess;
  }
  // A node that libhivex does not take for a key cell is no key of ours. A
  // key whose name overruns its cell (EFAULT) is still a key.
  errno = 0;
  if (hivex_node_struct_length(hive_, node) == 0 && errno != EFAULT) return kInvalidHandle;
  if ((liveEntries_ + 1) * 2 > table_.size()) {
    Rehash(table_.size() * 2);
    slot = SlotOf(node);
  }
  std::uint32_t at = 0;
  if (freeEntries_.empty()) {
    at = static_cast<std::uint32_t>(entries_.size());
    entries_.emplace_back();
  } else {
    at = freeEntries_.back();
    freeEntries_.pop_back();
  }
  table_[slot] = Slot{node, at};
  ++liveEntries_;
  entries_[at].node = node;
  Link(at, 0);
  Account(at, sizeof(Entry) + 2 * sizeof(Slot));
  out = &entries_[at];
  return kSuccess;
}

void HiveStore::Link(std::uint32_t at, int pool) {
  Entry& entry = entries_[at];
  Pool& p = pools_[pool];
  entry.pool = pool;
  entry.newer = kNoEntry;
  entry.older = p.newest;
  if (p.newest != kNoEntry) entries_[p.newest].newer = at;
  p.newest = at;
  if (p.oldest == kNoEntry) p.oldest = at;
  p.bytes += entry.bytes;
}

void HiveStore::Unlink(std::uint32_t at) {
  Entry& entry = entries_[at];
  Pool& p = pools_[entry.pool];
  (entry.newer != kNoEntry ? entries_[entry.newer].older : p.newest) = entry.older;
  (entry.older != kNoEntry ? entries_[entry.older].newer : p.oldest) = entry.newer;
  entry.newer = entry.older = kNoEntry;
  p.bytes -= entry.bytes;
}

void HiveStore::Account(std::uint32_t at, std::size_t bytes) {
  entries_[at].bytes += bytes;
  Pool& pool = pools_[entries_[at].pool];
  pool.bytes += bytes;
  // The entry in use is the newest of its pool; it stays even when it alone
  // is over the budget.
  while (pool.bytes > pool.budget && pool.oldest != at) Forget(pool.oldest);
}

void HiveStore::Forget(std::uint32_t at) {
  Entry& entry = entries_[at];
  Unlink(at);
  // Linear-probing deletion: later slots of the same run move back into the
  // hole unless their home lies after it.
  const std::size_t mask = table_.size() - 1;
  std::size_t hole = SlotOf(entry.node);
  for (std::size_t next = (hole + 1) & mask; table_[next].node != 0; next = (next + 1) & mask) {
    if (((next - Home(table_[next].node, mask)) & mask) >= ((next - hole) & mask)) {
      table_[hole] = table_[next];
      hole = next;
    }
  }
  table_[hole] = Slot{};
  --liveEntries_;
  entry.node = 0;
  entry.bytes = 0;
  entry.index = {};
  entry.firstOfName = {};
  entry.next = 0;
  for (List* list : {&entry.children, &entry.values}) {
    if (list->text.capacity() + list->items.capacity() * sizeof(Item) > kReuseBytes) {
      *list = List{};
    } else {
      list->text.clear();
      list->items.clear();
      list->loaded = false;
      list->status = kSuccess;
      list->longestName = list->largestData = list->lost = 0;
      list->sized = false;
    }
  }
  freeEntries_.push_back(at);
}

bool HiveStore::Add(List& list, std::string_view name, std::size_t handle, bool fold) {
  if (list.text.size() + name.size() * 3 + (list.items.size() + 1) * sizeof(Item) > kMaxListBytes) {
    return false;
  }
  Item item;
  item.handle = handle;
  item.nameAt = static_cast<std::uint32_t>(list.text.size());
  item.nameLength = static_cast<std::uint32_t>(name.size());
  list.text.append(name);
  item.foldedAt = item.nameAt;
  item.foldedLength = item.nameLength;
  // Only a name with lower-case or non-ASCII letters may need a folded copy.
  const bool plain = !fold || std::none_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || u - unsigned{'a'} < 26u;
  });
  if (!plain) {
    item.foldedAt = static_cast<std::uint32_t>(list.text.size());
    AppendFolded(list.text, name);
    item.foldedLength = static_cast<std::uint32_t>(list.text.size() - item.foldedAt);
    if (list.Folded(item) == list.Name(item)) {
      list.text.resize(item.foldedAt);
      item.foldedAt = item.nameAt;
    }
  }
  list.longestName = std::max(list.longestName, item.nameLength);
  list.items.push_back(item);
  return true;
}

std::uint32_t HiveStore::Plausible(std::size_t counted) const {
  return counted > fileSize_ / kMinKeyBytes ? 0xFFFFFFFFu : Clamp32(counted);
}

Status HiveStore::FillList(List& list, const std::size_t* cells, bool keys,
                           std::size_t bytesPerName, std::size_t counted) {
  std::size_t count = 0;
  while (cells[count] != 0) ++count;
  list.items.reserve(count);
  list.text.reserve(count * bytesPerName);
  // Only a list of subkeys long enough to get an index needs folded names.
  const bool fold = keys && count > kIndexThreshold;
  Prefetch(cells, count, 0, kPrefetchAhead, keys);
  for (std::size_t i = 0; i < count; ++i) {
    Prefetch(cells, count, i + kPrefetchAhead, 1, keys);
    // A cell that is not of its kind is left out.
    if (!CellName(cells[i], keys, name_)) continue;
    if (!Add(list, name_, cells[i], fold)) {
      list = List{};
      list.loaded = true;
      return list.status = kNotEnoughMemory;
    }
  }
  // Entries that are no cells of their kind, or that libhivex left out, are
  // lost: the key's count says how many. A count beyond what the file can
  // hold is cut to that, so that the names read are kept, the rest lost.
  if (counted > list.items.size()) {
    const std::size_t most = static_cast<std::size_t>(fileSize_ / kMinKeyBytes);
    list.lost = Clamp32(std::min(counted, std::max(list.items.size() + 1, most)));
  }
  return kSuccess;
}

bool HiveStore::Spend(std::uint64_t cost) {
  // As much as reading every byte of the file sixteen times over, and a
  // little room for tiny hives.
  const std::uint64_t budget = 16 * fileSize_ + (std::uint64_t{1} << 20);
  if (decoded_ + cost <= budget) {
    decoded_ += cost;
    return true;
  }
  if (damage_.empty()) {
    damage_ = file_.filename().string() + ": the hive names the same cells over and over; "
              "reading stopped after " + std::to_string(decoded_ >> 20) +
              " MB decoded from a file of " + std::to_string(fileSize_ >> 10) + " KB";
  }
  return false;
}

Status HiveStore::ReadChildren(Entry& entry) {
  List& list = entry.children;
  list.loaded = true;
  // The count is read straight from the key; most keys have no subkeys, and
  // the list call would cost an allocation to say so.
  errno = 0;
  const std::size_t counted = hivex_node_nr_children(hive_, entry.node);
  if (counted == 0 && errno == 0) return kSuccess;
  // Each entry of a list is at least a cell reference and a key's name.
  if (!Spend(std::uint64_t{counted} * 16)) return list.status = kBadDb;
  errno = 0;
  const Owned<hive_node_h> children(hivex_node_children(hive_, entry.node));
  if (!children) return list.status = FromErrno(errno);
  // Room for the common names (a class id is 38 bytes) without regrowing.
  if (const Status status = FillList(list, children.get(), true, 40, counted); status != kSuccess) {
    return status;
  }
  const auto at = static_cast<std::uint32_t>(&entry - entries_.data());
  if (list.items.size() > kIndexThreshold && entry.pool == 0) {
    Unlink(at);
    Link(at, 1);
  }
  Account(at, list.text.capacity() + list.items.capacity() * sizeof(Item));
  return kSuccess;
}

Status HiveStore::ReadValues(Entry& entry) {
  List& list = entry.values;
  list.loaded = true;
  errno = 0;
  const std::size_t counted = hivex_node_nr_values(hive_, entry.node);
  if (counted == 0 && errno == 0) return kSuccess;
  if (!Spend(std::uint64_t{counted} * 16)) return list.status = kBadDb;
  errno = 0;
  const Owned<hive_value_h> values(hivex_node_values(hive_, entry.node));
  if (!values) return list.status = FromErrno(errno);
  if (const Status status = FillList(list, values.get(), false, 16, counted); status != kSuccess) {
    return status;
  }
  Account(static_cast<std::uint32_t>(&entry - entries_.data()),
          list.text.capacity() + list.items.capacity() * sizeof(Item));
  return kSuccess;
}

void HiveStore::Prefetch(const std::size_t* cells, std::size_t count, std::size_t from,
                         std::size_t n, bool key) const {
  if (!map_) return;
  // The parts of a cell that CellName reads: its head, and a key's name.
  for (std::size_t i = from; i < count && i < from + n; ++i) {
    if (cells[i] >= fileSize_ || fileSize_ - cells[i] < 0x60) continue;
    __builtin_prefetch(map_ + cells[i]);
    if (key) __builtin_prefetch(map_ + cells[i] + 0x50);
  }
}

const unsigned char* HiveStore::FileBytes(std::uint64_t offset, std::size_t length) {
  if (offset > fileSize_ || length > fileSize_ - offset) return nullptr;
  if (map_) return map_ + offset;
  Window* oldest = &windows_[0];
  for (Window& window : windows_) {
    if (offset >= window.at && offset - window.at + length <= window.bytes.size()) {
      window.used = ++windowReads_;
      return window.bytes.data() + (offset - window.at);
    }
    if (window.used < oldest->used) oldest = &window;
  }
  if (fd_ < 0) return nullptr;
  Window& window = *oldest;
  const std::uint64_t at = offset & ~std::uint64_t{kWindowAlign - 1};
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(
      std::max<std::uint64_t>(kWindowBytes, offset - at + length), fileSize_ - at));
  window.bytes.resize(wanted);
  std::size_t got = 0;
  while (got < wanted) {
    const ssize_t n =
        ::pread(fd_, window.bytes.data() + got, wanted - got, static_cast<off_t>(at + got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  window.bytes.resize(got);
  window.at = at;
  window.used = ++windowReads_;
  if (offset - at + length > got) return nullptr;
  return window.bytes.data() + (offset - at);
}

bool HiveStore::CellName(std::uint64_t offset, bool key, std::string& out) {
  if (fd_ < 0) {
    // Without a handle of its own on the file, the store takes what libhivex
    // decodes.
    const Owned<char> name(key ? hivex_node_name(hive_, offset) : hivex_value_key(hive_, offset));
    if (!name) return false;
    out.assign(name.get());
    return true;
  }
  // Cell layout: a 32-bit size (negative when in use), the two-letter
  // signature, then the record; the name length, flags and name sit at
  // fixed places, different for key and value records.
  const std::size_t lengthAt = key ? 0x4C : 6;
  const std::size_t flagsAt = key ? 6 : 20;
  const std::size_t nameAt = key ? 0x50 : 24;
  const unsigned latin1Flag = key ? 0x20 : 0x01;
  const unsigned char* head = FileBytes(offset, nameAt);
  if (!head || head[4] != (key ? 'n' : 'v') || head[5] != 'k') return false;
  const std::int64_t cellSize = std::abs(Le32Signed(head));
  std::uint64_t available = cellSize > std::int64_t(nameAt) ? cellSize - nameAt : 0;
  available = std::min<std::uint64_t>(available, fileSize_ - offset - nameAt);
  const std::size_t length = std::min<std::uint64_t>(Le16(head + lengthAt), available);
  const bool latin1 = (Le16(head + flagsAt) & latin1Flag) != 0;
  // The name may lie beyond the window that held the record's head.
  const unsigned char* name = FileBytes(offset + nameAt, length);
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(name),
                                         name ? length : 0);
  out.clear();
  if (latin1) {
    AppendLatin1(out, bytes, key);
  } else if (key) {
    AppendUtf16KeepingNul(out, bytes);
  } else {
    AppendUtf16LeAsUtf8(out, bytes);
  }
  // NULs at a key name's end are its terminator or the cell's padding.
  while (key && !out.empty() && out.back() == '\0') out.pop_back();
  return true;
}

void HiveStore::BuildIndex(Entry& entry) {
  const List& list = entry.children;
  std::size_t size = 1;
  while (size < 2 * list.items.size()) size <<= 1;
  entry.index.assign(size, 0);
  entry.firstOfName.assign(list.items.size(), false);
  entry.next = 0;
  const std::size_t mask = size - 1;
  for (std::size_t i = 0; i < list.items.size(); ++i) {
    const std::string_view folded = list.Folded(list.items[i]);
    std::size_t slot = NameHash(folded) & mask;
    // The first of duplicated names wins, as a scan in hive order would find.
    bool duplicate = false;
    for (; entry.index[slot] != 0 && !duplicate; slot = (slot + 1) & mask) {
      duplicate = list.Folded(list.items[entry.index[slot] - 1]) == folded;
    }
    if (!duplicate) entry.index[slot] = static_cast<std::uint32_t>(i + 1);
    entry.firstOfName[i] = !duplicate;
  }
  Account(static_cast<std::uint32_t>(&entry - entries_.data()),
          size * sizeof(std::uint32_t) + list.items.size() / 8);
}

Status HiveStore::FindChild(Node parent, std::string_view name, Node& out) {
  Entry* entry = nullptr;
  if (const Status status = Touch(parent, entry); status != kSuccess) return status;
  if (const Status status = LoadChildren(*entry); status != kSuccess) return status;
  const List& list = entry->children;
  if (list.items.size() > kIndexThreshold) {
    query_.clear();
    AppendFolded(query_, name);
    if (entry->index.empty()) BuildIndex(*entry);
    if (entry->next < list.items.size() && entry->firstOfName[entry->next] &&
        list.Folded(list.items[entry->next]) == query_) {
      out = list.items[entry->next++].handle;
      return kSuccess;
    }
    const std::size_t mask = entry->index.size() - 1;
    for (std::size_t slot = NameHash(query_) & mask; entry->index[slot] != 0;
         slot = (slot + 1) & mask) {
      const std::uint32_t at = entry->index[slot] - 1;
      if (list.Folded(list.items[at]) == query_) {
        out = list.items[at].handle;
        entry->next = at + 1;
        return kSuccess;
      }
    }
    return list.lost ? kBadDb : kFileNotFound;
  }
  const Item* item = FindByScan(list, name);
  if (!item) return list.lost ? kBadDb : kFileNotFound;
  out = item->handle;
  return kSuccess;
}

Status HiveStore::Figures(Node node, KeyFigures& out) {
  Entry* entry = nullptr;
  if (const Status status = Touch(node, entry); status != kSuccess) return status;
  const Status children = LoadChildren(*entry);
  const Status values = LoadValues(*entry);
  out = KeyFigures{};
  out.subkeyCount = Clamp32(entry->children.items.size());
  out.maxSubkeyNameLength = entry->children.longestName;
  out.valueCount = Clamp32(entry->values.items.size());
  out.maxValueNameLength = entry->values.longestName;
  // A list that cannot be read is counted as the key counts it, so that its
  // entries are reported as not read rather than taken for absent; a count
  // beyond what the file can hold is passed on as the most there can be,
  // which readers refuse.
  const auto counted = [this, node](bool keys, std::uint32_t& count) {
    errno = 0;
    const std::size_t n =
        keys ? hivex_node_nr_children(hive_, node) : hivex_node_nr_values(hive_, node);
    if (n == 0 && errno != 0) return false;
    count = Plausible(n);
    return true;
  };
  if (children != kSuccess && !counted(true, out.subkeyCount)) return children;
  if (values != kSuccess && !counted(false, out.valueCount)) return values;
  // So is a list that yields fewer entries than the key counts.
  if (children == kSuccess && entry->children.lost) out.subkeyCount = entry->children.lost;
  if (values == kSuccess && entry->values.lost) out.valueCount = entry->values.lost;
  // The largest data is looked up here only: most keys are read for one
  // value and never asked for their figures.
  List& list = entry->values;
  if (!list.sized) {
    list.sized = true;
    for (const Item& item : list.items) {
      hive_type type = hive_t_REG_NONE;
      std::size_t length = 0;
      if (hivex_value_type(hive_, item.handle, &type, &length) == 0) {
        list.largestData = std::max(list.largestData, Clamp32(length));
      }
    }
  }
  out.maxValueDataLength = list.largestData;
  const std::int64_t stamp = hivex_node_timestamp(hive_, node);
  out.lastWriteTime = stamp > 0 ? FileTime(stamp) : 0;
  return kSuccess;
}

Status HiveStore::SubkeyName(Node node, std::uint32_t index, std::string& out) {
  Entry* entry = nullptr;
  if (const Status status = Touch(node, entry); status != kSuccess) return status;
  if (const Status status = LoadChildren(*entry); status != kSuccess) return status;
  const List& list = entry->children;
  if (index >= list.items.size()) return kNoMoreItems;
  out.assign(list.Name(list.items[index]));
  return kSuccess;
}

const HiveStore::Item* HiveStore::FindByScan(const List& list, std::string_view name) {
  // Folding keeps every name's length, and most names asked for are absent:
  // only names of the same length are compared. Values are matched here
  // rather than by hivex_node_get_value, which folds ASCII only and gives up
  // at the first name it cannot decode.
  for (const Item& item : list.items) {
    if (item.nameLength == name.size() && EqualsNoCase(list.Name(item), name)) return &item;
  }
  return nullptr;
}

Status HiveStore::ReadValue(Node node, const Item& item) {
  if (cachedNode_ == node && cachedHandle_ == item.handle) return kSuccess;
  cachedNode_ = 0;
  hive_type type = hive_t_REG_NONE;
  std::size_t length = 0;
  // A value cannot hold more than the file: more is segments named twice.
  if (hivex_value_type(hive_, item.handle, &type, &length) == 0 &&
      (length > fileSize_ || !Spend(length))) {
    if (length > fileSize_ && damage_.empty()) {
      damage_ = file_.filename().string() + ": a value says it holds " + std::to_string(length) +
                " bytes, more than the file; it is not read";
    }
    return kBadDb;
  }
  errno = 0;
  const Owned<char> data(hivex_value_value(hive_, item.handle, &type, &length));
  if (!data && (length != 0 || errno != 0)) return FromErrno(errno);
  // The hive's type field is any 32-bit number; copied as bytes so that no
  // out-of-range enumerator is ever read as one.
  static_assert(sizeof(type) == sizeof(cachedValue_.type));
  std::memcpy(&cachedValue_.type, &type, sizeof(cachedValue_.type));
  const auto* bytes = reinterpret_cast<const std::byte*>(data.get());
  cachedValue_.data.assign(bytes, bytes + (data ? length : 0));
  cachedNode_ = node;
  cachedHandle_ = item.handle;
  return kSuccess;
}

Status HiveStore::ReadNamedValue(Node node, std::string_view name) {
  Entry* entry = nullptr;
  if (const Status status = Touch(node, entry); status != kSuccess) return status;
  if (const Status status = LoadValues(*entry); status != kSuccess) return status;
  const Item* item = FindByScan(entry->values, name);
  if (!item) return entry->values.lost ? kBadDb : kFileNotFound;
  return ReadValue(node, *item);
}

Status HiveStore::GetValue(Node node, std::string_view name, Value& out) {
  if (const Status status = ReadNamedValue(node, name); status != kSuccess) return status;
  if (cachedValue_.data.size() <= kKeptValueBytes) {
    out = cachedValue_;
  } else {
    out = std::move(cachedValue_);
    cachedValue_ = Value{};
    cachedNode_ = 0;
  }
  return kSuccess;
}

Status HiveStore::GetValueInfo(Node node, std::string_view name, std::uint32_t& type,
                               std::uint32_t& size) {
  if (const Status status = ReadNamedValue(node, name); status != kSuccess) return status;
  type = cachedValue_.type;
  size = static_cast<std::uint32_t>(cachedValue_.data.size());
  return kSuccess;
}

}  // namespace orbel::platform
