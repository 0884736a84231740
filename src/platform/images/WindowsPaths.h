// Windows file names from registrations mapped onto the files of the machine
// whose registry is viewed: a Wine prefix's drive_c, a mounted Windows volume.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Environment.h"

namespace orbel::platform {

// Folder listings of an image, kept so that names that differ from their
// files' in letter case are matched without listing a folder for each of
// them. A folder whose modification time changed is listed again.
struct FolderListings {
  struct Listing {
    std::filesystem::file_time_type time;
    std::map<std::string, std::string> byLowerName;  // the smallest name of each
  };
  std::map<std::filesystem::path, Listing> folders;
  std::size_t names = 0;  // in all listings; bounded, the oldest dropped first
};

// The files of the machine whose registry is viewed.
struct ImageFiles {
  std::filesystem::path driveC;                       // folder standing for C:\ ; empty: none
  std::map<char, std::filesystem::path> otherDrives;  // 'd' -> folder, lower-case letter keys
  // The image's own folder, resolved: no file outside it is ever named,
  // whatever links lead there. Empty: each drive folder stands for itself.
  std::filesystem::path realRoot;
  // Shared by the copies of these files.
  std::shared_ptr<FolderListings> listings = std::make_shared<FolderListings>();
  // The files as a 32-bit process sees them: C:\Windows\System32 is
  // SysWOW64 (but for the folders both share) and %ProgramFiles% is
  // "Program Files (x86)".
  bool wow64 = false;
  // What the image itself says of its folders, by variable name (matched
  // without regard to case): SystemRoot, ProgramFiles, ProgramData, the
  // user's profile ... each standing before the usual value.
  std::map<std::string, std::string> variables;
  // The folders of the image's PATH, searched last for a bare file name.
  std::vector<std::string> searchPath;
};

// A Wine prefix: drive_c as C:, and the dosdevices/<x>: links that lead to a
// folder for the other letters, each only when it stays inside the prefix
// (a prefix from another machine may link its drives to this machine's
// files).
ImageFiles ImageFilesOfWinePrefix(const std::filesystem::path& prefix);

// Maps a Windows file name from a registration to an existing regular file in
// the image, or nullopt. Expands %SystemRoot% and the like, matches each
// component without regard to case, looks bare file names up in the system
// folder (System32, redirected for a 32-bit process, then Windows) and keeps
// ".." inside the drive folder. Quotes and ",index" must already be cut.
// Blanks and dots that end the last component are dropped, as Windows drops
// them; other blanks are kept as they are.
std::optional<std::filesystem::path> MapWindowsPath(std::string_view windowsPath,
                                                    const ImageFiles& files);

// `text` with the %NAME% references the image gives a value for (or that
// have a usual value) replaced; unknown ones kept as they stand.
std::string ExpandWindowsVariables(std::string_view text, const ImageFiles& files);

// The Windows name of `file`, a file found inside the image's drive folders
// ("C:\Windows\SysWOW64\x.dll", in the letter case of the files); empty
// when it lies in none of them.
std::string WindowsNameOf(const std::filesystem::path& file, const ImageFiles& files);

// Whether a Windows file name holds a %NAME% reference that MapWindowsPath
// does not know, so that it cannot name a file of the image.
bool NamesUnknownVariable(std::string_view windowsPath);

// The file name `path`, from a registry that is not this computer's, with
// its %NAME% references expanded from `environment` (unknown ones kept as
// they stand), when the shell may open it here: a drive path (C:\..., also
// as \\?\C:\...) or a relative or bare name. Nothing for a network path
// (\\server\share, //server/share, \\?\UNC\...), a device path (\\.\...,
// \??\...), a path from the root of the current drive or a name with any
// other colon: opening those would reach a computer the registry's writer
// chose, with the user's network credentials.
std::optional<std::string> LocalFileForShell(std::string_view path,
                                             const EnvironmentLookup& environment);

}  // namespace orbel::platform
