#include "cli/FindingsView.h"

#include "cli/FileCheck.h"
#include "cli/TerminalText.h"

namespace orbel {

void FindingsView::SetReading(const std::string& view, const TCOLESettings& catalogue) {
  auto& classes = classes_[view];
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    const COLEObject* entry = catalogue.EntryAt(i);
    classes.emplace(entry->RegistrySettings->Guid, entry);
  }
}

int FindingsView::AddFields(const COLEObject& entry, const Rows& rows, const std::string& view,
                            const std::vector<CheckedFile>* checked, const FileCheck* files,
                            json& fields) {
  ClassEvidence evidence;
  evidence.guid = entry.RegistrySettings->Guid;
  evidence.treatAs = entry.RegistrySettings->TreatAs;
  evidence.rows = rows;
  if (fields.contains("scope")) evidence.scope = fields["scope"].get<std::string>();
  if (fields.contains("overrides")) {
    const auto text = [](const json& value) {
      return value.is_string() ? value.get<std::string>() : std::string();
    };
    for (const auto& item : fields["overrides"]) {
      evidence.overrides.emplace_back(text(item[0]), text(item[1]), text(item[2]));
    }
  }
  if (checked) evidence.files = *checked;
  const auto& classes = classes_[view];
  const bool wow64 = view == "32";
  const ClassLookup lookup = [&](const std::string& guid) -> std::optional<ClassEvidence> {
    const auto found = classes.find(guid);
    if (found == classes.end()) return std::nullopt;
    ClassEvidence target;
    target.guid = found->second->RegistrySettings->Guid;
    target.treatAs = found->second->RegistrySettings->TreatAs;
    target.rows = RowsOf(*found->second);
    if (files) target.files = files->Look(*found->second, target.rows, wow64);
    return target;
  };
  const std::vector<Finding> findings = FindingsOf(evidence, lookup);
  tally_.Add(findings);
  json list = json::array();
  for (const Finding& finding : findings) {
    list.push_back(
        {{"rule", finding.rule}, {"technique", finding.technique}, {"detail", finding.detail}});
  }
  const int count = static_cast<int>(list.size());
  fields["findings"] = std::move(list);
  return count;
}

void FindingsView::PrintSummary(std::ostream& out) const {
  std::string rules;
  for (const auto& [rule, count] : tally_.ByRule()) {
    if (count == 0) continue;
    rules += (rules.empty() ? ": " : ", ") + std::string(rule) + " " + std::to_string(count);
  }
  out << "\n" << tally_.Total() << " findings in " << tally_.Entries() << " objects" << rules
      << "\n";
}

void FindingsView::AddSummary(json& summary) const {
  json counts = json::object();
  for (const auto& [rule, count] : tally_.ByRule()) counts[std::string(rule)] = count;
  summary["findings"] = std::move(counts);
  summary["entriesWithFindings"] = tally_.Entries();
}

void FindingsView::List(const json& findings, std::string& listing) {
  for (const auto& finding : findings) {
    listing += "\tfinding\t" + finding["rule"].get<std::string>() + '\t' +
               TerminalText(finding["detail"].get<std::string>()) + '\n';
  }
}

}  // namespace orbel
