#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "model/COLEObjectIconsUnit.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;
using platform::ExtractedIcon;
using platform::IconOutcome;

constexpr int kFixedImages = 17;
const std::vector<int> kFileRows = {12, 13, 15, 16, 17, 18, 20, 21, 22};

// Answers from a table keyed by (file, index); anything else is NoIcon.
class FakeExtractor : public IconExtractor {
 public:
  void Answer(const std::string& file, std::int32_t index, IconOutcome outcome, Bytes ico = {}) {
    answers_[{file, index}] = ExtractedIcon{outcome, std::move(ico), {}};
  }
  ExtractedIcon Extract(const std::string& file, std::int32_t index) override {
    calls.emplace_back(file, index);
    const auto found = answers_.find({file, index});
    return found == answers_.end() ? ExtractedIcon{} : found->second;
  }
  std::vector<std::pair<std::string, std::int32_t>> calls;

 private:
  std::map<std::pair<std::string, std::int32_t>, ExtractedIcon> answers_;
};

// Holds the 17 fixed images and refuses empty icons, as the real lists do.
class RecordingImageList : public ImageList {
 public:
  int Count() const override { return count_; }
  int AppendIcon(std::span<const std::byte> ico) override {
    appended.emplace_back(ico.begin(), ico.end());
    return ico.empty() ? -1 : count_++;
  }
  void Delete(int position) override { deleted.push_back(position); }
  std::vector<Bytes> appended;
  std::vector<int> deleted;

 private:
  int count_ = kFixedImages;
};

Bytes Tag(std::uint8_t value) { return Bytes{std::byte{value}, std::byte{0xA5}}; }

// The images of every attribute index right after construction.
const std::map<int, int> kCreationImages = {
    {1, 1},   {2, 1},   {3, 2},   {4, 3},   {5, 4},   {7, 6},   {8, 6},   {9, 6},
    {10, 8},  {11, 9},  {12, 10}, {13, 10}, {14, 12}, {15, 11}, {16, 11}, {17, 13},
    {18, 13}, {19, 12}, {20, 14}, {21, 14}, {22, 14}, {23, 15}, {24, 16},
};

class ObjectIconsTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeExtractor> extractor = std::make_shared<FakeExtractor>();
  RecordingImageList small;
  RecordingImageList large;
  COLEObjectIcons icons{&small, &large, extractor};
  std::map<int, std::string> values;  // absent indexes read as "<Unknown>"
  std::vector<int> asked;

  void Prepare() {
    icons.PrepareIcons([this](int index) {
      asked.push_back(index);
      const auto found = values.find(index);
      return found == values.end() ? std::string("<Unknown>") : found->second;
    });
  }
};

TEST(ObjectIconsParsingTest, FileAndIndexOfLocations) {
  struct Case {
    std::string location;
    std::string file;
    std::int32_t index;
  };
  const std::vector<Case> cases = {
      {"SHELL32.DLL,3", "SHELL32.DLL", 3},
      {"a,b,7", "a", 7},
      {"C:\\Windows\\notepad.exe", "C:\\Windows\\notepad.exe", 0},
      {"\"C:\\Program Files\\App\\app.exe\" /Automation", "C:\\Program Files\\App\\app.exe\" ", 0},
      {"\"C:\\App\\app.exe\",4", "C:\\App\\app.exe", 4},
      {"\"a,b\",2", "a", 2},
      {"x.dll, 2", "x.dll", 2},
      {"x.dll,2 ", "x.dll", 0},
      {"x.dll,3 /s", "x.dll", 0},
      {"x.exe /s,3", "x.exe ", 3},
      {" x.dll ,1", " x.dll ", 1},
      {"\"", "", 0},
      {"\"\"", "", 0},
      {"", "", 0},
      {"x.dll,", "x.dll", 0},
      {"x.dll,   ", "x.dll", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(COLEObjectIcons::IconFileOf(c.location), c.file) << c.location;
    EXPECT_EQ(COLEObjectIcons::IconIndexOf(c.location), c.index) << c.location;
  }
}

TEST(ObjectIconsParsingTest, IndexNumberForms) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"+5", 5},
      {"-5", -5},
      {" -7", -7},
      {"- 7", 0},
      {"00000000000012", 12},
      {"$1F", 31},
      {"$1f", 31},
      {" $10", 16},
      {"-$1", 0},
      {"+$1", 0},
      {"$-1", 0},
      {"$", 0},
      {"+", 0},
      {"-", 0},
      {"0x10", 0},
      {"1a", 0},
      {"$1G", 0},
      {"\t3", 0},
      {"2147483647", INT32_MAX},
      {"2147483648", 0},
      {"-2147483648", INT32_MIN},
      {"-2147483649", 0},
      {"99999999999999999999999", 0},
      {"$7FFFFFFF", INT32_MAX},
      {"$FFFFFFFF", -1},
      {"$100000000", 0},
  };
  for (const auto& [number, index] : cases) {
    EXPECT_EQ(COLEObjectIcons::IconIndexOf("file.dll," + number), index) << number;
  }
}

TEST_F(ObjectIconsTest, TakesTheNineFileRowsInOrderAndGrowsBothLists) {
  for (int row : kFileRows) values[row] = "file" + std::to_string(row) + ".dll";
  for (int row : kFileRows) {
    extractor->Answer("file" + std::to_string(row) + ".dll", 0, IconOutcome::Found,
                      Tag(static_cast<std::uint8_t>(row)));
  }
  Prepare();

  EXPECT_EQ(asked, kFileRows);
  ASSERT_EQ(extractor->calls.size(), kFileRows.size());
  for (std::size_t i = 0; i < kFileRows.size(); ++i) {
    EXPECT_EQ(extractor->calls[i].first, "file" + std::to_string(kFileRows[i]) + ".dll");
    EXPECT_EQ(icons.ImageFor(kFileRows[i]), kFixedImages + static_cast<int>(i)) << kFileRows[i];
    ASSERT_LT(i, small.appended.size());
    EXPECT_EQ(small.appended[i], Tag(static_cast<std::uint8_t>(kFileRows[i])));
  }
  EXPECT_EQ(small.appended, large.appended);
  EXPECT_EQ(small.Count(), large.Count());
  EXPECT_TRUE(icons.Prepared());
}

TEST_F(ObjectIconsTest, RetriesAtZeroOnlyForAPositiveIndexThatFoundNothing) {
  values[12] = "retry.dll,3";      // nothing at 3, an icon at 0
  values[13] = "first.dll,0";      // nothing at 0: no second try
  values[15] = "negative.dll,-2";  // a resource ID: no second try
  values[16] = "found.dll,2";      // found at once
  values[17] = "empty.dll,5";      // nothing at 5 nor at 0
  extractor->Answer("retry.dll", 0, IconOutcome::Found, Tag(1));
  extractor->Answer("found.dll", 2, IconOutcome::Found, Tag(2));
  extractor->Answer("found.dll", 0, IconOutcome::Found, Tag(3));
  Prepare();

  const std::vector<std::pair<std::string, std::int32_t>> expectedCalls = {
      {"retry.dll", 3}, {"retry.dll", 0}, {"first.dll", 0}, {"negative.dll", -2},
      {"found.dll", 2}, {"empty.dll", 5}, {"empty.dll", 0}, {"<Unknown>", 0},
      {"<Unknown>", 0}, {"<Unknown>", 0}, {"<Unknown>", 0},
  };
  EXPECT_EQ(extractor->calls, expectedCalls);
  EXPECT_EQ(icons.ImageFor(12), kFixedImages);
  EXPECT_EQ(icons.ImageFor(13), 10);
  EXPECT_EQ(icons.ImageFor(15), 11);
  EXPECT_EQ(icons.ImageFor(16), kFixedImages + 1);
  EXPECT_EQ(icons.ImageFor(17), 13);
  EXPECT_EQ(small.appended, (std::vector<Bytes>{Tag(1), Tag(2)}));
  EXPECT_EQ(large.appended, small.appended);
}

TEST_F(ObjectIconsTest, UnusableIconGivesNoImage) {
  values[22] = "readme.txt";
  values[13] = "good.dll";
  extractor->Answer("readme.txt", 0, IconOutcome::Unusable, Tag(9));
  extractor->Answer("good.dll", 0, IconOutcome::Found, Tag(4));
  Prepare();

  EXPECT_EQ(icons.ImageFor(22), -1);
  EXPECT_EQ(icons.ImageFor(13), kFixedImages);
  // The unusable icon is offered to both lists as no bytes and refused by both.
  EXPECT_EQ(small.appended, (std::vector<Bytes>{Tag(4), Bytes{}}));
  EXPECT_EQ(large.appended, small.appended);
  EXPECT_EQ(small.Count(), kFixedImages + 1);
  EXPECT_EQ(large.Count(), kFixedImages + 1);
}

TEST_F(ObjectIconsTest, SecondPreparationExtractsNothing) {
  values[16] = "server.exe,1";
  extractor->Answer("server.exe", 1, IconOutcome::Found, Tag(5));
  Prepare();
  const std::size_t callsAfterFirst = extractor->calls.size();
  asked.clear();
  Prepare();

  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(extractor->calls.size(), callsAfterFirst);
  EXPECT_EQ(small.appended.size(), 1u);
  EXPECT_EQ(large.appended.size(), 1u);
  EXPECT_EQ(icons.ImageFor(16), kFixedImages);
}

TEST_F(ObjectIconsTest, UnknownValuesKeepTheFixedImages) {
  EXPECT_FALSE(icons.Prepared());
  Prepare();

  EXPECT_TRUE(icons.Prepared());
  EXPECT_EQ(extractor->calls.size(), kFileRows.size());
  for (const auto& call : extractor->calls) EXPECT_EQ(call.first, "<Unknown>");
  EXPECT_TRUE(small.appended.empty());
  EXPECT_TRUE(large.appended.empty());
  for (const auto& [index, image] : kCreationImages) EXPECT_EQ(icons.ImageFor(index), image);
}

TEST_F(ObjectIconsTest, FixedRowsNeverChange) {
  for (int index = 1; index <= 24; ++index) {
    values[index] = "v" + std::to_string(index) + ".dll";
    extractor->Answer(values[index], 0, IconOutcome::Found, Tag(static_cast<std::uint8_t>(index)));
  }
  for (const auto& [index, image] : kCreationImages) EXPECT_EQ(icons.ImageFor(index), image);
  Prepare();

  for (const auto& [index, image] : kCreationImages) {
    const bool fileRow = std::find(kFileRows.begin(), kFileRows.end(), index) != kFileRows.end();
    if (fileRow) {
      EXPECT_GE(icons.ImageFor(index), kFixedImages) << index;
    } else {
      EXPECT_EQ(icons.ImageFor(index), image) << index;
    }
  }
  EXPECT_EQ(icons.ExtraImage(), 0);
  for (int index : {6, 0, -1, 25, INT_MAX}) EXPECT_EQ(icons.ImageFor(index), -1) << index;
}

// A one-image 1x1 32-bit .ico; its image already sits where an extracted
// single-image icon puts it, so extraction gives these very bytes back.
Bytes TinyIco() {
  Bytes out;
  auto put = [&out](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(std::byte((value >> (8 * i)) & 0xFF));
  };
  // ICONDIR: one icon.
  put(0, 2);
  put(1, 2);
  put(1, 2);
  // Its entry: 1x1, no palette, 1 plane, 32 bits, 48 bytes at offset 22.
  for (std::uint32_t value : {1, 1, 0, 0}) put(value, 1);
  for (std::uint32_t value : {1, 32}) put(value, 2);
  for (std::uint32_t value : {48, 22}) put(value, 4);
  // BITMAPINFOHEADER: width 1, height 2 (image and mask), 1 plane, 32 bits.
  for (std::uint32_t value : {40, 1, 2}) put(value, 4);
  for (std::uint32_t value : {1, 32}) put(value, 2);
  for (std::uint32_t value : {0, 8, 0, 0, 0, 0}) put(value, 4);
  put(0xFF0000FF, 4);  // the pixel
  put(0, 4);           // the mask row
  return out;
}

class ImageIconExtractorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root = fs::temp_directory_path() /
           (std::string("orbel-objicons-") + info->name() + "-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
  }
  void TearDown() override { fs::remove_all(root); }

  static void Write(const fs::path& file, const Bytes& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  fs::path root;
};

TEST_F(ImageIconExtractorTest, MapsRegistrationPathsIntoTheDriveFolder) {
  const fs::path drive = root / "volume";
  Write(drive / "Windows" / "System32" / "Test.ico", TinyIco());
  Write(drive / "Windows" / "System32" / "notes.txt", Bytes(10, std::byte{'x'}));
  ImageIconExtractor extractor(drive);

  struct Case {
    std::string file;
    std::int32_t index;
    IconOutcome outcome;
  };
  const std::vector<Case> cases = {
      {COLEObjectIcons::IconFileOf("%SystemRoot%\\system32\\test.ico,0"), 0, IconOutcome::Found},
      {"test.ico", 0, IconOutcome::Found},
      {"C:\\WINDOWS\\SYSTEM32\\TEST.ICO", 0, IconOutcome::Found},
      // The blank that cutting the switch leaves is not part of the name.
      {COLEObjectIcons::IconFileOf("C:\\Windows\\System32\\test.ico /automation"), 0,
       IconOutcome::Found},
      {"test.ico", 1, IconOutcome::NoIcon},
      {"missing.ico", 0, IconOutcome::NoIcon},
      {"D:\\test.ico", 0, IconOutcome::NoIcon},
      {"notes.txt", 0, IconOutcome::Unusable},
      {"", 0, IconOutcome::NoIcon},
  };
  for (const Case& c : cases) {
    const ExtractedIcon icon = extractor.Extract(c.file, c.index);
    EXPECT_EQ(icon.outcome, c.outcome) << c.file << " " << icon.error;
    if (c.outcome == IconOutcome::Found) {
      EXPECT_EQ(icon.ico, TinyIco()) << c.file;
    }
    if (c.outcome == IconOutcome::NoIcon) {
      EXPECT_FALSE(icon.error.empty()) << c.file;
    }
  }
}

TEST_F(ImageIconExtractorTest, WithoutAFolderThereAreNoIcons) {
  ImageIconExtractor extractor(std::nullopt);
  const ExtractedIcon icon = extractor.Extract("C:\\Windows\\System32\\test.ico", 0);
  EXPECT_EQ(icon.outcome, IconOutcome::NoIcon);
  EXPECT_FALSE(icon.error.empty());
}

TEST_F(ImageIconExtractorTest, EntryTakesItsIconFromTheImage) {
  const fs::path drive = root / "volume";
  Write(drive / "Windows" / "System32" / "Test.ico", TinyIco());
  RecordingImageList small;
  RecordingImageList large;
  COLEObjectIcons icons(&small, &large, std::make_shared<ImageIconExtractor>(drive));
  icons.PrepareIcons([](int index) -> std::string {
    if (index == 22) return "%SystemRoot%\\system32\\test.ico,0";
    if (index == 21) return "test.ico,4";  // no such image: the first one is taken
    return "<Unknown>";
  });

  EXPECT_EQ(icons.ImageFor(21), kFixedImages);
  EXPECT_EQ(icons.ImageFor(22), kFixedImages + 1);
  EXPECT_EQ(small.appended, (std::vector<Bytes>{TinyIco(), TinyIco()}));
  EXPECT_EQ(large.appended, small.appended);
}

TEST_F(ImageIconExtractorTest, WinePrefixLendsItsOtherDrives) {
#ifdef _WIN32
  GTEST_SKIP() << "a Wine prefix lends its drives through symbolic links";
#endif
  const fs::path prefix = root / "prefix";
  const fs::path elsewhere = prefix / "mnt" / "d";
  Write(elsewhere / "Icons" / "App.ico", TinyIco());
  Write(root / "outside" / "Icons" / "App.ico", TinyIco());
  fs::create_directories(prefix / "drive_c" / "windows" / "system32");
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink(elsewhere, prefix / "dosdevices" / "d:");
  // A drive that leads out of the prefix is not lent.
  fs::create_directory_symlink(root / "outside", prefix / "dosdevices" / "e:");

  // Without system.reg the folder is a plain drive folder with no D:.
  EXPECT_EQ(ImageIconExtractor(prefix / "drive_c").Extract("D:\\icons\\app.ico", 0).outcome,
            IconOutcome::NoIcon);

  Write(prefix / "system.reg", Bytes{});
  for (const fs::path& drive : {prefix / "drive_c", prefix / "drive_c" / ""}) {
    const ExtractedIcon icon = ImageIconExtractor(drive).Extract("D:\\icons\\app.ico", 0);
    EXPECT_EQ(icon.outcome, IconOutcome::Found) << drive << " " << icon.error;
    EXPECT_EQ(icon.ico, TinyIco());
    EXPECT_EQ(ImageIconExtractor(drive).Extract("E:\\icons\\app.ico", 0).outcome,
              IconOutcome::NoIcon);
  }
}

}  // namespace
}  // namespace orbel
