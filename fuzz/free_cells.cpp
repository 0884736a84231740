// The free-cell scan of a regf hive, and the recovered keys put into an
// in-memory tree as the companion mounts them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "platform/formats/FreeCellScan.h"

using namespace orbel::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto found = ScanFreeCells(std::as_bytes(std::span(data, size)));
  for (const RecoveredKey& key : found.keys) {
    if (key.path.empty() || key.partial == key.missing.empty()) std::abort();
  }
  const std::string clsid[] = {"CLSID"};
  MemoryStore store;
  PutRecovered(found, clsid, store, store.RootNode());
  PutRecovered(found, {}, store, store.RootNode());
  return 0;
}
