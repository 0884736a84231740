// A regf hive file behind the Store interface, read through libhivex from a
// private in-memory copy of the file, so that a file that shrinks or fails
// to read meanwhile cannot fault the program. Keys
// are read lazily: a key's subkeys and value names are decoded on first use
// and kept in a bounded cache, so opening and browsing a large hive touches
// only the keys that are asked for. Read-only; one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/formats/HiveLogReplay.h"
#include "platform/store/Store.h"

struct hive_h;

namespace orbel::platform {

// Whether a hive is read as its transaction logs bring it, or as stored.
enum class HiveLogs { Apply, Ignore };

class HiveStore : public Store {
 public:
  // Opens a regf hive read-only, tolerating damage so that a damaged hive is
  // read as far as it goes. Only the part of the file its base block says the
  // hive uses is read; a file shorter than that is read as far as it goes
  // and Damage says so. nullptr with `error` set ("<file>: not a registry
  // hive", "<file>: <reason>") when it cannot be opened. With HiveLogs::Apply
  // the logs beside the file are replayed into the private copy (see
  // RecoverHive); the file and its logs are never written.
  static std::unique_ptr<HiveStore> Open(const std::filesystem::path& file, std::string& error,
                                         HiveLogs logs = HiveLogs::Apply);
  ~HiveStore() override;

  HiveStore(const HiveStore&) = delete;
  HiveStore& operator=(const HiveStore&) = delete;

  // Node ids are the hive's own key offsets. A key whose subkey or value list
  // cannot be read answers kBadDb (or kCantRead, kNotEnoughMemory) for what
  // needs that list; a list entry that is not a key or value is left out,
  // and a name not found in a list that holds fewer entries than its key
  // counts answers kBadDb, since it may be one of those lost. Key names are
  // given whole, with any NUL they hold.
  Node RootNode() const override { return root_; }
  Status FindChild(Node parent, std::string_view name, Node& out) override;
  // A subkey or value list that cannot be read, or that yields fewer
  // entries than the key record counts, is counted as the record counts it
  // (0xFFFFFFFF when that is more than the file can hold), so that its lost
  // entries are missed, not taken for absent; an error status only when the
  // key itself cannot be read.
  Status Figures(Node node, KeyFigures& out) override;
  Status SubkeyName(Node node, std::uint32_t index, std::string& out) override;
  // The data as stored: strings stay UTF-16LE, with whatever terminator the
  // hive holds.
  Status GetValue(Node node, std::string_view name, Value& out) override;
  // As GetValue gives them: the value is read, so that data that cannot be
  // read answers an error here too. The data is kept for the GetValue that
  // usually follows.
  Status GetValueInfo(Node node, std::string_view name, std::uint32_t& type,
                      std::uint32_t& size) override;

  const std::filesystem::path& File() const { return file_; }
  // One line when the hive was left with writes not carried into it: what
  // its transaction logs gave (HiveLogReport::Text), or, read as stored,
  // that they hold newer data; empty for a hive saved whole.
  std::string Notice() const override { return notice_; }
  std::string Damage() const override { return damage_; }
  std::optional<LogRecovery> Recovery() const override;

 private:
  // One subkey or value; its names are slices of the owning List's text.
  struct Item {
    std::size_t handle = 0;  // hive_node_h or hive_value_h
    std::uint32_t nameAt = 0;
    std::uint32_t nameLength = 0;
    // The same as nameAt when folding changes nothing or was not asked for.
    std::uint32_t foldedAt = 0;
    std::uint32_t foldedLength = 0;
  };
  // The subkeys or the values of one key, read on first use.
  struct List {
    bool loaded = false;
    Status status = kSuccess;
    std::string text;         // all names and folded names, packed
    std::vector<Item> items;  // in hive order
    std::uint32_t longestName = 0;
    // The key record's count when the list holds fewer entries (0xFFFFFFFF
    // beyond what the file can hold); 0 otherwise.
    std::uint32_t lost = 0;
    std::uint32_t largestData = 0;  // values only, once `sized`
    bool sized = false;
    std::string_view Name(const Item& item) const {
      return std::string_view(text).substr(item.nameAt, item.nameLength);
    }
    std::string_view Folded(const Item& item) const {
      return std::string_view(text).substr(item.foldedAt, item.foldedLength);
    }
  };
  static constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
  struct Entry {
    Node node = 0;  // 0: a free slot
    // Least-recently-used order within the entry's pool.
    std::uint32_t newer = kNoEntry;
    std::uint32_t older = kNoEntry;
    int pool = 0;
    List children;
    List values;
    // Open-addressing table of child index + 1 by folded name (0: empty),
    // built on the first lookup in a key with many subkeys.
    std::vector<std::uint32_t> index;
    // With the index: whether each child is the first of its name, and the
    // child after the one found last. Keys are often opened in the order
    // they were listed; that child is then the answer, with no lookup.
    std::vector<bool> firstOfName;
    std::uint32_t next = 0;
    std::size_t bytes = 0;
  };
  // Keys with few and with many subkeys are forgotten separately, so that a
  // large list in steady use is not pushed out by a walk through small keys.
  struct Pool {
    std::uint32_t newest = kNoEntry;
    std::uint32_t oldest = kNoEntry;
    std::size_t bytes = 0;
    std::size_t budget = 0;
  };
  struct Slot {
    Node node = 0;  // 0: empty
    std::uint32_t entry = 0;
  };

  HiveStore(std::filesystem::path file, hive_h* hive, int fd, std::uint64_t fileSize, Node root);

  // The cache entry of `node`, created (and checked to be a key) on first
  // use and made the newest of its pool. Valid until the next Touch.
  Status Touch(Node node, Entry*& out);
  // A key's subkeys and values, read on first use.
  Status LoadChildren(Entry& entry) {
    return entry.children.loaded ? entry.children.status : ReadChildren(entry);
  }
  Status LoadValues(Entry& entry) {
    return entry.values.loaded ? entry.values.status : ReadValues(entry);
  }
  Status ReadChildren(Entry& entry);
  // Decodes the names of the cells of a zero-ended list of subkeys (`keys`)
  // or values into `list`, with room for `bytesPerName` each; a cell of the
  // wrong kind is left out. `counted` is the key record's count.
  Status FillList(List& list, const std::size_t* cells, bool keys, std::size_t bytesPerName,
                  std::size_t counted);
  // A key record's count, or 0xFFFFFFFF when the file cannot hold that many.
  std::uint32_t Plausible(std::size_t counted) const;
  Status ReadValues(Entry& entry);
  // Appends a name to `list`, and its folded form when `fold` (for the lists
  // that get an index); false when the list has grown past what one key may
  // take.
  static bool Add(List& list, std::string_view name, std::size_t handle, bool fold);
  void BuildIndex(Entry& entry);
  void Link(std::uint32_t at, int pool);
  void Unlink(std::uint32_t at);
  void Account(std::uint32_t at, std::size_t bytes);
  void Forget(std::uint32_t at);
  std::size_t SlotOf(Node node) const;  // its slot, or the empty slot where it would go
  void Rehash(std::size_t size);
  // Decodes a key (nk) or value (vk) name straight from the file into `out`,
  // as libhivex does for a well-formed name and beyond: cut at the cell's
  // end, unpaired surrogates replaced; a value name is cut at its first NUL,
  // a key name keeps the NULs within it (not those at its end) so that
  // readers can tell it apart. false when the cell
  // is not of that kind or cannot be read.
  bool CellName(std::uint64_t offset, bool key, std::string& out);
  // Starts fetching the cells cells[from, from + n) of a list of `count`
  // from the mapped file, so that their names are at hand when decoded.
  void Prefetch(const std::size_t* cells, std::size_t count, std::size_t from, std::size_t n,
                bool key) const;
  // The file's bytes at [offset, offset + length), valid until the next call;
  // nullptr when the file does not hold them.
  const unsigned char* FileBytes(std::uint64_t offset, std::size_t length);
  // The first item of `list` named `name`, without regard to case, by a
  // scan of the list.
  const Item* FindByScan(const List& list, std::string_view name);
  // Reads a value's data into the one-value cache; a status when it cannot.
  Status ReadValue(Node node, const Item& item);
  // Finds the value `name` of `node` and reads it into the one-value cache.
  Status ReadNamedValue(Node node, std::string_view name);

  std::filesystem::path file_;
  std::string notice_;
  // What the reading has decoded so far, in list entries and value bytes,
  // and what it may: a hive whose keys and values name the same cells again
  // and again would otherwise cost far more than the file holds. Past the
  // budget, lists and values are refused and Damage says why.
  std::uint64_t decoded_ = 0;
  std::string damage_;
  // Takes `cost` from the budget; false (and the damage said) when it is spent.
  bool Spend(std::uint64_t cost);
  HiveLogReport recovery_;
  hive_h* hive_;
  int fd_;
  std::uint64_t fileSize_;
  Node root_;
  // The cache: entries in a slab (freed ones reused with their buffers),
  // found through an open-addressing table keyed by node.
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> freeEntries_;
  std::vector<Slot> table_;
  std::size_t liveEntries_ = 0;
  Pool pools_[2];
  std::string query_;  // the folded name being looked up
  std::string name_;   // a name being decoded
  // The whole file mapped for the names; null when it could not be mapped.
  const unsigned char* map_ = nullptr;
  bool ownMap_ = false;  // map_ was made here, not by libhivex
  // Without a mapping: parts of the file read for the names, the least
  // recently used replaced.
  struct Window {
    std::uint64_t at = 0;
    std::uint64_t used = 0;
    std::vector<unsigned char> bytes;
  };
  std::array<Window, 4> windows_;
  std::uint64_t windowReads_ = 0;
  // The value read last: ReadText-style callers ask for a value's size and
  // then for its data.
  Node cachedNode_ = 0;
  std::size_t cachedHandle_ = 0;
  Value cachedValue_;
};

}  // namespace orbel::platform
