#include "HiveGenerator.h"

#include <hivex.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "platform/base/Text.h"
#include "platform/images/RegistryImage.h"
#include "support/RegfWriter.h"

namespace fs = std::filesystem;

namespace orbel {
namespace {

using platform::MemoryStore;
using Node = platform::Store::Node;

// Below this depth a copied key keeps its values but loses its subkeys: only
// a hostile source goes that deep.
constexpr int kMaxDepth = 32;
// Keys and values read from a source hive at most, so that a damaged or
// looping hive cannot make the copy run away.
constexpr std::size_t kMaxHiveItems = 4'000'000;

// Last-write times are spread over twelve years from the start of 2012.
constexpr platform::FileTime kFirstTime = 129'698'496'000'000'000u;
constexpr platform::FileTime kTimeSpan = 12ull * 36'524 * 8'640'000'000ull;  // 12 x 365.24 days

constexpr char kClassesPath[] = "Software\\Classes";

// A bijection on 64-bit numbers that scatters neighbouring counters.
std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9u;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBu;
  x ^= x >> 31;
  return x;
}

bool IsGuidName(std::string_view name) {
  if (name.size() != 38 || name.front() != '{' || name.back() != '}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? name[i] != '-' : !std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

bool StartsWithRegf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[4] = {};
  return in.read(head, 4) && std::memcmp(head, "regf", 4) == 0;
}

// The hive file behind a source, when it is one: a hive itself, or the
// SOFTWARE hive of a Windows folder that is not a Wine prefix.
std::optional<fs::path> SourceHive(const fs::path& source) {
  std::error_code ec;
  if (fs::is_regular_file(source, ec)) {
    return StartsWithRegf(source) ? std::optional<fs::path>(source) : std::nullopt;
  }
  if (!fs::is_directory(source, ec) || platform::FindNoCase(source, "system.reg")) {
    return std::nullopt;
  }
  for (const char* relative : {"Windows/System32/config/SOFTWARE", "System32/config/SOFTWARE"}) {
    if (auto hive = platform::FindNoCase(source, relative);
        hive && fs::is_regular_file(*hive, ec)) {
      return hive;
    }
  }
  return std::nullopt;
}

template <typename T>
struct Freed {
  T* p;
  explicit Freed(T* q) : p(q) {}
  ~Freed() { std::free(p); }
  Freed(const Freed&) = delete;
  Freed& operator=(const Freed&) = delete;
};

// Copies a key of a hive with its values and subkeys into `store`, within
// the depth and item limits.
void CopyHiveKey(hive_h* hive, hive_node_h from, MemoryStore& store, Node to, int depth,
                 std::size_t& budget) {
  const std::int64_t stamp = hivex_node_timestamp(hive, from);
  if (stamp > 0) store.SetLastWrite(to, static_cast<platform::FileTime>(stamp));
  if (const Freed<hive_value_h> values(hivex_node_values(hive, from)); values.p) {
    for (const hive_value_h* v = values.p; *v != 0 && budget > 0; ++v, --budget) {
      const Freed<char> name(hivex_value_key(hive, *v));
      hive_type type = hive_t_REG_NONE;
      std::size_t length = 0;
      const Freed<char> data(hivex_value_value(hive, *v, &type, &length));
      if (!name.p || (!data.p && length != 0)) continue;
      const auto* bytes = reinterpret_cast<const std::byte*>(data.p);
      store.Put(to, name.p, static_cast<std::uint32_t>(type),
                {bytes, data.p ? length : std::size_t{0}});
    }
  }
  if (depth >= kMaxDepth) return;
  if (const Freed<hive_node_h> children(hivex_node_children(hive, from)); children.p) {
    for (const hive_node_h* c = children.p; *c != 0 && budget > 0; ++c) {
      --budget;
      const Freed<char> name(hivex_node_name(hive, *c));
      if (!name.p || name.p[0] == '\0') continue;
      CopyHiveKey(hive, *c, store, store.EnsureChild(to, name.p), depth + 1, budget);
    }
  }
}

// Reads the CLSID and TypeLib keys of a SOFTWARE or classes hive into a store,
// under Software\Classes.
std::shared_ptr<MemoryStore> ReadHiveRegistrations(const fs::path& file, std::string& error) {
  errno = 0;
  hive_h* hive = hivex_open(file.c_str(), HIVEX_OPEN_UNSAFE);
  if (!hive) {
    error = file.string() + ": " + (errno != 0 ? std::strerror(errno) : "not a registry hive");
    return nullptr;
  }
  const hive_node_h root = hivex_root(hive);
  hive_node_h classes = root ? hivex_node_get_child(hive, root, "Classes") : 0;
  if (classes == 0 && root != 0 && hivex_node_get_child(hive, root, "CLSID") != 0) classes = root;
  auto store = std::make_shared<MemoryStore>();
  std::size_t budget = kMaxHiveItems;
  for (const char* name : {"CLSID", "TypeLib"}) {
    const hive_node_h key = classes ? hivex_node_get_child(hive, classes, name) : 0;
    if (key == 0) continue;
    CopyHiveKey(hive, key, *store, store->EnsurePath(std::string(kClassesPath) + "\\" + name), 0,
                budget);
  }
  hivex_close(hive);
  return store;
}

// The {GUID} subkeys of a key, in key order.
std::vector<Node> GuidKeysAt(const MemoryStore& store, const std::string& path) {
  std::vector<Node> keys;
  if (const auto node = store.Find(path)) {
    for (Node child : store.ChildrenOf(*node)) {
      if (IsGuidName(store.NameOf(child))) keys.push_back(child);
    }
  }
  return keys;
}

platform::FileTime TimeOf(std::uint64_t counter, std::uint64_t salt) {
  // Whole seconds, as registry tools show them.
  const platform::FileTime offset = Mix(counter ^ Mix(salt)) % kTimeSpan;
  return kFirstTime + offset - offset % 10'000'000;
}

void CopyKey(const MemoryStore& from, Node source, MemoryStore& to, Node target,
             platform::FileTime time, int depth) {
  to.SetLastWrite(target, time);
  for (const auto& value : from.ValuesOf(source)) {
    to.Put(target, value.name, value.value.type, value.value.data);
  }
  if (depth >= kMaxDepth) return;
  for (Node child : from.ChildrenOf(source)) {
    CopyKey(from, child, to, to.EnsureChild(target, from.NameOf(child)), time, depth + 1);
  }
}

// The default value of `parent`'s subkey `name` as text, when it is a string.
std::optional<std::string> SubkeyDefault(MemoryStore& store, Node parent, std::string_view name,
                                         Node& subkey) {
  if (store.FindChild(parent, name, subkey) != platform::kSuccess) return std::nullopt;
  platform::Value value;
  if (store.GetValue(subkey, "", value) != platform::kSuccess) return std::nullopt;
  if (value.type != platform::REG_SZ && value.type != platform::REG_EXPAND_SZ) return std::nullopt;
  return platform::Utf16LeToUtf8(value.data);
}

std::unordered_map<std::string, std::size_t> IndexByName(const MemoryStore& store,
                                                         const std::vector<Node>& keys) {
  std::unordered_map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    index.emplace(platform::FoldCase(store.NameOf(keys[i])), i);
  }
  return index;
}

// Fills Vendor with products, each with components of a few values (text,
// numbers, paths and binary blobs), until about `bytes` of hive cells are
// made. The cell sizes are estimated: a key of about 100 bytes, a value of
// about 30 plus its name and data.
void AddFiller(MemoryStore& tree, std::size_t bytes, platform::FileTime time) {
  const Node vendor = tree.EnsureChild(tree.RootNode(), "Vendor");
  tree.SetLastWrite(vendor, time);
  std::size_t made = 0;
  std::uint64_t bits = Mix(kLibraryIdSalt);
  char name[48];
  for (std::size_t product = 0; made < bytes; ++product) {
    std::snprintf(name, sizeof name, "Product %05zu", product);
    const Node productKey = tree.EnsureChild(vendor, name);
    tree.SetLastWrite(productKey, time);
    made += 100;
    for (std::size_t component = 0; component < 40 && made < bytes; ++component) {
      std::snprintf(name, sizeof name, "Component %03zu", component);
      const Node key = tree.EnsureChild(productKey, name);
      tree.SetLastWrite(key, time);
      made += 100;
      for (int value = 0; value < 6; ++value) {
        bits = Mix(bits);
        std::snprintf(name, sizeof name, "Setting%d", value);
        std::string text;
        switch (bits % 4) {
          case 0:
            tree.PutDword(key, name, static_cast<std::uint32_t>(bits >> 32));
            made += 30 + 8 + 4;
            continue;
          case 1:
            text = "C:\\Program Files\\Product " + std::to_string(product) + "\\bin\\component" +
                   std::to_string(component) + ".dll";
            break;
          case 2: {
            std::vector<std::byte> blob(64 + (bits >> 8) % 1024);
            for (std::size_t i = 0; i < blob.size(); ++i) {
              blob[i] = static_cast<std::byte>(Mix(bits + i) & 0xFF);
            }
            tree.Put(key, name, platform::REG_BINARY, blob);
            made += 30 + 8 + blob.size();
            continue;
          }
          default:
            text.assign(16 + (bits >> 16) % 200, static_cast<char>('a' + (bits >> 24) % 26));
            break;
        }
        tree.PutString(key, name, text);
        made += 30 + 8 + 2 * (text.size() + 1);
      }
    }
  }
}

}  // namespace

std::optional<HiveSource> LoadHiveSource(const fs::path& source, std::string& error) {
  HiveSource loaded;
  loaded.path = source;
  if (const auto hive = SourceHive(source)) {
    loaded.store = ReadHiveRegistrations(*hive, error);
    if (!loaded.store) return std::nullopt;
  } else {
    auto image = platform::OpenRegistryImage(source, error);
    if (!image) return std::nullopt;
    loaded.store = std::dynamic_pointer_cast<const MemoryStore>(image->machine);
    if (!loaded.store) {
      error = source.string() + ": not a registry that can be copied";
      return std::nullopt;
    }
  }
  loaded.classes = GuidKeysAt(*loaded.store, std::string(kClassesPath) + "\\CLSID");
  loaded.typeLibs = GuidKeysAt(*loaded.store, std::string(kClassesPath) + "\\TypeLib");
  if (loaded.classes.empty()) {
    error = source.string() + ": holds no class keys under Software\\Classes\\CLSID";
    return std::nullopt;
  }
  return loaded;
}

fs::path DefaultHiveSource(const platform::EnvironmentLookup& environment) {
  std::error_code ec;
  std::vector<fs::path> prefixes;
  if (auto wine = environment("WINEPREFIX"); wine && !wine->empty()) prefixes.emplace_back(*wine);
  prefixes.emplace_back("/tmp/orbel-wineprefix");
  for (const auto& prefix : prefixes) {
    if (fs::is_regular_file(prefix / "system.reg", ec)) return prefix;
  }
  return platform::SampleRegistryPath();
}

std::string GeneratedGuid(std::uint64_t counter, std::uint64_t salt) {
  // The first 64 bits are a bijection of the counter, so they alone keep the
  // GUIDs apart; the rest looks random and carries the version and variant.
  const std::uint64_t high = Mix(counter ^ salt);
  const std::uint64_t low = Mix(high + salt);
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%04X%08X}",
                static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                static_cast<unsigned>(0x4000 | (low & 0x0FFF)),
                static_cast<unsigned>(0x8000 | ((low >> 12) & 0x3FFF)),
                static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 32));
  return text;
}

std::unique_ptr<MemoryStore> BuildSoftwareTree(const HiveSource& source, std::size_t classes,
                                               std::size_t nameLength, std::size_t fillerBytes) {
  if (source.classes.empty()) throw std::invalid_argument("no class keys to copy");
  const MemoryStore& from = *source.store;
  const std::size_t templates = source.classes.size();
  const auto classIndex = IndexByName(from, source.classes);
  const auto libraryIndex = IndexByName(from, source.typeLibs);

  auto tree = std::make_unique<MemoryStore>();
  const Node clsid = tree->EnsurePath("Classes\\CLSID");
  const Node typeLib = tree->EnsurePath("Classes\\TypeLib");

  // Created in key order, so that every new key goes at the end of its list.
  std::vector<std::pair<std::string, std::size_t>> order;
  order.reserve(classes);
  for (std::size_t n = 0; n < classes; ++n) {
    std::string name = GeneratedGuid(n, kClassIdSalt);
    for (std::uint64_t bits = Mix(n + kClassIdSalt); name.size() < nameLength; bits = Mix(bits)) {
      name.push_back(static_cast<char>('a' + bits % 26));
    }
    order.emplace_back(std::move(name), n);
  }
  std::sort(order.begin(), order.end());

  // Type library copies: (copy number, source library) -> its new LIBID.
  std::map<std::pair<std::size_t, std::size_t>, std::string> libraries;
  platform::FileTime newest = 0;
  for (const auto& [guid, n] : order) {
    const std::size_t cycle = n / templates;
    const Node key = tree->EnsureChild(clsid, guid);
    const platform::FileTime time = TimeOf(n, kClassIdSalt);
    newest = std::max(newest, time);
    CopyKey(from, source.classes[n % templates], *tree, key, time, 0);

    Node subkey = 0;
    if (auto lib = SubkeyDefault(*tree, key, "TypeLib", subkey)) {
      const auto it = libraryIndex.find(platform::FoldCase(*lib));
      if (it != libraryIndex.end()) {
        auto& libid = libraries[{cycle, it->second}];
        if (libid.empty()) {
          libid = GeneratedGuid(cycle * source.typeLibs.size() + it->second, kLibraryIdSalt);
        }
        tree->PutString(subkey, "", libid);
      }
    }
    for (const char* link : {"AutoConvertTo", "TreatAs"}) {
      const auto target = SubkeyDefault(*tree, key, link, subkey);
      if (!target) continue;
      // The copy of the named class made in the same round, when there is
      // one; else some other generated class.
      std::size_t other = (n + 1) % classes;
      if (const auto it = classIndex.find(platform::FoldCase(*target)); it != classIndex.end()) {
        other = cycle * templates + it->second;
        if (other >= classes) other = it->second % classes;
      }
      tree->PutString(subkey, "", GeneratedGuid(other, kClassIdSalt));
    }
  }

  std::vector<std::pair<std::string, std::pair<std::size_t, std::size_t>>> libraryOrder;
  for (const auto& [copy, libid] : libraries) libraryOrder.emplace_back(libid, copy);
  std::sort(libraryOrder.begin(), libraryOrder.end());
  for (const auto& [libid, copy] : libraryOrder) {
    const auto& [cycle, library] = copy;
    const platform::FileTime time =
        TimeOf(cycle * source.typeLibs.size() + library, kLibraryIdSalt);
    newest = std::max(newest, time);
    CopyKey(from, source.typeLibs[library], *tree, tree->EnsureChild(typeLib, libid), time, 0);
  }

  if (fillerBytes > 0) AddFiller(*tree, fillerBytes, newest);
  for (Node node : {tree->RootNode(), tree->EnsurePath("Classes"), clsid, typeLib}) {
    tree->SetLastWrite(node, newest);
  }
  return tree;
}

bool GenerateHive(const HiveSource& source, std::size_t classes, const fs::path& out,
                  std::string& error, std::size_t nameLength, std::size_t fillerBytes) {
  std::unique_ptr<MemoryStore> tree;
  try {
    tree = BuildSoftwareTree(source, classes, nameLength, fillerBytes);
  } catch (const std::exception& e) {
    error = out.string() + ": " + e.what();
    return false;
  }
  // Written beside the target and renamed, so that an interrupted run never
  // leaves a half-written hive under the final name.
  fs::path partial = out;
  partial += ".part" + std::to_string(::getpid());
  platform::RegfWriteOptions options;
  options.rootName = "ROOT";
  if (!platform::WriteRegfHiveFile(partial, *tree, tree->RootNode(), options, error)) return false;
  std::error_code ec;
  fs::rename(partial, out, ec);
  if (ec) {
    error = out.string() + ": " + ec.message();
    fs::remove(partial, ec);
    return false;
  }
  return true;
}

}  // namespace orbel
