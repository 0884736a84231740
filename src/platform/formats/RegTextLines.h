// The lines of a registry text file: reading them one by one, the header
// line, the log of malformed lines, and the text scanning the readers share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/formats/RegText.h"

namespace orbel::platform::regtext {

inline constexpr std::string_view kHeaderRegedit4 = "REGEDIT4";
inline constexpr std::string_view kHeaderRegedit5 = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kHeaderWine2 = "WINE REGISTRY Version 2";

class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  // The length of the whole text.
  std::size_t size() const { return text_.size(); }

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
std::optional<std::string_view> FirstLine(LineReader& lines);

// The format a header line names; nullopt when it is no header line.
std::optional<RegTextFormat> HeaderFormat(std::string_view line);

// The issues of malformed lines, in file order: the first thousand are kept,
// the rest only counted.
class IssueLog {
 public:
  explicit IssueLog(std::vector<RegTextIssue>& issues) : issues_(issues) {}

  void Add(std::size_t line, std::string message);

  // Adds one "N more issues" entry for those past the limit, if any.
  void Finish();
  // Every issue added, kept or not.
  std::size_t Total() const { return issues_.size() + dropped_; }

 private:
  std::vector<RegTextIssue>& issues_;
  std::size_t dropped_ = 0;
  std::size_t lastDroppedLine_ = 0;
};

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix);

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hexadecimal number no greater than `max`; nullopt when empty, not hex or too big.
std::optional<std::uint64_t> ParseHex(std::string_view digits, std::uint64_t max);

// Text for a message: at most `maxChars` characters, control characters shown as '?'.
std::string Cut(std::string_view text, std::size_t maxChars);

}  // namespace orbel::platform::regtext
