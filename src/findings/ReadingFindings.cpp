#include "findings/ReadingFindings.h"

#include <algorithm>

#include "catalogue/EntryRows.h"
#include "catalogue/UserClassView.h"
#include "model/COLEObjectRegistrySettingsUnit.h"
#include "platform/base/Text.h"

namespace orbel {
namespace {

// The file Windows takes for the first server row (Control, then Server)
// among `files`; empty when there is none.
std::string ResolvedServer(const std::vector<CheckedFile>& files) {
  for (const char* row : {"Control", "Server"}) {
    for (const CheckedFile& file : files) {
      if (file.row != row) continue;
      if (!file.service.empty()) return "the service " + file.service;
      if (!file.file.resolved.empty()) return file.file.resolved;
      const std::string& named = file.program.empty() ? file.value : file.program;
      if (file.file.state == platform::FileState::Missing) return named + " (not in the image)";
      return named;
    }
  }
  return {};
}

}  // namespace

std::string FindingRowCaption(const std::string& rule) { return "Finding: " + rule; }

void ReadingFindings::Clear() {
  looked_ = false;
  tally_.Clear();
}

void ReadingFindings::Describe(TCOLESettings& catalogue, platform::RegistryApi& registry,
                               platform::HKey root, const UserProfile& user) {
  Clear();
  const std::optional<platform::ImageFiles> files = ImageFilesOf(registry, root, user);
  if (!files) return;
  looked_ = true;
  std::optional<platform::ImageFiles> files32 = files;
  files32->wow64 = true;
  const auto viewOf = [&](const COLEObject* entry) -> std::string {
    const ClassExtras* extras = catalogue.ExtrasOf(entry);
    return extras ? extras->view : "64";
  };
  // The entries of each view by GUID, for the classes TreatAs names.
  std::map<std::string, const COLEObject*> byGuid;
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    const COLEObject* entry = catalogue.EntryAt(i);
    byGuid.emplace(viewOf(entry) + "\\" + platform::AsciiUpper(entry->RegistrySettings->Guid),
                   entry);
  }
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    const COLEObject* entry = catalogue.EntryAt(i);
    const std::string view = viewOf(entry);
    const auto& viewFiles = view == "32" ? files32 : files;
    // The classes looked up for this one, kept for its Resolved Server row.
    std::map<std::string, std::optional<ClassEvidence>> targets;
    const ClassLookup lookup = [&](const std::string& guid) -> std::optional<ClassEvidence> {
      if (const auto known = targets.find(guid); known != targets.end()) return known->second;
      std::optional<ClassEvidence> target;
      if (const auto found = byGuid.find(view + "\\" + guid); found != byGuid.end()) {
        const COLEObject& other = *found->second;
        target.emplace();
        target->guid = other.RegistrySettings->Guid;
        target->treatAs = other.RegistrySettings->TreatAs;
        target->rows = RowsOf(other);
        target->files = CheckClassFiles(target->rows, *other.RegistrySettings, viewFiles);
      }
      targets.emplace(guid, target);
      return target;
    };

    ClassEvidence evidence;
    evidence.guid = entry->RegistrySettings->Guid;
    evidence.treatAs = entry->RegistrySettings->TreatAs;
    evidence.rows = RowsOf(*entry);
    const ClassExtras* known = catalogue.ExtrasOf(entry);
    if (known && known->scope) {
      evidence.scope = ScopeName(*known->scope);
      const COLEObject* machine =
          *known->scope == ClassScope::Both && catalogue.UserView
              ? catalogue.UserView->MachineEntry(ClassListOf(view), evidence.guid)
              : nullptr;
      if (machine) {
        for (auto& [name, before, after] : OverridesOf(*entry, *machine)) {
          evidence.overrides.emplace_back(std::move(name), std::move(before), std::move(after));
        }
      }
    }
    evidence.files = CheckClassFiles(evidence.rows, *entry->RegistrySettings, viewFiles);
    const std::vector<Finding> findings = FindingsOf(evidence, lookup);

    std::string resolved;
    const COLEObject* target = nullptr;
    if (!evidence.treatAs.empty()) {
      const std::string guid = platform::AsciiUpper(evidence.treatAs);
      if (const auto found = lookup(guid); found) {
        resolved = ResolvedServer(*found->files);
        target = byGuid[view + "\\" + guid];
      }
    }
    if (findings.empty() && (resolved.empty() || !known)) continue;
    ClassExtras& extras = catalogue.Extras[entry];
    // An entry with findings tells what it is treated as also in a reading
    // that adds no rows otherwise.
    const auto resolvedRow = [&] {
      return std::find_if(extras.rows.begin(), extras.rows.end(),
                          [](const ExtraRow& row) { return row.caption == kResolvedServerRow; });
    };
    if (!evidence.treatAs.empty() && resolvedRow() == extras.rows.end()) {
      for (ExtraRow& row : TreatAsRows(*entry, target)) extras.rows.push_back(std::move(row));
    }
    if (const auto row = resolvedRow(); row != extras.rows.end() && !resolved.empty()) {
      row->value = resolved;
    }
    tally_.Add(findings);
    if (findings.empty()) continue;
    extras.badges |= BadgeFinding;
    for (const Finding& finding : findings) {
      extras.rows.push_back({FindingRowCaption(finding.rule), finding.detail,
                             std::string(FindingExplanation(finding.rule))});
    }
  }
}

std::string ReadingFindings::SummaryText() const {
  // A reading without findings keeps its summary as it was.
  if (!looked_ || tally_.Entries() == 0) return {};
  std::string rules;
  for (const auto& [rule, count] : tally_.ByRule()) {
    if (count > 0) rules += std::to_string(count) + " " + std::string(rule) + "\n";
  }
  return std::to_string(tally_.Total()) + " Findings in " + std::to_string(tally_.Entries()) +
         " Objects:\n" + rules;
}

}  // namespace orbel
