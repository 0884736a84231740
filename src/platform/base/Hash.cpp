#include "platform/base/Hash.h"

#include <array>
#include <cstring>
#include <random>

namespace orbel::platform {
namespace {

std::uint64_t Rotate(std::uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

struct SipState {
  std::uint64_t v0, v1, v2, v3;
  void Round() {
    v0 += v1;
    v1 = Rotate(v1, 13) ^ v0;
    v0 = Rotate(v0, 32);
    v2 += v3;
    v3 = Rotate(v3, 16) ^ v2;
    v0 += v3;
    v3 = Rotate(v3, 21) ^ v0;
    v2 += v1;
    v1 = Rotate(v1, 17) ^ v2;
    v2 = Rotate(v2, 32);
  }
};

std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t x = 0;
  for (int i = 7; i >= 0; --i) x = (x << 8) | p[i];
  return x;
}

const std::array<std::uint64_t, 2>& ProcessKey() {
  static const std::array<std::uint64_t, 2> key = [] {
    std::random_device device;
    std::array<std::uint64_t, 2> k{};
    for (auto& word : k) word = (std::uint64_t{device()} << 32) ^ device();
    return k;
  }();
  return key;
}

}  // namespace

std::uint64_t SeededHash(std::string_view bytes) {
  const auto& key = ProcessKey();
  SipState s{key[0] ^ 0x736f6d6570736575u, key[1] ^ 0x646f72616e646f6du,
             key[0] ^ 0x6c7967656e657261u, key[1] ^ 0x7465646279746573u};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t whole = bytes.size() & ~std::size_t{7};
  for (std::size_t at = 0; at < whole; at += 8) {
    const std::uint64_t m = Load64(p + at);
    s.v3 ^= m;
    s.Round();
    s.v0 ^= m;
  }
  unsigned char tail[8] = {};
  std::memcpy(tail, p + whole, bytes.size() - whole);
  const std::uint64_t last = Load64(tail) | (std::uint64_t{bytes.size() & 0xFF} << 56);
  s.v3 ^= last;
  s.Round();
  s.v0 ^= last;
  s.v2 ^= 0xFF;
  s.Round();
  s.Round();
  s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace orbel::platform
