#include "cli/TextListing.h"

#include <string>
#include <utility>

#include "cli/DeletedView.h"
#include "cli/FileCheck.h"
#include "cli/FindingsView.h"
#include "cli/TerminalText.h"
#include "cli/UserView.h"

namespace orbel {
namespace {

// The entries in tree order: category by category, sorted within each.
template <typename Visit>
void ForEachInTreeOrder(const PlainTree& tree, Visit visit) {
  for (TreeNode node = tree.First(); node; node = tree.Next(node)) {
    if (tree.Level(node) == 2 && tree.Data(node)) visit(*tree.Data(node));
  }
}

// The name and value of the row a search found.
std::pair<std::string, std::string> FoundRow(const COLEObject& entry) {
  if (entry.FoundIndex <= kFixedRowCount) {
    const int index = AttributeIndexAtRow(entry.FoundIndex);
    return {AttributeName(index), entry.GetValue(index)};
  }
  const auto k = static_cast<std::size_t>(entry.FoundIndex - 24);
  return {entry.RegistrySettings->OtherSubkeyNames[k],
          entry.RegistrySettings->OtherSubkeyValues[k]};
}

// One line per entry (with its scope in a user view), each followed by its
// missing files.
std::string Listing(CatalogueReading& reading, const CatalogueOptions& options,
                    const ReadingViews& views) {
  std::string listing;
  ForEachInTreeOrder(reading.Tree(), [&](COLEObject& entry) {
    const Rows rows = RowsOf(entry);
    EntryExtras extras = ExtrasOf(entry, rows, views);
    if (options.missingOnly && extras.missingFiles == 0) return;
    if (options.findings && extras.findings == 0) return;
    listing.append(entry.KindName());
    listing +=
        '\t' + TerminalText(entry.RegistrySettings->Guid) + '\t' + TerminalText(entry.DisplayName);
    if (views.user) listing += '\t' + extras.fields["scope"].get<std::string>();
    if (views.deleted) {
      views.deleted->AppendMarker(entry, listing);
    } else {
      listing += '\n';
    }
    if (extras.fields.contains("files")) FileCheck::ListMissing(extras.fields["files"], listing);
    if (extras.fields.contains("findings")) FindingsView::List(extras.fields["findings"], listing);
  });
  return listing;
}

}  // namespace

void PrintText(CatalogueReading& reading, const CatalogueOptions& options,
               const ReadingViews& views, std::ostream& out) {
  TCOLESettings& catalogue = reading.Catalogue();
  // The summary alone needs the entries only for what it counts of them.
  const bool perEntry = !options.summaryOnly || views.user || views.files || views.findings;
  const std::string listing = perEntry ? Listing(reading, options, views) : std::string();
  // The notice that may end the summary names a file of the source.
  std::string information = catalogue.InformationText();
  if (const std::string& notice = catalogue.Notice;
      !notice.empty() && information.ends_with(notice + "\n")) {
    information.replace(information.size() - notice.size() - 1, notice.size(),
                        TerminalText(notice));
  }
  out << information;
  if (views.user) views.user->PrintSummary(out);
  if (views.files) views.files->PrintSummary(out);
  if (views.findings) views.findings->PrintSummary(out);
  if (views.deleted) views.deleted->PrintSummary(out);
  for (const auto& error : ReadErrors(catalogue, views)) {
    out << "Not read: " << (error.contains("side") ? error["side"].get<std::string>() + ": " : "")
        << TerminalText(error["key"].get<std::string>()) << ": "
        << TerminalText(error["message"].get<std::string>()) << "\n";
  }
  if (options.summaryOnly) return;
  out << "\n" << listing;
}

void PrintFound(CatalogueReading& reading, const CatalogueOptions& options, std::ostream& out) {
  ForEachInTreeOrder(reading.Tree(), [&](COLEObject& entry) {
    if (!entry.Find(*options.findText, options.matchCase, options.wholeValue)) return;
    const auto [name, value] = FoundRow(entry);
    out << TerminalText(entry.RegistrySettings->Guid) << '\t' << TerminalText(entry.DisplayName)
        << '\t' << TerminalText(name) << '\t' << TerminalText(value) << '\n';
  });
}

}  // namespace orbel
