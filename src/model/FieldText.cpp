#include "model/FieldText.h"

#include <array>
#include <cstring>
#include <ostream>
#include <stdexcept>

namespace orbel {
namespace {

// A static block of a text of N - 1 characters.
template <std::size_t N>
struct StaticBlock {
  unsigned char bytes[4 + N - 1];
};

template <std::size_t N>
consteval StaticBlock<N> BlockOf(const char (&text)[N]) {
  StaticBlock<N> block{};
  constexpr std::size_t length = N - 1;
  block.bytes[0] = static_cast<unsigned char>(length & 0xFF);
  block.bytes[1] = static_cast<unsigned char>((length >> 8) & 0xFF);
  block.bytes[2] = static_cast<unsigned char>((length >> 16) & 0xFF);
  block.bytes[3] = static_cast<unsigned char>((length >> 24) & 0xFF);
  for (std::size_t i = 0; i < length; ++i) block.bytes[4 + i] = static_cast<unsigned char>(text[i]);
  return block;
}

constexpr auto kUnknownBlock = BlockOf("<Unknown>");
constexpr auto kApartment = BlockOf("Apartment");
constexpr auto kBoth = BlockOf("Both");
constexpr auto kFree = BlockOf("Free");
constexpr auto kNeutral = BlockOf("Neutral");

constexpr std::array<const unsigned char*, 5> kSharedBlocks = {
    kUnknownBlock.bytes, kApartment.bytes, kBoth.bytes, kFree.bytes, kNeutral.bytes};

std::string_view TextOf(const unsigned char* block, std::size_t length) {
  return {reinterpret_cast<const char*>(block + 4), length};
}

}  // namespace

bool FieldText::Shared(const unsigned char* block) noexcept {
  for (const unsigned char* shared : kSharedBlocks) {
    if (block == shared) return true;
  }
  return false;
}

const unsigned char* FieldText::Make(std::string_view text) {
  if (text.empty()) return nullptr;
  for (const unsigned char* shared : kSharedBlocks) {
    if (TextOf(shared, Length(shared)) == text) return shared;
  }
  if (text.size() > 0xFFFF'FFFFu) throw std::length_error("FieldText: text too long");
  auto* block = new unsigned char[kHead + text.size()];
  const std::size_t length = text.size();
  for (std::size_t i = 0; i < kHead; ++i) {
    block[i] = static_cast<unsigned char>((length >> (8 * i)) & 0xFF);
  }
  std::memcpy(block + kHead, text.data(), length);
  return block;
}

const unsigned char* FieldText::Copy(const unsigned char* block) {
  if (!block || Shared(block)) return block;
  return Make(TextOf(block, Length(block)));
}

void FieldText::Reset(const unsigned char* block) noexcept {
  if (block_ && !Shared(block_)) delete[] block_;
  block_ = block;
}

std::ostream& operator<<(std::ostream& out, const FieldText& text) { return out << text.view(); }

}  // namespace orbel
