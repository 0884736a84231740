#include "registry/RegIniFile.h"

#include <vector>

#include "platform/base/Text.h"
#include "registry/PatchedRegistry.h"

namespace orbel {
namespace {

using platform::HKey;
using platform::kSuccess;

[[noreturn]] void Raise(std::string_view templ, std::string_view name) {
  std::string message(templ);
  const std::size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, name);
  throw ERegistryException(message);
}

// Closes a section key when the operation on it ends, also by an exception.
class SectionKey {
 public:
  SectionKey(platform::RegistryApi& api, HKey key) : api_(api), key_(key) {}
  ~SectionKey() { api_.CloseKey(key_); }
  SectionKey(const SectionKey&) = delete;
  SectionKey& operator=(const SectionKey&) = delete;

 private:
  platform::RegistryApi& api_;
  HKey key_;
};

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!hex) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Settings text as a number: a leading "0x" stands for "$", blanks may come
// first, then an optional sign and a decimal number or "$" and a hexadecimal
// one. Nothing when the text does not convert or is out of range.
std::optional<std::int32_t> ParseSettingsNumber(std::string_view text) {
  std::string s(text);
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.replace(0, 2, "$");
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const bool hex = i < s.size() && s[i] == '$';
  if (hex) ++i;
  if (i == s.size()) return std::nullopt;
  // A hexadecimal number may use all 32 bits; a decimal one must fit the sign.
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  const std::uint64_t base = hex ? 16 : 10;
  std::uint64_t magnitude = 0;
  for (; i < s.size(); ++i) {
    const int digit = DigitValue(s[i], hex);
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * base + static_cast<std::uint64_t>(digit);
    if (magnitude > limit) return std::nullopt;
  }
  std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  return static_cast<std::int32_t>(bits);
}

}  // namespace

TRegIniFile::TRegIniFile(platform::RegistryApi& api, const std::string& keyPath)
    : api_(api), keyPath_(keyPath) {
  HKey key{};
  if (api_.CreateKey(platform::HKeyCurrentUser, keyPath_, platform::KEY_ALL_ACCESS, key) ==
      kSuccess) {
    programKey_ = key;
  }
}

TRegIniFile::~TRegIniFile() {
  if (programKey_) api_.CloseKey(programKey_);
}

HKey TRegIniFile::SectionParent() const {
  return programKey_ ? programKey_ : platform::HKeyCurrentUser;
}

bool TRegIniFile::OpenSection(const std::string& section, HKey& key) {
  const HKey parent = SectionParent();
  return api_.OpenKey(parent, section, platform::KEY_ALL_ACCESS, key) == kSuccess ||
         api_.OpenKey(parent, section, platform::KEY_READ, key) == kSuccess;
}

std::optional<std::string> TRegIniFile::ReadValueText(const std::string& section,
                                                      const std::string& ident) {
  HKey key{};
  if (!OpenSection(section, key)) return std::nullopt;
  const SectionKey closer(api_, key);
  std::uint32_t type = platform::REG_NONE;
  std::uint32_t size = 0;
  const platform::Status info = api_.QueryValue(key, ident, &type, nullptr, &size);
  if (info == platform::kFileNotFound) return std::nullopt;
  // A value that is there but cannot be looked at is a failed read, not a missing one.
  if (info != kSuccess) Raise("Failed to get data for '%s'", ident);
  if (size == 0) return std::string();
  if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) {
    Raise("Invalid data type for '%s'", ident);
  }
  std::vector<std::byte> buffer(size);
  platform::Status status = api_.QueryValue(key, ident, &type, buffer.data(), &size);
  if (status == platform::kMoreData) {
    buffer.resize(size);
    status = api_.QueryValue(key, ident, &type, buffer.data(), &size);
  }
  if (status != kSuccess) Raise("Failed to get data for '%s'", ident);
  if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) {
    Raise("Invalid data type for '%s'", ident);
  }
  buffer.resize(size);
  return platform::Utf16LeToUtf8(buffer);
}

std::string TRegIniFile::ReadText(const std::string& section, const std::string& ident,
                                  const std::string& defaultText) {
  return ReadValueText(section, ident).value_or(defaultText);
}

std::int32_t TRegIniFile::ReadNumber(const std::string& section, const std::string& ident,
                                     std::int32_t defaultNumber) {
  const auto text = ReadValueText(section, ident);
  if (!text) return defaultNumber;
  return ParseSettingsNumber(*text).value_or(defaultNumber);
}

bool TRegIniFile::ReadFlag(const std::string& section, const std::string& ident, bool defaultFlag) {
  return ReadNumber(section, ident, defaultFlag ? 1 : 0) != 0;
}

void TRegIniFile::WriteText(const std::string& section, const std::string& ident,
                            const std::string& text) {
  HKey created{};
  if (api_.CreateKey(SectionParent(), section, platform::KEY_ALL_ACCESS, created) != kSuccess) {
    Raise("Failed to create key %s", section);
  }
  api_.CloseKey(created);
  HKey key{};
  if (!OpenSection(section, key)) return;
  const SectionKey closer(api_, key);
  const auto data = platform::Utf16LeStringValue(text);
  if (api_.SetValue(key, ident, platform::REG_SZ, data) != kSuccess) {
    Raise("Failed to set data for '%s'", ident);
  }
}

void TRegIniFile::WriteNumber(const std::string& section, const std::string& ident,
                              std::int32_t number) {
  WriteText(section, ident, std::to_string(number));
}

void TRegIniFile::WriteFlag(const std::string& section, const std::string& ident, bool flag) {
  WriteText(section, ident, flag ? "1" : "0");
}

}  // namespace orbel
