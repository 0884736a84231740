#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "platform/base/ProgramFolder.h"
#include "platform/computer/LocalImage.h"
#include "support/TempFolder.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;

// Forgets the chosen program folder whatever way the test ends.
struct ProgramFolderChoice {
  explicit ProgramFolderChoice(const fs::path& folder) { SetProgramFolder(folder); }
  ~ProgramFolderChoice() { SetProgramFolder({}); }
};

TEST(ProgramFolderTest, RealFolderHoldsThisProgram) {
  const fs::path folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(fs::exists(folder / "platform_tests") || fs::exists(folder / "platform_tests.exe"))
      << folder;
}

TEST(ProgramFolderTest, DataFileFoundBesideTheProgramThenInstalledThenInSource) {
  testing::TempFolder scratch;
  const fs::path bin = scratch.path() / "prefix" / "bin";
  fs::create_directories(bin);
  const ProgramFolderChoice choice(bin);
  const fs::path data = InstalledDataFolder();
  // The installed data folder is found from the program's folder, inside its prefix.
  ASSERT_EQ(data.string().rfind((scratch.path() / "prefix").string(), 0), 0u) << data;

  const fs::path source = scratch.path() / "source";
  const fs::path beside = bin / "Orbel.html";
  const fs::path installed = data / "Orbel.html";
  const fs::path inSource = source / "Orbel.html";
  struct Case {
    std::vector<fs::path> present;
    fs::path expected;
  };
  const Case cases[] = {
      {{beside, installed, inSource}, beside},
      {{installed, inSource}, installed},
      {{inSource}, inSource},
      {{}, {}},
  };
  for (const Case& c : cases) {
    for (const fs::path& file : {beside, installed, inSource}) fs::remove(file);
    for (const fs::path& file : c.present) {
      fs::create_directories(file.parent_path());
      std::ofstream(file) << "<html></html>";
    }
    EXPECT_EQ(FindDataFile("Orbel.html", source), c.expected) << c.present.size() << " present";
  }
  // A folder of the file's name is not the file.
  fs::create_directories(installed);
  EXPECT_EQ(FindDataFile("Orbel.html", {}), fs::path());
}

TEST(ProgramFolderTest, SampleRegistryFoundInTheInstalledTree) {
  testing::TempFolder scratch;
  const ProgramFolderChoice choice(scratch.path() / "bin");
  const fs::path installed =
      scratch.Write(fs::relative(InstalledDataFolder(), scratch.path()) / "sample" / "system.reg",
                    "WINE REGISTRY Version 2\n");
  EXPECT_EQ(SampleRegistryPath(), installed);
}

}  // namespace
}  // namespace orbel::platform
