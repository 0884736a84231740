#include "cli/TextListing.h"

#include <string>
#include <utility>

#include "cli/DeletedView.h"
#include "cli/FileCheck.h"
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
    listing += entry.KindName + '\t' + entry.RegistrySettings->Guid + '\t' + entry.DisplayName;
    if (views.user) listing += '\t' + extras.fields["scope"].get<std::string>();
    if (views.deleted) {
      views.deleted->AppendMarker(entry, listing);
    } else {
      listing += '\n';
    }
    if (extras.fields.contains("files")) FileCheck::ListMissing(extras.fields["files"], listing);
  });
  return listing;
}

}  // namespace

void PrintText(CatalogueReading& reading, const CatalogueOptions& options,
               const ReadingViews& views, std::ostream& out) {
  TCOLESettings& catalogue = reading.Catalogue();
  // The summary alone needs the entries only for what it counts of them.
  const bool perEntry = !options.summaryOnly || views.user || views.files;
  const std::string listing = perEntry ? Listing(reading, options, views) : std::string();
  out << catalogue.InformationText();
  if (views.user) views.user->PrintSummary(out);
  if (views.files) views.files->PrintSummary(out);
  if (views.deleted) views.deleted->PrintSummary(out);
  for (const auto& error : ReadErrors(catalogue, views)) {
    out << "Not read: " << (error.contains("side") ? error["side"].get<std::string>() + ": " : "")
        << error["key"].get<std::string>() << ": " << error["message"].get<std::string>() << "\n";
  }
  if (options.summaryOnly) return;
  out << "\n" << listing;
}

void PrintFound(CatalogueReading& reading, const CatalogueOptions& options, std::ostream& out) {
  ForEachInTreeOrder(reading.Tree(), [&](COLEObject& entry) {
    if (!entry.Find(*options.findText, options.matchCase, options.wholeValue)) return;
    const auto [name, value] = FoundRow(entry);
    out << entry.RegistrySettings->Guid << '\t' << entry.DisplayName << '\t' << name << '\t'
        << value << '\n';
  });
}

}  // namespace orbel
