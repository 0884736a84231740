#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "platform/images/WindowsPaths.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;

class WindowsPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("orbel-paths-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
#ifdef _WIN32
    GTEST_SKIP() << "the fixture's drive folders hold symbolic links, which need privileges here";
#endif
    fs::remove_all(root_);
    c_ = root_ / "c";
    for (const char* file :
         {"Windows/System32/Shell32.dll", "Windows/System32/dup.dll", "Windows/System32/Case.dll",
          "Windows/System32/CASE.dll", "Windows/System32/sub/dir/thing.cpl",
          "Windows/SysWOW64/only64.dll", "Windows/SysWOW64/dup.dll", "Windows/notepad.exe",
          "Windows/dup.dll", "Program Files/Foo/Foo.exe", "Program Files (x86)/Bar/bar.ocx",
          "Program Files/Common Files/x.dll", "Program Files (x86)/Common Files/y.dll",
          "ProgramData/z.ico", "top.dll", "100%.ico"}) {
      Touch(c_ / file);
    }
    fs::create_directories(c_ / "Windows/System32/folder.dll");
    Touch(root_ / "d/Tools/tool.exe");
    Touch(root_ / "outside/secret.dll");
    fs::create_symlink(root_ / "outside/secret.dll", c_ / "Windows/System32/escape.dll");
    fs::create_symlink("../notepad.exe", c_ / "Windows/System32/inner.dll");
    fs::create_directory_symlink(root_ / "outside", root_ / "e-link");
    files_.driveC = c_;
    files_.otherDrives['d'] = root_ / "d";
    files_.otherDrives['e'] = root_ / "e-link";
  }
  void TearDown() override { fs::remove_all(root_); }

  static void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
  }

  fs::path root_, c_;
  ImageFiles files_;
};

TEST_F(WindowsPathsTest, MapsRegistrationPaths) {
  const fs::path shell32 = c_ / "Windows/System32/Shell32.dll";
  struct Case {
    const char* windowsPath;
    fs::path expected;  // empty: nullopt
  } cases[] = {
      // Environment references, names without regard to case.
      {"%SystemRoot%\\system32\\shell32.dll", shell32},
      {"%systemroot%\\SYSTEM32\\SHELL32.DLL", shell32},
      {"%WINDIR%\\System32\\Shell32.dll", shell32},
      {"%SystemDrive%\\Windows\\System32\\shell32.dll", shell32},
      {"%ProgramFiles%\\foo\\FOO.EXE", c_ / "Program Files/Foo/Foo.exe"},
      {"%ProgramW6432%\\Foo\\Foo.exe", c_ / "Program Files/Foo/Foo.exe"},
      {"%ProgramFiles(x86)%\\Bar\\bar.ocx", c_ / "Program Files (x86)/Bar/bar.ocx"},
      {"%CommonProgramFiles%\\x.dll", c_ / "Program Files/Common Files/x.dll"},
      {"%CommonProgramFiles(x86)%\\y.dll", c_ / "Program Files (x86)/Common Files/y.dll"},
      {"%ProgramData%\\z.ico", c_ / "ProgramData/z.ico"},
      {"%ALLUSERSPROFILE%\\Z.ICO", c_ / "ProgramData/z.ico"},
      {"%UserProfile%\\top.dll", {}},
      {"%Unknown%top.dll", {}},
      {"C:\\100%.ico", c_ / "100%.ico"},  // a lone '%' is text
      // Drives.
      {"C:\\Program Files\\Foo\\Foo.exe", c_ / "Program Files/Foo/Foo.exe"},
      {"c:/program files/foo/foo.exe", c_ / "Program Files/Foo/Foo.exe"},
      {"D:\\TOOLS\\Tool.exe", root_ / "d/Tools/tool.exe"},
      {"F:\\top.dll", {}},
      {"\\Windows\\notepad.exe", c_ / "Windows/notepad.exe"},
      {"\\\\?\\C:\\Windows\\System32\\shell32.dll", shell32},
      // Bare names: System32, then Windows; a 64-bit process never loads
      // from SysWOW64.
      {"shell32.dll", shell32},
      {"only64.dll", {}},
      {"NOTEPAD.EXE", c_ / "Windows/notepad.exe"},
      {"dup.dll", c_ / "Windows/System32/dup.dll"},
      {"top.dll", {}},
      // Relative paths start in System32.
      {"sub\\DIR\\thing.cpl", c_ / "Windows/System32/sub/dir/thing.cpl"},
      {"..\\notepad.exe", c_ / "Windows/notepad.exe"},
      // The exact name wins over case variants; otherwise the smallest.
      {"C:\\Windows\\System32\\Case.dll", c_ / "Windows/System32/Case.dll"},
      {"C:\\Windows\\System32\\CASE.dll", c_ / "Windows/System32/CASE.dll"},
      {"C:\\Windows\\System32\\case.DLL", c_ / "Windows/System32/CASE.dll"},
      // ".." stops at the drive folder.
      {"C:\\..\\..\\top.dll", c_ / "top.dll"},
      {"C:\\Windows\\..\\..\\..\\Windows\\.\\System32\\shell32.dll", shell32},
      {"C:\\..\\outside\\secret.dll", {}},
      {"..\\..\\..\\..\\top.dll", c_ / "top.dll"},
      // Links: inside the drive followed; out of it only through a linked drive.
      {"C:\\Windows\\System32\\inner.dll", c_ / "Windows/System32/inner.dll"},
      {"C:\\Windows\\System32\\escape.dll", {}},
      {"E:\\Secret.dll", root_ / "e-link/secret.dll"},
      // Not a file, or nothing at all.
      {"C:\\Windows\\System32\\missing.dll", {}},
      {"C:\\Windows\\System32\\folder.dll", {}},
      {"C:\\Windows\\System32", {}},
      // Blanks and dots ending the name are dropped, as Windows drops them.
      {"C:\\Windows\\System32\\shell32.dll ", shell32},
      {"shell32.dll. .", shell32},
      {"\\\\?\\C:\\Windows\\System32\\shell32.dll ", {}},
      {"C:\\Windows\\System32\\ .", {}},
      {" C:\\Windows\\System32\\shell32.dll", {}},
      {"", {}},
      {"C:", {}},
      {"C:\\", {}},
      {"1:\\top.dll", {}},
      // Network paths are never opened.
      {"\\\\server\\share\\top.dll", {}},
      {"\\\\?\\UNC\\server\\share\\top.dll", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windowsPath);
    const auto mapped = MapWindowsPath(c.windowsPath, files_);
    if (c.expected.empty()) {
      EXPECT_FALSE(mapped) << *mapped;
    } else {
      ASSERT_TRUE(mapped);
      EXPECT_EQ(*mapped, c.expected);
    }
  }
}

// A 32-bit process sees C:\Windows\System32 as SysWOW64 (but for the folders
// both share) and %ProgramFiles% as Program Files (x86).
TEST_F(WindowsPathsTest, MapsPathsAsA32BitProcessSeesThem) {
  Touch(c_ / "Windows/System32/drivers/etc/hosts");
  files_.wow64 = true;
  const fs::path wow = c_ / "Windows/SysWOW64";
  const struct {
    const char* windowsPath;
    fs::path expected;  // empty: nullopt
  } cases[] = {
      {"only64.dll", wow / "only64.dll"},
      {"DUP.dll", wow / "dup.dll"},
      {"notepad.exe", c_ / "Windows/notepad.exe"},
      {"shell32.dll", {}},
      {"%SystemRoot%\\System32\\dup.dll", wow / "dup.dll"},
      {"C:\\WINDOWS\\system32\\only64.dll", wow / "only64.dll"},
      {"C:\\Windows\\System32\\Shell32.dll", {}},
      {"C:\\Windows\\System32\\drivers\\etc\\hosts", c_ / "Windows/System32/drivers/etc/hosts"},
      {"%ProgramFiles%\\Bar\\bar.ocx", c_ / "Program Files (x86)/Bar/bar.ocx"},
      {"%CommonProgramFiles%\\y.dll", c_ / "Program Files (x86)/Common Files/y.dll"},
      {"%ProgramW6432%\\Foo\\Foo.exe", c_ / "Program Files/Foo/Foo.exe"},
      {"C:\\Program Files\\Foo\\Foo.exe", c_ / "Program Files/Foo/Foo.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.windowsPath);
    const auto mapped = MapWindowsPath(c.windowsPath, files_);
    if (c.expected.empty()) {
      EXPECT_FALSE(mapped) << *mapped;
    } else {
      ASSERT_TRUE(mapped);
      EXPECT_EQ(*mapped, c.expected);
    }
  }
}

TEST_F(WindowsPathsTest, NoDriveCMapsOnlyOtherDrives) {
  ImageFiles files;
  files.otherDrives['d'] = root_ / "d";
  EXPECT_FALSE(MapWindowsPath("shell32.dll", files));
  EXPECT_FALSE(MapWindowsPath("C:\\Windows\\System32\\Shell32.dll", files));
  EXPECT_TRUE(MapWindowsPath("d:\\tools\\tool.exe", files));
}

// Folder listings are kept for names in another case, and listed again when
// the folder changes.
TEST_F(WindowsPathsTest, AFolderIsListedAgainWhenItChanges) {
  EXPECT_FALSE(MapWindowsPath("C:\\Windows\\LATE.DLL", files_));
  Touch(c_ / "Windows/late.dll");
  EXPECT_EQ(MapWindowsPath("C:\\Windows\\LATE.DLL", files_), c_ / "Windows/late.dll");
}

// Drives are lent only while they stay inside the prefix: a prefix from
// another machine may link drive_c or a drive letter to this machine's files.
TEST_F(WindowsPathsTest, WinePrefixDrivesStayInsideThePrefix) {
  const fs::path prefix = root_ / "prefix";
  fs::create_directories(prefix / "dosdevices");
  fs::create_directories(prefix / "mnt");
  fs::rename(c_, prefix / "drive_c");
  fs::rename(root_ / "d", prefix / "mnt/d");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
  fs::create_directory_symlink("../mnt/d", prefix / "dosdevices/d:");
  fs::create_directory_symlink(root_ / "gone", prefix / "dosdevices/g:");  // dangling
  fs::create_symlink("/dev/null", prefix / "dosdevices/com1");
  fs::create_symlink("/dev/null", prefix / "dosdevices/d::");  // a raw device, not a drive
  fs::create_directory_symlink(root_ / "outside", prefix / "dosdevices/X:");
  fs::create_directory_symlink("/", prefix / "dosdevices/z:");
  // A link inside drive_c to a drive that leads out.
  fs::create_symlink("../../../dosdevices/X:/secret.dll", prefix / "drive_c/Windows/System32/out.dll");

  const ImageFiles files = ImageFilesOfWinePrefix(prefix);
  EXPECT_EQ(files.driveC, prefix / "drive_c");
  const std::map<char, fs::path> expected = {{'d', prefix / "dosdevices/d:"}};
  EXPECT_EQ(files.otherDrives, expected);
  EXPECT_EQ(MapWindowsPath("%windir%\\system32\\shell32.dll", files),
            prefix / "drive_c/Windows/System32/Shell32.dll");
  EXPECT_EQ(MapWindowsPath("d:\\tools\\tool.exe", files), prefix / "dosdevices/d:/Tools/tool.exe");
  EXPECT_FALSE(MapWindowsPath("x:\\secret.dll", files));
  EXPECT_FALSE(MapWindowsPath("z:\\etc\\passwd", files));
  EXPECT_FALSE(MapWindowsPath("out.dll", files));

  // Without drive_c, the c: link stands for the drive, if it stays inside.
  fs::rename(prefix / "drive_c", prefix / "c-drive");
  fs::remove(prefix / "dosdevices/c:");
  fs::create_directory_symlink("../c-drive", prefix / "dosdevices/c:");
  const ImageFiles linked = ImageFilesOfWinePrefix(prefix);
  EXPECT_TRUE(linked.driveC.empty());
  EXPECT_EQ(MapWindowsPath("notepad.exe", linked), prefix / "dosdevices/c:/Windows/notepad.exe");

  // drive_c itself a link out of the prefix: C:\etc\passwd is no file of it.
  fs::create_directory_symlink("/", prefix / "drive_c");
  const ImageFiles rooted = ImageFilesOfWinePrefix(prefix);
  EXPECT_TRUE(rooted.driveC.empty());
  EXPECT_FALSE(MapWindowsPath("C:\\etc\\passwd", rooted));

  const ImageFiles none = ImageFilesOfWinePrefix(root_ / "no-such-prefix");
  EXPECT_TRUE(none.driveC.empty());
  EXPECT_TRUE(none.otherDrives.empty());
}

// Icon files from a registry that is not this computer's: only names of this
// computer's drives reach the shell, after expansion as well as before.
TEST(LocalFileForShellTest, NetworkAndDevicePathsAreRefused) {
  const EnvironmentLookup environment = [](const char* name) -> std::optional<std::string> {
    if (std::string_view(name) == "SystemRoot") return "C:\\Windows";
    if (std::string_view(name) == "LOGONSERVER") return "\\\\DC01";
    return std::nullopt;
  };
  const struct {
    const char* path;
    const char* shown;  // nullptr: refused
  } cases[] = {
      {"C:\\Windows\\x.dll", "C:\\Windows\\x.dll"},
      {"c:/Windows/x.dll", "c:/Windows/x.dll"},
      {"\\\\?\\C:\\x.dll", "\\\\?\\C:\\x.dll"},
      {"%SystemRoot%\\x.dll", "C:\\Windows\\x.dll"},
      {"%NoSuchName%\\x.dll", "%NoSuchName%\\x.dll"},
      {"shell32.dll", "shell32.dll"},
      {"..\\x.dll", "..\\x.dll"},
      {"\\\\server\\share\\x.ico", nullptr},
      {"//server/share/x.ico", nullptr},
      {"\\/server/share/x.ico", nullptr},
      {" \"\\\\server\\share\\x.ico", nullptr},
      {"\\\\?\\UNC\\server\\share\\x.ico", nullptr},
      {"\\\\.\\pipe\\x", nullptr},
      {"\\??\\C:\\x.dll", nullptr},
      {"\\Windows\\x.dll", nullptr},
      {"%LOGONSERVER%\\share\\x.ico", nullptr},
      {"C:\\x.dll:stream", nullptr},
      {"file://server/share/x.ico", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> file = LocalFileForShell(c.path, environment);
    if (c.shown == nullptr) {
      EXPECT_FALSE(file) << c.path << " gave " << *file;
    } else {
      EXPECT_EQ(file, std::optional<std::string>(c.shown)) << c.path;
    }
  }
}

// A real prefix named by ORBEL_TEST_WINEPREFIX: its folders are lower-case.
TEST(WineWindowsPathsTest, FindsSystemLibraries) {
  const char* prefix = std::getenv("ORBEL_TEST_WINEPREFIX");
  if (!prefix || !*prefix) GTEST_SKIP() << "ORBEL_TEST_WINEPREFIX is not set";
  const ImageFiles files = ImageFilesOfWinePrefix(prefix);
  ASSERT_FALSE(files.driveC.empty());
  for (const char* name : {"ole32.dll", "%SystemRoot%\\System32\\SHELL32.dll",
                           "C:\\Windows\\System32\\oleaut32.dll"}) {
    EXPECT_TRUE(MapWindowsPath(name, files)) << name;
  }
}

}  // namespace
}  // namespace orbel::platform
