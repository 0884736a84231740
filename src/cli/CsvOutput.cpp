#include "cli/CsvOutput.h"

#include <string>

namespace orbel {
namespace {

// A field quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace

void PrintCsv(CatalogueReading& reading, std::ostream& out) {
  out << "kind,GUID,name,lastWrite";
  for (int row = 1; row <= kFixedRowCount; ++row) {
    out << ',' << CsvField(AttributeName(AttributeIndexAtRow(row)));
  }
  out << "\r\n";
  TCOLESettings& catalogue = reading.Catalogue();
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    const COLEObject& entry = *catalogue.EntryAt(i);
    out << entry.Kind << ',' << CsvField(entry.RegistrySettings->Guid) << ','
        << CsvField(entry.DisplayName) << ','
        << IsoTime(entry.RegistrySettings->LastWriteTime).value_or("");
    for (int row = 1; row <= kFixedRowCount; ++row) {
      out << ',' << CsvField(entry.GetValue(AttributeIndexAtRow(row)));
    }
    out << "\r\n";
  }
}

}  // namespace orbel
