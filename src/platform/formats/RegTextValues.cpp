#include "platform/formats/RegTextValues.h"

#include "platform/base/Text.h"
#include "platform/formats/RegTextEncoding.h"

namespace orbel::platform::regtext {
namespace {

constexpr std::size_t kMaxHexText = std::size_t{64} << 20;

// Comma-separated hex bytes of one line; false and `error` set on a bad byte.
bool AppendHexBytes(std::string_view segment, std::vector<std::byte>& out, std::string& error) {
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

}  // namespace

ValueReader::ValueReader(RegTextFormat format, IssueLog& issues)
    : format_(format),
      escapes_(format == RegTextFormat::Wine2 ? Escapes::Wine : Escapes::Regedit),
      issues_(issues) {}

std::optional<ParsedValue> ValueReader::Read(std::string_view line, LineReader& lines) {
  const std::size_t number = lines.number();
  std::size_t pos = 1;
  ParsedValue value;
  if (line[0] == '"') {
    std::u16string units;
    if (!ReadEscaped(line, pos, '"', escapes_, units)) {
      issues_.Add(number, "unterminated value name");
      return std::nullopt;
    }
    value.name = UnitsToUtf8(units);
  }
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos >= line.size() || line[pos] != '=') {
    issues_.Add(number, "expected '=' after the value name");
    return std::nullopt;
  }
  ++pos;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (!ParseData(line.substr(pos), number, lines, value)) return std::nullopt;
  return value;
}

// The data after "=": "-", a string, dword:, hex: or hex(N): / str(N):.
bool ValueReader::ParseData(std::string_view data, std::size_t number, LineReader& lines,
                            ParsedValue& out) {
  if (data == "-") {
    out.remove = true;
    return true;
  }
  if (data.empty()) {
    issues_.Add(number, "missing value data");
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
  issues_.Add(number, "unknown value type '" + Cut(data, 24) + "'");
  return false;
}

// Up to eight hex digits, stored as four little-endian bytes.
bool ValueReader::ParseDword(std::string_view digits, std::size_t number, ParsedValue& out) {
  const auto number32 = digits.size() <= 8 ? ParseHex(digits, 0xFFFFFFFFu) : std::nullopt;
  if (!number32) {
    issues_.Add(number, "bad dword '" + Cut(digits, 24) + "'");
    return false;
  }
  out.type = REG_DWORD;
  for (int shift = 0; shift < 32; shift += 8) {
    out.data.push_back(static_cast<std::byte>((*number32 >> shift) & 0xFF));
  }
  return true;
}

// "hex(N):" with a hex list or Wine's "str(N):" with a string, N the type.
bool ValueReader::ParseTyped(std::string_view data, std::size_t number, LineReader& lines,
                             ParsedValue& out) {
  const bool isHex = StartsWithNoCase(data, "hex(");
  const std::size_t close = data.find(')');
  const auto type = close == std::string_view::npos
                        ? std::nullopt
                        : ParseHex(data.substr(4, close - 4), 0xFFFFFFFFu);
  if (!type || close + 1 >= data.size() || data[close + 1] != ':') {
    issues_.Add(number, "bad value type '" + Cut(data.substr(0, close + 1), 24) + "'");
    return false;
  }
  out.type = static_cast<std::uint32_t>(*type);
  const std::string_view rest = data.substr(close + 2);
  if (!isHex) {
    if (rest.empty() || rest[0] != '"') {
      issues_.Add(number, "expected '\"' after '" + Cut(data.substr(0, close + 2), 24) + "'");
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
bool ValueReader::ParseString(std::string_view data, std::size_t number, ParsedValue& out) {
  std::size_t pos = 1;
  std::u16string units;
  if (!ReadEscaped(data, pos, '"', escapes_, units)) {
    issues_.Add(number, "unterminated string");
    return false;
  }
  if (!Trim(data.substr(pos)).empty()) {
    issues_.Add(number,
                "unexpected text '" + Cut(Trim(data.substr(pos)), 24) + "' after the string");
    return false;
  }
  out.data = UnitsToStringValue(units);
  return true;
}

// The line that continues a hex list whose line `segmentLine` ended with
// "\". nullopt at the end of the file or before a key or value line, which
// is left to be read; an issue then, unless the value has failed already.
std::optional<std::string_view> ValueReader::Continuation(LineReader& lines,
                                                          std::size_t segmentLine, bool failed) {
  std::string_view next;
  if (!lines.Next(next)) {
    if (!failed) issues_.Add(segmentLine, "hex list continued past the end of the file");
    return std::nullopt;
  }
  next = Trim(next);
  if (next.empty() || next[0] == '[' || next[0] == '"' || next[0] == '@') {
    lines.Unread();
    if (!failed)
      issues_.Add(segmentLine, "hex list ends with '\\' but no continuation line follows");
    return std::nullopt;
  }
  return next;
}

// A hex list beginning with `segment`, continued on following lines while
// a line ends with "\". The whole value is dropped on any error; its
// continuation lines are still consumed so that they are not misread.
bool ValueReader::ParseHexList(std::string_view segment, std::size_t number, LineReader& lines,
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
      issues_.Add(number, "value longer than 64 MiB");
      failed = true;
    }
    std::string error;
    if (!failed && !AppendHexBytes(segment, out, error)) {
      issues_.Add(segmentLine, std::move(error));
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

}  // namespace orbel::platform::regtext
