#include "platform/images/RegisteredFiles.h"

#include <algorithm>
#include <string>

namespace orbel::platform {
namespace fs = std::filesystem;

ImageFiles ImageFilesOfDriveFolder(const fs::path& driveFolder) {
  fs::path folder = driveFolder.lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  if (folder.filename() == "drive_c") {
    const fs::path prefix = folder.parent_path();
    std::error_code ec;
    if (fs::is_regular_file(prefix / "system.reg", ec)) {
      ImageFiles files = ImageFilesOfWinePrefix(prefix);
      if (!files.driveC.empty()) return files;
    }
  }
  ImageFiles files;
  files.driveC = driveFolder;
  std::error_code ec;
  files.realRoot = fs::canonical(driveFolder, ec);
  if (ec) files.realRoot.clear();
  return files;
}

bool InUserWritableFolder(std::string_view windowsPath) {
  std::string path(windowsPath);
  for (char& c : path) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  static constexpr std::string_view kMarks[] = {
      "%userprofile%",
      "%appdata%",
      "%localappdata%",
      "%temp%",
      "%tmp%",
      "%homepath%",
      "%public%",
      "%programdata%",
      "%allusersprofile%",
      ":\\users\\",
      ":\\documents and settings\\",
      "\\appdata\\",
      "\\application data\\",
      "\\local settings\\",
      "\\temp\\",
      "\\tmp\\",
      ":\\programdata\\",
      "\\downloads\\",
      "\\desktop\\",
      "\\start menu\\programs\\startup\\",
      "\\spool\\drivers\\color\\",
  };
  return std::any_of(std::begin(kMarks), std::end(kMarks),
                     [&](std::string_view mark) { return path.find(mark) != std::string::npos; });
}

}  // namespace orbel::platform
