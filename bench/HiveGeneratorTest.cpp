#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>

#include "HiveGenerator.h"
#include "platform/base/Text.h"
#include "platform/images/RegistryImage.h"
#include "support/RegfWriter.h"

namespace fs = std::filesystem;

namespace orbel {
namespace {

using platform::MemoryStore;
using Node = platform::Store::Node;

constexpr char kAlpha[] = "{0000A1FA-0000-0000-C000-000000000046}";
constexpr char kBeta[] = "{0000BE7A-0000-0000-C000-000000000046}";
constexpr char kLibrary[] = "{11B1A000-0000-0000-C000-000000000046}";

// Two classes: Alpha names a type library and converts to Beta; Beta is
// treated as a class the source does not hold. A key that is no GUID is
// left out.
constexpr char kSourceText[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{0000A1FA-0000-0000-C000-000000000046}]\r\n"
    "@=\"Alpha\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{0000A1FA-0000-0000-C000-000000000046}"
    "\\InprocServer32]\r\n"
    "@=\"alpha.dll\"\r\n\"ThreadingModel\"=\"Both\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{0000A1FA-0000-0000-C000-000000000046}"
    "\\TypeLib]\r\n"
    "@=\"{11b1a000-0000-0000-c000-000000000046}\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{0000A1FA-0000-0000-C000-000000000046}"
    "\\AutoConvertTo]\r\n"
    "@=\"{0000BE7A-0000-0000-C000-000000000046}\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{0000BE7A-0000-0000-C000-000000000046}]\r\n"
    "@=\"Beta\"\r\n\"AppID\"=dword:00000007\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{0000BE7A-0000-0000-C000-000000000046}"
    "\\TreatAs]\r\n"
    "@=\"{99999999-0000-0000-C000-000000000046}\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\CLSID]\r\n"
    "@=\"not a class\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\TypeLib\\{11B1A000-0000-0000-C000-000000000046}"
    "\\1.0]\r\n"
    "@=\"Alpha Library\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\TypeLib\\{11B1A000-0000-0000-C000-000000000046}"
    "\\1.0\\0\\win32]\r\n"
    "@=\"alpha.tlb\"\r\n";

std::string ClassGuid(std::size_t n) { return GeneratedGuid(n, kClassIdSalt); }

class HiveGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("orbel-bench-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  fs::path Write(const std::string& name, std::string_view text) {
    const fs::path file = folder_ / name;
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

  HiveSource LoadSample() {
    std::string error;
    auto source = LoadHiveSource(Write("source.reg", kSourceText), error);
    EXPECT_TRUE(source) << error;
    return source ? std::move(*source) : HiveSource{};
  }

  static std::string Text(MemoryStore& store, const std::string& path, std::string_view name = "") {
    const auto node = store.Find(path);
    if (!node) return "<no key " + path + ">";
    platform::Value value;
    if (store.GetValue(*node, name, value) != platform::kSuccess) return "<no value>";
    return platform::Utf16LeToUtf8(value.data);
  }

  static std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path folder_;
};

TEST(GeneratedGuidTest, HasRegistryFormAndNeverRepeats) {
  std::set<std::string> seen;
  for (std::uint64_t n = 0; n < 100'000; ++n) {
    const std::string guid = GeneratedGuid(n, kClassIdSalt);
    ASSERT_EQ(guid.size(), 38u) << guid;
    ASSERT_EQ(guid.front(), '{');
    ASSERT_EQ(guid.back(), '}');
    for (std::size_t i = 1; i < 37; ++i) {
      if (i == 9 || i == 14 || i == 19 || i == 24) {
        ASSERT_EQ(guid[i], '-') << guid;
      } else {
        ASSERT_TRUE(std::isxdigit(static_cast<unsigned char>(guid[i])) &&
                    !std::islower(static_cast<unsigned char>(guid[i])))
            << guid;
      }
    }
    ASSERT_TRUE(seen.insert(guid).second) << "repeated at " << n << ": " << guid;
  }
  EXPECT_NE(GeneratedGuid(7, kClassIdSalt), GeneratedGuid(7, kLibraryIdSalt));
}

TEST_F(HiveGeneratorTest, SourceHoldsTheGuidClassesAndTypeLibraries) {
  const HiveSource source = LoadSample();
  ASSERT_EQ(source.classes.size(), 2u);
  EXPECT_EQ(source.store->NameOf(source.classes[0]), kAlpha);
  EXPECT_EQ(source.store->NameOf(source.classes[1]), kBeta);
  ASSERT_EQ(source.typeLibs.size(), 1u);
  EXPECT_EQ(source.store->NameOf(source.typeLibs[0]), kLibrary);
}

TEST_F(HiveGeneratorTest, SourcesThatCannotServeSayWhy) {
  struct Case {
    const char* name;
    fs::path path;
    const char* message;
  };
  const Case cases[] = {
      {"missing", folder_ / "absent.reg", "no such file"},
      {"no classes",
       Write("empty.reg",
             "Windows Registry Editor Version 5.00\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\NotAGuid]\r\n@=\"x\"\r\n"),
       "holds no class keys"},
      {"not a registry", Write("junk.txt", "nothing to see"), "not a registry"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(LoadHiveSource(c.path, error)) << c.name;
    EXPECT_EQ(error.rfind(c.path.string(), 0), 0u) << c.name << ": " << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
  }
}

TEST_F(HiveGeneratorTest, CopiesClassesCyclicallyUnderFreshGuids) {
  const HiveSource source = LoadSample();
  auto tree = BuildSoftwareTree(source, 5);
  const auto clsid = tree->Find("Classes\\CLSID");
  ASSERT_TRUE(clsid);
  std::set<std::string> names;
  for (Node child : tree->ChildrenOf(*clsid)) names.insert(tree->NameOf(child));
  std::set<std::string> expected;
  for (std::size_t n = 0; n < 5; ++n) expected.insert(ClassGuid(n));
  EXPECT_EQ(names, expected);

  const std::string classes = "Classes\\CLSID\\";
  for (std::size_t n = 0; n < 5; ++n) {
    const std::string key = classes + ClassGuid(n);
    EXPECT_EQ(Text(*tree, key), n % 2 == 0 ? "Alpha" : "Beta") << n;
    if (n % 2 == 0) {
      EXPECT_EQ(Text(*tree, key + "\\InprocServer32", "ThreadingModel"), "Both") << n;
    } else {
      platform::Value appId;
      ASSERT_EQ(tree->GetValue(*tree->Find(key), "AppID", appId), platform::kSuccess);
      EXPECT_EQ(appId.type, platform::REG_DWORD);
    }
  }
}

TEST_F(HiveGeneratorTest, LinksPointAtGeneratedClassesAndLibraryCopies) {
  const HiveSource source = LoadSample();
  auto tree = BuildSoftwareTree(source, 5);
  const std::string classes = "Classes\\CLSID\\";

  // Alpha converts to Beta of its own round, or to the first Beta when its
  // round has none; Beta's unknown TreatAs goes to the next class.
  const struct {
    std::size_t n;
    const char* link;
    std::size_t target;
  } links[] = {{0, "AutoConvertTo", 1},
               {2, "AutoConvertTo", 3},
               {4, "AutoConvertTo", 1},
               {1, "TreatAs", 2},
               {3, "TreatAs", 4}};
  for (const auto& l : links) {
    const std::string target = Text(*tree, classes + ClassGuid(l.n) + "\\" + l.link);
    EXPECT_EQ(target, ClassGuid(l.target)) << l.n << " " << l.link;
    EXPECT_TRUE(tree->Find(classes + target)) << target;
  }

  // One library copy per round, each with the source library's keys.
  std::set<std::string> libids;
  for (std::size_t n : {0u, 2u, 4u}) {
    const std::string libid = Text(*tree, classes + ClassGuid(n) + "\\TypeLib");
    libids.insert(libid);
    EXPECT_EQ(Text(*tree, "Classes\\TypeLib\\" + libid + "\\1.0"), "Alpha Library") << libid;
    EXPECT_EQ(Text(*tree, "Classes\\TypeLib\\" + libid + "\\1.0\\0\\win32"), "alpha.tlb");
  }
  EXPECT_EQ(libids.size(), 3u);
  EXPECT_EQ(libids.count(kLibrary), 0u);
  EXPECT_EQ(tree->ChildrenOf(*tree->Find("Classes\\TypeLib")).size(), 3u);
}

TEST_F(HiveGeneratorTest, GivesPlausibleLastWriteTimes) {
  const HiveSource source = LoadSample();
  auto tree = BuildSoftwareTree(source, 40);
  constexpr platform::FileTime k2012 = 129'698'496'000'000'000u;
  constexpr platform::FileTime k2025 = 133'801'632'000'000'000u;
  std::set<platform::FileTime> times;
  for (Node key : tree->ChildrenOf(*tree->Find("Classes\\CLSID"))) {
    const platform::FileTime time = tree->LastWriteOf(key);
    EXPECT_GE(time, k2012);
    EXPECT_LT(time, k2025);
    for (Node subkey : tree->ChildrenOf(key)) EXPECT_EQ(tree->LastWriteOf(subkey), time);
    times.insert(time);
  }
  EXPECT_GT(times.size(), 30u);
  EXPECT_GE(tree->LastWriteOf(tree->RootNode()), *times.rbegin());
}

TEST_F(HiveGeneratorTest, WritesTheSameSoftwareHiveEveryTime) {
  const HiveSource source = LoadSample();
  std::string error;
  const fs::path first = folder_ / "first.hiv";
  const fs::path second = folder_ / "second.hiv";
  ASSERT_TRUE(GenerateHive(source, 9, first, error)) << error;
  ASSERT_TRUE(GenerateHive(source, 9, second, error)) << error;
  EXPECT_EQ(Bytes(first), Bytes(second));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 3)
      << "a partial file was left behind";

  // The image loader mounts it at HKLM\Software, and the catalogue finds the classes there.
  auto image = platform::OpenRegistryImage(first, error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->kind, platform::ImageKind::SoftwareHive);
  Node node = image->machine->RootNode();
  for (const char* part : {"Software", "Classes", "CLSID"}) {
    ASSERT_EQ(image->machine->FindChild(node, part, node), platform::kSuccess) << part;
  }
  platform::KeyFigures figures;
  ASSERT_EQ(image->machine->Figures(node, figures), platform::kSuccess);
  EXPECT_EQ(figures.subkeyCount, 9u);
  Node beta = 0;
  ASSERT_EQ(image->machine->FindChild(node, ClassGuid(7), beta), platform::kSuccess);
  platform::Value name;
  ASSERT_EQ(image->machine->GetValue(beta, "", name), platform::kSuccess);
  EXPECT_EQ(platform::Utf16LeToUtf8(name.data), "Beta");
}

TEST_F(HiveGeneratorTest, FillerGrowsTheHiveByAboutItsSizeAndLeavesTheClasses) {
  const HiveSource source = LoadSample();
  std::string error;
  const fs::path plain = folder_ / "plain.hiv";
  const fs::path filled = folder_ / "filled.hiv";
  constexpr std::size_t kFiller = 2'000'000;
  ASSERT_TRUE(GenerateHive(source, 9, plain, error)) << error;
  ASSERT_TRUE(GenerateHive(source, 9, filled, error, 0, kFiller)) << error;
  const auto grown = static_cast<double>(fs::file_size(filled) - fs::file_size(plain));
  EXPECT_GT(grown, 0.8 * kFiller);
  EXPECT_LT(grown, 1.5 * kFiller);

  auto tree = BuildSoftwareTree(source, 9, 0, kFiller);
  EXPECT_EQ(tree->ChildrenOf(*tree->Find("Classes\\CLSID")).size(), 9u);
  const auto products = tree->Find("Vendor");
  ASSERT_TRUE(products);
  EXPECT_GT(tree->ChildrenOf(*products).size(), 1u);
}

TEST_F(HiveGeneratorTest, ReadsAHiveSourceLikeItsTextForm) {
  const HiveSource text = LoadSample();
  std::string error;
  const fs::path hive = folder_ / "SOFTWARE";
  ASSERT_TRUE(
      platform::WriteRegfHiveFile(hive, *text.store, *text.store->Find("Software"), {}, error))
      << error;
  const auto fromHive = LoadHiveSource(hive, error);
  ASSERT_TRUE(fromHive) << error;
  ASSERT_EQ(fromHive->classes.size(), 2u);
  ASSERT_EQ(fromHive->typeLibs.size(), 1u);
  auto tree = BuildSoftwareTree(*fromHive, 3);
  EXPECT_EQ(Text(*tree, "Classes\\CLSID\\" + ClassGuid(2) + "\\InprocServer32"), "alpha.dll");
  EXPECT_EQ(WriteRegfHive(*tree, tree->RootNode()), WriteRegfHive(*BuildSoftwareTree(text, 3), 0));
}

TEST_F(HiveGeneratorTest, DefaultSourceIsAWinePrefixWithARegistry) {
  const fs::path prefix = folder_ / "prefix";
  fs::create_directories(prefix);
  auto wine = [&](const char* name) -> std::optional<std::string> {
    if (std::string_view(name) == "WINEPREFIX") return prefix.string();
    return std::nullopt;
  };
  EXPECT_NE(DefaultHiveSource(wine), prefix) << "a prefix without system.reg";
  Write("prefix/system.reg", "WINE REGISTRY Version 2\n");
  EXPECT_EQ(DefaultHiveSource(wine), prefix);
}

}  // namespace
}  // namespace orbel
