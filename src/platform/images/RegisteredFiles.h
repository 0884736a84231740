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
  Inert,       // a 16-bit registration, which no 32- or 64-bit process loads
};

// Whether a Windows file name lies in a folder a standard user may write
// to, or one that programs are not installed to: a user's profile (AppData,
// Downloads, Desktop, the Startup folder included), the public profile,
// ProgramData, a temporary folder, the printers' colour profiles folder.
// Names still holding %USERPROFILE%, %APPDATA% and the like count too.
bool InUserWritableFolder(std::string_view windowsPath);

}  // namespace orbel::platform
