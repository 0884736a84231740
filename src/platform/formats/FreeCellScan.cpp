#include "platform/formats/FreeCellScan.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/base/LittleEndian.h"
#include "platform/base/Text.h"

namespace orbel::platform {
namespace {

constexpr std::size_t kBaseBlockSize = 4096;
constexpr std::size_t kBinUnit = 4096;
constexpr std::size_t kBinHeaderSize = 32;
constexpr std::uint32_t kNoCell = 0xFFFFFFFFu;
constexpr std::size_t kKeyNodeSize = 76;   // nk fields before the name
constexpr std::size_t kValueKeySize = 20;  // vk fields before the name
constexpr std::uint16_t kKeyCompName = 0x0020;
constexpr std::uint16_t kValueCompName = 0x0001;
constexpr std::uint32_t kDataInline = 0x80000000u;
constexpr std::size_t kSegmentSize = 16344;  // data a big-data segment holds
constexpr std::size_t kMaxDepth = 512;       // Windows' limit on key nesting
constexpr std::size_t kMaxProblems = 32;

using Bytes = std::span<const std::byte>;

bool Tag(Bytes b, std::size_t at, const char (&tag)[3]) {
  return at + 2 <= b.size() && b[at] == static_cast<std::byte>(tag[0]) &&
         b[at + 1] == static_cast<std::byte>(tag[1]);
}

std::string Hex(std::uint64_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(n));
  return text;
}

std::string DecodeName(Bytes bytes, bool latin1) {
  if (!latin1) return Utf16LeToUtf8(bytes);
  std::string out;
  for (std::byte b : bytes) AppendUtf8(out, std::to_integer<char32_t>(b));
  return out;
}

// A key node as read from a cell, free or not.
struct KeyNode {
  std::uint32_t cell = 0;
  std::uint32_t parent = kNoCell;
  std::string name;
  FileTime lastWrite = 0;
  std::uint32_t subkeys = 0;
  std::uint32_t subkeyList = kNoCell;
  std::uint32_t values = 0;
  std::uint32_t valueList = kNoCell;
  bool isFree = true;
};

std::optional<KeyNode> ParseKeyNode(std::uint32_t cell, Bytes body, bool isFree) {
  if (body.size() < kKeyNodeSize || !Tag(body, 0, "nk")) return std::nullopt;
  const std::size_t nameLength = Le16At(body, 72);
  if (nameLength == 0 || nameLength > body.size() - kKeyNodeSize) return std::nullopt;
  KeyNode key;
  key.cell = cell;
  key.lastWrite = Le64At(body, 4);
  key.parent = Le32At(body, 16);
  key.subkeys = Le32At(body, 20);
  key.subkeyList = Le32At(body, 28);
  key.values = Le32At(body, 36);
  key.valueList = Le32At(body, 40);
  key.name = DecodeName(body.subspan(kKeyNodeSize, nameLength), Le16At(body, 2) & kKeyCompName);
  key.isFree = isFree;
  return key;
}

class Scanner {
 public:
  explicit Scanner(Bytes file) : file_(file) {}

  RecoveredKeys Run() {
    if (file_.size() < kBaseBlockSize + kBinHeaderSize || !Tag(file_, 0, "re") ||
        !Tag(file_, 2, "gf")) {
      Problem("not a registry hive");
      return std::move(out_);
    }
    out_.scanned = true;
    std::size_t binsSize = Le32At(file_, 40);
    if (binsSize == 0 || binsSize % kBinUnit != 0 || binsSize > file_.size() - kBaseBlockSize) {
      Problem("the base block gives the hive bins a size of " + Hex(binsSize) +
              "; the file's length is taken instead");
      binsSize = (file_.size() - kBaseBlockSize) / kBinUnit * kBinUnit;
    }
    bins_ = file_.subspan(kBaseBlockSize, binsSize);
    // Recovered data never takes more than a few times what the file holds,
    // however many records point at the same cells.
    dataBudget_ = 2 * file_.size() + (std::size_t{1} << 20);
    pathBudget_ = 16 * file_.size() + (std::size_t{1} << 20);
    WalkBins();
    WalkLiveTree(Le32At(file_, 36));
    FindDeletedKeys();
    PlaceKeys();
    CollectKeys();
    CollectUnattachedValues();
    return std::move(out_);
  }

 private:
  struct FreeCell {
    std::uint32_t at;
    std::uint32_t size;
  };
  struct Node {
    KeyNode key;
    enum State { kUnknown, kResolving, kPlaced, kUnplaced } state = kUnknown;
    std::vector<std::string> path;
  };

  void Problem(std::string text) {
    if (out_.problems.size() < kMaxProblems) {
      out_.problems.push_back(std::move(text));
    } else if (out_.problems.size() == kMaxProblems) {
      out_.problems.push_back("further damage not listed");
    }
  }

  // The hive bins and their cells; free cells are kept, and the places in
  // them where a record of a known kind begins.
  void WalkBins() {
    std::size_t pos = 0;
    while (pos + kBinHeaderSize <= bins_.size()) {
      if (!Tag(bins_, pos, "hb") || !Tag(bins_, pos + 2, "in")) {
        Problem("no hive bin header at " + Hex(pos));
        pos += kBinUnit;
        continue;
      }
      std::size_t size = Le32At(bins_, pos + 8);
      if (size == 0 || size % kBinUnit != 0) {
        Problem("the hive bin at " + Hex(pos) + " has a size of " + Hex(size));
        size = kBinUnit;
      }
      size = std::min(size, bins_.size() - pos);
      WalkCells(pos + kBinHeaderSize, pos + size);
      pos += size;
    }
  }

  void WalkCells(std::size_t pos, std::size_t end) {
    while (pos + 4 <= end) {
      const auto raw = static_cast<std::int32_t>(Le32At(bins_, pos));
      const std::size_t size =
          raw == std::numeric_limits<std::int32_t>::min()
              ? 0
              : static_cast<std::size_t>(raw < 0 ? -static_cast<std::int64_t>(raw) : raw);
      if (size < 8 || size % 8 != 0 || size > end - pos) {
        Problem("the cell at " + Hex(pos) + " has a size of " +
                Hex(static_cast<std::uint32_t>(raw)) + "; the rest of its hive bin is skipped");
        return;
      }
      if (raw > 0) {
        free_.push_back({static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(size)});
        // Freed neighbours are merged into one free cell; the records of the
        // cells merged keep their places, eight-byte aligned, and their size
        // fields. A tag behind an impossible size is a leftover in padding.
        for (std::size_t at = pos; at + 8 <= pos + size; at += 8) {
          static constexpr const char* kTags[] = {"nk", "vk", "sk", "lf", "lh", "li", "ri", "db"};
          const auto own = static_cast<std::int32_t>(Le32At(bins_, at));
          const std::int64_t length = own < 0 ? -static_cast<std::int64_t>(own) : own;
          if (length < 8 || length % 8 != 0 ||
              length > static_cast<std::int64_t>(pos + size - at)) {
            continue;
          }
          for (const char* tag : kTags) {
            if (bins_[at + 4] == static_cast<std::byte>(tag[0]) &&
                bins_[at + 5] == static_cast<std::byte>(tag[1])) {
              records_.push_back(static_cast<std::uint32_t>(at));
              break;
            }
          }
        }
      }
      pos += size;
    }
  }

  // The contents of an allocated cell; empty when `cell` is not one.
  Bytes AllocatedCell(std::uint32_t cell) const {
    if (cell % 8 != 0 || cell > bins_.size() || bins_.size() - cell < 8) return {};
    const auto raw = static_cast<std::int32_t>(Le32At(bins_, cell));
    if (raw >= -8 ||
        static_cast<std::size_t>(-static_cast<std::int64_t>(raw)) > bins_.size() - cell) {
      return {};
    }
    return bins_.subspan(cell + 4, static_cast<std::size_t>(-static_cast<std::int64_t>(raw)) - 4);
  }

  // The contents of a former cell inside a free cell, up to the first of: the
  // free cell's end, the next record found in it, the size its own header
  // gives. nullopt when `cell` lies in no free cell (it is in use again, or
  // outside the file).
  std::optional<Bytes> FreeRecord(std::uint32_t cell) const {
    if (cell % 8 != 0) return std::nullopt;
    auto it = std::upper_bound(free_.begin(), free_.end(), cell,
                               [](std::uint32_t at, const FreeCell& c) { return at < c.at; });
    if (it == free_.begin()) return std::nullopt;
    --it;
    if (cell - it->at + 4 > it->size) return std::nullopt;
    std::size_t end = it->at + it->size;
    const auto next = std::upper_bound(records_.begin(), records_.end(), cell);
    if (next != records_.end()) end = std::min<std::size_t>(end, *next);
    const auto raw = static_cast<std::int32_t>(Le32At(bins_, cell));
    const std::int64_t own = raw < 0 ? -static_cast<std::int64_t>(raw) : raw;
    if (own >= 8) end = std::min<std::size_t>(end, cell + static_cast<std::size_t>(own));
    return bins_.subspan(cell + 4, end - cell - 4);
  }

  std::string WhyNotFree(std::uint32_t cell) const {
    if (cell == kNoCell || cell >= bins_.size()) return "lies outside the file";
    if (cell % 8 != 0) return "is at no cell's place";
    return "was reused";
  }

  // The keys reachable from the root through allocated cells, with each
  // key's subkeys by folded name. Each key and list cell is read once.
  void WalkLiveTree(std::uint32_t root) {
    const auto rootKey = ParseKeyNode(root, AllocatedCell(root), false);
    if (!rootKey) {
      Problem("the root key at " + Hex(root) + " cannot be read");
      return;
    }
    root_ = root;
    live_[root] = {kNoCell, {}};
    std::vector<std::uint32_t> pending{root};
    std::vector<std::uint32_t> children;
    while (!pending.empty()) {
      const auto key = ParseKeyNode(pending.back(), AllocatedCell(pending.back()), false);
      pending.pop_back();
      if (!key || key->subkeys == 0) continue;
      children.clear();
      ReadSubkeyList(key->subkeyList, true, children);
      for (std::uint32_t child : children) {
        if (live_.count(child)) continue;
        const auto node = ParseKeyNode(child, AllocatedCell(child), false);
        if (!node) continue;
        if (key->cell == root) out_.liveRootKeys.push_back(node->name);
        live_[child] = {key->cell, node->name};
        liveChildren_.emplace(std::make_pair(key->cell, FoldCase(node->name)), child);
        pending.push_back(child);
      }
    }
  }

  void ReadSubkeyList(std::uint32_t list, bool mayIndex, std::vector<std::uint32_t>& out) {
    if (!listsRead_.insert(list).second) return;
    const Bytes body = AllocatedCell(list);
    if (body.size() < 4) return;
    const std::size_t count = Le16At(body, 2);
    const bool leaf = Tag(body, 0, "lf") || Tag(body, 0, "lh");
    const std::size_t step = leaf ? 8 : 4;
    if (!leaf && !Tag(body, 0, "li") && !(mayIndex && Tag(body, 0, "ri"))) return;
    for (std::size_t i = 0; i < count && 4 + step * i + 4 <= body.size(); ++i) {
      const std::uint32_t cell = Le32At(body, 4 + step * i);
      if (Tag(body, 0, "ri")) {
        ReadSubkeyList(cell, false, out);
      } else {
        out.push_back(cell);
      }
    }
  }

  void FindDeletedKeys() {
    for (std::uint32_t at : records_) {
      if (!Tag(bins_, at + 4, "nk")) continue;
      const auto body = FreeRecord(at);
      if (!body) continue;
      if (auto key = ParseKeyNode(at, *body, true)) {
        index_[at] = nodes_.size();
        nodes_.push_back({std::move(*key), Node::kUnknown, {}});
      }
    }
  }

  // The node for a parent offset: a deleted key already found, or an
  // allocated key node outside the live tree (read on demand).
  Node* NodeAt(std::uint32_t cell) {
    if (const auto it = index_.find(cell); it != index_.end()) return &nodes_[it->second];
    auto key = ParseKeyNode(cell, AllocatedCell(cell), false);
    if (!key) return nullptr;
    index_[cell] = nodes_.size();
    nodes_.push_back({std::move(*key), Node::kUnknown, {}});
    return &nodes_.back();
  }

  std::vector<std::string> LivePath(std::uint32_t cell) const {
    std::vector<std::string> path;
    for (std::size_t depth = 0; cell != root_ && depth < kMaxDepth; ++depth) {
      const auto& live = live_.at(cell);
      path.push_back(live.second);
      cell = live.first;
    }
    std::reverse(path.begin(), path.end());
    return path;
  }

  // Gives each deleted key its path by following parent offsets up to a live
  // key; a chain that loops, runs too deep or ends nowhere is unplaced.
  void PlaceKeys() {
    const std::size_t found = nodes_.size();
    std::vector<std::size_t> chain;
    for (std::size_t i = 0; i < found; ++i) {
      if (nodes_[i].state != Node::kUnknown) continue;
      chain.assign(1, i);
      nodes_[i].state = Node::kResolving;
      std::optional<std::vector<std::string>> base;
      while (chain.size() <= kMaxDepth) {
        const std::uint32_t parent = nodes_[chain.back()].key.parent;
        if (live_.count(parent)) {
          base = LivePath(parent);
          break;
        }
        Node* node = live_.empty() ? nullptr : NodeAt(parent);
        if (!node || node->state == Node::kUnplaced || node->state == Node::kResolving) break;
        if (node->state == Node::kPlaced) {
          base = node->path;
          break;
        }
        node->state = Node::kResolving;
        chain.push_back(static_cast<std::size_t>(node - nodes_.data()));
      }
      for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        Node& node = nodes_[*it];
        if (base && base->size() < kMaxDepth && Charge(*base, node.key.name)) {
          base->push_back(node.key.name);
          node.path = *base;
          node.state = Node::kPlaced;
        } else {
          base.reset();
          node.state = Node::kUnplaced;
        }
      }
    }
  }

  bool Charge(const std::vector<std::string>& base, const std::string& name) {
    std::size_t bytes = name.size() + 32;
    for (const auto& part : base) bytes += part.size() + 32;
    if (bytes > pathBudget_) {
      if (pathBudget_ != 0)
        Problem("more deleted keys than the file can hold; the rest are left out");
      pathBudget_ = 0;
      return false;
    }
    pathBudget_ -= bytes;
    return true;
  }

  void CollectKeys() {
    std::vector<RecoveredKey> keys;
    std::vector<std::vector<std::string>> folded;
    for (Node& node : nodes_) {
      if (!node.key.isFree) continue;
      if (node.state != Node::kPlaced) {
        ++out_.unplacedKeys;
        continue;
      }
      RecoveredKey key;
      key.cell = node.key.cell;
      key.lastWrite = node.key.lastWrite;
      key.subkeysCounted = node.key.subkeys;
      key.valuesCounted = node.key.values;
      key.path = std::move(node.path);
      ReadValues(node.key, key);
      key.partial = !key.missing.empty();
      folded.emplace_back();
      std::uint32_t live = root_;
      for (const auto& part : key.path) {
        folded.back().push_back(FoldCase(part));
        if (live == kNoCell) continue;
        const auto it = liveChildren_.find({live, folded.back().back()});
        live = it == liveChildren_.end() ? kNoCell : it->second;
      }
      key.formerVersion = live != kNoCell && !live_.empty();
      keys.push_back(std::move(key));
    }
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      if (folded[a] != folded[b]) return folded[a] < folded[b];
      return keys[a].lastWrite < keys[b].lastWrite;
    });
    for (std::size_t i : order) out_.keys.push_back(std::move(keys[i]));
  }

  void ReadValues(const KeyNode& node, RecoveredKey& key) {
    if (node.values == 0) return;
    const auto list = FreeRecord(node.valueList);
    if (!list) {
      key.missing.push_back("its value list " + WhyNotFree(node.valueList));
      return;
    }
    if (!listsClaimed_.insert(node.valueList).second) {
      key.missing.push_back("its value list is another deleted key's");
      return;
    }
    const std::size_t count = std::min<std::size_t>(node.values, list->size() / 4);
    if (count < node.values) {
      key.missing.push_back("its value list is cut short: " + std::to_string(count) + " of " +
                            std::to_string(node.values) + " values listed");
    }
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t cell = Le32At(*list, 4 * i);
      const std::string which =
          "value " + std::to_string(i + 1) + " of " + std::to_string(node.values);
      // A record listed twice is read once, so that lists naming one large
      // value over and over cost no more than the file holds.
      std::string why = "is another deleted key's";
      std::optional<RecoveredValue> value;
      if (!valuesClaimed_.count(cell)) value = ReadValue(cell, why);
      if (value) valuesClaimed_.insert(cell);
      if (!value) {
        key.missing.push_back(which + ": its record " + why);
        continue;
      }
      if (!value->complete) {
        key.missing.push_back(which + " (\"" + value->name + "\"): its data " + why);
      }
      key.values.push_back(std::move(*value));
    }
  }

  // A value record in a free cell; nullopt with `why` set when the record is
  // not one, and `complete` false with `why` set when its data is not whole.
  std::optional<RecoveredValue> ReadValue(std::uint32_t cell, std::string& why) {
    const auto body = FreeRecord(cell);
    if (!body) {
      why = WhyNotFree(cell);
      return std::nullopt;
    }
    const std::size_t nameLength = body->size() >= kValueKeySize ? Le16At(*body, 2) : 0;
    if (!Tag(*body, 0, "vk") || body->size() < kValueKeySize ||
        nameLength > body->size() - kValueKeySize) {
      why = "was overwritten";
      return std::nullopt;
    }
    RecoveredValue value;
    value.cell = cell;
    value.type = Le32At(*body, 12);
    value.name =
        DecodeName(body->subspan(kValueKeySize, nameLength), Le16At(*body, 16) & kValueCompName);
    const std::uint32_t size = Le32At(*body, 4);
    if (size & kDataInline) {
      const std::size_t length = size & ~kDataInline;
      if (length > 4) {
        why = "gives an impossible size";
        value.complete = false;
      } else {
        const auto bytes = body->subspan(8, length);
        value.data.assign(bytes.begin(), bytes.end());
      }
      return value;
    }
    value.complete = ReadData(Le32At(*body, 8), size, value.data, why);
    if (!value.complete) value.data.clear();
    return value;
  }

  bool ReadData(std::uint32_t cell, std::size_t length, std::vector<std::byte>& out,
                std::string& why) {
    if (length == 0) return true;
    if (length > dataBudget_) {
      why = "was not read: the data recovered would exceed what the file holds";
      return false;
    }
    const auto body = FreeRecord(cell);
    if (!body) {
      why = WhyNotFree(cell);
      return false;
    }
    if (length > kSegmentSize && body->size() >= 8 && Tag(*body, 0, "db")) {
      const std::size_t count = Le16At(*body, 2);
      const auto list = FreeRecord(Le32At(*body, 4));
      if (!list || list->size() / 4 < count || count * kSegmentSize < length) {
        why = "segment list was reused or cut short";
        return false;
      }
      for (std::size_t i = 0; i < count && out.size() < length; ++i) {
        const auto segment = FreeRecord(Le32At(*list, 4 * i));
        const std::size_t take = std::min(kSegmentSize, length - out.size());
        if (!segment || segment->size() < take) {
          why = "segment " + std::to_string(i + 1) + " was reused or cut short";
          return false;
        }
        out.insert(out.end(), segment->begin(),
                   segment->begin() + static_cast<std::ptrdiff_t>(take));
      }
    } else if (body->size() >= length) {
      out.assign(body->begin(), body->begin() + static_cast<std::ptrdiff_t>(length));
    } else {
      why = "was cut short (" + std::to_string(body->size()) + " of " + std::to_string(length) +
            " bytes left)";
      return false;
    }
    dataBudget_ -= length;
    return true;
  }

  void CollectUnattachedValues() {
    for (std::uint32_t at : records_) {
      if (!Tag(bins_, at + 4, "vk") || valuesClaimed_.count(at)) continue;
      std::string why;
      if (auto value = ReadValue(at, why)) out_.unattachedValues.push_back(std::move(*value));
    }
  }

  Bytes file_;
  Bytes bins_;
  RecoveredKeys out_;
  std::vector<FreeCell> free_;          // in file order
  std::vector<std::uint32_t> records_;  // record starts in free cells, ascending
  std::uint32_t root_ = kNoCell;
  // Live keys: parent and name, and the subkeys of each by folded name.
  std::unordered_map<std::uint32_t, std::pair<std::uint32_t, std::string>> live_;
  std::map<std::pair<std::uint32_t, std::string>, std::uint32_t> liveChildren_;
  std::unordered_set<std::uint32_t> listsRead_;
  // Deleted key nodes, and allocated ones outside the live tree, by cell.
  std::vector<Node> nodes_;
  std::unordered_map<std::uint32_t, std::size_t> index_;
  std::unordered_set<std::uint32_t> listsClaimed_;
  std::unordered_set<std::uint32_t> valuesClaimed_;
  std::size_t dataBudget_ = 0;
  std::size_t pathBudget_ = 0;
};

}  // namespace

std::vector<std::size_t> RecoveredKeys::Under(std::span<const std::string> prefix) const {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto& path = keys[i].path;
    if (path.size() > prefix.size() &&
        std::equal(prefix.begin(), prefix.end(), path.begin(),
                   [](const std::string& a, const std::string& b) { return EqualsNoCase(a, b); })) {
      found.push_back(i);
    }
  }
  return found;
}

RecoveredKeys ScanFreeCells(std::span<const std::byte> hive) { return Scanner(hive).Run(); }

void PutRecovered(const RecoveredKeys& found, std::span<const std::string> prefix,
                  MemoryStore& store, Store::Node at) {
  for (std::size_t i : found.Under(prefix)) {
    const RecoveredKey& key = found.keys[i];
    Store::Node node = at;
    for (std::size_t part = prefix.size(); part < key.path.size(); ++part) {
      node = store.EnsureChild(node, key.path[part]);
    }
    store.SetLastWrite(node, key.lastWrite);
    for (const RecoveredValue& value : key.values) {
      if (value.complete) store.Put(node, value.name, value.type, value.data);
    }
  }
}

}  // namespace orbel::platform
