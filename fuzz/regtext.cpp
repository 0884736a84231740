// The text registry reader: the three dialects, 8-bit and UTF-16 text. What
// it reads is written back and read again, which must give the same keys.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/formats/RegText.h"

using namespace orbel::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
  const bool looks = LooksLikeRegistryText(bytes);
  MemoryStore store;
  const RegTextResult result =
      ParseRegistryText(bytes, store, [](std::string_view path) { return std::string(path); });
  if (!result.ok && result.error.empty()) std::abort();
  // Sniffing reads the first 4 KiB only; it may not say no to what parses.
  if (result.ok && size <= 4096 && !looks) std::abort();
  if (!result.ok) return 0;

  const std::string text = WriteRegistryText(store, store.RootNode(), "HKEY_LOCAL_MACHINE");
  MemoryStore again;
  const RegTextResult reread = ParseRegistryText(
      std::span(reinterpret_cast<const std::byte*>(text.data()), text.size()), again,
      [](std::string_view path) -> std::optional<std::string> {
        constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
        if (!path.starts_with(kRoot)) return std::nullopt;
        path.remove_prefix(kRoot.size());
        if (path.starts_with('\\')) path.remove_prefix(1);
        return std::string(path);
      });
  if (!reread.ok) std::abort();
  return 0;
}
