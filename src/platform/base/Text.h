// Text helpers shared by the registry stores: UTF-8 inside, UTF-16LE on disk,
// and the case folding that key and value names are matched with.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orbel::platform {

// Appends a code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// Decodes the UTF-8 sequence at `pos` and advances past it. An invalid byte
// (overlong, surrogate, cut short) gives false and advances by one.
bool DecodeUtf8(std::string_view text, std::size_t& pos, char32_t& cp);

// Decodes UTF-16LE bytes to UTF-8. Stops at the first NUL code unit; an odd
// trailing byte is ignored; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::byte> bytes);
// The same, appended to `out`.
void AppendUtf16LeAsUtf8(std::string& out, std::span<const std::byte> bytes);

// Encodes UTF-8 as UTF-16LE, without a terminator. Invalid UTF-8 bytes become
// U+FFFD.
std::vector<std::byte> Utf8ToUtf16Le(std::string_view text);

// Encodes UTF-8 as UTF-16LE followed by one NUL code unit, as a REG_SZ value
// is stored.
std::vector<std::byte> Utf16LeStringValue(std::string_view text);

// Upper-cases a name for comparison without regard to case: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters. Invalid UTF-8 is kept as is.
std::string FoldCase(std::string_view text);

// True when two names of the same length are equal without regard to case.
bool EqualsNoCaseSameLength(std::string_view a, std::string_view b);
// True when the two names are equal without regard to case. Folding keeps
// the UTF-8 length of every character (and invalid bytes as they are), so
// names of different lengths differ; most names compared do.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && EqualsNoCaseSameLength(a, b);
}

// Upper-cases the ASCII letters a to z only.
std::string AsciiUpper(std::string_view text);

}  // namespace orbel::platform
