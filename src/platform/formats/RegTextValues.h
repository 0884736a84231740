// Value lines of registry text files: the value's name and its data, a
// string, dword:, hex: or hex(N): (over continuation lines) or Wine's str(N):.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/formats/RegText.h"
#include "platform/formats/RegTextEscapes.h"
#include "platform/formats/RegTextLines.h"

namespace orbel::platform::regtext {

struct ParsedValue {
  std::string name;  // empty for the default value "@"
  bool remove = false;
  std::uint32_t type = REG_NONE;
  std::vector<std::byte> data;
};

class ValueReader {
 public:
  ValueReader(RegTextFormat format, IssueLog& issues);

  // The value of `line`, the line `lines` read last (trimmed, beginning with
  // '"' or '@'); continuation lines of a hex list are read from `lines`.
  // nullopt and an issue when the line is malformed.
  std::optional<ParsedValue> Read(std::string_view line, LineReader& lines);

 private:
  bool ParseData(std::string_view data, std::size_t number, LineReader& lines, ParsedValue& out);
  bool ParseDword(std::string_view digits, std::size_t number, ParsedValue& out);
  bool ParseTyped(std::string_view data, std::size_t number, LineReader& lines, ParsedValue& out);
  bool ParseString(std::string_view data, std::size_t number, ParsedValue& out);
  std::optional<std::string_view> Continuation(LineReader& lines, std::size_t segmentLine,
                                               bool failed);
  bool ParseHexList(std::string_view segment, std::size_t number, LineReader& lines,
                    std::vector<std::byte>& out);

  RegTextFormat format_;
  Escapes escapes_;
  IssueLog& issues_;
};

}  // namespace orbel::platform::regtext
