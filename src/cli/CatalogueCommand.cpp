#include "cli/CatalogueCommand.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CatalogueOptions.h"
#include "cli/CatalogueReading.h"
#include "cli/CsvOutput.h"
#include "cli/DeletedView.h"
#include "cli/DiffView.h"
#include "cli/ErrorReport.h"
#include "cli/FileCheck.h"
#include "cli/FindingsView.h"
#include "cli/JsonOutput.h"
#include "cli/RecoveredHive.h"
#include "cli/TestCommand.h"
#include "cli/TextListing.h"
#include "cli/TimelineOutput.h"
#include "cli/UserView.h"
#include "platform/computer/LocalImage.h"
#include "platform/images/RegistryImage.h"
#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

bool keepReadings = false;

// Keeps `readings` reachable until the process ends, when asked to.
void KeepOrFree(std::vector<std::unique_ptr<CatalogueReading>>& readings) {
  if (!keepReadings) return;
  static auto* kept = new std::vector<std::unique_ptr<CatalogueReading>>;
  for (auto& reading : readings) kept->push_back(std::move(reading));
}

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

// --deleted: the recovered classes read as a machine of their own.
int RunDeleted(const CatalogueOptions& options, std::ostream& out, std::ostream& err) {
  int status = 0;
  const auto deleted = DeletedView::Open(options, err, status);
  if (!deleted) return status;
  CatalogueReading reading(deleted->Registry(), *options.source, ProgressStream(options, err));
  if (const std::string why = reading.Problem(); !why.empty()) return ReportFailure(err, why);
  const ReadingViews views{nullptr, nullptr, deleted.get()};
  if (options.asJson) {
    PrintJson({{"64", &reading}}, options, views, out);
  } else if (options.findText) {
    PrintFound(reading, options, out);
  } else {
    PrintText(reading, options, views, out);
  }
  return 0;
}

int Run(const CatalogueOptions& options, platform::RegistryApi& registry, std::ostream& out,
        std::ostream& err) {
  QuietScreen screen;
  platform::SetSystemImageOptions(
      {options.noLogs ? platform::HiveLogs::Ignore : platform::HiveLogs::Apply});
  if (options.recoveredHive) return RunRecoveredHive(options, out, err);
  if (options.listUsers) return ListUsers(options, out, err);
  if (options.other) return RunDiff(options, registry, out, err);
  if (options.testGuid && (options.userName || options.userClasses)) {
    // The object is created by this computer's own registrations, never by
    // those of a user's file.
    return ReportUsage(err,
                       "--test creates objects from this computer's own registry; it cannot "
                       "test a class of --user-classes or --user");
  }
  if (options.deleted) return RunDeleted(options, out, err);
  std::unique_ptr<UserView> view;
  if (options.userName || options.userClasses) {
    int status = 0;
    view = UserView::Open(options, registry, err, status);
    if (!view) return status;
  }

  // Each view's class list is read on its own; with a user view the machine
  // is read alone too, to tell what the user overrides.
  const std::string computer = options.source.value_or("");
  std::vector<std::string> viewNames;
  if (options.view != "32") viewNames.push_back("64");
  if (options.view != "64") viewNames.push_back("32");
  std::vector<std::unique_ptr<CatalogueReading>> kept;
  std::vector<ViewedReading> readings;
  for (const std::string& name : viewNames) {
    const char* classList = ClassListOf(name);
    std::unique_ptr<CatalogueReading> machine;
    if (view) {
      machine = std::make_unique<CatalogueReading>(registry, computer, ProgressStream(options, err),
                                                   classList);
      if (const std::string why = machine->Problem(); !why.empty()) return ReportFailure(err, why);
    }
    auto reading = std::make_unique<CatalogueReading>(view ? view->Registry() : registry, computer,
                                                      ProgressStream(options, err), classList);
    if (const std::string why = reading->Problem(); !why.empty()) return ReportFailure(err, why);
    if (options.testGuid) return RunTestCommand(reading->Catalogue(), *options.testGuid, out, err);
    if (view) view->SetMachineReading(name, std::move(machine));
    readings.push_back({name, reading.get()});
    kept.push_back(std::move(reading));
  }

  std::optional<FileCheck> files;
  if (options.checkFiles) {
    files.emplace(registry, options.source, view ? view->Profile() : UserProfile{});
  }
  std::optional<FindingsView> findings;
  if (options.findings) {
    findings.emplace();
    for (const auto& [name, reading] : readings) findings->SetReading(name, reading->Catalogue());
  }
  ReadingViews views{view.get(), files ? &*files : nullptr};
  views.findings = findings ? &*findings : nullptr;
  if (options.timeline || options.bodyfile) {
    return PrintTimeline(readings, views, registry, computer,
                         options.bodyfile ? TimelineForm::Body : TimelineForm::Jsonl, out, err);
  }
  if (options.asCsv) {
    // CSV has no summary to carry the errors: they go to the standard error.
    PrintCsv(readings, views, out);
    return ReportReadErrors(ErrorsOfReadings(readings, views), err);
  }
  if (options.asJson) {
    PrintJson(readings, options, views, out);
  } else {
    // The text forms list each view on its own, the 32-bit one under a heading
    // when both are read.
    for (const auto& [name, reading] : readings) {
      if (readings.size() > 1 && name == "32") out << "\n32-bit view (Wow6432Node)\n";
      ReadingViews viewed = views;
      viewed.view = name;
      if (options.findText) {
        PrintFound(*reading, options, out);
      } else {
        PrintText(*reading, options, viewed, out);
      }
    }
  }
  KeepOrFree(kept);
  return 0;
}

}  // namespace

void KeepReadingsUntilExit() { keepReadings = true; }

int RunCatalogueCommand(int argc, const char* const* argv, platform::RegistryApi& registry,
                        std::ostream& out, std::ostream& err) {
  int status = 0;
  const auto options = ParseCatalogueOptions(argc, argv, out, err, status);
  if (!options) return status;
  return Run(*options, registry, out, err);
}

}  // namespace orbel
