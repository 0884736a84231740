#include "cli/JsonOutput.h"

#include "cli/DeletedView.h"
#include "cli/ErrorReport.h"
#include "cli/FileCheck.h"
#include "cli/FindingsView.h"
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

// The classes of one reading by kind, the figures the summary adds up.
json CountsOf(const TCOLESettings& catalogue) {
  return {{"classKeys", catalogue.ClassKeyCount},
          {"entries", catalogue.EntriesRead},
          {"notRead", catalogue.NotReadCount},
          {"counts",
           {{"1", catalogue.ControlCount},
            {"2", catalogue.EmbeddableCount},
            {"4", catalogue.AutomationCount},
            {"8", catalogue.ShellExtensionCount},
            {"16", catalogue.DocumentCount},
            {"2048", catalogue.OtherCount}}}};
}

// The summary of the views read: their figures added up, then each view's
// own under "views"; the status is the worst of theirs.
json Summary(const std::vector<ViewedReading>& readings, const ReadingViews& views) {
  const TCOLESettings& first = readings.front().reading->Catalogue();
  json summary = {{"computer", first.ViewedComputer}, {"status", "complete"}};
  json total = CountsOf(first);
  TReadStatus status = ReadComplete;
  json perView = json::object();
  for (const auto& [view, reading] : readings) {
    const TCOLESettings& catalogue = reading->Catalogue();
    // Interrupted outweighs denied, which outweighs complete.
    const auto weight = [](TReadStatus s) {
      return s == ReadInterrupted ? 2 : s == ReadDenied ? 1 : 0;
    };
    if (weight(catalogue.ReadStatus) > weight(status)) status = catalogue.ReadStatus;
    json counts = CountsOf(catalogue);
    if (&catalogue != &first) {
      for (const char* figure : {"classKeys", "entries", "notRead"}) {
        total[figure] = total[figure].get<int>() + counts[figure].get<int>();
      }
      for (auto& [kind, count] : total["counts"].items()) {
        count = count.get<int>() + counts["counts"][kind].get<int>();
      }
    }
    if (views.user) views.user->AddViewSummary(view, counts);
    perView[view] = std::move(counts);
  }
  summary["status"] = StatusName(status);
  summary.update(total);
  summary["views"] = std::move(perView);
  if (views.user) views.user->AddSummary(summary);
  if (views.files) views.files->AddSummary(summary);
  if (views.findings) views.findings->AddSummary(summary);
  if (views.deleted) views.deleted->AddSummary(summary);
  summary["errors"] = ErrorsOfReadings(readings, views);
  summary["notice"] = first.Notice;
  // null when the source is no hive file.
  if (!summary.contains("recovery")) {
    summary["recovery"] = first.Recovery ? RecoveryJson(*first.Recovery) : json(nullptr);
  }
  return summary;
}

}  // namespace

json RecoveryJson(const platform::LogRecovery& recovery) {
  json rejected = json::array();
  for (const auto& r : recovery.rejected) {
    rejected.push_back({{"log", r.log}, {"entry", r.entry}, {"why", r.why}});
  }
  json summary = {{"applied", recovery.applied},
                  {"lastSequence", nullptr},
                  {"logs", recovery.logs},
                  {"rejected", std::move(rejected)}};
  if (recovery.lastSequence) summary["lastSequence"] = *recovery.lastSequence;
  return summary;
}

void PrintJson(const std::vector<ViewedReading>& readings, const CatalogueOptions& options,
               const ReadingViews& views, std::ostream& out) {
  for (const auto& [view, reading] : readings) {
    ReadingViews viewed = views;
    viewed.view = view;
    TCOLESettings& catalogue = reading->Catalogue();
    for (int i = 0; i < catalogue.EntryCount(); ++i) {
      const COLEObject& entry = *catalogue.EntryAt(i);
      const Rows rows = RowsOf(entry);
      EntryExtras extras = ExtrasOf(entry, rows, viewed);
      if (options.summaryOnly || (options.missingOnly && extras.missingFiles == 0) ||
          (options.findings && extras.findings == 0)) {
        continue;
      }
      json rowList = json::array();
      for (const auto& [name, value] : rows) rowList.push_back({name, value});
      json line = {{"guid", entry.RegistrySettings->Guid},
                   {"name", entry.DisplayName},
                   {"kind", entry.Kind},
                   {"rows", std::move(rowList)}};
      line.update(extras.fields);
      out << Dump(line) << "\n";
    }
  }
  out << Dump({{"summary", Summary(readings, views)}}) << "\n";
}

}  // namespace orbel
