// Text registry files: reading "REGEDIT4", "Windows Registry Editor Version
// 5.00" and Wine's "WINE REGISTRY Version 2" files into a MemoryStore, and
// writing a subtree back as "Windows Registry Editor Version 5.00" text.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/MemoryStore.h"

namespace orbel::platform {

// Maps a key path as written in the file (escapes removed, components joined by one
// "\") to a path inside the store, or nullopt to skip the key and its values.
using RegTextKeyMap = std::function<std::optional<std::string>(std::string_view filePath)>;

enum class RegTextFormat { Regedit4, Regedit5, Wine2 };

// A malformed line that was skipped. `line` is 1-based.
struct RegTextIssue {
  std::size_t line;
  std::string message;
};

struct RegTextResult {
  bool ok = false;  // false: not a registry text file at all; `error` says why
  RegTextFormat format = RegTextFormat::Regedit5;
  std::string error;
  std::vector<RegTextIssue> issues;  // malformed lines, skipped; reading went on
  std::size_t skippedLines = 0;      // all of them, beyond the issues kept too
  std::size_t keys = 0;              // key lines applied (after mapping)
  std::size_t values = 0;            // values set
};

// Parses a registry text file held in memory into `store`. Keys and values
// are applied in file order (deletions included); a malformed line becomes an
// issue and is skipped. Keys of Wine files get their time stamps, every other
// key keeps time 0.
RegTextResult ParseRegistryText(std::span<const std::byte> bytes, MemoryStore& store,
                                const RegTextKeyMap& map);

// Reads the file and parses it. Anything but a regular file, a file above
// 1 GiB and a failed read give ok=false.
RegTextResult LoadRegistryTextFile(const std::filesystem::path& file, MemoryStore& store,
                                   const RegTextKeyMap& map);

// True when the bytes begin like one of the three formats: an optional byte
// order mark, blank lines, then one of the header lines.
bool LooksLikeRegistryText(std::span<const std::byte> bytes);

// Writes `node` and everything below it as "Windows Registry Editor Version 5.00"
// text, UTF-8 without BOM, CRLF line ends. Every key that has values or no
// subkeys is written as "[<prefix>\<path>]" (the node itself as "[<prefix>]"),
// depth first in enumeration order, with its values in stored order: REG_SZ
// as "..." when it reads back unchanged, a 4-byte REG_DWORD as dword:, all
// else as hex(N): (hex: for REG_BINARY) wrapped at 80 columns. Keys and
// values whose names hold a line break cannot be written in this format and
// are left out (a key with everything below it).
std::string WriteRegistryText(const MemoryStore& store, Store::Node node, std::string_view prefix);

// Writes the bytes to a temporary file in the same folder, flushes it to disk
// and renames it over `file`, so that a crash or a full disk never leaves half
// a file. false and `error` set on failure; the old file then stays as it was.
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         std::string& error);

}  // namespace orbel::platform
