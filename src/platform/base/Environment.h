// Reading the process environment through a function that tests can replace.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace orbel::platform {

// Reads an environment variable; nothing when unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

}  // namespace orbel::platform
