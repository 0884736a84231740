#include "platform/formats/RegTextSections.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "platform/formats/RegTextEncoding.h"
#include "platform/formats/RegTextEscapes.h"
#include "platform/formats/RegTextValues.h"

namespace orbel::platform::regtext {
namespace {

// Seconds from 1601-01-01 (FILETIME's origin) to 1970-01-01.
constexpr std::uint64_t kEpochDifference = 11644473600ull;
constexpr std::uint64_t kTicksPerSecond = 10000000ull;

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

class SectionReader {
 public:
  SectionReader(RegTextFormat format, MemoryStore& store, const RegTextKeyMap& map,
                RegTextResult& result)
      : format_(format),
        store_(store),
        map_(map),
        result_(result),
        issues_(result.issues),
        values_(format, issues_) {}

  void Run(LineReader& lines) {
    // A key costs far more memory than the bytes that name it: a file may
    // make one for every 16 of its bytes (a real one makes one for every
    // line), so that a file of short nested names cannot take the memory
    // of a hundred times its size.
    keyBudget_ = store_.Slots() + std::max<std::size_t>(lines.size() / 16, 4096);
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
        issues_.Add(number, "unrecognised line '" + Cut(line, 40) + "'");
      }
    }
    result_.skippedLines = issues_.Total();
    issues_.Finish();
  }

 private:
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
        issues_.Add(number, "key name without closing ']'");
        return std::nullopt;
      }
      name.path = NormalizePath(UnitsToUtf8(units));
      name.rest = Trim(line.substr(pos));
    } else {
      // Regedit names are not escaped and may hold ']': the last one closes.
      const std::size_t close = line.rfind(']');
      if (close == std::string_view::npos || close < pos) {
        issues_.Add(number, "key name without closing ']'");
        return std::nullopt;
      }
      name.path = NormalizePath(line.substr(pos, close - pos));
      name.rest = Trim(line.substr(close + 1));
    }
    if (name.path.empty()) {
      issues_.Add(number, "empty key name");
      return std::nullopt;
    }
    return name;
  }

  // The time stamp Wine writes after a key name; other text there is an issue.
  std::optional<FileTime> KeyTime(std::string_view rest, bool remove, std::size_t number) {
    if (rest.empty()) return std::nullopt;
    if (format_ != RegTextFormat::Wine2 || remove) {
      issues_.Add(number, "unexpected text '" + Cut(rest, 24) + "' after the key name");
      return std::nullopt;
    }
    const auto time = SecondsToFileTime(rest);
    if (!time) issues_.Add(number, "bad time '" + Cut(rest, 24) + "' after the key name");
    return time;
  }

  void KeyLine(std::string_view line, std::size_t number) {
    seenKey_ = true;
    current_.reset();
    const bool remove = line.size() > 1 && line[1] == '-';
    const auto name = ReadKeyName(line, remove ? 2 : 1, number);
    if (!name) return;
    const std::optional<FileTime> time = KeyTime(name->rest, remove, number);
    if (const char* why = BeyondLimits(name->path)) {
      issues_.Add(number, why);
      return;
    }
    const std::optional<std::string> mapped = map_ ? map_(name->path) : std::optional(name->path);
    if (!mapped) return;
    if (remove) {
      if (const auto node = store_.Find(*mapped)) store_.RemoveKey(*node);
      return;
    }
    if (store_.Slots() >= keyBudget_ && !store_.Find(*mapped)) {
      issues_.Add(number, "more keys than a file of this size can name; the key is skipped");
      return;
    }
    const Store::Node node = store_.EnsurePath(*mapped);
    current_ = node;
    ++result_.keys;
    if (time) store_.SetLastWrite(node, *time);
  }

  // Why a key path is no registry's: deeper than the 512 levels Windows
  // allows, or a name longer than its 255 characters (counted in code
  // points, never more than the UTF-16 units). Such keys cost memory by
  // their depth and are not read; nullptr for a path within the limits.
  static const char* BeyondLimits(std::string_view path) {
    constexpr std::size_t kMaxDepth = 512, kMaxName = 255;
    std::size_t depth = 1, name = 0;
    for (const char c : path) {
      if (c == '\\') {
        ++depth;
        name = 0;
      } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
        ++name;
      }
      if (depth > kMaxDepth) return "key path deeper than the 512 levels a registry holds";
      if (name > kMaxName) return "key name longer than the 255 characters a registry allows";
    }
    return nullptr;
  }

  // Wine's "#name=value" lines after a key; only "#time=" matters here.
  void OptionLine(std::string_view line, std::size_t number) {
    constexpr std::string_view kTime = "#time=";
    if (!line.starts_with(kTime) || !current_) return;
    const auto stamp = ParseHex(Trim(line.substr(kTime.size())), ~std::uint64_t{0});
    if (!stamp) {
      issues_.Add(number, "bad time stamp '" + Cut(line.substr(kTime.size()), 24) + "'");
      return;
    }
    store_.SetLastWrite(*current_, *stamp);
  }

  void ValueLine(std::string_view line, LineReader& lines) {
    const std::size_t number = lines.number();
    const std::optional<ParsedValue> value = values_.Read(line, lines);
    if (!value) return;
    if (!current_) {
      // Values of skipped, removed or malformed keys go quietly with their key.
      if (!seenKey_) issues_.Add(number, "value outside a key");
      return;
    }
    if (value->remove) {
      store_.RemoveValue(*current_, value->name);
      return;
    }
    store_.Put(*current_, value->name, value->type, value->data);
    ++result_.values;
  }

  RegTextFormat format_;
  MemoryStore& store_;
  const RegTextKeyMap& map_;
  RegTextResult& result_;
  IssueLog issues_;
  ValueReader values_;
  std::optional<Store::Node> current_;
  std::size_t keyBudget_ = 0;
  bool seenKey_ = false;
};

}  // namespace

void ReadSections(RegTextFormat format, LineReader& lines, MemoryStore& store,
                  const RegTextKeyMap& map, RegTextResult& result) {
  SectionReader(format, store, map, result).Run(lines);
}

}  // namespace orbel::platform::regtext
