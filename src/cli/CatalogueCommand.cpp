#include "cli/CatalogueCommand.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "catalogue/COLESettingsUnit.h"
#include "catalogue/PlainControls.h"
#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

using json = nlohmann::ordered_json;

constexpr int kFixedImages = 17;

const char* const kHelpFooter =
    "SOURCE is read as the Connect command reads another computer: the path of a Wine\n"
    "prefix, a Windows folder, a SOFTWARE or classes hive (UsrClass.dat) or a .reg file.\n"
    "Without SOURCE this computer is read: ORBEL_REGISTRY if set, else the Wine prefix\n"
    "($WINEPREFIX or ~/.wine), else the sample registry.\n\n"
    "Exit status: 0 done (an empty catalogue included), 1 the source cannot be read,\n"
    "2 a usage error.";

// No boxes on a terminal: questions are answered No, messages are kept.
class QuietScreen : public Screen {
 public:
  QuietScreen() : previous_(CurrentScreen()) { SetScreen(this); }
  ~QuietScreen() override { SetScreen(previous_); }
  bool ShowMessage(MessageKind, const std::string&, const std::string&) override { return false; }
  void SetCursorBusy(bool) override {}
  void ProcessPendingEvents() override {}
  std::vector<std::string> FontFamilies() override { return {}; }
  void OpenWithShell(const std::string&) override {}

 private:
  Screen* previous_;
};

class NoIcons : public IconExtractor {
 public:
  platform::ExtractedIcon Extract(const std::string&, std::int32_t) override { return {}; }
};

const char* StatusName(TReadStatus status) {
  switch (status) {
    case ReadInterrupted: return "interrupted";
    case ReadDenied: return "denied";
    default: return "complete";
  }
}

std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

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
  return {entry.RegistrySettings->OtherSubkeyNames[k], entry.RegistrySettings->OtherSubkeyValues[k]};
}

}  // namespace

int RunCatalogueCommand(int argc, const char* const* argv, platform::RegistryApi& registry,
                        std::ostream& out, std::ostream& err) {
  CLI::App app{"Lists the COM classes registered in a registry.", "orbel-catalogue"};
  app.footer(kHelpFooter);
  // A source may be a path beginning with "/", on every system.
  app.allow_windows_style_options(false);
  std::optional<std::string> source;
  bool asJson = false, summaryOnly = false, matchCase = false, wholeValue = false;
  std::optional<std::string> findText;
  app.add_option("SOURCE", source, "the registry to read instead of this computer's");
  auto* jsonFlag = app.add_flag("--json", asJson,
                                "JSON Lines: one object per entry in catalogue order, then the summary");
  auto* summaryFlag = app.add_flag("--summary", summaryOnly, "the summary of the reading only");
  auto* findOption =
      app.add_option("--find", findText, "list the entries whose values contain TEXT, with the row");
  auto* caseFlag = app.add_flag("--match-case", matchCase, "with --find: letters must match in case");
  auto* wholeFlag = app.add_flag("--whole-value", wholeValue, "with --find: a whole value must equal TEXT");
  jsonFlag->excludes(summaryFlag)->excludes(findOption);
  summaryFlag->excludes(findOption);
  caseFlag->needs(findOption);
  wholeFlag->needs(findOption);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "orbel-catalogue: " << e.what() << "\nRun with --help for usage.\n";
    return 2;
  }

  QuietScreen screen;
  PlainTree tree;
  PlainProgress progress;
  PlainList list;
  PlainImages small(kFixedImages), large(kFixedImages);
  const bool showProgress = isatty(STDERR_FILENO) && !asJson;
  int lastPercent = -1;
  progress.onStep = [&](int position, int maximum) {
    const int percent = maximum > 0 ? position * 100 / maximum : 0;
    if (!showProgress || percent == lastPercent) return;
    lastPercent = percent;
    err << "\rReading class keys: " << std::min(position, maximum) << " of " << maximum << std::flush;
  };
  CatalogueWindows windows{&registry, &progress, &tree, &list, &small, &large, nullptr,
                           [](platform::RegistryApi&, platform::HKey) {
                             return std::make_shared<NoIcons>();
                           }};
  TCOLESettings catalogue(windows);
  if (source) catalogue.RequestedComputer = *source;
  catalogue.LoadCatalogue();
  if (showProgress && lastPercent >= 0) err << "\r\033[K" << std::flush;

  if (catalogue.ViewedComputer.empty() || !catalogue.ReadProblem.empty()) {
    std::string why = catalogue.ReadProblem;
    if (why.empty()) why = "the registry cannot be read";
    err << "orbel-catalogue: " << why << "\n";
    return 1;
  }

  if (asJson) {
    for (int i = 0; i < catalogue.EntryCount(); ++i) {
      COLEObject& entry = *catalogue.EntryAt(i);
      entry.HideUnknown = false;
      entry.ValueList = &list;
      entry.FillValueList();
      json rows = json::array();
      for (const auto& row : list.rows) rows.push_back({row.caption, row.value});
      out << Dump({{"guid", entry.RegistrySettings->Guid},
                   {"name", entry.DisplayName},
                   {"kind", entry.Kind},
                   {"rows", std::move(rows)}})
          << "\n";
    }
    json errors = json::array();
    for (const auto& error : catalogue.ReadErrors) {
      errors.push_back({{"key", error.key}, {"message", error.message}});
    }
    out << Dump({{"summary",
                  {{"computer", catalogue.ViewedComputer},
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
                     {"2048", catalogue.OtherCount}}},
                   {"errors", std::move(errors)},
                   {"notice", catalogue.Notice}}}})
        << "\n";
    return 0;
  }

  if (findText) {
    ForEachInTreeOrder(tree, [&](COLEObject& entry) {
      if (!entry.Find(*findText, matchCase, wholeValue)) return;
      const auto [name, value] = FoundRow(entry);
      out << entry.RegistrySettings->Guid << '\t' << entry.DisplayName << '\t' << name << '\t'
          << value << '\n';
    });
    return 0;
  }

  out << catalogue.InformationText();
  for (const auto& error : catalogue.ReadErrors) {
    out << "Not read: " << error.key << ": " << error.message << "\n";
  }
  if (summaryOnly) return 0;
  out << "\n";
  ForEachInTreeOrder(tree, [&](COLEObject& entry) {
    out << entry.KindName << '\t' << entry.RegistrySettings->Guid << '\t' << entry.DisplayName
        << '\n';
  });
  return 0;
}

}  // namespace orbel
