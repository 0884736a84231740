#include "findings/ClassFiles.h"

namespace orbel {

bool Is16BitRow(const std::string& row) { return row.ends_with("(16bit)"); }

std::optional<std::string> RowText(const Rows& rows, std::string_view name) {
  for (const auto& [row, value] : rows) {
    if (row == name) {
      if (value.empty() || value == kUnknown) return std::nullopt;
      return value;
    }
  }
  return std::nullopt;
}

std::vector<CheckedFile> CheckClassFiles(const Rows& rows, const COLEObjectRegistrySettings& record,
                                         const std::optional<platform::ImageFiles>& files) {
  using platform::ServerForm;
  std::vector<CheckedFile> checked;
  for (std::size_t i = 0; i < std::size(kFileRows); ++i) {
    const std::string row = kFileRows[i];
    const auto value = RowText(rows, row);
    if (!value) continue;
    CheckedFile file{row, *value, {}, {}, {}};
    if (Is16BitRow(row)) {
      file.file.state = platform::FileState::Inert;
    } else if (row == "Server" && !record.LocalService.empty()) {
      file.service = record.LocalService;
    } else if (row == "Server" && !record.ServerExecutable.empty()) {
      file.program = record.ServerExecutable;
      file.file = platform::CheckServerFile(ServerForm::Program, file.program, files);
    } else {
      const ServerForm form = row == "Server" ? ServerForm::CommandLine
                              : i < kServerRows ? ServerForm::Library
                                                : ServerForm::Icon;
      file.file = platform::CheckServerFile(form, *value, files);
    }
    checked.push_back(std::move(file));
  }
  return checked;
}

const char* StateName(platform::FileState state) {
  switch (state) {
    case platform::FileState::Present:
      return "present";
    case platform::FileState::Missing:
      return "missing";
    case platform::FileState::Inert:
      return "inert";
    default:
      return "unresolved";
  }
}

const char* FileStateName(const CheckedFile& file) {
  return file.service.empty() ? StateName(file.file.state) : "service";
}

}  // namespace orbel
