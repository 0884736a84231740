#include "platform/base/Text.h"

#include <cstdint>
#include <cstring>

namespace orbel::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

char32_t UpperOf(char32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 0x20;
  if (cp < 0x80) return cp;
  if ((cp >= 0xE0 && cp <= 0xFE && cp != 0xF7)) return cp - 0x20;
  if (cp == 0xFF) return 0x178;
  if (cp >= 0x100 && cp <= 0x137 && (cp & 1)) return cp - 1;
  if (cp >= 0x139 && cp <= 0x148 && !(cp & 1)) return cp - 1;
  if (cp >= 0x14A && cp <= 0x177 && (cp & 1)) return cp - 1;
  if (cp == 0x17A || cp == 0x17C || cp == 0x17E) return cp - 1;
  if (cp >= 0x3B1 && cp <= 0x3C9 && cp != 0x3C2) return cp - 0x20;
  if (cp >= 0x430 && cp <= 0x44F) return cp - 0x20;
  if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
  return cp;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `pos`; returns the code point and advances
// `pos`, or returns nothing (and advances by one) for an invalid byte.
bool DecodeUtf8(std::string_view text, std::size_t& pos, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(text[pos]);
  int length = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    cp = b0;
    ++pos;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    length = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++pos;
    return false;
  }
  if (pos + length > text.size()) {
    ++pos;
    return false;
  }
  for (int i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return false;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return false;
  }
  pos += length;
  return true;
}

std::string Utf16LeToUtf8(std::span<const std::byte> bytes) {
  std::string out;
  AppendUtf16LeAsUtf8(out, bytes);
  return out;
}

void AppendUtf16LeAsUtf8(std::string& out, std::span<const std::byte> bytes) {
  const std::size_t units = bytes.size() / 2;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  auto unit = [&](std::size_t i) { return static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8)); };
  // Nearly all registry text is ASCII: the leading run of it goes in one
  // piece, without the general decoder.
  std::size_t i = 0;
  // Four units at a time: every high byte zero, every low byte below 0x80
  // and none of them zero.
  constexpr std::uint64_t kLanes = 0x0001000100010001u;
  for (; i + 4 <= units; i += 4) {
    std::uint64_t word;
    std::memcpy(&word, p + 2 * i, 8);
    if ((word & 0xFF80FF80FF80FF80u) != 0) break;
    if (((word - kLanes) & ~word & (0x8000 * kLanes)) != 0) break;
  }
  while (i < units && p[2 * i + 1] == 0 && p[2 * i] != 0 && p[2 * i] < 0x80) ++i;
  const std::size_t start = out.size();
  out.resize(start + i);
  for (std::size_t k = 0; k < i; ++k) out[start + k] = static_cast<char>(p[2 * k]);
  for (; i < units; ++i) {
    const char16_t u = unit(i);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char16_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(low) - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t(u));
  }
}

std::vector<std::byte> Utf8ToUtf16Le(std::string_view text) {
  std::vector<std::byte> out;
  out.reserve(text.size() * 2);
  auto push = [&](char16_t u) {
    out.push_back(static_cast<std::byte>(u & 0xFF));
    out.push_back(static_cast<std::byte>(u >> 8));
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    if (!DecodeUtf8(text, pos, cp)) cp = kReplacement;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      push(static_cast<char16_t>(0xD800 + (cp >> 10)));
      push(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      push(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::vector<std::byte> Utf16LeStringValue(std::string_view text) {
  auto out = Utf8ToUtf16Le(text);
  out.push_back(std::byte{0});
  out.push_back(std::byte{0});
  return out;
}

std::string FoldCase(std::string_view text) {
  std::string out(text);
  // ASCII names, nearly all of them, need no decoding.
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      out.clear();
      break;
    }
    if (u - unsigned{'a'} < 26u) c = static_cast<char>(u - 0x20);
  }
  if (!out.empty() || text.empty()) return out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    char32_t cp = 0;
    if (DecodeUtf8(text, pos, cp)) {
      AppendUtf8(out, UpperOf(cp));
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
  return out;
}

bool EqualsNoCaseSameLength(std::string_view a, std::string_view b) {
  // Names asked for are mostly written as the registry writes them.
  if (a == b) return true;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca >= 0x80 || cb >= 0x80) return FoldCase(a.substr(i)) == FoldCase(b.substr(i));
    if (ca != cb && ((ca | 0x20) != (cb | 0x20) || (ca | 0x20) < 'a' || (ca | 0x20) > 'z')) {
      return false;
    }
  }
  return true;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return out;
}

}  // namespace orbel::platform
