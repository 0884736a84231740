#include "platform/base/ProgramFolder.h"

#include <optional>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

#ifndef ORBEL_DATA_FROM_PROGRAM
#define ORBEL_DATA_FROM_PROGRAM "../share/orbel"
#endif

namespace fs = std::filesystem;

namespace orbel::platform {
namespace {

std::optional<fs::path>& ChosenFolder() {
  static std::optional<fs::path> chosen;
  return chosen;
}

fs::path ExecutableFolder() {
#ifdef _WIN32
  std::wstring name(MAX_PATH, L'\0');
  // The name is cut when the buffer is too small; grow it up to the longest
  // path Windows allows.
  while (name.size() <= 32768) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return fs::path(name).parent_path();
    }
    name.resize(name.size() * 2);
  }
  return {};
#else
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path();
#endif
}

bool IsFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

}  // namespace

fs::path ProgramFolder() {
  if (ChosenFolder()) return *ChosenFolder();
  return ExecutableFolder();
}

void SetProgramFolder(const fs::path& folder) {
  if (folder.empty()) {
    ChosenFolder().reset();
  } else {
    ChosenFolder() = folder;
  }
}

fs::path InstalledDataFolder() {
  const fs::path program = ProgramFolder();
  if (program.empty()) return {};
  return (program / ORBEL_DATA_FROM_PROGRAM).lexically_normal();
}

fs::path FindDataFile(const fs::path& relative, const fs::path& sourceFolder) {
  const fs::path program = ProgramFolder();
  if (!program.empty()) {
    if (IsFile(program / relative)) return program / relative;
    const fs::path installed = InstalledDataFolder() / relative;
    if (IsFile(installed)) return installed;
  }
  if (!sourceFolder.empty() && IsFile(sourceFolder / relative)) return sourceFolder / relative;
  return {};
}

}  // namespace orbel::platform
