#include "platform/images/RegistryImage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "platform/base/Text.h"
#include "platform/computer/LocalImage.h"
#include "platform/store/MemoryStore.h"
#include "support/Hivex.h"
#include "support/RegfWriter.h"
#include "support/TempFolder.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;

using orbel::testing::TempFolder;

// Writes a hive whose root holds `paths` (each with a default value naming it).
fs::path WriteHive(const fs::path& file, const std::vector<std::string>& paths) {
  MemoryStore store;
  for (const auto& path : paths) store.PutString(store.EnsurePath(path), "", path);
  fs::create_directories(file.parent_path());
  std::string error;
  EXPECT_TRUE(WriteRegfHiveFile(file, store, store.RootNode(), {}, error)) << error;
  return file;
}

// The subkey names of `path` in the image, or an error text.
std::vector<std::string> Subkeys(Store& store, std::string_view path) {
  Store::Node node = store.RootNode();
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (store.FindChild(node, path.substr(start, end - start), node) != kSuccess) {
      return {"<missing " + std::string(path) + ">"};
    }
    start = end + 1;
  }
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; store.SubkeyName(node, i, name) == kSuccess; ++i) names.push_back(name);
  return names;
}

TEST(RegistryImage, WinePrefixReadsSystemRegAndItsDrive) {
  TempFolder folder;
  folder.Write("System.reg",
               "WINE REGISTRY Version 2\n\n[Software\\\\Classes\\\\CLSID\\\\{W}] 1600000000\n"
               "@=\"Wine class\"\n");
  fs::create_directories(folder.path() / "drive_c");
  std::string error;
  const auto image = OpenRegistryImage(folder.path(), error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->kind, ImageKind::WinePrefix);
  EXPECT_EQ(image->driveFolder, folder.path() / "drive_c");
  EXPECT_EQ(Subkeys(*image->machine, "Software\\Classes\\CLSID"), std::vector<std::string>{"{W}"});
}

TEST(RegistryImage, WindowsVolumeAndWindowsFolderFindTheSoftwareHive) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  TempFolder folder;
  WriteHive(folder.path() / "WINDOWS/system32/Config/software", {"Classes\\CLSID\\{S}"});
  std::string error;
  for (const auto& [given, drive] :
       std::vector<std::pair<fs::path, fs::path>>{{folder.path(), folder.path()},
                                                  {folder.path() / "WINDOWS", folder.path()}}) {
    const auto image = OpenRegistryImage(given, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->kind, ImageKind::WindowsFolder);
    EXPECT_EQ(image->driveFolder, drive);
    EXPECT_EQ(Subkeys(*image->machine, "Software\\Classes\\CLSID"), std::vector<std::string>{"{S}"});
  }
}

TEST(RegistryImage, HivesAreMountedByWhatTheirRootHolds) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  TempFolder folder;
  std::string error;
  const auto classes =
      OpenRegistryImage(WriteHive(folder.path() / "UsrClass.dat", {"CLSID\\{C}", "TypeLib\\{L}"}), error);
  ASSERT_TRUE(classes) << error;
  EXPECT_EQ(classes->kind, ImageKind::ClassesHive);
  EXPECT_EQ(Subkeys(*classes->machine, ""), std::vector<std::string>{"Software"});
  EXPECT_EQ(Subkeys(*classes->machine, "software\\CLASSES\\clsid"), std::vector<std::string>{"{C}"});
  EXPECT_EQ(Subkeys(*classes->machine, "Software\\Classes\\TypeLib"), std::vector<std::string>{"{L}"});

  const auto software =
      OpenRegistryImage(WriteHive(folder.path() / "SOFTWARE", {"Classes\\CLSID\\{S}"}), error);
  ASSERT_TRUE(software) << error;
  EXPECT_EQ(software->kind, ImageKind::SoftwareHive);
  EXPECT_EQ(Subkeys(*software->machine, "Software\\Classes\\CLSID"), std::vector<std::string>{"{S}"});
  EXPECT_FALSE(software->driveFolder);
}

TEST(RegistryImage, RegExportPutsClassesRootBelowSoftwareClasses) {
  TempFolder folder;
  const auto file = folder.Write(
      "export.reg",
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{FROM-HKCR}]\r\n@=\"a\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{FROM-HKLM}]\r\n@=\"b\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\{FROM-HKCU}]\r\n@=\"c\"\r\n");
  std::string error;
  const auto image = OpenRegistryImage(file, error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->kind, ImageKind::RegistryFile);
  EXPECT_EQ(Subkeys(*image->machine, "Software\\Classes\\CLSID"),
            (std::vector<std::string>{"{FROM-HKCR}", "{FROM-HKLM}"}));
}

TEST(RegistryImage, WhatIsNoImageGivesAClearError) {
  TempFolder folder;
  std::vector<std::pair<std::string, fs::path>> cases = {
      {"no such file or folder", folder.path() / "missing"},
      {"no registry in this folder", folder.path()},
      {"not a registry hive, registry file, Wine prefix or Windows folder",
       folder.Write("notes.txt", "just some text\n")},
      {"not a registry hive, registry file, Wine prefix or Windows folder",
       folder.Write("empty", "")},
  };
#ifndef _WIN32
  // A FIFO named as an image was opened to sniff it, and blocked for a writer.
  ASSERT_EQ(::mkfifo((folder.path() / "pipe").c_str(), 0600), 0);
  cases.emplace_back("a FIFO, not a regular file", folder.path() / "pipe");
#endif
  for (const auto& [expected, path] : cases) {
    std::string error;
    EXPECT_FALSE(OpenRegistryImage(path, error));
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_NE(error.find(path.filename().string()), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(OpenRegistryImage(folder.Write("fake.hiv", "regf but nothing else"), error));
  EXPECT_NE(error.find("fake.hiv"), std::string::npos) << error;
}

TEST(LocalImage, ChoosesTheVariableThenTheWinePrefixThenTheSample) {
  TempFolder folder;
  const fs::path sample = "/opt/sample/system.reg";
  std::map<std::string, std::string> env;
  const EnvironmentLookup lookup = [&env](const char* name) -> std::optional<std::string> {
    const auto it = env.find(name);
    return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  EXPECT_EQ(ChooseLocalImage(lookup, sample).path, sample);
  env["HOME"] = folder.path().string();
  EXPECT_EQ(ChooseLocalImage(lookup, sample).path, sample) << "~/.wine without system.reg";
  folder.Write(".wine/system.reg", "WINE REGISTRY Version 2\n");
  EXPECT_EQ(ChooseLocalImage(lookup, sample).path, folder.path() / ".wine");
  env["WINEPREFIX"] = (folder.path() / "other").string();
  EXPECT_EQ(ChooseLocalImage(lookup, sample).path, sample) << "$WINEPREFIX wins over ~/.wine";
  env["ORBEL_REGISTRY"] = "/some/hive";
  EXPECT_EQ(ChooseLocalImage(lookup, sample).path, "/some/hive");
  env["ORBEL_REGISTRY"] = "";
  EXPECT_EQ(ChooseLocalImage(lookup, sample).reason, "sample registry");
}

TEST(LocalImage, TheRegistryReadsTheImageAndConnectsToOthersByPath) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  TempFolder folder;
  WriteHive(folder.path() / "other/UsrClass.dat", {"CLSID\\{REMOTE}"});
  PortableRegistry registry;
  SetUpPortableRegistry(registry, {fs::path(ORBEL_SAMPLE_REGISTRY), "sample registry"});

  HKey key{};
  ASSERT_EQ(registry.OpenKey(HKeyLocalMachine, "Software\\Classes\\CLSID", KEY_READ, key), kSuccess);
  KeyFigures figures;
  ASSERT_EQ(registry.QueryInfoKey(key, figures), kSuccess);
  EXPECT_GE(figures.subkeyCount, 40u) << "the sample holds some forty classes";
  EXPECT_EQ(registry.OpenKey(HKeyClassesRoot, "CLSID", KEY_READ, key), kSuccess);
  EXPECT_EQ(registry.RootProblem(HKeyLocalMachine), "");

  HKey remote{};
  ASSERT_EQ(registry.ConnectRegistry("\\\\" + (folder.path() / "other/UsrClass.dat").string(),
                                     HKeyLocalMachine, remote),
            kSuccess);
  EXPECT_EQ(registry.OpenKey(remote, "Software\\Classes\\CLSID\\{REMOTE}", KEY_READ, key), kSuccess);
  // A path is taken as it stands: its case is not guessed.
  std::string upper = "\\\\" + (folder.path() / "other/UsrClass.dat").string();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(registry.ConnectRegistry(upper, HKeyLocalMachine, remote), kBadNetPath) << upper;
  EXPECT_EQ(registry.ConnectRegistry("\\\\NO-SUCH-PC", HKeyLocalMachine, remote), kBadNetPath);
  EXPECT_NE(registry.LastConnectError().find("NO-SUCH-PC"), std::string::npos)
      << registry.LastConnectError();
}

TEST(LocalImage, AnUnreadableImageIsReportedNotEmpty) {
  PortableRegistry registry;
  SetUpPortableRegistry(registry, {"/no/such/registry", "ORBEL_REGISTRY"});
  HKey key{};
  EXPECT_NE(registry.OpenKey(HKeyLocalMachine, "Software", KEY_READ, key), kSuccess);
  EXPECT_NE(registry.RootProblem(HKeyLocalMachine).find("/no/such/registry"), std::string::npos);
}

TEST(SampleRegistry, ReadsWithoutIssues) {
  std::string error;
  const auto image = OpenRegistryImage(ORBEL_SAMPLE_REGISTRY, error);
  ASSERT_TRUE(image) << error;
  EXPECT_TRUE(image->warnings.empty()) << image->warnings.front();
  EXPECT_EQ(Subkeys(*image->machine, "Software\\Classes\\CLSID").size(), 44u);
}

// Class key counts of the real hives, as the corpus describes them.
TEST(Corpus, RealClassHivesGiveTheirClassKeys) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  const fs::path real = fs::path(ORBEL_CORPUS_DIR) / "real";
  if (!fs::exists(real)) GTEST_SKIP() << "no corpus at " << real;
  const std::map<std::string, std::size_t> counts = {
      {"regipy_UsrClass.dat", 20}, {"win10_UsrClass.dat", 29}, {"win11_UsrClass.dat", 29}};
  for (const auto& [file, count] : counts) {
    std::string error;
    const auto image = OpenRegistryImage(real / file, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->kind, ImageKind::ClassesHive) << file;
    EXPECT_EQ(Subkeys(*image->machine, "Software\\Classes\\CLSID").size(), count) << file;
  }
  for (const char* file : {"win10_2016_UsrClass.dat", "NTUSER.DAT", "minimal_empty"}) {
    std::string error;
    const auto image = OpenRegistryImage(real / file, error);
    ASSERT_TRUE(image) << file << ": " << error;
    EXPECT_EQ(Subkeys(*image->machine, "Software\\Classes\\CLSID").front().substr(0, 8),
              "<missing")
        << file << " has no CLSID key";
  }
}

TEST(Corpus, DamagedHivesOpenOrFailWithAMessage) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  const fs::path damaged = fs::path(ORBEL_CORPUS_DIR) / "damaged";
  if (!fs::exists(damaged)) GTEST_SKIP() << "no corpus at " << damaged;
  int opened = 0;
  for (const auto& entry : fs::directory_iterator(damaged)) {
    std::string error;
    const auto image = OpenRegistryImage(entry.path(), error);
    if (image) {
      ++opened;
      Subkeys(*image->machine, "Software\\Classes\\CLSID");
    } else {
      EXPECT_NE(error.find(entry.path().filename().string()), std::string::npos) << error;
    }
  }
  EXPECT_GT(opened, 10);
}

}  // namespace
}  // namespace orbel::platform
