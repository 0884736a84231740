// Findings: what in a class's registration is worth a person's look because
// attackers use it to have their code loaded through COM (hijacking a
// class). Each finding is evidence, never a verdict: it names the rows and
// values it rests on.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "findings/ClassFiles.h"

namespace orbel {

// The technique these findings are evidence of, as security tools name it.
inline constexpr const char* kHijackTechnique = "T1546.015";

// The rules, in the order findings are given and counted.
inline constexpr std::string_view kFindingRules[] = {
    "user-shadow", "writable-folder", "script-host",    "treat-as",
    "missing-file", "unquoted-path",  "targeted-class",
};

struct Finding {
  std::string rule;
  std::string technique = kHijackTechnique;
  std::string detail;  // the rows and values it rests on
};

// What is known of one class of one view.
struct ClassEvidence {
  std::string guid;
  std::string treatAs;  // the TreatAs class, or empty
  Rows rows;
  // "machine", "user" or "both" in a view with a user's classes; else empty.
  std::string scope;
  // The rows a user's class overrides: name, the machine's value, the user's
  // (empty where a side has none).
  std::vector<std::tuple<std::string, std::string, std::string>> overrides;
  // The file rows, when files are checked.
  std::optional<std::vector<CheckedFile>> files;
};

// Another class of the same view by its GUID, with its files checked as
// the class's are; nothing when it is not registered.
using ClassLookup = std::function<std::optional<ClassEvidence>(const std::string& guid)>;

// The findings of `evidence`, rule by rule.
std::vector<Finding> FindingsOf(const ClassEvidence& evidence, const ClassLookup& lookup);

// Findings counted by rule, and the classes that have any.
class FindingTally {
 public:
  // Counts the findings of one class.
  void Add(const std::vector<Finding>& findings);
  void Clear() { *this = FindingTally(); }
  int Entries() const { return entries_; }
  int Total() const { return total_; }
  // Each rule with its count, in the order of kFindingRules, zeros included.
  std::vector<std::pair<std::string_view, int>> ByRule() const;

 private:
  std::map<std::string, int, std::less<>> counts_;
  int entries_ = 0, total_ = 0;
};

// A short explanation of `rule` for a reader who is no COM expert; empty
// for a rule there is none of.
std::string_view FindingExplanation(std::string_view rule);

}  // namespace orbel
