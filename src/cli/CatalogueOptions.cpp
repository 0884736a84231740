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
    "--csv, --timeline, --bodyfile: 1 also when the reading met errors (on standard error).\n"
    "--recovered-hive: OUT must not exist; exit 1 when SOURCE is no hive or OUT cannot be\n"
    "written.";

// The options that make no sense together, and those that need another.
void AddRules(CLI::App& app) {
  const auto o = [&app](const char* name) { return app.get_option(name); };
  o("--json")->excludes(o("--summary"))->excludes(o("--find"))->excludes(o("--csv"));
  o("--test")
      ->excludes(o("--json"))
      ->excludes(o("--csv"))
      ->excludes(o("--summary"))
      ->excludes(o("--find"))
      ->excludes(o("--check-files"))
      ->excludes(o("--diff"))
      ->excludes(o("--users"));
  o("--csv")
      ->excludes(o("--summary"))
      ->excludes(o("--find"))
      ->excludes(o("--check-files"))
      ->excludes(o("--missing-only"));
  o("--summary")->excludes(o("--find"))->excludes(o("--missing-only"));
  o("--match-case")->needs(o("--find"));
  o("--whole-value")->needs(o("--find"));
  o("--find")->excludes(o("--check-files"));
  o("--missing-only")->needs(o("--check-files"));
  o("--user")->excludes(o("--user-classes"));
  o("--users")
      ->excludes(o("--user"))
      ->excludes(o("--user-classes"))
      ->excludes(o("--json"))
      ->excludes(o("--csv"))
      ->excludes(o("--summary"))
      ->excludes(o("--find"))
      ->excludes(o("--check-files"))
      ->excludes(o("--diff"));
  for (auto* other : {o("--csv"), o("--summary"), o("--find"), o("--user-classes"), o("--user"),
                      o("--users"), o("--check-files"), o("--diff"), o("--test")}) {
    o("--recovered-hive")->excludes(other);
  }
  o("--deleted")
      ->excludes(o("--csv"))
      ->excludes(o("--diff"))
      ->excludes(o("--user-classes"))
      ->excludes(o("--user"))
      ->excludes(o("--users"))
      ->excludes(o("--test"))
      ->excludes(o("--check-files"));
  o("--diff")
      ->excludes(o("--csv"))
      ->excludes(o("--find"))
      ->excludes(o("--user-classes"))
      ->excludes(o("--user"))
      ->excludes(o("--check-files"));
  o("--test")->excludes(o("--view"));
  // The timelines stand alone: they are the whole output.
  o("--timeline")->excludes(o("--bodyfile"));
  for (const char* form : {"--timeline", "--bodyfile"}) {
    for (const char* other : {"--json", "--csv", "--summary", "--find", "--check-files", "--test",
                              "--users", "--diff", "--recovered-hive", "--deleted", "--findings"}) {
      o(form)->excludes(o(other));
    }
  }
  for (const char* other : {"--csv", "--find", "--test", "--diff", "--deleted", "--users",
                            "--recovered-hive"}) {
    o("--findings")->excludes(o(other));
  }
}

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
  app.add_flag("--json", r.asJson,
               "JSON Lines: one object per entry in catalogue order, then the summary");
  app.add_flag("--csv", r.asCsv, "CSV (RFC 4180): a header, then one row per entry");
  app.add_flag("--timeline", r.timeline,
               "Timesketch JSONL: one line per last-write time of a class key or of its "
               "server, handler, TreatAs or ProgID key");
  app.add_flag("--bodyfile", r.bodyfile, "the same times in the Sleuth Kit's body format");
  app.add_flag("--summary", r.summaryOnly, "the summary of the reading only");
  app.add_option("--find", r.findText, "list the entries whose values contain TEXT, with the row")
      ->type_name("TEXT");
  app.add_flag("--match-case", r.matchCase, "with --find: letters must match in case");
  app.add_flag("--whole-value", r.wholeValue, "with --find: a whole value must equal TEXT");

  // Per-user classes.
  app.add_option("--user-classes", r.userClasses,
                 "merge a user's classes over the machine's: a UsrClass.dat, a "
                 "Wine prefix or a .reg export")
      ->type_name("PATH");
  app.add_option("--user", r.userName,
                 "merge the classes of this user of a Windows SOURCE over the machine's")
      ->type_name("NAME");
  app.add_flag("--users", r.listUsers, "list the users of a Windows SOURCE with classes");

  // Server files, and two registries compared.
  app.add_flag("--check-files", r.checkFiles, "look up the files the entries name in the image");
  app.add_flag("--missing-only", r.missingOnly,
               "with --check-files: only entries with a missing file");
  app.add_flag("--findings", r.findings,
               "only the classes with findings (signs of a hijacked class), each with them; "
               "checks the files too");
  app.add_option("--diff", r.other, "compare SOURCE (earlier) with OTHER (later)")
      ->type_name("OTHER");

  // Classes deleted from a hive, from its free cells.
  app.add_flag("--deleted", r.deleted,
               "list the classes deleted from the hive SOURCE whose cells are "
               "still in its free cells");

  // A hive as stored, without its transaction logs.
  app.add_flag("--no-logs", r.noLogs,
               "read a hive as stored, without replaying its transaction logs");

  // The object test of one class.
  app.add_option("--test", r.testGuid,
                 "test-create the object of class GUID; exit 0 created, 1 not")
      ->type_name("GUID");

  // A hive as its transaction logs bring it, written for other tools.
  app.add_option("--recovered-hive", r.recoveredHive,
                 "write the hive SOURCE as its transaction logs bring it to OUT, a new file")
      ->type_name("OUT");

  // The 32-bit view.
  app.add_option("--view", r.view,
                 "the classes a 64-bit process sees (64, the default), those a "
                 "32-bit process sees (32) or both")
      ->type_name("64|32|both")
      ->check(CLI::IsMember({"64", "32", "both"}));

  AddRules(app);
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
  if (r.findings) r.checkFiles = true;
  return r;
}

std::ostream* ProgressStream(const CatalogueOptions& options, std::ostream& err) {
  return isatty(STDERR_FILENO) && !options.asJson && !options.asCsv && !options.timeline &&
                 !options.bodyfile
             ? &err
             : nullptr;
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
