// The files a class's servers name, found as Windows finds them: an
// in-process server as LoadLibrary takes its name, a local server's command
// line as CreateProcess reads it, the files that launchers are given, and
// the image's own folder variables.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/api/RegistryApi.h"
#include "platform/images/RegisteredFiles.h"
#include "platform/images/WindowsPaths.h"

namespace orbel::platform {

// How Windows takes a registration value that names a file.
enum class ServerForm {
  Library,      // InprocServer32, InprocHandler32: one file name, taken whole
  CommandLine,  // LocalServer32: a command line, its program read as CreateProcess reads it
  Program,      // ServerExecutable: the program itself, taken whole
  Icon,         // DefaultIcon, ToolboxBitmap32: a file name, maybe quoted, with ",index"
};

// One file looked up: where it was found, as a Windows name.
struct FileLookup {
  FileState state = FileState::Unresolved;
  std::string resolved;  // the file Windows would take; empty when none was found
};

struct ServerFile : FileLookup {
  // An unquoted command line with a blank before the program found (or the
  // program meant, when none is): an earlier reading of it could name
  // another file, which Windows would start instead.
  bool unquoted = false;
  // The launcher the command line starts ("rundll32", "regsvr32", "mshta",
  // "wscript", "cscript", "cmd", "powershell"); empty when none.
  std::string launcher;
  // The file the launcher is given, as written, and where it was found.
  std::string argument;
  FileLookup argumentFile;
  // Why the server runs a script rather than a file's code, in words; empty
  // when it does not.
  std::string scriptHost;
};

// Looks up the file the registration value `value` names, taken as `form`
// says, in `files` (none: the image has no files, and every name is
// unresolved). A bare name is searched where that view's loader searches:
// the system folder (SysWOW64 for a 32-bit process), the 16-bit system
// folder, the Windows folder, then the image's PATH. A local server's
// command line without quotes is read as CreateProcess reads it: the
// shortest reading first, ".exe" appended to a name without extension.
// Network paths, unknown %NAME% references and drive letters the image
// lacks are unresolved. Launchers' file arguments are looked up too.
ServerFile CheckServerFile(ServerForm form, std::string_view value,
                           const std::optional<ImageFiles>& files);

// Whether the file name `file` (a Windows name, any folder) is the scriptlet
// runtime, which runs the script a class's ScriptletURL names.
bool IsScriptletRuntime(std::string_view file);

// Gives `files` the folders the image's registry names below `root` of
// `registry`: SystemRoot, the program folders, ProgramData and the public
// profile, and the PATH of its system environment where the image holds it.
void ReadImageVariables(RegistryApi& registry, HKey root, ImageFiles& files);

}  // namespace orbel::platform
