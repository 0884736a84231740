#include "cli/CatalogueCommand.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "cli/CatalogueReading.h"
#include "cli/TestCommand.h"
#include "cli/UserClasses.h"
#include "platform/api/ApiStore.h"
#include "platform/api/PortableRegistry.h"
#include "platform/base/Text.h"
#include "platform/images/RegisteredFiles.h"
#include "platform/images/RegistryImage.h"
#include "platform/store/OverlayStore.h"
#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

using json = nlohmann::ordered_json;

const char* const kHelpFooter =
    "SOURCE is read as the Connect command reads another computer: the path of a Wine\n"
    "prefix, a Windows folder, a SOFTWARE or classes hive (UsrClass.dat) or a .reg file.\n"
    "Without SOURCE this computer is read: ORBEL_REGISTRY if set, else the Wine prefix\n"
    "($WINEPREFIX or ~/.wine), else the sample registry. OTHER is read as SOURCE is.\n"
    "The output fields are described in the manual page orbel-catalogue(1).\n\n"
    "Exit status: 0 done (an empty catalogue included), 1 the source, OTHER or PATH cannot\n"
    "be read, 2 a usage error. With --test: 0 the object was created, 1 it was not.";

// The rows that name a file, checked with --check-files; the first six name
// servers and handlers.
constexpr const char* kFileRows[] = {
    "Control (16bit)", "Control", "Server (16bit)",           "Server",
    "Handler (16bit)", "Handler", "Development Icon (16bit)", "Development Icon",
    "Default Icon",
};
constexpr std::size_t kServerRows = 6;

const char* const kClassList = "Software\\Classes\\CLSID\\";

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

std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

json TimeOrNull(platform::FileTime time) {
  const auto text = IsoTime(time);
  return text ? json(*text) : json(nullptr);
}

json OptionalText(const std::optional<std::string>& text) {
  return text ? json(*text) : json(nullptr);
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
  return {entry.RegistrySettings->OtherSubkeyNames[k],
          entry.RegistrySettings->OtherSubkeyValues[k]};
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

const std::string& RowValue(const Rows& rows, std::string_view name) {
  static const std::string unknown = kUnknown;
  for (const auto& [row, value] : rows) {
    if (row == name) return value;
  }
  return unknown;
}

// What the options ask for.
struct Request {
  std::optional<std::string> source, findText, userClasses, userName, other, testGuid;
  bool asJson = false, summaryOnly = false, matchCase = false, wholeValue = false, asCsv = false,
       listUsers = false, checkFiles = false, missingOnly = false;
};

// The merged view of a user's classes over the machine's.
struct UserView {
  std::string user;  // the path or user name, for the summary
  std::vector<std::string> warnings;
  platform::HKey machineRoot = platform::HKeyLocalMachine;  // connected to SOURCE, or not
  std::unique_ptr<platform::ApiStore> machineStore;         // kept for the overlay
  std::shared_ptr<platform::OverlayStore> overlay;
  platform::PortableRegistry registry;
};

// What the companion adds to each entry besides its rows.
struct EntryExtras {
  json fields = json::object();
  int missingFiles = 0;
};

class Command {
 public:
  Command(const Request& request, platform::RegistryApi& registry, std::ostream& out,
          std::ostream& err)
      : request_(request), registry_(registry), out_(out), err_(err) {}
  ~Command() {
    if (!view_) return;
    const platform::HKey root = view_->machineRoot;
    view_.reset();
    if (root != platform::HKeyLocalMachine) registry_.CloseKey(root);
  }
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;

  int Run();

 private:
  std::ostream* Progress() const {
    return isatty(STDERR_FILENO) && !request_.asJson && !request_.asCsv ? &err_ : nullptr;
  }
  int Fail(const std::string& message) const {
    err_ << "orbel-catalogue: " << message << "\n";
    return 1;
  }
  int Usage(const std::string& message) const {
    err_ << "orbel-catalogue: " << message << "\nRun with --help for usage.\n";
    return 2;
  }
  int ListUsers();
  int Diff();
  // Sets up the merged view; an exit status when it cannot be.
  std::optional<int> OpenUserView();
  EntryExtras ExtrasOf(const COLEObject& entry, const Rows& rows);
  void PrintJson(CatalogueReading& reading);
  void PrintCsv(CatalogueReading& reading);
  void PrintText(CatalogueReading& reading);
  json Errors(const TCOLESettings& catalogue, const char* side) const;

  const Request& request_;
  platform::RegistryApi& registry_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<UserView> view_;
  std::unique_ptr<CatalogueReading> machine_;  // the machine alone, beside the merged view
  std::map<std::string, const COLEObject*> machineEntries_;  // its entries by GUID
  std::optional<platform::ImageFiles> files_;
  std::map<std::string, int> scopes_{{"machine", 0}, {"user", 0}, {"both", 0}};
  int missingFiles_ = 0;
  int entriesWithMissingFiles_ = 0;
};

int Command::ListUsers() {
  std::string error;
  const auto image = platform::OpenRegistryImage(*request_.source, error);
  if (!image) return Fail(error);
  if (image->kind != platform::ImageKind::WindowsFolder || !image->driveFolder) {
    return Usage("--users and --user need a SOURCE that is a Windows volume or Windows folder");
  }
  const auto users = UsersOfWindowsImage(*image->driveFolder);
  if (request_.listUsers) {
    for (const auto& [name, hive] : users) out_ << name << '\t' << hive.string() << '\n';
    return 0;
  }
  for (const auto& [name, hive] : users) {
    if (platform::EqualsNoCase(name, *request_.userName)) return -1;
  }
  std::string known;
  for (const auto& [name, hive] : users) known += (known.empty() ? "" : ", ") + name;
  return Fail("no user \"" + *request_.userName + "\" with classes in " + *request_.source +
              " (users found: " + (known.empty() ? "none" : known) + ")");
}

std::optional<int> Command::OpenUserView() {
  std::string path, label;
  if (request_.userName) {
    if (const int status = ListUsers(); status >= 0) return status;
    std::string error;
    const auto image = platform::OpenRegistryImage(*request_.source, error);
    for (const auto& [name, hive] : UsersOfWindowsImage(*image->driveFolder)) {
      if (platform::EqualsNoCase(name, *request_.userName)) path = hive.string();
    }
    label = *request_.userName;
  } else {
    path = label = *request_.userClasses;
  }
  std::string error;
  auto user = OpenUserClasses(path, error);
  if (!user) return Fail("the user's classes cannot be read: " + error);

  platform::HKey machineRoot = platform::HKeyLocalMachine;
  if (request_.source && registry_.ConnectRegistry(*request_.source, platform::HKeyLocalMachine,
                                                   machineRoot) != platform::kSuccess) {
    return Fail(registry_.LastConnectError().empty() ? *request_.source + ": cannot be read"
                                                     : registry_.LastConnectError());
  }
  view_ = std::make_unique<UserView>();
  view_->user = label;
  view_->machineRoot = machineRoot;
  view_->warnings = std::move(user->warnings);
  view_->machineStore = std::make_unique<platform::ApiStore>(registry_, machineRoot);
  // The overlay holds the machine's store without owning it: the view
  // goes before the machine's store does.
  std::shared_ptr<platform::Store> machine(view_->machineStore.get(), [](platform::Store*) {});
  view_->overlay =
      std::make_shared<platform::OverlayStore>(std::move(user->store), "user", machine, "machine");
  platform::Mount mount{view_->overlay, view_->overlay->RootNode(),
                        registry_.DriveFolderOf(machineRoot)};
  if (request_.source) {
    view_->registry.SetConnector(
        [mount](std::string_view, platform::HKey root, platform::Mount& out, std::string& why) {
          if (root != platform::HKeyLocalMachine) {
            why = "only HKEY_LOCAL_MACHINE is merged";
            return platform::kFileNotFound;
          }
          out = mount;
          return platform::kSuccess;
        });
  } else {
    view_->registry.MountRoot(platform::HKeyLocalMachine, mount);
  }
  return std::nullopt;
}

EntryExtras Command::ExtrasOf(const COLEObject& entry, const Rows& rows) {
  EntryExtras extras;
  extras.fields["lastWrite"] = TimeOrNull(entry.RegistrySettings->LastWriteTime);
  if (view_) {
    const auto sides = view_->overlay->SidesOf(kClassList + entry.RegistrySettings->Guid);
    const char* scope = sides.upper && sides.lower ? "both" : sides.upper ? "user" : "machine";
    ++scopes_[scope];
    extras.fields["scope"] = scope;
    if (sides.upper && sides.lower) {
      // The machine's own rows, from the reading of the machine alone.
      json overrides = json::array();
      if (const auto own = machineEntries_.find(entry.RegistrySettings->Guid);
          own != machineEntries_.end()) {
        const Rows machineRows = RowsOf(*own->second);
        for (const auto& [name, value] : rows) {
          // The key's stamp is no registered value; lastWrite carries it.
          if (name == "Last change") continue;
          const std::string& before = RowValue(machineRows, name);
          if (before != value) overrides.push_back({name, before, value});
        }
      }
      extras.fields["overrides"] = std::move(overrides);
    }
    json writable = json::array();
    if (sides.upper) {
      for (std::size_t i = 0; i < kServerRows; ++i) {
        const std::string& value = RowValue(rows, kFileRows[i]);
        if (value != kUnknown && platform::InUserWritableFolder(value))
          writable.push_back(kFileRows[i]);
      }
    }
    extras.fields["userWritable"] = std::move(writable);
  }
  if (request_.checkFiles) {
    json files = json::array();
    for (const char* row : kFileRows) {
      const std::string& value = RowValue(rows, row);
      if (value == kUnknown || value.empty()) continue;
      const auto state = platform::CheckRegisteredFile(value, files_);
      const char* name = state == platform::FileState::Present   ? "present"
                         : state == platform::FileState::Missing ? "missing"
                                                                 : "unresolved";
      if (state == platform::FileState::Missing) ++extras.missingFiles;
      files.push_back({{"row", row}, {"path", value}, {"state", name}});
    }
    extras.fields["files"] = std::move(files);
  }
  return extras;
}

json Command::Errors(const TCOLESettings& catalogue, const char* side) const {
  json errors = json::array();
  for (const auto& error : catalogue.ReadErrors) {
    json item = {{"key", error.key}, {"message", error.message}};
    if (side) {
      item["side"] = side;
    } else if (view_) {
      // The side whose damage stopped the class key, when the overlay saw it.
      for (const auto& damage : view_->overlay->Damages()) {
        if (platform::FoldCase(damage.key).find(platform::FoldCase("\\" + error.key)) !=
            std::string::npos) {
          item["side"] = damage.side;
          break;
        }
      }
    }
    errors.push_back(std::move(item));
  }
  if (view_ && !side) {
    for (const auto& damage : view_->overlay->Damages()) {
      errors.push_back({{"key", damage.key}, {"message", damage.message}, {"side", damage.side}});
    }
    for (const auto& warning : view_->warnings) {
      errors.push_back({{"key", ""}, {"message", warning}, {"side", "user"}});
    }
  }
  return errors;
}

void Command::PrintJson(CatalogueReading& reading) {
  TCOLESettings& catalogue = reading.Catalogue();
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    const COLEObject& entry = *catalogue.EntryAt(i);
    const Rows rows = RowsOf(entry);
    EntryExtras extras = ExtrasOf(entry, rows);
    missingFiles_ += extras.missingFiles;
    if (extras.missingFiles > 0) ++entriesWithMissingFiles_;
    if (request_.summaryOnly || (request_.missingOnly && extras.missingFiles == 0)) continue;
    json rowList = json::array();
    for (const auto& [name, value] : rows) rowList.push_back({name, value});
    json line = {{"guid", entry.RegistrySettings->Guid},
                 {"name", entry.DisplayName},
                 {"kind", entry.Kind},
                 {"rows", std::move(rowList)}};
    line.update(extras.fields);
    out_ << Dump(line) << "\n";
  }
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
  if (view_) {
    summary["user"] = view_->user;
    summary["scopes"] = {
        {"machine", scopes_["machine"]}, {"user", scopes_["user"]}, {"both", scopes_["both"]}};
  }
  if (request_.checkFiles) {
    summary["missingFiles"] = missingFiles_;
    summary["entriesWithMissingFiles"] = entriesWithMissingFiles_;
  }
  summary["errors"] = Errors(catalogue, nullptr);
  summary["notice"] = catalogue.Notice;
  out_ << Dump({{"summary", std::move(summary)}}) << "\n";
}

void Command::PrintCsv(CatalogueReading& reading) {
  out_ << "kind,GUID,name,lastWrite";
  for (int row = 1; row <= kFixedRowCount; ++row) {
    out_ << ',' << CsvField(AttributeName(AttributeIndexAtRow(row)));
  }
  out_ << "\r\n";
  TCOLESettings& catalogue = reading.Catalogue();
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    const COLEObject& entry = *catalogue.EntryAt(i);
    out_ << entry.Kind << ',' << CsvField(entry.RegistrySettings->Guid) << ','
         << CsvField(entry.DisplayName) << ','
         << IsoTime(entry.RegistrySettings->LastWriteTime).value_or("");
    for (int row = 1; row <= kFixedRowCount; ++row) {
      out_ << ',' << CsvField(entry.GetValue(AttributeIndexAtRow(row)));
    }
    out_ << "\r\n";
  }
}

void Command::PrintText(CatalogueReading& reading) {
  TCOLESettings& catalogue = reading.Catalogue();
  std::string listing;
  // The summary alone needs the entries only for what it counts of them.
  const bool perEntry = !request_.summaryOnly || view_ || request_.checkFiles;
  if (perEntry)
    ForEachInTreeOrder(reading.Tree(), [&](COLEObject& entry) {
      const Rows rows = RowsOf(entry);
      EntryExtras extras = ExtrasOf(entry, rows);
      missingFiles_ += extras.missingFiles;
      if (extras.missingFiles > 0) ++entriesWithMissingFiles_;
      if (request_.missingOnly && extras.missingFiles == 0) return;
      listing += entry.KindName + '\t' + entry.RegistrySettings->Guid + '\t' + entry.DisplayName;
      if (view_) listing += '\t' + extras.fields["scope"].get<std::string>();
      listing += '\n';
      if (extras.fields.contains("files")) {
        for (const auto& file : extras.fields["files"]) {
          if (file["state"] != "missing") continue;
          listing += "\tmissing\t" + file["row"].get<std::string>() + '\t' +
                     file["path"].get<std::string>() + '\n';
        }
      }
    });
  out_ << catalogue.InformationText();
  if (view_) {
    out_ << "\nUser classes: " << view_->user << "\n"
         << scopes_["machine"] << " machine only, " << scopes_["user"] << " user only, "
         << scopes_["both"] << " on both sides\n";
  }
  if (request_.checkFiles) {
    out_ << "\n"
         << missingFiles_ << " missing files in " << entriesWithMissingFiles_ << " objects\n";
  }
  for (const auto& error : Errors(catalogue, nullptr)) {
    out_ << "Not read: " << (error.contains("side") ? error["side"].get<std::string>() + ": " : "")
         << error["key"].get<std::string>() << ": " << error["message"].get<std::string>() << "\n";
  }
  if (request_.summaryOnly) return;
  out_ << "\n" << listing;
}

int Command::Diff() {
  const std::string before = request_.source.value_or("");
  CatalogueReading earlier(registry_, before, Progress());
  if (const std::string why = earlier.Problem(); !why.empty()) return Fail(why);
  CatalogueReading later(registry_, *request_.other, Progress());
  if (const std::string why = later.Problem(); !why.empty()) {
    return Fail("OTHER " + *request_.other + " cannot be read: " + why);
  }
  int unchanged = 0;
  const auto changes = CompareCatalogues(earlier.Catalogue(), later.Catalogue(), unchanged);
  int counts[3] = {};
  for (const ClassChange& change : changes) {
    ++counts[change.kind];
    if (request_.summaryOnly) continue;
    json rows = json::array();
    for (const auto& [name, was, is] : change.rows) {
      rows.push_back({name, OptionalText(was), OptionalText(is)});
    }
    static constexpr const char* kNames[] = {"added", "removed", "changed"};
    out_ << Dump({{"change", kNames[change.kind]},
                  {"guid", change.guid},
                  {"name", change.name},
                  {"rows", std::move(rows)}})
         << "\n";
  }
  json errors = Errors(earlier.Catalogue(), "before");
  for (auto& error : Errors(later.Catalogue(), "after")) errors.push_back(std::move(error));
  out_ << Dump({{"summary",
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

int Command::Run() {
  if ((request_.userName || request_.listUsers) && !request_.source) {
    return Usage("--users and --user need a SOURCE that is a Windows volume or Windows folder");
  }
  QuietScreen screen;
  if (request_.listUsers) return ListUsers();
  if (request_.other) return Diff();
  if (request_.userName || request_.userClasses) {
    if (const auto status = OpenUserView()) return *status;
  }

  const std::string computer = request_.source.value_or("");
  if (view_) machine_ = std::make_unique<CatalogueReading>(registry_, computer, Progress());
  CatalogueReading reading(view_ ? static_cast<platform::RegistryApi&>(view_->registry) : registry_,
                           computer, Progress());
  if (const std::string why = machine_ ? machine_->Problem() : reading.Problem(); !why.empty()) {
    return Fail(why);
  }
  if (const std::string why = reading.Problem(); !why.empty()) return Fail(why);
  if (request_.testGuid) return RunTestCommand(reading.Catalogue(), *request_.testGuid, out_, err_);
  if (machine_) {
    for (int i = 0; i < machine_->Catalogue().EntryCount(); ++i) {
      const COLEObject* entry = machine_->Catalogue().EntryAt(i);
      machineEntries_.emplace(entry->RegistrySettings->Guid, entry);
    }
  }

  if (request_.checkFiles) {
    platform::HKey root = platform::HKeyLocalMachine;
    bool connected = false;
    if (request_.source) {
      connected = registry_.ConnectRegistry(*request_.source, platform::HKeyLocalMachine, root) ==
                  platform::kSuccess;
    }
    if (!request_.source || connected) {
      if (const auto drive = registry_.DriveFolderOf(root); drive && !drive->empty()) {
        files_ = platform::ImageFilesOfDriveFolder(*drive);
      }
    }
    if (connected) registry_.CloseKey(root);
  }

  if (request_.asCsv) {
    PrintCsv(reading);
  } else if (request_.asJson) {
    PrintJson(reading);
  } else if (request_.findText) {
    ForEachInTreeOrder(reading.Tree(), [&](COLEObject& entry) {
      if (!entry.Find(*request_.findText, request_.matchCase, request_.wholeValue)) return;
      const auto [name, value] = FoundRow(entry);
      out_ << entry.RegistrySettings->Guid << '\t' << entry.DisplayName << '\t' << name << '\t'
           << value << '\n';
    });
  } else {
    PrintText(reading);
  }
  return 0;
}

}  // namespace

int RunCatalogueCommand(int argc, const char* const* argv, platform::RegistryApi& registry,
                        std::ostream& out, std::ostream& err) {
  CLI::App app{"Lists the COM classes registered in a registry.", "orbel-catalogue"};
  app.footer(kHelpFooter);
  // A source may be a path beginning with "/", on every system.
  app.allow_windows_style_options(false);
  Request r;
  app.add_option("SOURCE", r.source, "the registry to read instead of this computer's")
      ->type_name("SOURCE");

  // Output forms.
  auto* json = app.add_flag(
      "--json", r.asJson, "JSON Lines: one object per entry in catalogue order, then the summary");
  auto* csv = app.add_flag("--csv", r.asCsv, "CSV (RFC 4180): a header, then one row per entry");
  auto* summary = app.add_flag("--summary", r.summaryOnly, "the summary of the reading only");
  auto* find = app.add_option("--find", r.findText,
                              "list the entries whose values contain TEXT, with the row")
                   ->type_name("TEXT");
  auto* matchCase =
      app.add_flag("--match-case", r.matchCase, "with --find: letters must match in case");
  auto* wholeValue =
      app.add_flag("--whole-value", r.wholeValue, "with --find: a whole value must equal TEXT");

  // Per-user classes.
  auto* userClasses = app.add_option("--user-classes", r.userClasses,
                                     "merge a user's classes over the machine's: a UsrClass.dat, a "
                                     "Wine prefix or a .reg export")
                          ->type_name("PATH");
  auto* user =
      app.add_option("--user", r.userName,
                     "merge the classes of this user of a Windows SOURCE over the machine's")
          ->type_name("NAME");
  auto* users =
      app.add_flag("--users", r.listUsers, "list the users of a Windows SOURCE with classes");

  // Server files, and two registries compared.
  auto* checkFiles = app.add_flag("--check-files", r.checkFiles,
                                  "look up the files the entries name in the image");
  auto* missingOnly = app.add_flag("--missing-only", r.missingOnly,
                                   "with --check-files: only entries with a missing file");
  auto* diff = app.add_option("--diff", r.other, "compare SOURCE (earlier) with OTHER (later)")
                   ->type_name("OTHER");

  // The object test of one class.
  auto* test = app.add_option("--test", r.testGuid,
                              "test-create the object of class GUID; exit 0 created, 1 not")
                   ->type_name("GUID");

  json->excludes(summary)->excludes(find)->excludes(csv);
  test->excludes(json)
      ->excludes(csv)
      ->excludes(summary)
      ->excludes(find)
      ->excludes(checkFiles)
      ->excludes(diff)
      ->excludes(users);
  csv->excludes(summary)->excludes(find)->excludes(checkFiles)->excludes(missingOnly);
  summary->excludes(find)->excludes(missingOnly);
  matchCase->needs(find);
  wholeValue->needs(find);
  find->excludes(checkFiles);
  missingOnly->needs(checkFiles);
  user->excludes(userClasses);
  users->excludes(user)
      ->excludes(userClasses)
      ->excludes(json)
      ->excludes(csv)
      ->excludes(summary)
      ->excludes(find)
      ->excludes(checkFiles)
      ->excludes(diff);
  diff->excludes(csv)->excludes(find)->excludes(userClasses)->excludes(user)->excludes(checkFiles);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "orbel-catalogue: " << e.what() << "\nRun with --help for usage.\n";
    return 2;
  }
  return Command(r, registry, out, err).Run();
}

}  // namespace orbel
