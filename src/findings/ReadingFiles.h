// The files of the image a reading comes from, with the folders of a user's
// profile, for the rules and the server rows that need the files themselves.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/api/RegistryApi.h"
#include "platform/images/WindowsPaths.h"
#include "platform/store/Store.h"

namespace orbel {

// The user whose profile variables (%USERPROFILE%, %APPDATA%, ...) resolve:
// a Windows image's user by name, whose profile lies in the image's
// profiles folder, or the variables a Wine user's registry holds. Empty:
// no user is known.
struct UserProfile {
  std::string name;
  std::map<std::string, std::string> variables;
};

// The profile variables a user's registry holds: Wine keeps the profile's
// folders in the user's Volatile Environment and Environment keys.
std::map<std::string, std::string> ProfileVariables(platform::Store& store);

// The files of the machine whose HKEY_LOCAL_MACHINE is `root` of `registry`,
// with the folders its registry names and those of `user`'s profile;
// nothing when that machine has no drive folder.
std::optional<platform::ImageFiles> ImageFilesOf(platform::RegistryApi& registry,
                                                 platform::HKey root, const UserProfile& user = {});

}  // namespace orbel
