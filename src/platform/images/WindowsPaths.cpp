#include "platform/images/WindowsPaths.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// The usual value of an environment reference on Windows, or nullptr when
// the name is not one we know.
const char* UsualVariable(std::string_view name) {
  struct Variable {
    std::string_view name;
    const char* value;
  };
  static constexpr Variable kVariables[] = {
      {"SystemRoot", "C:\\Windows"},
      {"windir", "C:\\Windows"},
      {"SystemDrive", "C:"},
      {"ProgramFiles", "C:\\Program Files"},
      {"ProgramW6432", "C:\\Program Files"},
      {"ProgramFiles(x86)", "C:\\Program Files (x86)"},
      {"CommonProgramFiles", "C:\\Program Files\\Common Files"},
      {"CommonProgramW6432", "C:\\Program Files\\Common Files"},
      {"CommonProgramFiles(x86)", "C:\\Program Files (x86)\\Common Files"},
      {"ProgramData", "C:\\ProgramData"},
      {"ALLUSERSPROFILE", "C:\\ProgramData"},
      {"PUBLIC", "C:\\Users\\Public"},
  };
  for (const Variable& variable : kVariables) {
    if (SameNoCase(variable.name, name)) return variable.value;
  }
  return nullptr;
}

// The value of an environment reference as a registration on the viewed
// machine would see it: the image's own, else the usual one; nothing when
// neither is known. `files` null: the usual values of a 64-bit process.
std::optional<std::string> KnownVariable(std::string_view name, const ImageFiles* files) {
  // A 32-bit process is given the 32-bit program folders.
  if (files && files->wow64 && SameNoCase(name, "ProgramFiles")) name = "ProgramFiles(x86)";
  if (files && files->wow64 && SameNoCase(name, "CommonProgramFiles")) {
    name = "CommonProgramFiles(x86)";
  }
  if (files) {
    for (const auto& [known, value] : files->variables) {
      if (SameNoCase(known, name)) return value;
    }
  }
  if (const char* value = UsualVariable(name)) return std::string(value);
  return std::nullopt;
}

// Replaces the %NAME% references `valueOf` gives a value for. An unknown
// reference is kept as it stands, so that it names no file; its closing '%'
// may open the next one.
template <typename ValueOf>
std::string ExpandVariables(std::string_view text, const ValueOf& valueOf) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(i, open - i));
    if (const auto value = valueOf(text.substr(open + 1, close - open - 1))) {
      out.append(*value);
      i = close + 1;
    } else {
      out.append(text.substr(open, close - open));
      i = close;
    }
  }
  out.append(text.substr(std::min(i, text.size())));
  return out;
}

std::string ExpandKnown(std::string_view text, const ImageFiles* files) {
  return ExpandVariables(text, [files](std::string_view name) { return KnownVariable(name, files); });
}

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string AsciiLowerCopy(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

// Listings kept for all folders together at most; past that they are
// dropped and listed again as needed.
constexpr std::size_t kMaxListedNames = 1'000'000;

// The entry of `dir` named `name`, matched exactly first and then without
// regard to ASCII case. Among several case variants the smallest name wins,
// so the answer does not depend on directory order.
std::optional<fs::path> FindEntry(const fs::path& dir, const std::string& name,
                                  FolderListings& listings) {
  std::error_code ec;
  fs::path exact = dir / name;
  if (fs::exists(fs::symlink_status(exact, ec))) return exact;
  const auto time = fs::last_write_time(dir, ec);
  if (ec) return std::nullopt;
  auto found = listings.folders.find(dir);
  if (found == listings.folders.end() || found->second.time != time) {
    if (found != listings.folders.end()) {
      listings.names -= found->second.byLowerName.size();
      listings.folders.erase(found);
    }
    FolderListings::Listing listing;
    listing.time = time;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      std::string candidate = it->path().filename().string();
      auto [at, added] = listing.byLowerName.try_emplace(AsciiLowerCopy(candidate), candidate);
      if (!added && candidate < at->second) at->second = std::move(candidate);
    }
    if (listings.names + listing.byLowerName.size() > kMaxListedNames) {
      listings.folders.clear();
      listings.names = 0;
    }
    listings.names += listing.byLowerName.size();
    found = listings.folders.emplace(dir, std::move(listing)).first;
  }
  const auto entry = found->second.byLowerName.find(AsciiLowerCopy(name));
  if (entry == found->second.byLowerName.end()) return std::nullopt;
  return dir / entry->second;
}

// Windows' limits: a path of 32,767 UTF-16 units, a name of 255; counted here
// in code points, which are never more than the units.
constexpr std::size_t kMaxPathUnits = 32767;
constexpr std::size_t kMaxNameUnits = 255;

std::size_t CodePoints(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // the empty element after a trailing separator
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

// Resolves `components` below `drive`, one at a time. ".." stops at the
// drive folder, as it stops at a drive's root on Windows. The file found
// must lie inside `realRoot` (resolved; empty: inside the drive folder).
std::optional<fs::path> Resolve(const fs::path& drive, const std::vector<std::string>& components,
                                const ImageFiles& files) {
  std::vector<std::string> kept;
  for (const std::string& component : components) {
    if (component == ".") continue;
    if (component == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    if (component.find('\0') != std::string::npos) return std::nullopt;
    // No file has a longer name: not looked up.
    if (CodePoints(component) > kMaxNameUnits) return std::nullopt;
    kept.push_back(component);
  }
  if (kept.empty()) return std::nullopt;
  // The file system redirector: a 32-bit process opening C:\Windows\System32
  // gets SysWOW64, except for the folders shared by both.
  if (files.wow64 && drive == files.driveC && kept.size() >= 3 && SameNoCase(kept[0], "Windows") &&
      SameNoCase(kept[1], "System32")) {
    static constexpr std::string_view kShared[] = {"catroot", "catroot2", "DriverStore", "LogFiles",
                                                   "spool"};
    const bool etc =
        kept.size() >= 4 && SameNoCase(kept[2], "drivers") && SameNoCase(kept[3], "etc");
    if (!etc && std::none_of(std::begin(kShared), std::end(kShared),
                             [&](std::string_view name) { return SameNoCase(kept[2], name); })) {
      kept[1] = "SysWOW64";
    }
  }

  std::error_code ec;
  fs::path current = drive;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const auto next = FindEntry(current, kept[i], *files.listings);
    if (!next) return std::nullopt;
    current = *next;
    const bool last = i + 1 == kept.size();
    if (last ? !fs::is_regular_file(current, ec) : !fs::is_directory(current, ec)) {
      return std::nullopt;
    }
  }
  // A link inside the image may not lead out of it.
  const fs::path realFolder = files.realRoot.empty() ? fs::canonical(drive, ec) : files.realRoot;
  if (ec) return std::nullopt;
  const fs::path realFile = fs::canonical(current, ec);
  if (ec || !IsInside(realFile, realFolder)) return std::nullopt;
  return current;
}

const fs::path* DriveFolder(char letter, const ImageFiles& files) {
  letter = AsciiLower(letter);
  if (letter == 'c' && !files.driveC.empty()) return &files.driveC;
  const auto found = files.otherDrives.find(letter);
  if (found == files.otherDrives.end() || found->second.empty()) return nullptr;
  return &found->second;
}

// Windows opens a file whose name ends in blanks or dots without them
// ("C:\app.exe " names C:\app.exe); "." and ".." keep their meaning.
void TrimLastComponent(std::string& path) {
  const std::size_t slash = path.rfind('\\');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::string_view last = std::string_view(path).substr(start);
  if (last == "." || last == "..") return;
  const std::size_t keep = path.find_last_not_of(" .");
  path.resize(keep == std::string::npos || keep < start ? start : keep + 1);
}

bool IsDriveLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

ImageFiles ImageFilesOfWinePrefix(const fs::path& prefix) {
  ImageFiles files;
  std::error_code ec;
  files.realRoot = fs::canonical(prefix, ec);
  if (ec) return ImageFiles{};
  const auto inside = [&files](const fs::path& folder) {
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    return !error && fs::is_directory(real, error) && IsInside(real, files.realRoot);
  };
  if (inside(prefix / "drive_c")) files.driveC = prefix / "drive_c";
  fs::directory_iterator it(prefix / "dosdevices", ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != 2 || name[1] != ':' || !IsDriveLetter(name[0])) continue;
    if (!inside(it->path())) continue;
    const char letter = AsciiLower(name[0]);
    if (letter == 'c' && !files.driveC.empty()) continue;
    files.otherDrives[letter] = it->path();
  }
  return files;
}

std::optional<fs::path> MapWindowsPath(std::string_view windowsPath, const ImageFiles& files) {
  if (CodePoints(windowsPath) > kMaxPathUnits) return std::nullopt;
  std::string path = ExpandKnown(windowsPath, &files);
  std::replace(path.begin(), path.end(), '/', '\\');
  // Names after the "\\?\" prefix are taken as they are.
  if (!path.starts_with("\\\\?\\")) {
    TrimLastComponent(path);
  } else {
    path.erase(0, 4);
    if (SameNoCase(path.substr(0, 4), "UNC\\")) return std::nullopt;
  }
  if (path.starts_with("\\\\")) return std::nullopt;
  if (path.empty()) return std::nullopt;

  if (path.size() >= 2 && path[1] == ':') {
    if (!IsDriveLetter(path[0])) return std::nullopt;
    const fs::path* drive = DriveFolder(path[0], files);
    if (!drive) return std::nullopt;
    return Resolve(*drive, SplitComponents(std::string_view(path).substr(2)), files);
  }

  const fs::path* driveC = DriveFolder('c', files);
  if (!driveC) return std::nullopt;
  if (path.front() == '\\') return Resolve(*driveC, SplitComponents(path), files);

  if (path.find('\\') == std::string::npos) {
    // A bare file name: the system folder of the process's bitness, then the
    // Windows folder, as the loader searches them.
    for (const char* folder : {"Windows\\System32", "Windows"}) {
      std::vector<std::string> components = SplitComponents(folder);
      components.push_back(path);
      if (auto found = Resolve(*driveC, components, files)) return found;
    }
    return std::nullopt;
  }
  std::vector<std::string> components = SplitComponents("Windows\\System32");
  for (std::string& component : SplitComponents(path)) components.push_back(std::move(component));
  return Resolve(*driveC, components, files);
}

std::optional<std::string> LocalFileForShell(std::string_view path,
                                             const EnvironmentLookup& environment) {
  std::string file = ExpandVariables(path, [&](std::string_view name) {
    return name.empty() ? std::nullopt : environment(std::string(name).c_str());
  });
  std::string_view rest = file;
  // Blanks and quotes before the name are no part of what is checked.
  rest.remove_prefix(std::min(rest.find_first_not_of(" \t\""), rest.size()));
  // \\?\ before a drive path only turns off the shell's rules for names.
  if (rest.starts_with("\\\\?\\") && rest.size() >= 6 && IsDriveLetter(rest[4]) && rest[5] == ':') {
    rest.remove_prefix(4);
  }
  // Network and device paths, and paths from the root of the current drive.
  if (rest.empty() || rest[0] == '\\' || rest[0] == '/') return std::nullopt;
  const bool drive = rest.size() >= 2 && IsDriveLetter(rest[0]) && rest[1] == ':';
  // A colon elsewhere names no plain file: a stream, a device, a URL.
  if (rest.find(':', drive ? 2 : 0) != std::string_view::npos) return std::nullopt;
  return file;
}

std::string ExpandWindowsVariables(std::string_view text, const ImageFiles& files) {
  return ExpandKnown(text, &files);
}

std::string WindowsNameOf(const fs::path& file, const ImageFiles& files) {
  const auto nameBelow = [&file](const fs::path& drive, char letter) -> std::string {
    if (drive.empty()) return {};
    const fs::path relative = file.lexically_relative(drive);
    if (relative.empty() || *relative.begin() == "..") return {};
    std::string name(1, static_cast<char>(letter - 'a' + 'A'));
    name += ':';
    for (const auto& part : relative) {
      if (part == ".") continue;
      name += '\\';
      name += part.string();
    }
    return name;
  };
  if (std::string name = nameBelow(files.driveC, 'c'); !name.empty()) return name;
  for (const auto& [letter, drive] : files.otherDrives) {
    if (std::string name = nameBelow(drive, letter); !name.empty()) return name;
  }
  return {};
}

bool NamesUnknownVariable(std::string_view windowsPath) {
  const std::string expanded = ExpandKnown(windowsPath, nullptr);
  const std::size_t open = expanded.find('%');
  return open != std::string::npos && expanded.find('%', open + 1) != std::string::npos;
}

}  // namespace orbel::platform
