#include "cli/FileCheck.h"

#include "cli/TerminalText.h"
#include "tools/Vell_Tools.h"

namespace orbel {

FileCheck::FileCheck(platform::RegistryApi& registry, const std::optional<std::string>& source) {
  platform::HKey root = platform::HKeyLocalMachine;
  bool connected = false;
  if (source) {
    connected =
        registry.ConnectRegistry(*source, platform::HKeyLocalMachine, root) == platform::kSuccess;
  }
  if (!source || connected) {
    if (const auto drive = registry.DriveFolderOf(root); drive && !drive->empty()) {
      files_ = platform::ImageFilesOfDriveFolder(*drive);
      files32_ = files_;
      files32_->wow64 = true;
    }
  }
  if (connected) registry.CloseKey(root);
}

int FileCheck::Check(const Rows& rows, bool wow64, json& files) {
  files = json::array();
  int missing = 0;
  for (const char* row : kFileRows) {
    const std::string& value = RowValue(rows, row);
    if (value == kUnknown || value.empty()) continue;
    const auto state = platform::CheckRegisteredFile(value, wow64 ? files32_ : files_);
    const char* name = state == platform::FileState::Present   ? "present"
                       : state == platform::FileState::Missing ? "missing"
                                                               : "unresolved";
    if (state == platform::FileState::Missing) ++missing;
    files.push_back({{"row", row}, {"path", value}, {"state", name}});
  }
  missingFiles_ += missing;
  if (missing > 0) ++entriesWithMissingFiles_;
  return missing;
}

void FileCheck::PrintSummary(std::ostream& out) const {
  out << "\n" << missingFiles_ << " missing files in " << entriesWithMissingFiles_ << " objects\n";
}

void FileCheck::AddSummary(json& summary) const {
  summary["missingFiles"] = missingFiles_;
  summary["entriesWithMissingFiles"] = entriesWithMissingFiles_;
}

void FileCheck::ListMissing(const json& files, std::string& listing) {
  for (const auto& file : files) {
    if (file["state"] != "missing") continue;
    listing += "\tmissing\t" + file["row"].get<std::string>() + '\t' +
               TerminalText(file["path"].get<std::string>()) + '\n';
  }
}

}  // namespace orbel
