#include "platform/formats/RegTextLines.h"

#include "platform/base/Text.h"

namespace orbel::platform::regtext {
namespace {

constexpr std::size_t kMaxIssues = 1000;

}  // namespace

std::optional<std::string_view> FirstLine(LineReader& lines) {
  std::string_view line;
  while (lines.Next(line)) {
    line = Trim(line);
    if (!line.empty()) return line;
  }
  return std::nullopt;
}

std::optional<RegTextFormat> HeaderFormat(std::string_view line) {
  if (line == kHeaderRegedit4) return RegTextFormat::Regedit4;
  if (line == kHeaderRegedit5) return RegTextFormat::Regedit5;
  if (line == kHeaderWine2) return RegTextFormat::Wine2;
  return std::nullopt;
}

void IssueLog::Add(std::size_t line, std::string message) {
  if (issues_.size() < kMaxIssues) {
    issues_.push_back({line, std::move(message)});
  } else {
    ++dropped_;
    lastDroppedLine_ = line;
  }
}

void IssueLog::Finish() {
  if (dropped_ > 0)
    issues_.push_back({lastDroppedLine_, std::to_string(dropped_) + " more issues"});
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && AsciiUpper(s.substr(0, prefix.size())) == AsciiUpper(prefix);
}

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

}  // namespace orbel::platform::regtext
