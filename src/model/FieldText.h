// The text of one field of a registration record, one pointer wide. Most
// fields of most records are empty or "<Unknown>", and a few texts recur
// (the threading models): those take no room of their own. Any other text is
// one allocation holding its length and its characters. It reads as a
// std::string_view; a std::string is made only where one is asked for.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

namespace orbel {

// The text of every value the registration does not provide.
inline constexpr const char* kUnknown = "<Unknown>";

class FieldText {
 public:
  FieldText() noexcept = default;
  explicit FieldText(std::string_view text) : block_(Make(text)) {}
  FieldText(const FieldText& other) : block_(Copy(other.block_)) {}
  FieldText(FieldText&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
  FieldText& operator=(const FieldText& other) {
    if (this != &other) Reset(Copy(other.block_));
    return *this;
  }
  FieldText& operator=(FieldText&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.block_, nullptr));
    return *this;
  }
  FieldText& operator=(std::string_view text) {
    Reset(Make(text));
    return *this;
  }
  ~FieldText() { Reset(nullptr); }

  std::string_view view() const noexcept {
    if (!block_) return {};
    return {reinterpret_cast<const char*>(block_ + kHead), Length(block_)};
  }
  operator std::string_view() const noexcept { return view(); }
  std::string str() const { return std::string(view()); }
  bool empty() const noexcept { return block_ == nullptr; }
  std::size_t size() const noexcept { return view().size(); }
  // Whether this text takes an allocation of its own (for tests and figures).
  bool Owned() const noexcept { return block_ && !Shared(block_); }

  friend bool operator==(const FieldText& a, const FieldText& b) noexcept {
    return a.view() == b.view();
  }
  friend bool operator==(const FieldText& a, std::string_view b) noexcept { return a.view() == b; }
  friend std::strong_ordering operator<=>(const FieldText& a, const FieldText& b) noexcept {
    return a.view() <=> b.view();
  }
  friend std::strong_ordering operator<=>(const FieldText& a, std::string_view b) noexcept {
    return a.view() <=> b;
  }
  friend std::string operator+(std::string a, const FieldText& b) { return a.append(b.view()); }
  friend std::string operator+(const FieldText& a, std::string_view b) {
    return std::string(a.view()).append(b);
  }
  friend std::ostream& operator<<(std::ostream& out, const FieldText& text);

 private:
  // A block: the length in 4 bytes, least significant first, then the
  // characters. Shared blocks are static and never freed.
  static constexpr std::size_t kHead = 4;
  static std::size_t Length(const unsigned char* block) noexcept {
    return std::size_t{block[0]} | std::size_t{block[1]} << 8 | std::size_t{block[2]} << 16 |
           std::size_t{block[3]} << 24;
  }
  static bool Shared(const unsigned char* block) noexcept;
  static const unsigned char* Make(std::string_view text);
  static const unsigned char* Copy(const unsigned char* block);
  void Reset(const unsigned char* block) noexcept;

  const unsigned char* block_ = nullptr;  // null: the empty text
};

}  // namespace orbel
