#include "cli/DiffView.h"

#include <optional>
#include <string>

#include "cli/CatalogueReading.h"
#include "cli/EntryExtras.h"

namespace orbel {
namespace {

json OptionalText(const std::optional<std::string>& text) {
  return text ? json(*text) : json(nullptr);
}

}  // namespace

int RunDiff(const CatalogueOptions& options, platform::RegistryApi& registry, std::ostream& out,
            std::ostream& err) {
  if (options.view == "both") {
    return ReportUsage(err, "--diff compares one class list: give --view 64 or --view 32");
  }
  const char* classList = ClassListOf(options.view);
  const std::string before = options.source.value_or("");
  CatalogueReading earlier(registry, before, ProgressStream(options, err), classList);
  if (const std::string why = earlier.Problem(); !why.empty()) return ReportFailure(err, why);
  CatalogueReading later(registry, *options.other, ProgressStream(options, err), classList);
  if (const std::string why = later.Problem(); !why.empty()) {
    return ReportFailure(err, "OTHER " + *options.other + " cannot be read: " + why);
  }
  int unchanged = 0;
  const auto changes = CompareCatalogues(earlier.Catalogue(), later.Catalogue(), unchanged);
  int counts[3] = {};
  for (const ClassChange& change : changes) {
    ++counts[change.kind];
    if (options.summaryOnly) continue;
    json rows = json::array();
    for (const auto& [name, was, is] : change.rows) {
      rows.push_back({name, OptionalText(was), OptionalText(is)});
    }
    static constexpr const char* kNames[] = {"added", "removed", "changed"};
    out << Dump({{"change", kNames[change.kind]},
                 {"guid", change.guid},
                 {"name", change.name},
                 {"rows", std::move(rows)}})
        << "\n";
  }
  json errors = ReadErrors(earlier.Catalogue(), "before");
  for (auto& error : ReadErrors(later.Catalogue(), "after")) errors.push_back(std::move(error));
  out << Dump({{"summary",
                {{"before", earlier.Catalogue().ViewedComputer},
                 {"after", later.Catalogue().ViewedComputer},
                 {"added", counts[ClassChange::Added]},
                 {"removed", counts[ClassChange::Removed]},
                 {"changed", counts[ClassChange::Changed]},
                 {"unchanged", unchanged},
                 {"errors", std::move(errors)}}}})
      << "\n";
  return 0;
}

}  // namespace orbel
