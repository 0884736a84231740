#include "platform/formats/RegTextEscapes.h"

#include <array>

#include "platform/base/Text.h"
#include "platform/formats/RegTextEncoding.h"
#include "platform/formats/RegTextLines.h"

namespace orbel::platform::regtext {
namespace {

// The C escapes of Wine files and the code units they stand for.
constexpr std::string_view kCEscapes = "abefnrtv";
constexpr std::array<char16_t, 8> kCEscapeUnits = {0x07, 0x08, 0x1B, 0x0C, 0x0A, 0x0D, 0x09, 0x0B};

// Decodes the Wine escape whose letter is at `pos` (just after the backslash)
// and leaves `pos` after it: a C escape, "x" with 1 to 4 hex digits (a UTF-16
// code unit), 1 to 3 octal digits, or any other character standing for itself.
void ReadWineEscape(std::string_view text, std::size_t& pos, std::u16string& out) {
  const char e = text[pos];
  if (const std::size_t i = kCEscapes.find(e); i != std::string_view::npos) {
    out.push_back(kCEscapeUnits[i]);
    ++pos;
    return;
  }
  const bool hex = e == 'x';
  if (hex || (e >= '0' && e <= '7')) {
    const int base = hex ? 16 : 8;
    const int maxDigits = hex ? 4 : 3;
    if (hex) ++pos;
    unsigned value = 0;
    int digits = 0;
    for (; digits < maxDigits && pos < text.size(); ++digits, ++pos) {
      const int d = HexDigit(text[pos]);
      if (d < 0 || d >= base) break;
      value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    // "\x" without digits is a plain "x".
    out.push_back(digits > 0 ? static_cast<char16_t>(value) : u'x');
    return;
  }
  char32_t cp = 0;
  AppendCodePoint(out, DecodeUtf8(text, pos, cp) ? cp : char32_t{0xFFFD});
}

}  // namespace

bool ReadEscaped(std::string_view text, std::size_t& pos, char terminator, Escapes escapes,
                 std::u16string& out) {
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == terminator) {
      ++pos;
      return true;
    }
    if (c == '\\') {
      if (pos + 1 >= text.size()) break;
      const char e = text[pos + 1];
      if (escapes == Escapes::Wine) {
        ++pos;
        ReadWineEscape(text, pos, out);
        continue;
      }
      if (e == '\\' || e == '"') {
        out.push_back(static_cast<char16_t>(e));
        pos += 2;
        continue;
      }
    }
    char32_t cp = 0;
    AppendCodePoint(out, DecodeUtf8(text, pos, cp) ? cp : char32_t{0xFFFD});
  }
  pos = text.size();
  return false;
}

}  // namespace orbel::platform::regtext
