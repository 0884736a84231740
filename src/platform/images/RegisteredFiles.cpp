#include "platform/images/RegisteredFiles.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/base/Text.h"

namespace orbel::platform {
namespace fs = std::filesystem;

namespace {

// The file part of a value: inside the quotes when it starts with one, else
// the text without a trailing ",number" (an icon index).
std::string FilePart(std::string_view value) {
  if (!value.empty() && value.front() == '"') {
    const std::size_t close = value.find('"', 1);
    return std::string(
        value.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  }
  std::string text(value);
  const std::size_t comma = text.rfind(',');
  if (comma != std::string::npos) {
    std::string_view index = std::string_view(text).substr(comma + 1);
    while (!index.empty() && index.front() == ' ') index.remove_prefix(1);
    if (!index.empty() && (index.front() == '-' || index.front() == '+')) index.remove_prefix(1);
    if (!index.empty() &&
        std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      text.erase(comma);
    }
  }
  return text;
}

bool LacksDrive(const std::string& path, const ImageFiles& files) {
  if (path.size() < 2 || path[1] != ':') return false;
  const char letter =
      path[0] >= 'A' && path[0] <= 'Z' ? static_cast<char>(path[0] - 'A' + 'a') : path[0];
  if (letter == 'c') return files.driveC.empty();
  return !files.otherDrives.contains(letter);
}

}  // namespace

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

FileState CheckRegisteredFile(std::string_view value, const std::optional<ImageFiles>& files) {
  if (!files) return FileState::Unresolved;
  const std::string file = FilePart(value);
  std::string slashed = file;
  std::replace(slashed.begin(), slashed.end(), '/', '\\');
  if (slashed.starts_with("\\\\") || NamesUnknownVariable(file) || LacksDrive(file, *files)) {
    return FileState::Unresolved;
  }
  if (MapWindowsPath(file, *files)) return FileState::Present;
  // A name runs to a blank at most as far as Windows' longest path (32,767
  // UTF-16 units, of which a code point is at least one).
  std::size_t limit = 0;
  for (std::size_t points = 0; limit < file.size() && points <= 32767; ++limit) {
    if ((static_cast<unsigned char>(file[limit]) & 0xC0) != 0x80) ++points;
  }
  for (std::size_t blank = file.find(' '); blank != std::string::npos && blank < limit;
       blank = file.find(' ', blank + 1)) {
    if (blank > 0 && MapWindowsPath(std::string_view(file).substr(0, blank), *files)) {
      return FileState::Present;
    }
  }
  return FileState::Missing;
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
      ":\\users\\",
      ":\\documents and settings\\",
      "\\appdata\\",
      "\\application data\\",
      "\\local settings\\",
      "\\temp\\",
      "\\tmp\\",
  };
  return std::any_of(std::begin(kMarks), std::end(kMarks),
                     [&](std::string_view mark) { return path.find(mark) != std::string::npos; });
}

}  // namespace orbel::platform
