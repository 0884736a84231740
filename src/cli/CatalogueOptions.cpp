#include "cli/CatalogueOptions.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "cli/TerminalText.h"
#include "platform/computer/LocalImage.h"

namespace orbel {
namespace {

const char* const kHelpFooter =
    "SOURCE is read as the Connect command reads another computer: the path of a Wine\n"
    "prefix, a Windows folder, a SOFTWARE or classes hive (UsrClass.dat) or a .reg file.\n"
    "Without SOURCE this computer is read: ORBEL_REGISTRY if set, else the Wine prefix\n"
    "($WINEPREFIX or ~/.wine), else the sample registry. OTHER is read as SOURCE is.\n"
    "The output fields are described in the manual page orbel-catalogue(1).\n\n"
    "Exit status: 0 done (an empty catalogue included), 1 the source, OTHER or PATH cannot\n"
    "be read, 2 a usage error. With --test: 0 the object was created, 1 it was not.\n"
    "--recovered-hive: OUT must not exist; exit 1 when SOURCE is no hive or OUT cannot be\n"
    "written.";

}  // namespace

std::optional<CatalogueOptions> ParseCatalogueOptions(int argc, const char* const* argv,
                                                      std::ostream& out, std::ostream& err,
                                                      int& exitStatus) {
  CLI::App app{"Lists the COM classes registered in a registry.", "orbel-catalogue"};
  app.footer(kHelpFooter);
  // A source may be a path beginning with "/", on every system.
  app.allow_windows_style_options(false);
  CatalogueOptions r;
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

  // Classes deleted from a hive, from its free cells.
  auto* deleted = app.add_flag("--deleted", r.deleted,
                               "list the classes deleted from the hive SOURCE whose cells are "
                               "still in its free cells");

  // A hive as stored, without its transaction logs.
  app.add_flag("--no-logs", r.noLogs,
               "read a hive as stored, without replaying its transaction logs");

  // The object test of one class.
  auto* test = app.add_option("--test", r.testGuid,
                              "test-create the object of class GUID; exit 0 created, 1 not")
                   ->type_name("GUID");

  // A hive as its transaction logs bring it, written for other tools.
  auto* recovered =
      app.add_option("--recovered-hive", r.recoveredHive,
                     "write the hive SOURCE as its transaction logs bring it to OUT, a new file")
          ->type_name("OUT");

  // The 32-bit view.
  auto* view = app.add_option("--view", r.view,
                              "the classes a 64-bit process sees (64, the default), those a "
                              "32-bit process sees (32) or both")
                   ->type_name("64|32|both")
                   ->check(CLI::IsMember({"64", "32", "both"}));

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
  for (auto* other : {csv, summary, find, userClasses, user, users, checkFiles, diff, test}) {
    recovered->excludes(other);
  }
  deleted->excludes(csv)
      ->excludes(diff)
      ->excludes(userClasses)
      ->excludes(user)
      ->excludes(users)
      ->excludes(test)
      ->excludes(checkFiles);
  diff->excludes(csv)->excludes(find)->excludes(userClasses)->excludes(user)->excludes(checkFiles);
  test->excludes(view);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    exitStatus = 0;
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    err << "orbel-catalogue: " << e.what() << "\nRun with --help for usage.\n";
    exitStatus = 2;
    return std::nullopt;
  }
#ifndef _WIN32
  // SOURCE and OTHER are paths: a bare name is a file or folder of the
  // current folder, which the connector takes only when it reads as a path.
  // A name after backslashes stays a computer's, which the connector refuses.
  for (auto* path : {&r.source, &r.other}) {
    if (*path && !path->value().empty() && path->value().front() != '\\' &&
        !platform::NamesImagePath(**path)) {
      path->value().insert(0, "./");
    }
  }
#endif
  return r;
}

std::ostream* ProgressStream(const CatalogueOptions& options, std::ostream& err) {
  return isatty(STDERR_FILENO) && !options.asJson && !options.asCsv ? &err : nullptr;
}

int ReportFailure(std::ostream& err, const std::string& message) {
  err << "orbel-catalogue: " << TerminalText(message) << "\n";
  return 1;
}

int ReportUsage(std::ostream& err, const std::string& message) {
  err << "orbel-catalogue: " << TerminalText(message) << "\nRun with --help for usage.\n";
  return 2;
}

}  // namespace orbel
