#include "support/RegfWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "platform/base/Text.h"

namespace orbel::platform {
namespace {

constexpr std::size_t kBaseBlockSize = 4096;
constexpr std::size_t kBinUnit = 4096;
constexpr std::size_t kBinHeaderSize = 32;
// Offsets are 32-bit and Windows refuses hives of 2 GiB and more.
constexpr std::size_t kMaxBinsSize = 0x80000000u - kBaseBlockSize;
constexpr std::uint32_t kNoCell = 0xFFFFFFFFu;

// Key node flags.
constexpr std::uint16_t kKeyHiveEntry = 0x0004;
constexpr std::uint16_t kKeyNoDelete = 0x0008;
constexpr std::uint16_t kKeyCompName = 0x0020;
// Value key flag: the name is stored in Latin-1.
constexpr std::uint16_t kValueCompName = 0x0001;

constexpr std::size_t kKeyNodeSize = 76;   // nk fields before the name
constexpr std::size_t kValueKeySize = 20;  // vk fields before the name
constexpr std::size_t kMaxNameBytes = 0xFFFF;
// Windows starts a new leaf list well before an lh cell grows past a page or two.
constexpr std::size_t kLeafEntries = 1000;
constexpr std::size_t kMaxLeaves = 0xFFFF;
// Data above one segment goes into a big-data record; each segment holds this much.
constexpr std::size_t kSegmentSize = 16344;
constexpr std::size_t kMaxSegments = 0xFFFF;
constexpr std::uint32_t kDataInline = 0x80000000u;

std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// A name as the hive stores it: Latin-1 when every character fits, else UTF-16LE.
struct StoredName {
  std::vector<std::byte> bytes;
  bool latin1 = false;
  std::size_t utf16Bytes = 0;  // the length Windows counts for the largest-name fields
};

StoredName StoreName(std::string_view name) {
  StoredName stored;
  stored.bytes = Utf8ToUtf16Le(name);
  stored.utf16Bytes = stored.bytes.size();
  bool fits = true;
  for (std::size_t i = 1; i < stored.bytes.size(); i += 2) {
    if (stored.bytes[i] != std::byte{0}) {
      fits = false;
      break;
    }
  }
  if (fits) {
    std::vector<std::byte> latin1(stored.bytes.size() / 2);
    for (std::size_t i = 0; i < latin1.size(); ++i) latin1[i] = stored.bytes[2 * i];
    stored.bytes = std::move(latin1);
    stored.latin1 = true;
  }
  if (stored.bytes.size() > kMaxNameBytes) {
    throw std::length_error("regf writer: a key or value name is longer than 65,535 bytes");
  }
  return stored;
}

// The upper-cased UTF-16 code units of a name: what Windows sorts subkeys by
// and hashes for the lh lists.
std::u16string FoldedUnits(std::string_view name) {
  const auto bytes = Utf8ToUtf16Le(FoldCase(name));
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(std::to_integer<unsigned>(bytes[2 * i]) |
                                     (std::to_integer<unsigned>(bytes[2 * i + 1]) << 8));
  }
  return units;
}

std::uint32_t NameHash(const std::u16string& folded) {
  std::uint32_t hash = 0;
  for (char16_t unit : folded) hash = hash * 37 + unit;
  return hash;
}

// A self-relative security descriptor: owner Administrators, group SYSTEM,
// full access for both and read access for Everyone, inherited by subkeys.
std::vector<std::byte> SecurityDescriptor() {
  std::vector<std::byte> sd;
  auto u8 = [&](unsigned v) { sd.push_back(static_cast<std::byte>(v)); };
  auto u16 = [&](unsigned v) {
    u8(v & 0xFF);
    u8((v >> 8) & 0xFF);
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  auto sid = [&](unsigned authority, std::initializer_list<std::uint32_t> subs) {
    u8(1);
    u8(static_cast<unsigned>(subs.size()));
    for (int i = 0; i < 5; ++i) u8(0);
    u8(authority);
    for (auto sub : subs) u32(sub);
  };
  auto ace = [&](std::uint32_t mask, unsigned authority,
                 std::initializer_list<std::uint32_t> subs) {
    u8(0);     // access allowed
    u8(0x02);  // container inherit
    u16(8 + 8 + 4 * static_cast<unsigned>(subs.size()));
    u32(mask);
    sid(authority, subs);
  };
  constexpr unsigned kHeader = 20, kDacl = 8 + 20 + 24 + 20, kOwner = 16;
  u8(1);  // revision
  u8(0);
  u16(0x8004);                    // self-relative, with a DACL
  u32(kHeader + kDacl);           // owner
  u32(kHeader + kDacl + kOwner);  // group
  u32(0);                         // no SACL
  u32(kHeader);                   // DACL
  u8(2);                          // ACL revision
  u8(0);
  u16(kDacl);
  u16(3);  // ACE count
  u16(0);
  ace(KEY_ALL_ACCESS, 5, {18});
  ace(KEY_ALL_ACCESS, 5, {32, 544});
  ace(KEY_READ, 1, {0});
  sid(5, {32, 544});
  sid(5, {18});
  return sd;
}

class HiveWriter {
 public:
  HiveWriter(const MemoryStore& store, const RegfWriteOptions& options)
      : store_(store), options_(options) {}

  std::vector<std::byte> Write(Store::Node top) {
    out_.reserve(EstimateSize(top));
    out_.assign(kBaseBlockSize, std::byte{0});
    pos_ = binEnd_ = kBaseBlockSize;
    security_ = WriteSecurity();
    const std::uint32_t root =
        WriteKey(top, options_.rootName, kNoCell, kKeyHiveEntry | kKeyNoDelete);

    // Depth first with an explicit stack: a key's subkey nodes are written
    // together, then its subkey lists, then each subkey's own subtree.
    struct Pending {
      Store::Node node;
      std::uint32_t cell;
    };
    std::vector<Pending> stack{{top, root}};
    std::vector<Child> children;
    while (!stack.empty()) {
      const Pending key = stack.back();
      stack.pop_back();
      const auto& ids = store_.ChildrenOf(key.node);
      if (ids.empty()) continue;
      children.clear();
      for (Store::Node id : ids) children.push_back({id, FoldedUnits(store_.NameOf(id)), 0});
      // The store sorts by code point; Windows by UTF-16 code unit, which
      // differs once a name holds characters beyond the BMP.
      const auto byUnits = [](const Child& a, const Child& b) { return a.folded < b.folded; };
      if (!std::is_sorted(children.begin(), children.end(), byUnits)) {
        std::stable_sort(children.begin(), children.end(), byUnits);
      }
      for (Child& child : children) {
        child.cell = WriteKey(child.node, store_.NameOf(child.node), key.cell, 0);
      }
      Put32(Data(key.cell) + 28, WriteSubkeyLists(children));
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        stack.push_back({it->node, it->cell});
      }
    }

    CloseBin();
    Put32(Data(security_) + 12, keyCount_);
    WriteBaseBlock(root);
    return std::move(out_);
  }

 private:
  struct Child {
    Store::Node node;
    std::u16string folded;
    std::uint32_t cell;
  };

  // A generous bound on the hive's size, so that the buffer is allocated once
  // instead of being copied as it grows; capacity never written costs no memory.
  std::size_t EstimateSize(Store::Node top) const {
    std::size_t size = 2 * kBaseBlockSize + 2 * options_.rootName.size();
    std::vector<Store::Node> pending{top};
    while (!pending.empty()) {
      const Store::Node node = pending.back();
      pending.pop_back();
      // UTF-16 takes at most twice the bytes of UTF-8; 16 bytes cover size
      // fields and alignment, 8 the key's entry in its parent's list.
      size += 2 * store_.NameOf(node).size() + kKeyNodeSize + 16 + 8;
      for (const auto& value : store_.ValuesOf(node)) {
        const std::size_t data = value.value.data.size();
        size += 2 * value.name.size() + kValueKeySize + 16 + 4 + data + 16;
        if (data > kSegmentSize) size += data / kSegmentSize * 20 + 32;
      }
      const auto& children = store_.ChildrenOf(node);
      pending.insert(pending.end(), children.begin(), children.end());
    }
    // Room for the ends of hbins that a cell did not fit; never past the
    // largest hive, which Alloc refuses to exceed anyway.
    return std::min(size + size / 8, kBaseBlockSize + kMaxBinsSize);
  }

  // Position in the file of a cell's contents (after its size field).
  static std::size_t Data(std::uint32_t cell) { return kBaseBlockSize + cell + 4; }

  void Put16(std::size_t at, std::uint16_t v) {
    out_[at] = static_cast<std::byte>(v & 0xFF);
    out_[at + 1] = static_cast<std::byte>(v >> 8);
  }
  void Put32(std::size_t at, std::uint32_t v) {
    Put16(at, static_cast<std::uint16_t>(v & 0xFFFF));
    Put16(at + 2, static_cast<std::uint16_t>(v >> 16));
  }
  void Put64(std::size_t at, std::uint64_t v) {
    Put32(at, static_cast<std::uint32_t>(v & 0xFFFFFFFFu));
    Put32(at + 4, static_cast<std::uint32_t>(v >> 32));
  }
  void PutBytes(std::size_t at, std::span<const std::byte> bytes) {
    std::copy(bytes.begin(), bytes.end(), out_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  void PutTag(std::size_t at, const char (&tag)[3]) {
    out_[at] = static_cast<std::byte>(tag[0]);
    out_[at + 1] = static_cast<std::byte>(tag[1]);
  }

  // Allocates a cell for `size` bytes of contents in the current hbin, or in
  // a new one (large enough for it) when it does not fit; returns its offset.
  std::uint32_t Alloc(std::size_t size) {
    const std::size_t cellSize = Align8(size + 4);
    if (cellSize > binEnd_ - pos_) {
      CloseBin();
      const std::size_t binSize = (cellSize + kBinHeaderSize + kBinUnit - 1) / kBinUnit * kBinUnit;
      if (binEnd_ - kBaseBlockSize + binSize > kMaxBinsSize) {
        throw std::length_error("regf writer: the hive would exceed 2 GiB");
      }
      out_.resize(binEnd_ + binSize);
      PutTag(binEnd_, "hb");
      PutTag(binEnd_ + 2, "in");
      Put32(binEnd_ + 4, static_cast<std::uint32_t>(binEnd_ - kBaseBlockSize));
      Put32(binEnd_ + 8, static_cast<std::uint32_t>(binSize));
      pos_ = binEnd_ + kBinHeaderSize;
      binEnd_ += binSize;
    }
    const auto cell = static_cast<std::uint32_t>(pos_ - kBaseBlockSize);
    Put32(pos_, static_cast<std::uint32_t>(-static_cast<std::int32_t>(cellSize)));
    pos_ += cellSize;
    return cell;
  }

  // Marks the rest of the current hbin as one free cell.
  void CloseBin() {
    if (pos_ < binEnd_) Put32(pos_, static_cast<std::uint32_t>(binEnd_ - pos_));
    pos_ = binEnd_;
  }

  std::uint32_t WriteSecurity() {
    const auto sd = SecurityDescriptor();
    const std::uint32_t cell = Alloc(20 + sd.size());
    const std::size_t at = Data(cell);
    PutTag(at, "sk");
    Put32(at + 4, cell);  // the only descriptor: its list links point to itself
    Put32(at + 8, cell);
    Put32(at + 16, static_cast<std::uint32_t>(sd.size()));
    PutBytes(at + 20, sd);
    return cell;
  }

  std::uint32_t WriteKey(Store::Node node, std::string_view name, std::uint32_t parent,
                         std::uint16_t flags) {
    const StoredName stored = StoreName(name);
    const auto& children = store_.ChildrenOf(node);
    if (children.size() > kLeafEntries * kMaxLeaves) {
      throw std::length_error("regf writer: more than 65 million subkeys in one key");
    }
    std::size_t longestSubkey = 0;
    for (Store::Node child : children) {
      longestSubkey = std::max(longestSubkey, Utf8ToUtf16Le(store_.NameOf(child)).size());
    }
    FileTime time = store_.LastWriteOf(node);
    if (time == 0) time = options_.defaultTime;
    newest_ = std::max(newest_, time);

    const std::uint32_t cell = Alloc(kKeyNodeSize + stored.bytes.size());
    std::size_t at = Data(cell);
    PutTag(at, "nk");
    Put16(at + 2, flags | (stored.latin1 ? kKeyCompName : 0));
    Put64(at + 4, time);
    Put32(at + 16, parent);
    Put32(at + 20, static_cast<std::uint32_t>(children.size()));
    Put32(at + 28, kNoCell);  // subkey list, set once the subkeys are written
    Put32(at + 32, kNoCell);  // volatile subkeys
    Put32(at + 44, security_);
    Put32(at + 48, kNoCell);  // class name
    Put32(at + 52, static_cast<std::uint32_t>(std::min<std::size_t>(longestSubkey, 0xFFFF)));
    Put16(at + 72, static_cast<std::uint16_t>(stored.bytes.size()));
    PutBytes(at + kKeyNodeSize, stored.bytes);
    ++keyCount_;

    const auto& values = store_.ValuesOf(node);
    if (values.empty()) {
      Put32(at + 40, kNoCell);
      return cell;
    }
    const std::uint32_t list = Alloc(4 * values.size());
    std::size_t longestName = 0, longestData = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::uint32_t vk = WriteValue(values[i], longestName);
      longestData = std::max(longestData, values[i].value.data.size());
      Put32(Data(list) + 4 * i, vk);
    }
    at = Data(cell);
    Put32(at + 36, static_cast<std::uint32_t>(values.size()));
    Put32(at + 40, list);
    Put32(at + 60, static_cast<std::uint32_t>(longestName));
    Put32(at + 64, static_cast<std::uint32_t>(longestData));
    return cell;
  }

  std::uint32_t WriteValue(const MemoryStore::NamedValue& value, std::size_t& longestName) {
    const StoredName stored = StoreName(value.name);
    longestName = std::max(longestName, stored.utf16Bytes);
    const auto& data = value.value.data;
    if (data.size() > kSegmentSize * kMaxSegments) {
      throw std::length_error("regf writer: a value is larger than about 1 GB");
    }
    const std::uint32_t cell = Alloc(kValueKeySize + stored.bytes.size());
    const std::size_t at = Data(cell);
    PutTag(at, "vk");
    Put16(at + 2, static_cast<std::uint16_t>(stored.bytes.size()));
    Put32(at + 12, value.value.type);
    Put16(at + 16, stored.latin1 ? kValueCompName : 0);
    PutBytes(at + kValueKeySize, stored.bytes);
    if (data.size() <= 4) {
      Put32(at + 4, kDataInline | static_cast<std::uint32_t>(data.size()));
      PutBytes(at + 8, data);
    } else {
      Put32(at + 4, static_cast<std::uint32_t>(data.size()));
      const std::uint32_t dataCell = WriteData(data);
      Put32(Data(cell) + 8, dataCell);
    }
    return cell;
  }

  std::uint32_t WriteData(std::span<const std::byte> data) {
    if (data.size() <= kSegmentSize) {
      const std::uint32_t cell = Alloc(data.size());
      PutBytes(Data(cell), data);
      return cell;
    }
    const std::size_t count = (data.size() + kSegmentSize - 1) / kSegmentSize;
    const std::uint32_t db = Alloc(8);
    const std::uint32_t list = Alloc(4 * count);
    PutTag(Data(db), "db");
    Put16(Data(db) + 2, static_cast<std::uint16_t>(count));
    Put32(Data(db) + 4, list);
    for (std::size_t i = 0; i < count; ++i) {
      const auto chunk =
          data.subspan(i * kSegmentSize, std::min(kSegmentSize, data.size() - i * kSegmentSize));
      // Readers take a segment's capacity as its cell size less 8 bytes, so
      // every segment's cell, the last and shorter one too, gets that room.
      const std::uint32_t segment = Alloc(chunk.size() + 4);
      PutBytes(Data(segment), chunk);
      Put32(Data(list) + 4 * i, segment);
    }
    return db;
  }

  // One lh list for up to kLeafEntries subkeys; above that an ri index of lh lists.
  std::uint32_t WriteSubkeyLists(std::span<const Child> children) {
    auto leaf = [&](std::span<const Child> part) {
      const std::uint32_t cell = Alloc(4 + 8 * part.size());
      const std::size_t at = Data(cell);
      PutTag(at, "lh");
      Put16(at + 2, static_cast<std::uint16_t>(part.size()));
      for (std::size_t i = 0; i < part.size(); ++i) {
        Put32(at + 4 + 8 * i, part[i].cell);
        Put32(at + 8 + 8 * i, NameHash(part[i].folded));
      }
      return cell;
    };
    if (children.size() <= kLeafEntries) return leaf(children);
    const std::size_t count = (children.size() + kLeafEntries - 1) / kLeafEntries;
    const std::uint32_t index = Alloc(4 + 4 * count);
    PutTag(Data(index), "ri");
    Put16(Data(index) + 2, static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t first = i * kLeafEntries;
      const std::uint32_t cell =
          leaf(children.subspan(first, std::min(kLeafEntries, children.size() - first)));
      Put32(Data(index) + 4 + 4 * i, cell);
    }
    return index;
  }

  void WriteBaseBlock(std::uint32_t root) {
    PutTag(0, "re");
    PutTag(2, "gf");
    Put32(4, 1);  // primary and secondary sequence numbers equal: a clean hive
    Put32(8, 1);
    Put64(12, newest_);
    Put32(20, 1);  // version 1.5
    Put32(24, 5);
    Put32(28, 0);  // primary file
    Put32(32, 1);  // direct memory load
    Put32(36, root);
    Put32(40, static_cast<std::uint32_t>(out_.size() - kBaseBlockSize));
    Put32(44, 1);                         // clustering factor
    Put64(kBaseBlockSize + 20, newest_);  // the first hbin's timestamp
    std::uint32_t checksum = 0;
    for (std::size_t at = 0; at < 508; at += 4) {
      checksum ^= std::to_integer<std::uint32_t>(out_[at]) |
                  (std::to_integer<std::uint32_t>(out_[at + 1]) << 8) |
                  (std::to_integer<std::uint32_t>(out_[at + 2]) << 16) |
                  (std::to_integer<std::uint32_t>(out_[at + 3]) << 24);
    }
    // Windows keeps 0 and -1 for "not computed".
    if (checksum == 0xFFFFFFFFu) checksum = 0xFFFFFFFEu;
    if (checksum == 0) checksum = 1;
    Put32(508, checksum);
  }

  const MemoryStore& store_;
  const RegfWriteOptions& options_;
  std::vector<std::byte> out_;
  std::size_t pos_ = 0;     // next free byte of the current hbin
  std::size_t binEnd_ = 0;  // end of the current hbin
  std::uint32_t security_ = kNoCell;
  std::uint32_t keyCount_ = 0;
  FileTime newest_ = 0;
};

}  // namespace

std::vector<std::byte> WriteRegfHive(const MemoryStore& store, Store::Node node,
                                     const RegfWriteOptions& options) {
  return HiveWriter(store, options).Write(node);
}

bool WriteRegfHiveFile(const std::filesystem::path& file, const MemoryStore& store,
                       Store::Node node, const RegfWriteOptions& options, std::string& error) {
  std::vector<std::byte> bytes;
  try {
    bytes = WriteRegfHive(store, node, options);
  } catch (const std::exception& e) {
    error = file.string() + ": " + e.what();
    return false;
  }
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  if (!stream) {
    error = file.string() + ": cannot create the file (" + std::strerror(errno) + ")";
    return false;
  }
  stream.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  stream.close();
  if (!stream) {
    error = file.string() + ": write failed (" + std::strerror(errno) + ")";
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return false;
  }
  return true;
}

}  // namespace orbel::platform

namespace orbel::platform {

void SetSequenceNumbers(std::vector<std::byte>& hive, std::uint32_t primary,
                        std::uint32_t secondary) {
  if (hive.size() < 512) throw std::length_error("regf writer: no base block to change");
  const auto put = [&hive](std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) hive[at + i] = static_cast<std::byte>(value >> (8 * i));
  };
  put(4, primary);
  put(8, secondary);
  std::uint32_t checksum = 0;
  for (std::size_t at = 0; at < 508; at += 4) {
    for (std::size_t i = 0; i < 4; ++i) {
      checksum ^= std::to_integer<std::uint32_t>(hive[at + i]) << (8 * i);
    }
  }
  put(508, checksum);
}

namespace {

std::uint32_t Get32(std::span<const std::byte> hive, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | std::to_integer<std::uint32_t>(hive[at + i]);
  return v;
}
void Set32(std::vector<std::byte>& hive, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) hive[at + i] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
}
// Where a cell's contents begin in the file.
std::size_t Body(std::uint32_t cell) { return kBaseBlockSize + cell + 4; }
void FreeCell(std::vector<std::byte>& hive, std::uint32_t cell) {
  const auto size = static_cast<std::int32_t>(Get32(hive, kBaseBlockSize + cell));
  Set32(hive, kBaseBlockSize + cell, static_cast<std::uint32_t>(size < 0 ? -size : size));
}

}  // namespace

std::uint32_t KeyCell(std::span<const std::byte> hive, std::string_view path) {
  std::uint32_t key = Get32(hive, 36);
  while (!path.empty()) {
    const std::string_view name = path.substr(0, path.find('\\'));
    path.remove_prefix(std::min(path.size(), name.size() + 1));
    const std::uint32_t list = Get32(hive, Body(key) + 28);
    const std::uint32_t count = Get32(hive, Body(list)) >> 16;
    std::uint32_t found = kNoCell;
    for (std::uint32_t i = 0; i < count && found == kNoCell; ++i) {
      const std::uint32_t child = Get32(hive, Body(list) + 4 + 8 * i);
      const std::size_t length = Get32(hive, Body(child) + 72) & 0xFFFF;
      const auto* chars = reinterpret_cast<const char*>(hive.data()) + Body(child) + kKeyNodeSize;
      if (std::string_view(chars, length) == name) found = child;
    }
    if (found == kNoCell) throw std::invalid_argument("no key " + std::string(name));
    key = found;
  }
  return key;
}

void FreeKeyCells(std::vector<std::byte>& hive, std::uint32_t cell) {
  if (Get32(hive, Body(cell) + 20) != 0) {
    const std::uint32_t list = Get32(hive, Body(cell) + 28);
    for (std::uint32_t i = 0; i < (Get32(hive, Body(list)) >> 16); ++i) {
      FreeKeyCells(hive, Get32(hive, Body(list) + 4 + 8 * i));
    }
    FreeCell(hive, list);
  }
  if (const std::uint32_t values = Get32(hive, Body(cell) + 36); values != 0) {
    const std::uint32_t list = Get32(hive, Body(cell) + 40);
    for (std::uint32_t i = 0; i < values; ++i) {
      const std::uint32_t vk = Get32(hive, Body(list) + 4 * i);
      const std::uint32_t size = Get32(hive, Body(vk) + 4), data = Get32(hive, Body(vk) + 8);
      if (size > kSegmentSize && !(size & kDataInline)) {
        // A big-data record: its segment list and segments go too.
        const std::uint32_t segments = Get32(hive, Body(data) + 4);
        for (std::uint32_t k = 0; k < (Get32(hive, Body(data)) >> 16); ++k) {
          FreeCell(hive, Get32(hive, Body(segments) + 4 * k));
        }
        FreeCell(hive, segments);
      }
      if (!(size & kDataInline)) FreeCell(hive, data);
      FreeCell(hive, vk);
    }
    FreeCell(hive, list);
  }
  FreeCell(hive, cell);
}

void DeleteKey(std::vector<std::byte>& hive, std::string_view path) {
  const std::uint32_t key = KeyCell(hive, path);
  const std::uint32_t parent = Get32(hive, Body(key) + 16);
  const std::uint32_t list = Get32(hive, Body(parent) + 28);
  const std::uint32_t count = Get32(hive, Body(list)) >> 16;
  for (std::uint32_t i = 0, kept = 0; i < count; ++i) {
    const std::uint32_t entry = Get32(hive, Body(list) + 4 + 8 * i);
    if (entry == key) continue;
    Set32(hive, Body(list) + 4 + 8 * kept, entry);
    Set32(hive, Body(list) + 8 + 8 * kept, Get32(hive, Body(list) + 8 + 8 * i));
    ++kept;
  }
  Set32(hive, Body(list), (Get32(hive, Body(list)) & 0xFFFF) | ((count - 1) << 16));
  Set32(hive, Body(parent) + 20, Get32(hive, Body(parent) + 20) - 1);
  FreeKeyCells(hive, key);
}

}  // namespace orbel::platform
