// Server files found as Windows finds them, in an image whose files the test
// plants: LoadLibrary's whole name, CreateProcess's readings of a command
// line without quotes (the shapes of its documentation), the loader's
// search, the 32-bit view and the launchers.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/Text.h"
#include "platform/images/ServerFiles.h"
#include "support/TempFolder.h"

namespace orbel::platform {
namespace {

TEST(ServerFiles, AreFoundAsWindowsFindsThem) {
  const testing::TempFolder folder;
  for (const char* file :
       {"Windows/System32/shell32.dll", "Windows/System32/rundll32.exe", "Windows/System32/mshta.exe",
        "Windows/SysWOW64/only32.dll", "Program Files/Vendor.exe", "Program Files/Vendor App/app.exe",
        "Program Files/sub dir/program name.exe", "Tools/tool.exe", "Users/Public/evil.dll"}) {
    folder.Write(std::string("c/") + file, "MZ");
  }
  ImageFiles files = ImageFilesOfDriveFolder(folder.path() / "c");
  files.searchPath = {"C:\\Tools"};
  ImageFiles files32 = files;
  files32.wow64 = true;

  using enum ServerForm;
  const std::string vendorApp = "C:\\Program Files\\Vendor App\\app.exe";
  const struct {
    ServerForm form;
    std::string value;
    bool wow64;
    FileState state;
    std::string resolved;
    bool unquoted = false;
    std::string launcher = {}, argument = {};
    bool script = false;
  } cases[] = {
      {Library, "shell32.dll", false, FileState::Present, "C:\\Windows\\System32\\shell32.dll"},
      // LoadLibrary appends ".dll"; only a 32-bit process finds SysWOW64's files.
      {Library, "shell32", false, FileState::Present, "C:\\Windows\\System32\\shell32.dll"},
      {Library, "only32.dll", false, FileState::Missing, ""},
      {Library, "only32.dll", true, FileState::Present, "C:\\Windows\\SysWOW64\\only32.dll"},
      // A library's name is taken whole, never cut at a blank.
      {Library, vendorApp + " /x", false, FileState::Missing, ""},
      // CreateProcess: the shortest reading first, ".exe" appended.
      {CommandLine, vendorApp + " /x", false, FileState::Present, "C:\\Program Files\\Vendor.exe",
       true},
      {CommandLine, "\"" + vendorApp + "\" /x", false, FileState::Present, vendorApp},
      {CommandLine, "c:\\program files\\sub dir\\program name", false, FileState::Present,
       "C:\\Program Files\\sub dir\\program name.exe", true},
      {CommandLine, "%ProgramFiles%\\Vendor App\\app.exe", true, FileState::Missing, "", true},
      {CommandLine, "C:\\No Such\\x.exe -Embedding", false, FileState::Missing, "", true},
      {CommandLine, "tool /x", false, FileState::Present, "C:\\Tools\\tool.exe"},
      {CommandLine, "\\\\server\\share\\x.exe", false, FileState::Unresolved, ""},
      {Program, vendorApp, false, FileState::Present, vendorApp},
      // Launchers: their files are looked up too; scripts are named.
      {CommandLine, "rundll32.exe C:\\Users\\Public\\evil.dll,Start", false, FileState::Present,
       "C:\\Windows\\System32\\rundll32.exe", false, "rundll32", "C:\\Users\\Public\\evil.dll"},
      {CommandLine, "mshta javascript:alert(1)", false, FileState::Present,
       "C:\\Windows\\System32\\mshta.exe", false, "mshta", "", true},
      {Icon, "\"C:\\Users\\Public\\evil.dll\",-3", false, FileState::Present,
       "C:\\Users\\Public\\evil.dll"},
  };
  for (const auto& c : cases) {
    const ServerFile found = CheckServerFile(c.form, c.value, c.wow64 ? files32 : files);
    SCOPED_TRACE(c.value + (c.wow64 ? " (32-bit)" : ""));
    EXPECT_EQ(found.state, c.state);
    // Windows names match in any case: Linux answers with the case on disk,
    // Windows with the case asked for.
    EXPECT_EQ(FoldCase(found.resolved), FoldCase(c.resolved));
    EXPECT_EQ(found.unquoted, c.unquoted);
    EXPECT_EQ(found.launcher, c.launcher);
    EXPECT_EQ(FoldCase(found.argumentFile.resolved), FoldCase(c.argument));
    EXPECT_EQ(!found.scriptHost.empty(), c.script) << found.scriptHost;
  }
  EXPECT_EQ(CheckServerFile(Library, "shell32.dll", std::nullopt).state, FileState::Unresolved);
}

}  // namespace
}  // namespace orbel::platform
