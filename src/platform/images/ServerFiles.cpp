#include "platform/images/ServerFiles.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/base/Text.h"

namespace orbel::platform {
namespace fs = std::filesystem;

namespace {

// Windows' longest path, 32,767 UTF-16 units, of which a code point is at
// least one; a command line may be as long.
constexpr std::size_t kMaxPathPoints = 32767;
// The readings of an unquoted command line tried at most: no program name
// has more blanks than that in practice, and each reading is a lookup.
constexpr std::size_t kMaxReadings = 64;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The last component of a Windows name.
std::string_view LastComponent(std::string_view name) {
  const std::size_t cut = name.find_last_of("\\/");
  return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

bool HasExtension(std::string_view name) {
  return LastComponent(name).find('.') != std::string_view::npos;
}

// The name of a program without its folder and extension, in lower case.
std::string ProgramStem(std::string_view name) {
  std::string stem = Lower(LastComponent(name));
  if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos) stem.erase(dot);
  return stem;
}

bool IsBareName(std::string_view name) {
  return name.find_first_of("\\/:") == std::string_view::npos;
}

// A name that reaches past the image: a network path, or a drive letter or
// variable the image does not know.
bool Unresolvable(const std::string& expanded, const ImageFiles& files) {
  std::string slashed = expanded;
  std::replace(slashed.begin(), slashed.end(), '/', '\\');
  if (slashed.starts_with("\\\\")) return true;
  const std::size_t open = expanded.find('%');
  if (open != std::string::npos && expanded.find('%', open + 1) != std::string::npos) return true;
  if (expanded.size() >= 2 && expanded[1] == ':') {
    const char letter = Lower(expanded.substr(0, 1))[0];
    return letter == 'c' ? files.driveC.empty() : !files.otherDrives.contains(letter);
  }
  return false;
}

bool IsUrl(std::string_view text) {
  const std::string lower = Lower(text.substr(0, 8));
  return lower.starts_with("http://") || lower.starts_with("https://") ||
         lower.starts_with("ftp://") || lower.starts_with("file:");
}

bool IsScriptUrl(std::string_view text) {
  const std::string lower = Lower(text.substr(0, 11));
  return lower.starts_with("javascript:") || lower.starts_with("vbscript:") ||
         lower.starts_with("about:");
}

// Looks a file name up as the loader does: a name with a folder where it
// says, a bare name in the system folder of the view, the 16-bit system
// folder, the Windows folder, then each folder of the image's PATH.
FileLookup Find(const std::string& expanded, const ImageFiles& files) {
  FileLookup lookup;
  if (Unresolvable(expanded, files)) return lookup;
  lookup.state = FileState::Missing;
  std::optional<fs::path> found;
  if (IsBareName(expanded)) {
    for (const char* folder : {"%SystemRoot%\\System32\\", "%SystemRoot%\\System\\", "%SystemRoot%\\"}) {
      found = MapWindowsPath(folder + expanded, files);
      if (found) break;
    }
    for (std::size_t i = 0; !found && i < files.searchPath.size(); ++i) {
      std::string folder = files.searchPath[i];
      if (folder.empty()) continue;
      if (folder.back() != '\\') folder += '\\';
      // A folder that leaves the image names no file of it.
      if (Unresolvable(ExpandWindowsVariables(folder, files), files)) continue;
      found = MapWindowsPath(folder + expanded, files);
    }
  } else {
    found = MapWindowsPath(expanded, files);
  }
  if (found) {
    lookup.state = FileState::Present;
    lookup.resolved = WindowsNameOf(*found, files);
  }
  return lookup;
}

// LoadLibrary appends ".dll" to a name without extension; a trailing dot
// says the name has none.
FileLookup FindLibrary(std::string_view name, const ImageFiles& files) {
  std::string expanded = ExpandWindowsVariables(TrimBlanks(name), files);
  if (!expanded.empty() && expanded.front() == '"') {
    const std::size_t close = expanded.find('"', 1);
    expanded = expanded.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  if (expanded.empty()) return {FileState::Missing, {}};
  if (!HasExtension(expanded)) expanded += ".dll";
  return Find(expanded, files);
}

// CreateProcess appends ".exe" to a program name without extension.
FileLookup FindProgram(std::string name, const ImageFiles& files) {
  if (name.empty()) return {FileState::Missing, {}};
  if (!HasExtension(name)) name += ".exe";
  return Find(name, files);
}

bool LooksLikeProgram(std::string_view name) {
  const std::string lower = Lower(LastComponent(name));
  return lower.ends_with(".exe") || lower.ends_with(".com") || lower.ends_with(".bat") ||
         lower.ends_with(".cmd");
}

// The arguments of a command line, split at blanks outside quotes, the
// quotes dropped; at most kMaxReadings of them.
std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  while (i < text.size() && arguments.size() < kMaxReadings) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) break;
    std::string argument;
    bool quoted = false;
    for (; i < text.size() && (quoted || !IsBlank(text[i])); ++i) {
      if (text[i] == '"') {
        quoted = !quoted;
      } else {
        argument += text[i];
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

// The program of a command line and where its arguments begin, read as
// CreateProcess reads it when it is given no program name.
struct ProgramReading {
  ServerFile file;
  std::size_t argumentsAt = 0;
};

ProgramReading ReadProgram(std::string_view line, const ImageFiles& files) {
  ProgramReading reading;
  ServerFile& server = reading.file;
  std::size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  if (start < line.size() && line[start] == '"') {
    const std::size_t close = line.find('"', start + 1);
    const std::size_t end = close == std::string_view::npos ? line.size() : close;
    static_cast<FileLookup&>(server) =
        FindProgram(std::string(line.substr(start + 1, end - start - 1)), files);
    reading.argumentsAt = std::min(line.size(), end + 1);
    return reading;
  }
  // Each blank ends one reading, the whole line the last: "C:\Program",
  // "C:\Program Files\Sub", "C:\Program Files\Sub Dir\program", ...
  std::vector<std::size_t> ends;
  std::size_t points = 0;
  for (std::size_t i = start; i < line.size() && points <= kMaxPathPoints; ++i) {
    if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++points;
    if (IsBlank(line[i]) && i > start && !IsBlank(line[i - 1])) {
      ends.push_back(i);
      if (ends.size() + 1 >= kMaxReadings) break;
    }
  }
  if (points <= kMaxPathPoints && (ends.empty() || ends.size() + 1 < kMaxReadings)) {
    std::size_t end = line.size();
    while (end > start && IsBlank(line[end - 1])) --end;
    if (ends.empty() || ends.back() != end) ends.push_back(end);
  }
  std::optional<std::size_t> meant;
  for (std::size_t k = 0; k < ends.size(); ++k) {
    const std::string name(line.substr(start, ends[k] - start));
    FileLookup lookup = FindProgram(name, files);
    if (lookup.state == FileState::Present) {
      static_cast<FileLookup&>(server) = std::move(lookup);
      server.unquoted = k > 0;
      reading.argumentsAt = ends[k];
      return reading;
    }
    // Missing when any reading could have named a file of the image.
    if (lookup.state == FileState::Missing) server.state = FileState::Missing;
    if (!meant && LooksLikeProgram(name)) meant = k;
  }
  // Nothing found: the program meant is the first reading that names one.
  const std::size_t k = meant.value_or(ends.empty() ? 0 : ends.size() - 1);
  server.unquoted = k > 0;
  reading.argumentsAt = ends.empty() ? line.size() : ends[k];
  return reading;
}

constexpr std::array<std::string_view, 8> kLaunchers = {
    "rundll32", "regsvr32", "mshta", "wscript", "cscript", "cmd", "powershell", "pwsh"};

// The file a launcher is given among `arguments`, looked up; what makes it
// a script host.
void CheckLauncher(ServerFile& server, const std::vector<std::string>& arguments,
                   std::string_view rest, const ImageFiles& files, int depth) {
  const std::string& launcher = server.launcher;
  const auto firstNotOption = [&arguments](std::string_view optionLead) -> const std::string* {
    for (const auto& argument : arguments) {
      if (!argument.starts_with(optionLead) && !argument.starts_with("-")) return &argument;
    }
    return nullptr;
  };
  for (const auto& argument : arguments) {
    if (IsScriptUrl(argument)) server.scriptHost = launcher + " runs the script " + argument;
  }
  if (launcher == "rundll32") {
    if (arguments.empty() || IsScriptUrl(arguments.front())) return;
    // "rundll32 file.dll,Entry": the library before the comma.
    std::string library = arguments.front().substr(0, arguments.front().find(','));
    server.argument = library;
    server.argumentFile = FindLibrary(library, files);
  } else if (launcher == "regsvr32") {
    for (const auto& argument : arguments) {
      const std::string lower = Lower(argument);
      if ((lower.starts_with("/i:") || lower.starts_with("-i:")) && IsUrl(argument.substr(3))) {
        server.scriptHost = "regsvr32 is given the scriptlet " + argument.substr(3);
      }
    }
    if (const std::string* library = firstNotOption("/")) {
      server.argument = *library;
      server.argumentFile = FindLibrary(*library, files);
    }
  } else if (launcher == "mshta" || launcher == "wscript" || launcher == "cscript") {
    if (server.scriptHost.empty()) server.scriptHost = launcher + " runs scripts";
    const std::string* script = firstNotOption(launcher == "mshta" ? "/" : "//");
    if (!script) return;
    server.argument = *script;
    if (IsUrl(*script)) {
      server.scriptHost = launcher + " runs the script at " + *script;
    } else if (!IsScriptUrl(*script)) {
      server.argumentFile = Find(ExpandWindowsVariables(*script, files), files);
    }
  } else if (launcher == "cmd") {
    // The command after /c (or /k), read as a command line of its own.
    const std::string lower = Lower(rest);
    std::size_t at = lower.find("/c");
    if (at == std::string::npos) at = lower.find("/k");
    if (at == std::string::npos || depth > 0) return;
    const std::string_view command = TrimBlanks(rest.substr(at + 2));
    const ProgramReading inner = ReadProgram(command, files);
    const std::size_t end = inner.argumentsAt;
    server.argument = std::string(TrimBlanks(command.substr(0, end)));
    if (!server.argument.empty() && server.argument.front() == '"') {
      server.argument = server.argument.substr(1, server.argument.size() - 2);
    }
    server.argumentFile = inner.file;
    if (server.scriptHost.empty()) server.scriptHost = "cmd runs the command " + std::string(command);
  } else {
    // powershell, pwsh: a script file after -File; commands otherwise.
    server.scriptHost = launcher + " runs scripts";
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
      const std::string lower = Lower(arguments[i]);
      if (lower == "-file" || lower == "-f") {
        server.argument = arguments[i + 1];
        server.argumentFile = Find(ExpandWindowsVariables(arguments[i + 1], files), files);
      }
    }
  }
  if (server.argument.empty()) return;
  if (IsUrl(server.argument)) server.scriptHost = launcher + " is given the URL " + server.argument;
}

ServerFile CheckCommandLine(std::string_view value, const ImageFiles& files) {
  const std::string line = ExpandWindowsVariables(value, files);
  ProgramReading reading = ReadProgram(line, files);
  ServerFile& server = reading.file;
  // The launcher is known by the program found, else by the name written.
  const std::vector<std::string> written = SplitArguments(line);
  const std::string program = !server.resolved.empty() ? server.resolved
                              : written.empty()        ? std::string()
                                                       : written.front();
  const std::string stem = ProgramStem(program);
  if (std::find(kLaunchers.begin(), kLaunchers.end(), stem) != kLaunchers.end()) {
    server.launcher = stem == "pwsh" ? "powershell" : stem;
    const std::string_view rest = std::string_view(line).substr(reading.argumentsAt);
    CheckLauncher(server, SplitArguments(rest), rest, files, 0);
  }
  return std::move(server);
}

// The file part of an icon location: inside the quotes when it starts with
// one, else the text without a trailing ",number".
std::string IconFile(std::string_view value) {
  value = TrimBlanks(value);
  if (!value.empty() && value.front() == '"') {
    const std::size_t close = value.find('"', 1);
    return std::string(
        value.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  }
  std::string text(value);
  const std::size_t comma = text.rfind(',');
  if (comma != std::string::npos) {
    std::string_view index = std::string_view(text).substr(comma + 1);
    index = TrimBlanks(index);
    if (!index.empty() && (index.front() == '-' || index.front() == '+')) index.remove_prefix(1);
    if (!index.empty() &&
        std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      text.erase(comma);
    }
  }
  return text;
}

// A string value (UTF-16 in the registry) of `path` below `root`; empty when
// there is none.
std::string ReadString(RegistryApi& registry, HKey root, std::string_view path,
                       std::string_view name) {
  HKey key{};
  if (registry.OpenKey(root, path, KEY_READ, key) != kSuccess) return {};
  std::uint32_t type = 0, size = 0;
  std::string text;
  // A folder name is short; a larger value is no folder's.
  if (registry.QueryValue(key, name, &type, nullptr, &size) == kSuccess &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size <= 128 * 1024) {
    std::vector<std::byte> data(size);
    if (registry.QueryValue(key, name, &type, data.data(), &size) == kSuccess) {
      data.resize(std::min<std::size_t>(size, data.size()));
      text = Utf16LeToUtf8(data);
      while (!text.empty() && text.back() == '\0') text.pop_back();
    }
  }
  registry.CloseKey(key);
  return text;
}

}  // namespace

ServerFile CheckServerFile(ServerForm form, std::string_view value,
                           const std::optional<ImageFiles>& files) {
  ServerFile server;
  if (!files) return server;
  switch (form) {
    case ServerForm::Library:
      static_cast<FileLookup&>(server) = FindLibrary(value, *files);
      if (IsUrl(TrimBlanks(value))) server.scriptHost = "the server is the URL " + std::string(value);
      break;
    case ServerForm::Program: {
      std::string program(TrimBlanks(value));
      if (program.size() >= 2 && program.front() == '"' && program.back() == '"') {
        program = program.substr(1, program.size() - 2);
      }
      static_cast<FileLookup&>(server) = FindProgram(ExpandWindowsVariables(program, *files), *files);
      break;
    }
    case ServerForm::CommandLine:
      server = CheckCommandLine(value, *files);
      break;
    case ServerForm::Icon:
      static_cast<FileLookup&>(server) = Find(ExpandWindowsVariables(IconFile(value), *files), *files);
      break;
  }
  return server;
}

bool IsScriptletRuntime(std::string_view file) {
  return Lower(LastComponent(TrimBlanks(file))) == "scrobj.dll";
}

void ReadImageVariables(RegistryApi& registry, HKey root, ImageFiles& files) {
  struct Source {
    const char* key;
    const char* value;
    const char* variable;
  };
  static constexpr Source kSources[] = {
      {"Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", "SystemRoot"},
      {"Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "ProgramFiles"},
      {"Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir (x86)",
       "ProgramFiles(x86)"},
      {"Software\\Microsoft\\Windows\\CurrentVersion", "ProgramW6432Dir", "ProgramW6432"},
      {"Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", "CommonProgramFiles"},
      {"Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir (x86)",
       "CommonProgramFiles(x86)"},
      {"Software\\Microsoft\\Windows\\CurrentVersion", "CommonW6432Dir", "CommonProgramW6432"},
      {"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "ProgramData",
       "ProgramData"},
      {"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "Public", "PUBLIC"},
      {"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "ProfilesDirectory",
       "ProfilesDirectory"},
  };
  std::map<std::string, std::string> found;
  for (const Source& source : kSources) {
    std::string text = ReadString(registry, root, source.key, source.value);
    // Each value is a folder of the image: a drive path or a variable.
    if (text.empty() || text.size() > kMaxPathPoints) continue;
    found[source.variable] = std::move(text);
  }
  const auto set = [&files](const std::string& name, const std::string& value) {
    // Values may name other folders (%SystemDrive%\ProgramData).
    files.variables[name] = ExpandWindowsVariables(value, files);
  };
  if (const auto root = found.find("SystemRoot"); root != found.end()) {
    set("SystemRoot", root->second);
    set("windir", root->second);
    if (root->second.size() >= 2 && root->second[1] == ':') {
      set("SystemDrive", root->second.substr(0, 2));
    }
  }
  for (const auto& [name, value] : found) {
    if (name != "SystemRoot") set(name, value);
  }
  if (const auto data = files.variables.find("ProgramData"); data != files.variables.end()) {
    files.variables["ALLUSERSPROFILE"] = data->second;
  }
  const std::string path = ReadString(
      registry, root, "System\\CurrentControlSet\\Control\\Session Manager\\Environment", "PATH");
  std::size_t start = 0;
  while (start < path.size() && files.searchPath.size() < kMaxReadings) {
    std::size_t end = path.find(';', start);
    if (end == std::string::npos) end = path.size();
    const std::string folder(TrimBlanks(std::string_view(path).substr(start, end - start)));
    if (!folder.empty()) files.searchPath.push_back(ExpandWindowsVariables(folder, files));
    start = end + 1;
  }
}

}  // namespace orbel::platform
