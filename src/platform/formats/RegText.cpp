#include "platform/formats/RegText.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/base/SafeFile.h"
#include "platform/base/Text.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxFileSize = std::uintmax_t{1} << 30;
constexpr std::size_t kMaxHexText = std::size_t{64} << 20;
constexpr std::size_t kMaxIssues = 1000;
constexpr std::size_t kWrapColumn = 80;
constexpr std::size_t kSniffBytes = 4096;

constexpr std::string_view kHeaderRegedit4 = "REGEDIT4";
constexpr std::string_view kHeaderRegedit5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderWine2 = "WINE REGISTRY Version 2";

// Seconds from 1601-01-01 (FILETIME's origin) to 1970-01-01.
constexpr std::uint64_t kEpochDifference = 11644473600ull;
constexpr std::uint64_t kTicksPerSecond = 10000000ull;

// ---------------------------------------------------------------------------
// Text decoding. Everything is turned into UTF-8 first; strings become UTF-16
// code units only when they are stored.

std::string_view AsChars(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < text.size()) {
    if (!DecodeUtf8(text, pos, cp)) return false;
  }
  return true;
}

// Invalid UTF-8 bytes replaced by U+FFFD, so that one bad name cannot turn a
// whole written file into something read as Windows-1252.
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

// UTF-16 code units to UTF-8, NUL units kept; unpaired surrogates become U+FFFD.
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

std::string UnitsToUtf8(std::u16string_view units) {
  return Utf16ToUtf8(units.size(), [&](std::size_t i) { return units[i]; });
}

std::string Utf16LeBytesToUtf8(std::span<const std::byte> bytes) {
  return Utf16ToUtf8(bytes.size() / 2, [&](std::size_t i) {
    return static_cast<char16_t>(std::to_integer<unsigned>(bytes[2 * i]) |
                                 (std::to_integer<unsigned>(bytes[2 * i + 1]) << 8));
  });
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

// The file's text as UTF-8: UTF-16LE after an FF FE mark; otherwise 8-bit,
// after an optional UTF-8 mark, kept as is when valid UTF-8 (no copy) and
// read as Windows-1252 when not.
struct DecodedText {
  std::string storage;
  std::string_view text;
};

DecodedText DecodeText(std::span<const std::byte> bytes) {
  DecodedText decoded;
  if (bytes.size() >= 2 && bytes[0] == std::byte{0xFF} && bytes[1] == std::byte{0xFE}) {
    decoded.storage = Utf16LeBytesToUtf8(bytes.subspan(2));
    decoded.text = decoded.storage;
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

// ---------------------------------------------------------------------------
// Small string helpers.

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && AsciiUpper(s.substr(0, prefix.size())) == AsciiUpper(prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hexadecimal number no greater than `max`; nullopt when empty, not hex or too big.
std::optional<std::uint64_t> ParseHex(std::string_view digits, std::uint64_t max) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    const int d = HexDigit(c);
    if (d < 0 || value > (max >> 4)) return std::nullopt;
    value = (value << 4) | static_cast<std::uint64_t>(d);
    if (value > max) return std::nullopt;
  }
  return value;
}

// Seconds since 1970 as a FILETIME; nullopt when not a decimal number or out of range.
std::optional<FileTime> SecondsToFileTime(std::string_view digits) {
  constexpr std::uint64_t kMaxSeconds =
      std::numeric_limits<std::uint64_t>::max() / kTicksPerSecond - kEpochDifference;
  if (digits.empty()) return std::nullopt;
  std::uint64_t seconds = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + static_cast<std::uint64_t>(c - '0');
    if (seconds > kMaxSeconds) return std::nullopt;
  }
  return (seconds + kEpochDifference) * kTicksPerSecond;
}

// Text for a message: at most `maxChars` characters, control characters shown as '?'.
std::string Cut(std::string_view text, std::size_t maxChars) {
  std::string out;
  std::size_t pos = 0;
  std::size_t chars = 0;
  while (pos < text.size()) {
    if (chars == maxChars) {
      out += "...";
      break;
    }
    const std::size_t start = pos;
    char32_t cp = 0;
    if (!DecodeUtf8(text, pos, cp) || cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      out.push_back('?');
    } else {
      out.append(text.substr(start, pos - start));
    }
    ++chars;
  }
  return out;
}

// Components joined by one "\", empty ones dropped.
std::string NormalizePath(std::string_view path) {
  std::string out;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) {
      if (!out.empty()) out.push_back('\\');
      out.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return out;
}

std::optional<RegTextFormat> HeaderFormat(std::string_view line) {
  if (line == kHeaderRegedit4) return RegTextFormat::Regedit4;
  if (line == kHeaderRegedit5) return RegTextFormat::Regedit5;
  if (line == kHeaderWine2) return RegTextFormat::Wine2;
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Reading.

class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  // The next line without its line end; false past the last line.
  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    lastPos_ = pos_;
    const std::size_t end = std::min(text_.find('\n', pos_), text_.size());
    line = text_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = end + 1;
    ++number_;
    return true;
  }

  // Gives the line that Next returned last back, once.
  void Unread() {
    pos_ = lastPos_;
    --number_;
  }

  std::size_t number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t lastPos_ = 0;
  std::size_t number_ = 0;
};

// The first non-blank line, trimmed; nullopt when there is none.
std::optional<std::string_view> FirstLine(LineReader& lines) {
  std::string_view line;
  while (lines.Next(line)) {
    line = Trim(line);
    if (!line.empty()) return line;
  }
  return std::nullopt;
}

enum class Escapes { Regedit, Wine };

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

// Reads escaped text from `pos` up to the unescaped `terminator` and leaves
// `pos` after it. Regedit files escape only "\\" and "\""; any other
// backslash stays. false when the terminator is missing.
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

struct ParsedValue {
  bool remove = false;
  std::uint32_t type = REG_NONE;
  std::vector<std::byte> data;
};

class Parser {
 public:
  Parser(RegTextFormat format, MemoryStore& store, const RegTextKeyMap& map, RegTextResult& result)
      : format_(format),
        escapes_(format == RegTextFormat::Wine2 ? Escapes::Wine : Escapes::Regedit),
        store_(store),
        map_(map),
        result_(result) {}

  void Run(LineReader& lines) {
    std::string_view line;
    while (lines.Next(line)) {
      line = Trim(line);
      const std::size_t number = lines.number();
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        KeyLine(line, number);
      } else if (line[0] == '"' || line[0] == '@') {
        ValueLine(line, lines);
      } else if (line[0] == '#' && format_ == RegTextFormat::Wine2) {
        OptionLine(line, number);
      } else {
        Issue(number, "unrecognised line '" + Cut(line, 40) + "'");
      }
    }
    if (dropped_ > 0) {
      result_.issues.push_back({lastDroppedLine_, std::to_string(dropped_) + " more issues"});
    }
  }

 private:
  void Issue(std::size_t line, std::string message) {
    if (result_.issues.size() < kMaxIssues) {
      result_.issues.push_back({line, std::move(message)});
    } else {
      ++dropped_;
      lastDroppedLine_ = line;
    }
  }

  struct KeyName {
    std::string path;
    std::string_view rest;  // the text after the closing ']', trimmed
  };

  // The key path of a key line, from `pos` (after "[" or "[-"); nullopt and
  // an issue when the line is malformed.
  std::optional<KeyName> ReadKeyName(std::string_view line, std::size_t pos, std::size_t number) {
    KeyName name;
    if (format_ == RegTextFormat::Wine2) {
      std::u16string units;
      if (!ReadEscaped(line, pos, ']', Escapes::Wine, units)) {
        Issue(number, "key name without closing ']'");
        return std::nullopt;
      }
      name.path = NormalizePath(UnitsToUtf8(units));
      name.rest = Trim(line.substr(pos));
    } else {
      // Regedit names are not escaped and may hold ']': the last one closes.
      const std::size_t close = line.rfind(']');
      if (close == std::string_view::npos || close < pos) {
        Issue(number, "key name without closing ']'");
        return std::nullopt;
      }
      name.path = NormalizePath(line.substr(pos, close - pos));
      name.rest = Trim(line.substr(close + 1));
    }
    if (name.path.empty()) {
      Issue(number, "empty key name");
      return std::nullopt;
    }
    return name;
  }

  // The time stamp Wine writes after a key name; other text there is an issue.
  std::optional<FileTime> KeyTime(std::string_view rest, bool remove, std::size_t number) {
    if (rest.empty()) return std::nullopt;
    if (format_ != RegTextFormat::Wine2 || remove) {
      Issue(number, "unexpected text '" + Cut(rest, 24) + "' after the key name");
      return std::nullopt;
    }
    const auto time = SecondsToFileTime(rest);
    if (!time) Issue(number, "bad time '" + Cut(rest, 24) + "' after the key name");
    return time;
  }

  void KeyLine(std::string_view line, std::size_t number) {
    seenKey_ = true;
    current_.reset();
    const bool remove = line.size() > 1 && line[1] == '-';
    const auto name = ReadKeyName(line, remove ? 2 : 1, number);
    if (!name) return;
    const std::optional<FileTime> time = KeyTime(name->rest, remove, number);
    const std::optional<std::string> mapped = map_ ? map_(name->path) : std::optional(name->path);
    if (!mapped) return;
    if (remove) {
      if (const auto node = store_.Find(*mapped)) store_.RemoveKey(*node);
      return;
    }
    const Store::Node node = store_.EnsurePath(*mapped);
    current_ = node;
    ++result_.keys;
    if (time) store_.SetLastWrite(node, *time);
  }

  // Wine's "#name=value" lines after a key; only "#time=" matters here.
  void OptionLine(std::string_view line, std::size_t number) {
    constexpr std::string_view kTime = "#time=";
    if (!line.starts_with(kTime) || !current_) return;
    const auto stamp = ParseHex(Trim(line.substr(kTime.size())), ~std::uint64_t{0});
    if (!stamp) {
      Issue(number, "bad time stamp '" + Cut(line.substr(kTime.size()), 24) + "'");
      return;
    }
    store_.SetLastWrite(*current_, *stamp);
  }

  void ValueLine(std::string_view line, LineReader& lines) {
    const std::size_t number = lines.number();
    std::size_t pos = 1;
    std::string name;
    if (line[0] == '"') {
      std::u16string units;
      if (!ReadEscaped(line, pos, '"', escapes_, units)) {
        Issue(number, "unterminated value name");
        return;
      }
      name = UnitsToUtf8(units);
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') {
      Issue(number, "expected '=' after the value name");
      return;
    }
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    ParsedValue value;
    if (!ParseData(line.substr(pos), number, lines, value)) return;
    if (!current_) {
      // Values of skipped, removed or malformed keys go quietly with their key.
      if (!seenKey_) Issue(number, "value outside a key");
      return;
    }
    if (value.remove) {
      store_.RemoveValue(*current_, name);
      return;
    }
    store_.Put(*current_, name, value.type, value.data);
    ++result_.values;
  }

  // The data after "=": "-", a string, dword:, hex: or hex(N): / str(N):.
  bool ParseData(std::string_view data, std::size_t number, LineReader& lines, ParsedValue& out) {
    if (data == "-") {
      out.remove = true;
      return true;
    }
    if (data.empty()) {
      Issue(number, "missing value data");
      return false;
    }
    if (data[0] == '"') {
      out.type = REG_SZ;
      return ParseString(data, number, out);
    }
    if (StartsWithNoCase(data, "dword:")) return ParseDword(data.substr(6), number, out);
    if (StartsWithNoCase(data, "hex:")) {
      out.type = REG_BINARY;
      return ParseHexList(data.substr(4), number, lines, out.data);
    }
    if (StartsWithNoCase(data, "hex(") || StartsWithNoCase(data, "str(")) {
      return ParseTyped(data, number, lines, out);
    }
    Issue(number, "unknown value type '" + Cut(data, 24) + "'");
    return false;
  }

  // Up to eight hex digits, stored as four little-endian bytes.
  bool ParseDword(std::string_view digits, std::size_t number, ParsedValue& out) {
    const auto number32 = digits.size() <= 8 ? ParseHex(digits, 0xFFFFFFFFu) : std::nullopt;
    if (!number32) {
      Issue(number, "bad dword '" + Cut(digits, 24) + "'");
      return false;
    }
    out.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8) {
      out.data.push_back(static_cast<std::byte>((*number32 >> shift) & 0xFF));
    }
    return true;
  }

  // "hex(N):" with a hex list or Wine's "str(N):" with a string, N the type.
  bool ParseTyped(std::string_view data, std::size_t number, LineReader& lines, ParsedValue& out) {
    const bool isHex = StartsWithNoCase(data, "hex(");
    const std::size_t close = data.find(')');
    const auto type = close == std::string_view::npos
                          ? std::nullopt
                          : ParseHex(data.substr(4, close - 4), 0xFFFFFFFFu);
    if (!type || close + 1 >= data.size() || data[close + 1] != ':') {
      Issue(number, "bad value type '" + Cut(data.substr(0, close + 1), 24) + "'");
      return false;
    }
    out.type = static_cast<std::uint32_t>(*type);
    const std::string_view rest = data.substr(close + 2);
    if (!isHex) {
      if (rest.empty() || rest[0] != '"') {
        Issue(number, "expected '\"' after '" + Cut(data.substr(0, close + 2), 24) + "'");
        return false;
      }
      return ParseString(rest, number, out);
    }
    if (!ParseHexList(rest, number, lines, out.data)) return false;
    if (format_ == RegTextFormat::Regedit4 &&
        (out.type == REG_EXPAND_SZ || out.type == REG_MULTI_SZ)) {
      // REGEDIT4 holds these as 8-bit text; the store keeps UTF-16LE.
      out.data = Utf8ToUtf16Le(EightBitToUtf8(AsChars(out.data)));
    }
    return true;
  }

  // A quoted string starting at data[0]; stored as UTF-16LE with a NUL unit.
  bool ParseString(std::string_view data, std::size_t number, ParsedValue& out) {
    std::size_t pos = 1;
    std::u16string units;
    if (!ReadEscaped(data, pos, '"', escapes_, units)) {
      Issue(number, "unterminated string");
      return false;
    }
    if (!Trim(data.substr(pos)).empty()) {
      Issue(number, "unexpected text '" + Cut(Trim(data.substr(pos)), 24) + "' after the string");
      return false;
    }
    out.data = UnitsToStringValue(units);
    return true;
  }

  // Comma-separated hex bytes of one line; false and `error` set on a bad byte.
  static bool AppendHexBytes(std::string_view segment, std::vector<std::byte>& out,
                             std::string& error) {
    if (segment.empty()) return true;
    std::size_t pos = 0;
    while (pos <= segment.size()) {
      const std::size_t comma = std::min(segment.find(',', pos), segment.size());
      const std::string_view token = Trim(segment.substr(pos, comma - pos));
      if (token.empty()) {
        // Only the last item may be empty: a trailing comma.
        if (comma != segment.size()) {
          error = "empty hex byte";
          return false;
        }
      } else {
        const auto byte = token.size() <= 2 ? ParseHex(token, 0xFF) : std::nullopt;
        if (!byte) {
          error = "bad hex byte '" + Cut(token, 16) + "'";
          return false;
        }
        out.push_back(static_cast<std::byte>(*byte));
      }
      pos = comma + 1;
    }
    return true;
  }

  // The line that continues a hex list whose line `segmentLine` ended with
  // "\". nullopt at the end of the file or before a key or value line, which
  // is left to be read; an issue then, unless the value has failed already.
  std::optional<std::string_view> Continuation(LineReader& lines, std::size_t segmentLine,
                                               bool failed) {
    std::string_view next;
    if (!lines.Next(next)) {
      if (!failed) Issue(segmentLine, "hex list continued past the end of the file");
      return std::nullopt;
    }
    next = Trim(next);
    if (next.empty() || next[0] == '[' || next[0] == '"' || next[0] == '@') {
      lines.Unread();
      if (!failed) Issue(segmentLine, "hex list ends with '\\' but no continuation line follows");
      return std::nullopt;
    }
    return next;
  }

  // A hex list beginning with `segment`, continued on following lines while
  // a line ends with "\". The whole value is dropped on any error; its
  // continuation lines are still consumed so that they are not misread.
  bool ParseHexList(std::string_view segment, std::size_t number, LineReader& lines,
                    std::vector<std::byte>& out) {
    std::size_t textSize = 0;
    std::size_t segmentLine = number;
    bool failed = false;
    for (;;) {
      segment = Trim(segment);
      const bool more = !segment.empty() && segment.back() == '\\';
      if (more) segment = Trim(segment.substr(0, segment.size() - 1));
      textSize += segment.size();
      if (!failed && textSize > kMaxHexText) {
        Issue(number, "value longer than 64 MiB");
        failed = true;
      }
      std::string error;
      if (!failed && !AppendHexBytes(segment, out, error)) {
        Issue(segmentLine, std::move(error));
        failed = true;
      }
      if (!more) break;
      const auto next = Continuation(lines, segmentLine, failed);
      if (!next) {
        failed = true;
        break;
      }
      segment = *next;
      segmentLine = lines.number();
    }
    if (failed) {
      out = {};
      return false;
    }
    return true;
  }

  RegTextFormat format_;
  Escapes escapes_;
  MemoryStore& store_;
  const RegTextKeyMap& map_;
  RegTextResult& result_;
  std::optional<Store::Node> current_;
  bool seenKey_ = false;
  std::size_t dropped_ = 0;
  std::size_t lastDroppedLine_ = 0;
};

// ---------------------------------------------------------------------------
// Writing.

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

std::string EscapeQuoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  for (const char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// The text of a REG_SZ value when writing it as "..." reads back the same
// bytes: one NUL unit at the end and nowhere else, no line breaks, surrogates
// paired.
std::optional<std::string> PlainString(std::span<const std::byte> data) {
  if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  const std::size_t count = data.size() / 2;
  auto unit = [&](std::size_t i) {
    return static_cast<char16_t>(std::to_integer<unsigned>(data[2 * i]) |
                                 (std::to_integer<unsigned>(data[2 * i + 1]) << 8));
  };
  if (unit(count - 1) != 0) return std::nullopt;
  for (std::size_t i = 0; i + 1 < count; ++i) {
    const char16_t u = unit(i);
    if (u == 0 || u == u'\r' || u == u'\n') return std::nullopt;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 2 >= count || unit(i + 1) < 0xDC00 || unit(i + 1) > 0xDFFF) return std::nullopt;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return std::nullopt;
    }
  }
  return Utf16LeToUtf8(data);
}

// `lead` then the bytes as "xx,xx", lines kept within 80 columns by "\"
// continuations indented by two blanks.
void AppendHexList(std::string& out, std::string line, std::span<const std::byte> data) {
  bool fresh = false;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const bool last = i + 1 == data.size();
    char token[4];
    std::snprintf(token, sizeof token, last ? "%02x" : "%02x,", std::to_integer<unsigned>(data[i]));
    const std::size_t tokenSize = last ? 2 : 3;
    if (!fresh && line.size() + tokenSize + (last ? 0 : 1) > kWrapColumn) {
      out += line;
      out += "\\\r\n";
      line = "  ";
      fresh = true;
    }
    line.append(token, tokenSize);
    fresh = false;
  }
  out += line;
  out += "\r\n";
}

void AppendValue(std::string& out, const MemoryStore::NamedValue& value) {
  if (HasLineBreak(value.name)) return;
  std::string lead =
      value.name.empty() ? "@=" : "\"" + EscapeQuoted(SanitizeUtf8(value.name)) + "\"=";
  const auto& data = value.value.data;
  const std::uint32_t type = value.value.type;
  if (type == REG_SZ) {
    if (const auto text = PlainString(data)) {
      out += lead + "\"" + EscapeQuoted(*text) + "\"\r\n";
      return;
    }
  }
  if (type == REG_DWORD && data.size() == 4) {
    char text[16];
    const unsigned number =
        std::to_integer<unsigned>(data[0]) | (std::to_integer<unsigned>(data[1]) << 8) |
        (std::to_integer<unsigned>(data[2]) << 16) | (std::to_integer<unsigned>(data[3]) << 24);
    std::snprintf(text, sizeof text, "dword:%08x", number);
    out += lead + text + "\r\n";
    return;
  }
  if (type == REG_BINARY) {
    lead += "hex:";
  } else {
    char text[16];
    std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(type));
    lead += text;
  }
  AppendHexList(out, std::move(lead), data);
}

// ---------------------------------------------------------------------------
// Atomic file replacement, one small helper per system call.

std::string ErrnoText(int error) { return std::generic_category().message(error); }

#ifdef _WIN32

int OpenNew(const fs::path& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1u << 30));
    const int written = _write(fd, bytes.data(), chunk);
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool SyncFile(int fd) { return _commit(fd) == 0; }
bool CloseFile(int fd) { return _close(fd) == 0; }
void RemoveFile(const fs::path& path) { _wremove(path.c_str()); }
unsigned long ProcessId() { return GetCurrentProcessId(); }

bool ReplaceFile(const fs::path& from, const fs::path& to, std::string& reason) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  reason = std::system_category().message(static_cast<int>(GetLastError()));
  return false;
}

void KeepModeOf(const fs::path&, int) {}
void SyncFolder(const fs::path&) {}

#else

int OpenNew(const fs::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool SyncFile(int fd) { return ::fsync(fd) == 0; }
bool CloseFile(int fd) { return ::close(fd) == 0; }
void RemoveFile(const fs::path& path) { ::unlink(path.c_str()); }
unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

bool ReplaceFile(const fs::path& from, const fs::path& to, std::string& reason) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  reason = ErrnoText(errno);
  return false;
}

// The new file gets the permissions of the one it replaces.
void KeepModeOf(const fs::path& old, int fd) {
  struct stat info;
  if (::stat(old.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::fchmod(fd, info.st_mode & 07777);
}

// Makes the rename itself durable.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

#endif

}  // namespace

RegTextResult ParseRegistryText(std::span<const std::byte> bytes, MemoryStore& store,
                                const RegTextKeyMap& map) {
  RegTextResult result;
  const DecodedText decoded = DecodeText(bytes);
  LineReader lines(decoded.text);
  const auto first = FirstLine(lines);
  if (!first) {
    result.error = bytes.empty() ? "not a registry file: it is empty"
                                 : "not a registry file: it holds only blank lines";
    return result;
  }
  const auto format = HeaderFormat(*first);
  if (!format) {
    result.error = "not a registry file: its first line is \"" + Cut(*first, 60) + "\"";
    return result;
  }
  result.ok = true;
  result.format = *format;
  Parser(*format, store, map, result).Run(lines);
  return result;
}

RegTextResult LoadRegistryTextFile(const std::filesystem::path& file, MemoryStore& store,
                                   const RegTextKeyMap& map) {
  RegTextResult result;
  const std::string name = file.string();
  // A file that shrank while being read is parsed as far as it went.
  std::vector<std::byte> bytes;
  std::string error;
  if (!ReadRegularFile(file, kMaxFileSize, bytes, error)) {
    result.error = name + ": " + error;
    return result;
  }
  result = ParseRegistryText(bytes, store, map);
  if (!result.ok) result.error = name + ": " + result.error;
  return result;
}

bool LooksLikeRegistryText(std::span<const std::byte> bytes) {
  std::size_t size = std::min(bytes.size(), kSniffBytes);
  const DecodedText decoded = DecodeText(bytes.first(size));
  LineReader lines(decoded.text);
  const auto first = FirstLine(lines);
  return first && HeaderFormat(*first).has_value();
}

std::string WriteRegistryText(const MemoryStore& store, Store::Node node, std::string_view prefix) {
  std::string out(kHeaderRegedit5);
  out += "\r\n\r\n";
  struct Pending {
    Store::Node node;
    std::string path;
  };
  std::vector<Pending> pending{{node, std::string(prefix)}};
  while (!pending.empty()) {
    Pending item = std::move(pending.back());
    pending.pop_back();
    const auto& children = store.ChildrenOf(item.node);
    const auto& values = store.ValuesOf(item.node);
    if (!values.empty() || children.empty()) {
      out += '[';
      out += item.path;
      out += "]\r\n";
      for (const auto& value : values) AppendValue(out, value);
      out += "\r\n";
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      const std::string& name = store.NameOf(*it);
      if (HasLineBreak(name)) continue;
      const std::string clean = SanitizeUtf8(name);
      pending.push_back({*it, item.path.empty() ? clean : item.path + "\\" + clean});
    }
  }
  return out;
}

bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         std::string& error) {
  static std::atomic<unsigned> counter{0};
  const std::string name = file.string();
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const std::string base = file.filename().string();
  if (base.empty()) {
    error = name + ": not a file name";
    return false;
  }
  fs::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder / ("." + base + ".tmp-" + std::to_string(ProcessId()) + "-" +
                     std::to_string(counter.fetch_add(1)));
    fd = OpenNew(temp);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error =
        name + ": cannot create a temporary file in " + folder.string() + ": " + ErrnoText(errno);
    return false;
  }
  KeepModeOf(file, fd);
  const bool written = WriteAll(fd, bytes) && SyncFile(fd);
  const int writeError = errno;
  const bool closed = CloseFile(fd);
  if (!written || !closed) {
    error =
        name + ": cannot write " + temp.string() + ": " + ErrnoText(written ? errno : writeError);
    RemoveFile(temp);
    return false;
  }
  std::string reason;
  if (!ReplaceFile(temp, file, reason)) {
    error = name + ": cannot replace it: " + reason;
    RemoveFile(temp);
    return false;
  }
  SyncFolder(folder);
  return true;
}

}  // namespace orbel::platform
