// A keyed hash of names for the indexes that files from other machines fill:
// its key is drawn at random once per process, so that names chosen to
// collide in one run cannot be chosen in advance.
#pragma once

#include <cstdint>
#include <string_view>

namespace orbel::platform {

// SipHash-1-3 of `bytes` under the process's random key.
std::uint64_t SeededHash(std::string_view bytes);

}  // namespace orbel::platform
