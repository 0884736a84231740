// Icon locations from registrations: the file and index parsed from the
// value, the Windows path mapped into a small image of a C: drive. A mapped
// file must exist and lie inside the drive folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "model/COLEObjectIconsUnit.h"
#include "platform/images/WindowsPaths.h"

namespace fs = std::filesystem;
using namespace orbel;

namespace {

fs::path g_drive;

void MakeDrive() {
  g_drive = fs::temp_directory_path() / ("orbel-fuzz-drive-" + std::to_string(::getpid()));
  for (const char* file : {"Windows/System32/shell32.dll", "Windows/System32/ole32.dll",
                           "Windows/SysWOW64/msvbvm60.dll", "Windows/explorer.exe",
                           "Program Files/App/app.exe", "Program Files (x86)/Common Files/c.ocx"}) {
    const fs::path path = g_drive / file;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "MZ";
  }
  fs::create_directory_symlink("/etc", g_drive / "Windows/outside");
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(g_drive, ec);
  });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeDrive();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string location(reinterpret_cast<const char*>(data), size);
  (void)COLEObjectIcons::IconIndexOf(location);
  const std::string file = COLEObjectIcons::IconFileOf(location);
  if (file.size() > location.size()) std::abort();
  platform::ImageFiles files;
  files.driveC = g_drive;
  const auto mapped = platform::MapWindowsPath(file, files);
  if (!mapped) return 0;
  std::error_code ec;
  if (!fs::is_regular_file(*mapped, ec)) std::abort();
  const fs::path real = fs::canonical(*mapped, ec);
  const fs::path root = fs::canonical(g_drive, ec);
  if (ec || real.string().rfind(root.string() + "/", 0) != 0) std::abort();
  return 0;
}
