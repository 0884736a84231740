#include "catalogue/EntryRows.h"

#include "model/COLEObjectRegistrySettingsUnit.h"

namespace orbel {

Rows RowsOf(const COLEObject& entry) {
  Rows rows;
  const auto& record = *entry.RegistrySettings;
  rows.reserve(kFixedRowCount + record.OtherSubkeyNames.size());
  for (int row = 1; row <= kFixedRowCount; ++row) {
    const int index = AttributeIndexAtRow(row);
    rows.emplace_back(AttributeName(index), entry.GetValue(index));
  }
  for (std::size_t k = 0; k < record.OtherSubkeyNames.size(); ++k) {
    rows.emplace_back(record.OtherSubkeyNames[k], record.OtherSubkeyValues[k]);
  }
  return rows;
}

const std::string& RowValue(const Rows& rows, std::string_view name) {
  static const std::string unknown = kUnknown;
  for (const auto& [row, value] : rows) {
    if (row == name) return value;
  }
  return unknown;
}

}  // namespace orbel
