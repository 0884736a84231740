// Fixed English help texts for the attribute names of the attribute list.
#pragma once

#include <string>
#include <string_view>

namespace orbel {

class CItemDescription {
 public:
  // Number of named rows in the help-text table.
  static constexpr int kEntryCount = 24;

  // The help text of the attribute of that name: the first table row whose name is equal
  // (whole, case-sensitive), else a fixed fallback text.
  std::string GetDescription(std::string_view name) const;

  // The attribute name of the table row at position 1..kEntryCount; empty outside.
  static std::string_view NameAt(int position);
};

}  // namespace orbel
