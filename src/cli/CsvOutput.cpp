#include "cli/CsvOutput.h"

#include <string>
#include <string_view>

#include "cli/UserView.h"
#include "platform/base/Text.h"

namespace orbel {
namespace {

// A field quoted when it holds a comma, a quote or a line break. A text a
// spreadsheet would take for a formula (one that begins with =, +, -, @, a
// tab or a carriage return) is quoted too, behind a single quote, so that
// the cell shows it as text.
std::string CsvField(std::string_view text) {
  const bool formula =
      !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  if (!formula && text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = formula ? "\"'" : "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// The fixed rows "Name" and "GUID" repeat the leading columns name and GUID
// (the display name and the class's GUID): a header names each column once.
bool RepeatsALeadingColumn(int row) {
  const std::string name = AttributeName(AttributeIndexAtRow(row));
  return platform::EqualsNoCase(name, "Name") || platform::EqualsNoCase(name, "GUID");
}

}  // namespace

void PrintCsv(const std::vector<ViewedReading>& readings, const ReadingViews& views,
              std::ostream& out) {
  out << "kind,GUID,name,lastWrite";
  for (int row = 1; row <= kFixedRowCount; ++row) {
    if (RepeatsALeadingColumn(row)) continue;
    out << ',' << CsvField(AttributeName(AttributeIndexAtRow(row)));
  }
  out << ",view,treatAs,scope\r\n";
  for (const auto& [view, reading] : readings) {
    TCOLESettings& catalogue = reading->Catalogue();
    for (int i = 0; i < catalogue.EntryCount(); ++i) {
      const COLEObject& entry = *catalogue.EntryAt(i);
      out << entry.Kind << ',' << CsvField(entry.RegistrySettings->Guid) << ','
          << CsvField(entry.DisplayName) << ','
          << IsoTime(entry.RegistrySettings->LastWriteTime).value_or("");
      for (int row = 1; row <= kFixedRowCount; ++row) {
        if (RepeatsALeadingColumn(row)) continue;
        out << ',' << CsvField(entry.GetValue(AttributeIndexAtRow(row)));
      }
      out << ',' << view << ',' << CsvField(entry.RegistrySettings->TreatAs);
      std::string scope = "machine";
      if (views.user) {
        json fields;
        views.user->AddFields(entry, RowsOf(entry), view, fields);
        scope = fields["scope"].get<std::string>();
      }
      out << ',' << scope << "\r\n";
    }
  }
}

}  // namespace orbel
