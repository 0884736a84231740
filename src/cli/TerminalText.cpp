#include "cli/TerminalText.h"

#include "platform/base/Text.h"

namespace orbel {
namespace {

void AppendEscape(std::string& out, const char* prefix, unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += prefix;
  out += kDigits[(value >> 4) & 0xF];
  out += kDigits[value & 0xF];
}

}  // namespace

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    char32_t cp = 0;
    if (!platform::DecodeUtf8(text, pos, cp)) {
      AppendEscape(out, "\\x", static_cast<unsigned char>(text[start]));
    } else if (cp < 0x20 || cp == 0x7F) {
      AppendEscape(out, "\\x", static_cast<unsigned>(cp));
    } else if (cp >= 0x80 && cp <= 0x9F) {
      AppendEscape(out, "\\u00", static_cast<unsigned>(cp));
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
  return out;
}

}  // namespace orbel
