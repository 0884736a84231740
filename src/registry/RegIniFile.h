// The settings store: a key below HKEY_CURRENT_USER presented as a sectioned
// settings file. A section is a subkey of the program key, an ident a value
// name in it, and every value is stored as REG_SZ text. Nothing is cached:
// every read goes to the registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/api/RegistryApi.h"

namespace orbel {

class TRegIniFile {
 public:
  // Opens `keyPath` below HKEY_CURRENT_USER with full access, creating every
  // missing key; failure is not reported (the store then has no open key and
  // sections live directly below HKEY_CURRENT_USER).
  TRegIniFile(platform::RegistryApi& api, const std::string& keyPath);
  // Closes the program key.
  ~TRegIniFile();
  TRegIniFile(const TRegIniFile&) = delete;
  TRegIniFile& operator=(const TRegIniFile&) = delete;

  // The text of a REG_SZ or REG_EXPAND_SZ value up to its first NUL; the
  // default when the section or the ident is missing, empty for a value of
  // size 0. Another type raises ERegistryException "Invalid data type for
  // '<ident>'", a value that cannot be read "Failed to get data for '<ident>'".
  std::string ReadText(const std::string& section, const std::string& ident,
                       const std::string& defaultText);
  // Creates the section when missing ("Failed to create key <section>") and
  // stores the text as REG_SZ with its terminator ("Failed to set data for
  // '<ident>'").
  void WriteText(const std::string& section, const std::string& ident, const std::string& text);

  // The text read as ReadText does, as a signed decimal number or, after "$"
  // (or a leading "0x"), a hexadecimal one; blanks before it are allowed. A
  // hexadecimal number is the 32-bit pattern ("$FFFFFFFF" is -1). Text that
  // does not convert, or is out of range, gives the default.
  std::int32_t ReadNumber(const std::string& section, const std::string& ident,
                          std::int32_t defaultNumber);
  // Stores the decimal text of the number.
  void WriteNumber(const std::string& section, const std::string& ident, std::int32_t number);

  // ReadNumber with the default 1 or 0: true exactly when the number is not 0.
  bool ReadFlag(const std::string& section, const std::string& ident, bool defaultFlag);
  // Stores "1" or "0".
  void WriteFlag(const std::string& section, const std::string& ident, bool flag);

  // The open program key, or no key when it could not be opened.
  platform::HKey ProgramKey() const { return programKey_; }
  const std::string& KeyPath() const { return keyPath_; }

 private:
  // The key that sections are subkeys of.
  platform::HKey SectionParent() const;
  // Opens a section with full access, else with read access; never creates it.
  bool OpenSection(const std::string& section, platform::HKey& key);
  // The value's text; nothing when the section or the ident is missing.
  std::optional<std::string> ReadValueText(const std::string& section, const std::string& ident);

  platform::RegistryApi& api_;
  std::string keyPath_;
  platform::HKey programKey_{};
};

}  // namespace orbel
