#include "cli/FileCheck.h"

#include "cli/TerminalText.h"
#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

json FileJson(const CheckedFile& file) {
  json item = {{"row", file.row}, {"path", file.value}, {"state", FileStateName(file)}};
  const platform::ServerFile& found = file.file;
  if (!file.program.empty()) item["program"] = file.program;
  if (!file.service.empty()) item["service"] = file.service;
  if (!found.resolved.empty()) item["resolved"] = found.resolved;
  if (found.unquoted) item["unquoted"] = true;
  if (!found.launcher.empty()) item["launcher"] = found.launcher;
  if (!found.argument.empty()) {
    item["argument"] = {{"path", found.argument},
                        {"state", StateName(found.argumentFile.state)}};
    if (!found.argumentFile.resolved.empty()) {
      item["argument"]["resolved"] = found.argumentFile.resolved;
    }
  }
  if (!found.scriptHost.empty()) item["scriptHost"] = found.scriptHost;
  return item;
}

}  // namespace

FileCheck::FileCheck(platform::RegistryApi& registry, const std::optional<std::string>& source,
                     const UserProfile& user) {
  platform::HKey root = platform::HKeyLocalMachine;
  bool connected = false;
  if (source) {
    connected =
        registry.ConnectRegistry(*source, platform::HKeyLocalMachine, root) == platform::kSuccess;
  }
  if (!source || connected) {
    files_ = ImageFilesOf(registry, root, user);
    if (files_) {
      files32_ = files_;
      files32_->wow64 = true;
    }
  }
  if (connected) registry.CloseKey(root);
}

std::vector<CheckedFile> FileCheck::Look(const COLEObject& entry, const Rows& rows,
                                         bool wow64) const {
  return CheckClassFiles(rows, *entry.RegistrySettings, wow64 ? files32_ : files_);
}

std::vector<CheckedFile> FileCheck::Check(const COLEObject& entry, const Rows& rows, bool wow64,
                                          json& files) {
  std::vector<CheckedFile> checked = Look(entry, rows, wow64);
  files = json::array();
  for (const CheckedFile& file : checked) {
    if (file.file.state == platform::FileState::Inert) ++inertFiles_;
    files.push_back(FileJson(file));
  }
  const int missing = MissingAmong(checked);
  missingFiles_ += missing;
  if (missing > 0) ++entriesWithMissingFiles_;
  return checked;
}

int FileCheck::MissingAmong(const std::vector<CheckedFile>& files) {
  int missing = 0;
  for (const CheckedFile& file : files) {
    if (file.service.empty() && file.file.state == platform::FileState::Missing) ++missing;
  }
  return missing;
}

void FileCheck::PrintSummary(std::ostream& out) const {
  out << "\n" << missingFiles_ << " missing files in " << entriesWithMissingFiles_ << " objects\n"
      << inertFiles_ << " 16-bit registrations, which no 32- or 64-bit process loads\n";
}

void FileCheck::AddSummary(json& summary) const {
  summary["missingFiles"] = missingFiles_;
  summary["entriesWithMissingFiles"] = entriesWithMissingFiles_;
  summary["inertFiles"] = inertFiles_;
}

void FileCheck::ListMissing(const json& files, std::string& listing) {
  for (const auto& file : files) {
    if (file["state"] != "missing") continue;
    listing += "\tmissing\t" + file["row"].get<std::string>() + '\t' +
               TerminalText(file["path"].get<std::string>()) + '\n';
  }
}

}  // namespace orbel
