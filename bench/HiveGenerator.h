// Generates large, realistic SOFTWARE hives for the load benchmark: the class
// keys and type libraries of a source registry, copied over and over under
// fresh identifiers until the hive holds the number of classes asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/computer/LocalImage.h"
#include "platform/store/MemoryStore.h"

namespace orbel {

// The registrations a generated hive is made of, read from a source registry.
struct HiveSource {
  std::filesystem::path path;
  std::shared_ptr<const platform::MemoryStore> store;
  // The class keys (the {GUID} subkeys of Software\Classes\CLSID) and the
  // type library keys (the {GUID} subkeys of Software\Classes\TypeLib), in
  // the store's key order.
  std::vector<platform::Store::Node> classes;
  std::vector<platform::Store::Node> typeLibs;
};

// Reads the registrations of a Wine prefix, a text registry file, a SOFTWARE
// or classes hive, or a Windows folder. Nothing, with `error` set ("<path>:
// <reason>"), when the source cannot be read or holds no class key.
std::optional<HiveSource> LoadHiveSource(const std::filesystem::path& source, std::string& error);

// The source used when none is named: the Wine prefix $WINEPREFIX, else
// /tmp/orbel-wineprefix, when it holds system.reg; else the sample registry.
std::filesystem::path DefaultHiveSource(const platform::EnvironmentLookup& environment);

// What separates the identifiers of generated classes from those of their
// type libraries.
inline constexpr std::uint64_t kClassIdSalt = 0x436C61737349447Bu;
inline constexpr std::uint64_t kLibraryIdSalt = 0x4C69627261727949u;

// A GUID in registry form ("{8-4-4-4-12}", upper-case hex) made from a
// counter; for one salt, different counters always give different GUIDs.
std::string GeneratedGuid(std::uint64_t counter, std::uint64_t salt);

// The tree of a SOFTWARE hive holding `classes` class keys: at its root
// Classes\CLSID with the copies (class n copies source class n modulo the
// number of source classes, its copy number being n divided by that number),
// and Classes\TypeLib with a copy of each type library a copied class names,
// under a fresh LIBID per copy number. TypeLib values point at those copies,
// AutoConvertTo and TreatAs values at other generated classes. Every key gets
// a plausible last-write time. With `nameLength` above 38, each class key's
// name is its GUID followed by lower-case letters up to that length (a shape
// that stresses the decoding of long lists). With `fillerBytes`, the root
// also holds Vendor\Product N\... keys with values, about that many bytes of
// them in the hive: the other software a real SOFTWARE hive is mostly made
// of. Throws std::invalid_argument for a source without classes.
std::unique_ptr<platform::MemoryStore> BuildSoftwareTree(const HiveSource& source,
                                                         std::size_t classes,
                                                         std::size_t nameLength = 0,
                                                         std::size_t fillerBytes = 0);

// Builds the tree and writes it as a regf hive. The bytes depend only on the
// source, the number of classes and the options. false and `error` set on
// failure.
bool GenerateHive(const HiveSource& source, std::size_t classes, const std::filesystem::path& out,
                  std::string& error, std::size_t nameLength = 0, std::size_t fillerBytes = 0);

}  // namespace orbel
