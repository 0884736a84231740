// A user's own class registrations, read from a classes hive (UsrClass.dat),
// a Wine prefix's user.reg or a .reg export of HKEY_CURRENT_USER, and the
// users of a Windows image.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/formats/HiveStore.h"
#include "platform/store/Store.h"

namespace orbel {

// A user's keys with Software\Classes\CLSID where a machine's are, so that
// they can lie over the machine's.
struct UserClasses {
  std::shared_ptr<platform::Store> store;
  std::vector<std::string> warnings;  // lines of a text file that could not be read
};

// Reads the user's classes at `path`: a Wine prefix folder (its user.reg),
// a classes hive (UsrClass.dat), a user hive (NTUSER.DAT, Software at its root),
// a Wine user.reg, or a .reg export whose HKEY_CURRENT_USER keys are taken.
// Nothing, and `error` naming the path, when it is none of these.
// A hive is read as its transaction logs bring it unless `logs` says otherwise.
std::optional<UserClasses> OpenUserClasses(const std::filesystem::path& path, std::string& error,
                                           platform::HiveLogs logs = platform::HiveLogs::Apply);

// The users of a Windows volume whose drive folder is `driveFolder` that
// have a classes hive (Users\NAME\AppData\Local\Microsoft\Windows\UsrClass.dat),
// by name, with the hive's path.
std::vector<std::pair<std::string, std::filesystem::path>> UsersOfWindowsImage(
    const std::filesystem::path& driveFolder);

// The users of the image at `image` that have classes of their own, by
// name, with the file that holds them: a Wine prefix's user (named after
// its folder in drive_c/users, its classes in user.reg), the users of a
// Windows volume or of the volume of a Windows folder. None for a hive, a
// .reg file or a path that is no image. Looks at folder names only, so that
// it may be asked as a name is typed.
std::vector<std::pair<std::string, std::filesystem::path>> UsersOfImage(
    const std::filesystem::path& image);

}  // namespace orbel
