// The rules of the findings, each shown a class that breaks it and one that
// looks like it but does not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "findings/ClassFindings.h"

namespace orbel {
namespace {

using platform::FileState;

const std::string kGuid = "{A0000000-0000-4000-8000-000000000001}";
const std::string kOther = "{A0000000-0000-4000-8000-000000000002}";

CheckedFile File(const std::string& row, const std::string& value, FileState state,
                 const std::string& resolved = "") {
  CheckedFile file{row, value, {}, {}, {}};
  file.file.state = state;
  file.file.resolved = resolved;
  return file;
}

ClassEvidence Class(const std::string& guid, const std::string& server,
                    std::vector<CheckedFile> files = {}) {
  ClassEvidence evidence;
  evidence.guid = guid;
  evidence.rows = {{"Name", "A class"}, {"Control", server}};
  evidence.files = std::move(files);
  return evidence;
}

std::vector<std::string> Rules(const ClassEvidence& evidence, const ClassLookup& lookup) {
  std::vector<std::string> rules;
  for (const Finding& finding : FindingsOf(evidence, lookup)) {
    EXPECT_EQ(finding.technique, "T1546.015");
    EXPECT_FALSE(finding.detail.empty()) << finding.rule;
    rules.push_back(finding.rule);
  }
  return rules;
}

TEST(ClassFindings, EachRuleFindsWhatItNames) {
  const std::string system = "C:\\windows\\system32\\x.dll";
  const std::string publicFile = "C:\\users\\Public\\x.dll";
  // The other class, registered with a server in the public profile.
  const ClassLookup lookup = [&](const std::string& guid) -> std::optional<ClassEvidence> {
    if (guid != kOther) return std::nullopt;
    return Class(kOther, publicFile, {File("Control", publicFile, FileState::Present, publicFile)});
  };
  const auto shadow = [&](const std::string& row) {
    ClassEvidence evidence = Class(kGuid, system);
    evidence.scope = "both";
    evidence.overrides = {{row, "machine's", "user's"}};
    return evidence;
  };
  const auto treated = [&](const std::string& target, const std::string& server) {
    ClassEvidence evidence = Class(kGuid, server);
    evidence.treatAs = target;
    return evidence;
  };
  const auto withFile = [&](CheckedFile file) {
    ClassEvidence evidence = Class(kGuid, file.value, {file});
    return evidence;
  };
  CheckedFile launcher = File("Server", "rundll32.exe x.dll,Go", FileState::Present);
  launcher.file.launcher = "rundll32";
  CheckedFile unquoted = File("Server", "C:\\Program Files\\Vendor App\\app.exe", FileState::Present,
                              "C:\\Program Files\\Vendor.exe");
  unquoted.file.unquoted = true;
  ClassEvidence scriptlet = Class(kGuid, "C:\\Windows\\System32\\scrobj.dll");
  scriptlet.rows.emplace_back("ScriptletURL", "http://example.org/x.sct");
  ClassEvidence oleaut = Class("{00020424-0000-0000-C000-000000000046}", "C:\\x\\evil.dll");

  const struct {
    const char* what;
    ClassEvidence evidence;
    std::vector<std::string> rules;
  } cases[] = {
      {"user's server", shadow("Control"), {"user-shadow"}},
      {"user's threading only", shadow("Threading"), {}},
      {"machine class alone", Class(kGuid, system), {}},
      {"public folder",
       withFile(File("Control", publicFile, FileState::Present, publicFile)),
       {"writable-folder"}},
      {"launcher", withFile(launcher), {"script-host"}},
      {"scriptlet", scriptlet, {"script-host"}},
      {"treat as unregistered", treated("{A0000000-0000-4000-8000-0000000000FF}", system),
       {"treat-as"}},
      {"treat as another server", treated(kOther, system), {"writable-folder", "treat-as"}},
      {"treat as the same server", treated(kOther, publicFile), {"writable-folder"}},
      {"treat as itself", treated(kGuid, system), {}},
      {"missing", withFile(File("Control", system, FileState::Missing)), {"missing-file"}},
      {"16-bit", withFile(File("Control (16bit)", "x.dll", FileState::Inert)), {}},
      {"unquoted", withFile(unquoted), {"unquoted-path"}},
      {"targeted", oleaut, {"targeted-class"}},
      {"targeted, usual file", Class(oleaut.guid, "C:\\Windows\\System32\\OLEAUT32.DLL"), {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Rules(c.evidence, lookup), c.rules) << c.what;
  }
  for (const std::string_view rule : kFindingRules) {
    EXPECT_GT(FindingExplanation(rule).size(), 100u) << rule;
  }
  EXPECT_TRUE(FindingExplanation("no-such-rule").empty());
}

}  // namespace
}  // namespace orbel
