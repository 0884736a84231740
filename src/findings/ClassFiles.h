// The files a class's rows name, each found as Windows finds it for that
// row: the servers and handlers, the development and default icons.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/COLEObjectRegistrySettingsUnit.h"
#include "platform/images/ServerFiles.h"

namespace orbel {

// The rows of an entry by name, as the window lists them.
using Rows = std::vector<std::pair<std::string, std::string>>;

// The rows that name a file; the first kServerRows name servers and handlers.
inline constexpr const char* kFileRows[] = {
    "Control (16bit)", "Control", "Server (16bit)",           "Server",
    "Handler (16bit)", "Handler", "Development Icon (16bit)", "Development Icon",
    "Default Icon",
};
inline constexpr std::size_t kServerRows = 6;

// Whether the row `row` holds a 16-bit registration.
bool Is16BitRow(const std::string& row);

// One file row of a class, checked.
struct CheckedFile {
  std::string row;    // "Control", "Server", ...
  std::string value;  // as registered
  platform::ServerFile file;
  // The Server row: the program ServerExecutable names, which COM starts
  // instead of the command line; empty when there is none.
  std::string program;
  // The Server row of a class whose application is a Windows service: the
  // service COM starts instead; the row is then not looked up.
  std::string service;
};

// The value of the row `name`, or nothing when the entry has no such row
// or it holds nothing.
std::optional<std::string> RowText(const Rows& rows, std::string_view name);

// The file rows of a class with `rows` and registration `record`, each
// looked up in `files` (none: the image has no files). 16-bit rows are
// inert, never looked up.
std::vector<CheckedFile> CheckClassFiles(const Rows& rows, const COLEObjectRegistrySettings& record,
                                         const std::optional<platform::ImageFiles>& files);

// A file state in words: "present", "missing", "unresolved" or "inert".
const char* StateName(platform::FileState state);
// The state of a checked file in words: "present", "missing", "unresolved",
// "inert" or "service".
const char* FileStateName(const CheckedFile& file);

}  // namespace orbel
