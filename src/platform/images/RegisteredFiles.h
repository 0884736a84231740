// The files that registrations name, looked up in the files of the machine
// whose registry is read, and the folders a user may write to.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/images/WindowsPaths.h"

namespace orbel::platform {

// The files behind the folder standing for C:\ of an image: a Wine prefix's
// drive_c lends the prefix's other drive letters too.
ImageFiles ImageFilesOfDriveFolder(const std::filesystem::path& driveFolder);

enum class FileState {
  Present,     // the file is in the image
  Missing,     // the image has files, but not this one
  Unresolved,  // the image has no files, or the name cannot be mapped into it
};

// Looks up the file a registration value names: a server or handler command
// line (quoted, or with arguments after a blank) or an icon location (with
// ",index"). An unquoted name with blanks is tried whole and cut at each
// blank, as Windows starts such a command line. `files` empty: the image
// has no files. Network paths, unknown %NAME% references and drive letters
// the image lacks are unresolved.
FileState CheckRegisteredFile(std::string_view value, const std::optional<ImageFiles>& files);

// Whether a Windows file name lies in a folder the user may write to: the
// user's profile (AppData included) or a temporary folder.
bool InUserWritableFolder(std::string_view windowsPath);

}  // namespace orbel::platform
