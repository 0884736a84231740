// The options of orbel-catalogue, read from its command line, and the ways
// the command reports that it cannot go on.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace orbel {

// What the options ask for.
struct CatalogueOptions {
  std::optional<std::string> source, findText, userClasses, userName, other, testGuid,
      recoveredHive;
  bool asJson = false, summaryOnly = false, matchCase = false, wholeValue = false, asCsv = false,
       listUsers = false, checkFiles = false, missingOnly = false, deleted = false;
  // --timeline, --bodyfile: the key times as events, for timeline tools.
  bool timeline = false, bodyfile = false;
  // --findings: only the classes with findings, each with them; the files
  // are checked for it.
  bool findings = false;
  // --no-logs: a hive is read as stored, its transaction logs not replayed.
  bool noLogs = false;
  // --view: the class list of 64-bit processes ("64"), of 32-bit ones
  // ("32", Wow6432Node) or both, the 64-bit list first.
  std::string view = "64";
};

// The options of `argv` (argv[0] the program), or nothing when the command
// ends here with `exitStatus`: 0 with the help printed on `out`, 2 with a
// usage error reported on `err`.
std::optional<CatalogueOptions> ParseCatalogueOptions(int argc, const char* const* argv,
                                                      std::ostream& out, std::ostream& err,
                                                      int& exitStatus);

// Where a reading shows its progress: `err` when it is a terminal and the
// output is text (not JSON, CSV or a timeline), else nowhere.
std::ostream* ProgressStream(const CatalogueOptions& options, std::ostream& err);

// Reports that the source (or OTHER, or PATH) cannot be read; answers 1.
int ReportFailure(std::ostream& err, const std::string& message);
// Reports a usage error; answers 2.
int ReportUsage(std::ostream& err, const std::string& message);

}  // namespace orbel
