// The text of a registry text file as UTF-8 whatever its encoding, and the
// conversions between UTF-8, UTF-16 code units and stored string data.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orbel::platform::regtext {

inline std::string_view AsChars(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The file's text as UTF-8: UTF-16LE after an FF FE mark; otherwise 8-bit,
// after an optional UTF-8 mark, kept as is when valid UTF-8 (no copy) and
// read as Windows-1252 when not.
struct DecodedText {
  std::string storage;
  std::string_view text;
  bool halfUnitLeft = false;  // UTF-16 of an odd length: its last byte is no character
};

DecodedText DecodeText(std::span<const std::byte> bytes);

// 8-bit text as UTF-8: kept when valid UTF-8, read as Windows-1252 when not.
std::string EightBitToUtf8(std::string_view bytes);

// Invalid UTF-8 bytes replaced by U+FFFD, so that one bad name cannot turn a
// whole written file into something read as Windows-1252.
std::string SanitizeUtf8(std::string_view text);

// UTF-16 code units to UTF-8, NUL units kept; unpaired surrogates become U+FFFD.
std::string UnitsToUtf8(std::u16string_view units);

// Appends `cp` as one or two UTF-16 code units.
void AppendCodePoint(std::u16string& out, char32_t cp);

// The units as REG_SZ data: UTF-16LE with a NUL unit at the end.
std::vector<std::byte> UnitsToStringValue(std::u16string_view units);

}  // namespace orbel::platform::regtext
