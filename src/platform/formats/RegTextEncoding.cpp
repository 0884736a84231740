#include "platform/formats/RegTextEncoding.h"

#include <array>

#include "platform/base/Text.h"

namespace orbel::platform::regtext {
namespace {

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < text.size()) {
    if (!DecodeUtf8(text, pos, cp)) return false;
  }
  return true;
}

// Windows-1252 bytes 0x80 to 0x9F; the five unassigned ones map to the C1
// controls of the same number.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b >= 0x80 && b <= 0x9F ? char32_t{kCp1252High[b - 0x80]} : char32_t{b});
  }
  return out;
}

template <typename UnitAt>
std::string Utf16ToUtf8(std::size_t count, UnitAt unitAt) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t u = unitAt(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      const char16_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{low} - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : char32_t{u});
  }
  return out;
}

std::string Utf16LeBytesToUtf8(std::span<const std::byte> bytes) {
  return Utf16ToUtf8(bytes.size() / 2, [&](std::size_t i) {
    return static_cast<char16_t>(std::to_integer<unsigned>(bytes[2 * i]) |
                                 (std::to_integer<unsigned>(bytes[2 * i + 1]) << 8));
  });
}

}  // namespace

DecodedText DecodeText(std::span<const std::byte> bytes) {
  DecodedText decoded;
  if (bytes.size() >= 2 && bytes[0] == std::byte{0xFF} && bytes[1] == std::byte{0xFE}) {
    decoded.storage = Utf16LeBytesToUtf8(bytes.subspan(2));
    decoded.text = decoded.storage;
    decoded.halfUnitLeft = bytes.size() % 2 != 0;
    return decoded;
  }
  std::string_view raw = AsChars(bytes);
  if (raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);
  if (IsValidUtf8(raw)) {
    decoded.text = raw;
  } else {
    decoded.storage = Cp1252ToUtf8(raw);
    decoded.text = decoded.storage;
  }
  return decoded;
}

std::string EightBitToUtf8(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : Cp1252ToUtf8(bytes);
}

std::string SanitizeUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    AppendUtf8(out, DecodeUtf8(text, pos, cp) ? cp : char32_t{0xFFFD});
  }
  return out;
}

std::string UnitsToUtf8(std::u16string_view units) {
  return Utf16ToUtf8(units.size(), [&](std::size_t i) { return units[i]; });
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

std::vector<std::byte> UnitsToStringValue(std::u16string_view units) {
  std::vector<std::byte> out;
  out.reserve(units.size() * 2 + 2);
  for (const char16_t u : units) {
    out.push_back(static_cast<std::byte>(u & 0xFF));
    out.push_back(static_cast<std::byte>(u >> 8));
  }
  out.push_back(std::byte{0});
  out.push_back(std::byte{0});
  return out;
}

}  // namespace orbel::platform::regtext
