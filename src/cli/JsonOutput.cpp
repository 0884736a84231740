#include "cli/JsonOutput.h"

#include "cli/DeletedView.h"
#include "cli/FileCheck.h"
#include "cli/UserView.h"

namespace orbel {
namespace {

const char* StatusName(TReadStatus status) {
  switch (status) {
    case ReadInterrupted:
      return "interrupted";
    case ReadDenied:
      return "denied";
    default:
      return "complete";
  }
}

json Summary(const TCOLESettings& catalogue, const ReadingViews& views) {
  json summary = {{"computer", catalogue.ViewedComputer},
                  {"status", StatusName(catalogue.ReadStatus)},
                  {"classKeys", catalogue.ClassKeyCount},
                  {"entries", catalogue.EntriesRead},
                  {"notRead", catalogue.NotReadCount},
                  {"counts",
                   {{"1", catalogue.ControlCount},
                    {"2", catalogue.EmbeddableCount},
                    {"4", catalogue.AutomationCount},
                    {"8", catalogue.ShellExtensionCount},
                    {"16", catalogue.DocumentCount},
                    {"2048", catalogue.OtherCount}}}};
  if (views.user) views.user->AddSummary(summary);
  if (views.files) views.files->AddSummary(summary);
  if (views.deleted) views.deleted->AddSummary(summary);
  summary["errors"] = ReadErrors(catalogue, views);
  summary["notice"] = catalogue.Notice;
  return summary;
}

}  // namespace

void PrintJson(CatalogueReading& reading, const CatalogueOptions& options,
               const ReadingViews& views, std::ostream& out) {
  TCOLESettings& catalogue = reading.Catalogue();
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    const COLEObject& entry = *catalogue.EntryAt(i);
    const Rows rows = RowsOf(entry);
    EntryExtras extras = ExtrasOf(entry, rows, views);
    if (options.summaryOnly || (options.missingOnly && extras.missingFiles == 0)) continue;
    json rowList = json::array();
    for (const auto& [name, value] : rows) rowList.push_back({name, value});
    json line = {{"guid", entry.RegistrySettings->Guid},
                 {"name", entry.DisplayName},
                 {"kind", entry.Kind},
                 {"rows", std::move(rowList)}};
    line.update(extras.fields);
    out << Dump(line) << "\n";
  }
  out << Dump({{"summary", Summary(catalogue, views)}}) << "\n";
}

}  // namespace orbel
