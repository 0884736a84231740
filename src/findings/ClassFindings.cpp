#include "findings/ClassFindings.h"

#include <algorithm>
#include <array>

#include "platform/base/Text.h"

namespace orbel {
namespace {

using platform::FileState;

// The rows whose values decide which code runs, or under which name a
// program asks for the class.
constexpr std::string_view kShadowRows[] = {
    "Control", "Server", "Handler", "COM Name (with Version)", "COM Name (no Version)", "TreatAs",
};

// Classes that attacks are known to take over, with the files they are
// normally served by (compared by file name, without regard to case).
// Sources: MITRE ATT&CK T1546.015 and its procedure examples (ComRAT,
// S0126, with MruPidlList; JHUHUGIT, S0044, with CAccPropServices; Mosquito,
// S0256, with MMDeviceEnumerator); "Bypassing AMSI via COM Server Hijacking"
// (M. Nelson, 2017) for the scanning interface's class; the proxy-stub
// factories through which every process that marshals an interface loads a
// server (the standard marshaler's PSFactoryBuffer, the type-library
// marshalers PSOAInterface and PSDispatch), as in "COM Hijacking for
// Lateral Movement" write-ups.
struct TargetedClass {
  std::string_view guid;
  std::string_view name;
  std::array<std::string_view, 2> usualFiles;
};
constexpr TargetedClass kTargetedClasses[] = {
    {"{00000320-0000-0000-C000-000000000046}", "PSFactoryBuffer", {"combase.dll", "ole32.dll"}},
    {"{00020424-0000-0000-C000-000000000046}", "PSOAInterface", {"oleaut32.dll", ""}},
    {"{00020420-0000-0000-C000-000000000046}", "PSDispatch", {"oleaut32.dll", ""}},
    {"{FDB00E52-A214-4AA1-8FBA-4357BB0072EC}", "the scanning interface (AMSI)", {"amsi.dll", ""}},
    {"{42AEDC87-2188-41FD-B9A3-0C966FEABEC1}", "MruPidlList", {"shell32.dll", "windows.storage.dll"}},
    {"{B5F8350B-0548-48B1-A6EE-88BD00B4A5E7}", "CAccPropServices", {"oleacc.dll", ""}},
    {"{BCDE0395-E52F-467C-8E3D-C4579291692E}", "MMDeviceEnumerator", {"mmdevapi.dll", ""}},
};

struct Explanation {
  std::string_view rule;
  std::string_view text;
};
constexpr Explanation kExplanations[] = {
    {"user-shadow",
     "Every user may register classes of his own, and Windows prefers them to the computer's: "
     "a program that asks for this object gets the user's registration instead. This class is "
     "registered on both sides, and the user's side names another file, another COM name or "
     "another class to treat it as. Installers rarely do this; attackers do it to have their "
     "file loaded by programs the user runs, without administrator rights."},
    {"writable-folder",
     "The file that is loaded for this object lies in a folder that an ordinary user can "
     "write to, or where programs are not normally installed: the user's profile (AppData, "
     "Downloads, Desktop, Temp, Startup), the public profile or ProgramData. Anyone who can "
     "write there can replace the file, and files placed there by attackers often are "
     "registered this way."},
    {"script-host",
     "The object is not a program's own file but a launcher or a script host (rundll32, "
     "regsvr32, mshta, the script hosts, the command prompt, PowerShell, or the scriptlet "
     "runtime with a script's address). Such a registration runs whatever script or file it "
     "is given, which is how attackers hide their code behind a harmless-looking object."},
    {"treat-as",
     "\"Treat As\" tells Windows to create another object whenever this one is asked for. "
     "Here that other object is not registered at all, or it is served by a different file "
     "than this object's own: programs asking for this object get that file's code instead."},
    {"missing-file",
     "The file registered for this object is not on the computer. The object cannot be "
     "created; it may be left over from a program that was removed. Whoever can create a file "
     "of that name and place gets his code loaded when the object is asked for."},
    {"unquoted-path",
     "The program of this object is registered without quotes, and its path holds blanks. "
     "Windows then tries the shorter readings first: for C:\\Program Files\\Vendor App\\app.exe "
     "it starts C:\\Program.exe or C:\\Program Files\\Vendor.exe if such a file exists. A "
     "file placed there runs instead of the real program."},
    {"targeted-class",
     "This object is one that attacks are known to take over, because many programs, or "
     "Windows itself, create it all the time. It is served by another file than the one "
     "Windows normally uses for it."},
};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string FileNameOf(std::string_view path) {
  std::string name(path);
  if (!name.empty() && name.front() == '"') name = name.substr(1, name.find('"', 1) - 1);
  const std::size_t cut = name.find_last_of("\\/");
  if (cut != std::string::npos) name.erase(0, cut + 1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
  return Lower(name);
}

std::string OrNone(const std::string& value) { return value.empty() ? "(none)" : value; }

bool IsServerRow(const CheckedFile& file) {
  return file.row == "Control" || file.row == "Server" || file.row == "Handler";
}

// A server row as the detail names it: the row, its value and, when it
// differs, the file Windows takes.
std::string Named(const CheckedFile& file) {
  std::string text = file.row + " " + (file.program.empty() ? file.value : file.program);
  if (!file.file.resolved.empty() && !platform::EqualsNoCase(file.file.resolved, file.value)) {
    text += " (" + file.file.resolved + ")";
  }
  return text;
}

// The names under which a server row's files may lie: the file found, the
// value as written, the launcher's file.
std::vector<std::string> PathsOf(const CheckedFile& file) {
  std::vector<std::string> paths;
  if (!file.file.resolved.empty()) paths.push_back(file.file.resolved);
  paths.push_back(file.program.empty() ? file.value : file.program);
  if (!file.file.argumentFile.resolved.empty()) paths.push_back(file.file.argumentFile.resolved);
  if (!file.file.argument.empty()) paths.push_back(file.file.argument);
  return paths;
}

std::string ServerRowValue(const ClassEvidence& evidence, std::string_view row) {
  return RowText(evidence.rows, row).value_or("");
}

void UserShadow(const ClassEvidence& evidence, std::vector<Finding>& findings) {
  if (evidence.scope != "both") return;
  std::string detail;
  for (const auto& [row, machine, user] : evidence.overrides) {
    if (std::find(std::begin(kShadowRows), std::end(kShadowRows), row) == std::end(kShadowRows)) {
      continue;
    }
    if (!detail.empty()) detail += "; ";
    detail += "the user's " + row + " " + OrNone(user) + " stands before the machine's " +
              OrNone(machine);
  }
  if (!detail.empty()) findings.push_back({"user-shadow", kHijackTechnique, detail});
}

void WritableFolder(const std::vector<CheckedFile>& files, const std::string& via,
                    std::vector<Finding>& findings) {
  for (const CheckedFile& file : files) {
    if (!IsServerRow(file) || !file.service.empty()) continue;
    const auto paths = PathsOf(file);
    const auto writable = std::find_if(paths.begin(), paths.end(), [](const std::string& path) {
      return platform::InUserWritableFolder(path);
    });
    if (writable == paths.end()) continue;
    const bool named = *writable == file.value || *writable == file.file.resolved;
    findings.push_back({"writable-folder", kHijackTechnique,
                        via + Named(file) + (named ? "" : ": " + *writable) +
                            " lies in a folder users can write to"});
  }
}

void ScriptHost(const ClassEvidence& evidence, const std::vector<CheckedFile>& files,
                std::vector<Finding>& findings) {
  // The scriptlet runtime runs the script its class names.
  const auto scriptlet = RowText(evidence.rows, "ScriptletURL");
  for (const CheckedFile& file : files) {
    if (!IsServerRow(file) || !file.service.empty()) continue;
    std::string detail;
    if (!file.file.launcher.empty()) {
      detail = Named(file) + " starts the launcher " + file.file.launcher;
      if (!file.file.argument.empty()) detail += " with " + file.file.argument;
    }
    if (!file.file.scriptHost.empty()) {
      detail += (detail.empty() ? Named(file) + ": " : "; ") + file.file.scriptHost;
    }
    if (!detail.empty()) findings.push_back({"script-host", kHijackTechnique, detail});
  }
  const auto server = RowText(evidence.rows, "Control");
  if (scriptlet && server && platform::IsScriptletRuntime(*server)) {
    findings.push_back({"script-host", kHijackTechnique,
                        "Control " + *server + " is the scriptlet runtime; ScriptletURL " +
                            *scriptlet});
  }
}

void TreatAs(const ClassEvidence& evidence, const ClassLookup& lookup,
             std::vector<Finding>& findings) {
  std::vector<std::pair<std::string, std::string>> targets;
  if (!evidence.treatAs.empty()) targets.emplace_back("TreatAs", evidence.treatAs);
  if (const auto automatic = RowText(evidence.rows, "AutoTreatAs")) {
    targets.emplace_back("AutoTreatAs", *automatic);
  }
  for (const auto& [row, guid] : targets) {
    // A class treated as itself is the usual way of undoing TreatAs.
    if (platform::EqualsNoCase(guid, evidence.guid)) continue;
    const auto target = lookup(platform::AsciiUpper(guid));
    if (!target) {
      findings.push_back(
          {"treat-as", kHijackTechnique, row + " " + guid + ": no such class is registered"});
      continue;
    }
    std::string detail;
    for (const char* server : {"Control", "Server"}) {
      const std::string own = ServerRowValue(evidence, server);
      const std::string theirs = ServerRowValue(*target, server);
      if (own.empty() || platform::EqualsNoCase(own, theirs)) continue;
      if (!detail.empty()) detail += "; ";
      detail += row + " " + guid + ": its " + server + " " + OrNone(theirs) +
                " is not this class's own " + own;
    }
    if (!detail.empty()) findings.push_back({"treat-as", kHijackTechnique, detail});
    // The files of the class treated as, for the rules on folders.
    if (target->files) WritableFolder(*target->files, row + " " + guid + ": ", findings);
  }
}

void MissingFile(const std::vector<CheckedFile>& files, std::vector<Finding>& findings) {
  for (const CheckedFile& file : files) {
    if (!IsServerRow(file) || !file.service.empty()) continue;
    if (file.file.state == FileState::Missing) {
      findings.push_back({"missing-file", kHijackTechnique,
                          Named(file) + ": no such file in the image"});
    } else if (file.file.argumentFile.state == FileState::Missing) {
      findings.push_back({"missing-file", kHijackTechnique,
                          Named(file) + ": " + file.file.launcher + "'s file " + file.file.argument +
                              " is not in the image"});
    }
  }
}

void UnquotedPath(const std::vector<CheckedFile>& files, std::vector<Finding>& findings) {
  for (const CheckedFile& file : files) {
    if (!file.file.unquoted || !file.service.empty()) continue;
    std::string detail = file.row + " " + file.value + " has blanks and no quotes";
    detail += file.file.resolved.empty() ? "; Windows would try shorter readings first"
                                         : "; Windows starts " + file.file.resolved;
    findings.push_back({"unquoted-path", kHijackTechnique, detail});
  }
}

void TargetedClassRule(const ClassEvidence& evidence, std::vector<Finding>& findings) {
  const std::string guid = platform::AsciiUpper(evidence.guid);
  for (const TargetedClass& targeted : kTargetedClasses) {
    if (guid != targeted.guid) continue;
    const auto server = RowText(evidence.rows, "Control");
    if (!server) return;
    const std::string name = FileNameOf(*server);
    if (std::find(targeted.usualFiles.begin(), targeted.usualFiles.end(), name) !=
        targeted.usualFiles.end()) {
      return;
    }
    findings.push_back({"targeted-class", kHijackTechnique,
                        std::string(targeted.name) + ": Control " + *server +
                            " is not its usual file " + std::string(targeted.usualFiles[0])});
  }
}

}  // namespace

std::vector<Finding> FindingsOf(const ClassEvidence& evidence, const ClassLookup& lookup) {
  std::vector<Finding> findings;
  UserShadow(evidence, findings);
  if (evidence.files) {
    WritableFolder(*evidence.files, "", findings);
    ScriptHost(evidence, *evidence.files, findings);
  }
  TreatAs(evidence, lookup, findings);
  if (evidence.files) {
    MissingFile(*evidence.files, findings);
    UnquotedPath(*evidence.files, findings);
  }
  TargetedClassRule(evidence, findings);
  // Given rule by rule, in the rules' order.
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    const auto rank = [](const std::string& rule) {
      return std::find(std::begin(kFindingRules), std::end(kFindingRules), rule) -
             std::begin(kFindingRules);
    };
    return rank(a.rule) < rank(b.rule);
  });
  return findings;
}

std::string_view FindingExplanation(std::string_view rule) {
  for (const Explanation& explanation : kExplanations) {
    if (explanation.rule == rule) return explanation.text;
  }
  return {};
}

void FindingTally::Add(const std::vector<Finding>& findings) {
  for (const Finding& finding : findings) ++counts_[finding.rule];
  total_ += static_cast<int>(findings.size());
  if (!findings.empty()) ++entries_;
}

std::vector<std::pair<std::string_view, int>> FindingTally::ByRule() const {
  std::vector<std::pair<std::string_view, int>> rules;
  for (const std::string_view rule : kFindingRules) {
    const auto found = counts_.find(rule);
    rules.emplace_back(rule, found == counts_.end() ? 0 : found->second);
  }
  return rules;
}

}  // namespace orbel
