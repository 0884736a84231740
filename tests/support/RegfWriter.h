// Writes a MemoryStore tree as a regf hive (version 1.5, laid out as Windows
// lays it out), so that tests and benchmarks get hives with known content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/MemoryStore.h"
#include "platform/store/RegistryTypes.h"

namespace orbel::platform {

struct RegfWriteOptions {
  std::string rootName = "ROOT";  // name of the root key node
  FileTime defaultTime = 0;       // last-write time for keys whose MemoryStore time is 0
};

// The hive bytes of `node` and everything below it (node becomes the root key,
// named options.rootName). Subkeys are listed in the order Windows keeps them.
// Throws std::length_error when the tree does not fit the format (a name above
// 65,535 bytes, a value above 1 GiB, more than 65 million subkeys in one key, a
// hive above 2 GiB).
std::vector<std::byte> WriteRegfHive(const MemoryStore& store, Store::Node node,
                                     const RegfWriteOptions& options = {});

// Gives the hive bytes (or a log's base block) these sequence numbers, with
// the base block's checksum made good: unequal numbers mark a write cut short.
void SetSequenceNumbers(std::vector<std::byte>& hive, std::uint32_t primary,
                        std::uint32_t secondary);

// Deleting keys as Windows leaves them, for the scan of free cells. These
// read hives this writer made (lh lists, no big data) and trust them.
// The offset of the key node at `path` ("CLSID\\{X}"), names matched exactly.
std::uint32_t KeyCell(std::span<const std::byte> hive, std::string_view path);
// Marks free the cells of the key node `cell`, of its lists, values and data,
// and of every key below it; the key stays listed by its parent.
void FreeKeyCells(std::vector<std::byte>& hive, std::uint32_t cell);
// Unlinks the key at `path` from its parent's subkey list and frees its cells.
void DeleteKey(std::vector<std::byte>& hive, std::string_view path);

// Writes them to a file; false and `error` set on failure.
bool WriteRegfHiveFile(const std::filesystem::path& file, const MemoryStore& store,
                       Store::Node node, const RegfWriteOptions& options, std::string& error);

}  // namespace orbel::platform
