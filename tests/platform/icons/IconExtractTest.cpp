#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/base/SafeFile.h"
#include "platform/icons/IconExtract.h"
#include "platform/images/WindowsPaths.h"

namespace orbel::platform {
namespace {

using Bytes = std::vector<std::byte>;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = std::byte(v & 0xFF);
  b[at + 1] = std::byte((v >> 8) & 0xFF);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
std::uint32_t Get16(const Bytes& b, std::size_t at) {
  return std::to_integer<std::uint32_t>(b[at]) | (std::to_integer<std::uint32_t>(b[at + 1]) << 8);
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return Get16(b, at) | (Get16(b, at + 2) << 16);
}

Bytes Image(std::uint8_t fill, std::size_t size) { return Bytes(size, std::byte(fill)); }

// A resource tree node: a directory of entries, or a leaf holding data.
struct Res {
  std::string name;  // named entry when not empty
  std::uint32_t id = 0;
  std::vector<Res> children;
  Bytes data;
};

// Lays a resource tree out as a linker does: every directory first (in
// preorder), then the name strings, the data entries and the data.
class ResourceWriter {
 public:
  explicit ResourceWriter(std::uint32_t baseRva) : baseRva_(baseRva) {}

  Bytes Write(const Res& root) {
    std::uint32_t next = 0;
    Layout(root, next);
    for (const Res* named : named_) {
      stringOffset_[named] = next;
      next += 2 + 2 * static_cast<std::uint32_t>(named->name.size());
    }
    next = (next + 3) & ~3u;
    for (const Res* leaf : leaves_) {
      dataEntryOffset_[leaf] = next;
      next += 16;
    }
    for (const Res* leaf : leaves_) {
      dataOffset_[leaf] = next;
      next += (static_cast<std::uint32_t>(leaf->data.size()) + 3) & ~3u;
    }
    out_.assign(next, std::byte{0});
    Emit(root);
    for (const Res* named : named_) {
      const std::uint32_t at = stringOffset_[named];
      Put16(out_, at, static_cast<std::uint32_t>(named->name.size()));
      for (std::size_t i = 0; i < named->name.size(); ++i) {
        Put16(out_, at + 2 + 2 * i, static_cast<unsigned char>(named->name[i]));
      }
    }
    for (const Res* leaf : leaves_) {
      Put32(out_, dataEntryOffset_[leaf], baseRva_ + dataOffset_[leaf]);
      Put32(out_, dataEntryOffset_[leaf] + 4, static_cast<std::uint32_t>(leaf->data.size()));
      std::copy(leaf->data.begin(), leaf->data.end(), out_.begin() + dataOffset_[leaf]);
    }
    return out_;
  }

  std::uint32_t DirOffset(const Res* node) { return dirOffset_.at(node); }

 private:
  void Layout(const Res& node, std::uint32_t& next) {
    dirOffset_[&node] = next;
    next += 16 + 8 * static_cast<std::uint32_t>(node.children.size());
    for (const Res& child : node.children) {
      if (!child.name.empty()) named_.push_back(&child);
      if (child.children.empty()) {
        leaves_.push_back(&child);
      } else {
        Layout(child, next);
      }
    }
  }

  void Emit(const Res& node) {
    const std::uint32_t at = dirOffset_[&node];
    std::uint32_t namedCount = 0;
    for (const Res& child : node.children) namedCount += child.name.empty() ? 0 : 1;
    Put16(out_, at + 12, namedCount);
    Put16(out_, at + 14, static_cast<std::uint32_t>(node.children.size()) - namedCount);
    std::uint32_t entry = at + 16;
    for (const Res& child : node.children) {
      Put32(out_, entry, child.name.empty() ? child.id : 0x80000000u | stringOffset_[&child]);
      Put32(out_, entry + 4,
            child.children.empty() ? dataEntryOffset_[&child] : 0x80000000u | dirOffset_[&child]);
      entry += 8;
      if (!child.children.empty()) Emit(child);
    }
  }

  std::uint32_t baseRva_;
  Bytes out_;
  std::vector<const Res*> named_;
  std::vector<const Res*> leaves_;
  std::map<const Res*, std::uint32_t> dirOffset_, stringOffset_, dataEntryOffset_, dataOffset_;
};

constexpr std::uint32_t kSectionRva = 0x3000;
constexpr std::uint32_t kSectionFileOffset = 0x200;

// Wraps resource data in a PE32 (0x10b) or PE32+ (0x20b) file with one
// section whose RVA differs from its file offset, so that a reader that
// forgets the mapping reads the wrong bytes.
Bytes MakePe(std::uint16_t magic, const Bytes& resources) {
  Bytes file(kSectionFileOffset, std::byte{0});
  file[0] = std::byte{'M'};
  file[1] = std::byte{'Z'};
  Put32(file, 0x3C, 0x80);
  Put32(file, 0x80, 0x00004550);
  const std::size_t coff = 0x84;
  const std::uint32_t optionalSize = magic == 0x10b ? 96 + 16 * 8 : 112 + 16 * 8;
  Put16(file, coff, magic == 0x10b ? 0x14c : 0x8664);
  Put16(file, coff + 2, 1);
  Put16(file, coff + 16, optionalSize);
  const std::size_t optional = coff + 20;
  Put16(file, optional, magic);
  const std::size_t dirs = optional + (magic == 0x10b ? 96 : 112);
  Put32(file, dirs - 4, 16);
  Put32(file, dirs + 2 * 8, kSectionRva);
  Put32(file, dirs + 2 * 8 + 4, static_cast<std::uint32_t>(resources.size()));
  const std::size_t section = optional + optionalSize;
  std::copy_n(".rsrc", 5, reinterpret_cast<char*>(&file[section]));
  Put32(file, section + 8, static_cast<std::uint32_t>(resources.size()));
  Put32(file, section + 12, kSectionRva);
  Put32(file, section + 16, static_cast<std::uint32_t>(resources.size()));
  Put32(file, section + 20, kSectionFileOffset);
  file.insert(file.end(), resources.begin(), resources.end());
  return file;
}

// A group member: the size fields of its entry and the RT_ICON it names.
struct Member {
  std::uint8_t width;
  std::uint16_t bitCount;
  std::uint16_t iconId;
};

Res Group(std::string name, std::uint32_t id, const std::vector<Member>& members) {
  Bytes data(6 + 14 * members.size(), std::byte{0});
  Put16(data, 2, 1);
  Put16(data, 4, static_cast<std::uint32_t>(members.size()));
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::size_t at = 6 + 14 * i;
    data[at] = std::byte(members[i].width);
    data[at + 1] = std::byte(members[i].width);
    Put16(data, at + 4, 1);
    Put16(data, at + 6, members[i].bitCount);
    Put32(data, at + 8, 999);  // deliberately wrong: the real size comes from RT_ICON
    Put16(data, at + 12, members[i].iconId);
  }
  return Res{std::move(name), id, {Res{"", 1033, {}, std::move(data)}}, {}};
}

Res Icon(std::uint32_t id, Bytes image) {
  return Res{"", id, {Res{"", 1033, {}, std::move(image)}}, {}};
}

// The sample program: three icon groups in directory order MAINICON (named),
// ID 5 and ID 7; group 7 also names an RT_ICON (99) that does not exist.
struct SamplePe {
  Res root;
  Bytes file;
  // File offsets, for damage tests.
  std::uint32_t groupDir = 0;       // the RT_GROUP_ICON directory
  std::uint32_t mainLangDir = 0;    // MAINICON's language directory
  std::uint32_t mainDataEntry = 0;  // its data entry
  std::uint32_t mainGroupData = 0;  // its GRPICONDIR
};

SamplePe MakeSamplePe(std::uint16_t magic) {
  SamplePe pe;
  pe.root.children.push_back(Res{"",
                                 3,
                                 {Icon(1, Image(0xA1, 40)), Icon(2, Image(0xA2, 72)),
                                  Icon(3, Image(0xA3, 20)), Icon(4, Image(0xA4, 33))},
                                 {}});
  pe.root.children.push_back(
      Res{"",
          14,
          {Group("MAINICON", 0, {{16, 4, 1}, {32, 32, 2}}), Group("", 5, {{48, 8, 3}}),
           Group("", 7, {{24, 24, 99}, {64, 32, 4}})},
          {}});
  ResourceWriter writer(kSectionRva);
  pe.file = MakePe(magic, writer.Write(pe.root));
  pe.groupDir = kSectionFileOffset + writer.DirOffset(&pe.root.children[1]);
  pe.mainLangDir = kSectionFileOffset + writer.DirOffset(&pe.root.children[1].children[0]);
  pe.mainDataEntry = kSectionFileOffset + Get32(pe.file, pe.mainLangDir + 20);
  pe.mainGroupData = Get32(pe.file, pe.mainDataEntry) - kSectionRva + kSectionFileOffset;
  return pe;
}

struct ExpectedImage {
  std::uint8_t width;
  std::uint16_t bitCount;
  Bytes bytes;
};

// Checks that `ico` is a well-formed .ico whose images are `expected`, in
// order, with each entry's offset and size pointing at exactly those bytes.
void ExpectIco(const Bytes& ico, const std::vector<ExpectedImage>& expected) {
  ASSERT_GE(ico.size(), 6u);
  EXPECT_EQ(Get16(ico, 0), 0u);
  EXPECT_EQ(Get16(ico, 2), 1u);
  ASSERT_EQ(Get16(ico, 4), expected.size());
  std::size_t total = 6 + 16 * expected.size();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    const std::size_t at = 6 + 16 * i;
    ASSERT_LE(at + 16, ico.size());
    EXPECT_EQ(std::to_integer<int>(ico[at]), expected[i].width);
    EXPECT_EQ(std::to_integer<int>(ico[at + 1]), expected[i].width);
    EXPECT_EQ(Get16(ico, at + 6), expected[i].bitCount);
    const std::uint32_t size = Get32(ico, at + 8);
    const std::uint32_t offset = Get32(ico, at + 12);
    ASSERT_EQ(size, expected[i].bytes.size());
    ASSERT_LE(std::uint64_t{offset} + size, ico.size());
    EXPECT_EQ(Bytes(ico.begin() + offset, ico.begin() + offset + size), expected[i].bytes);
    total += size;
  }
  EXPECT_EQ(ico.size(), total);
}

class PeIconTest : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(PeIconTest, IndexPicksGroupInDirectoryOrderOrById) {
  const SamplePe pe = MakeSamplePe(GetParam());
  EXPECT_EQ(CountIcons(pe.file), 3);

  const std::vector<ExpectedImage> mainIcon = {{16, 4, Image(0xA1, 40)}, {32, 32, Image(0xA2, 72)}};
  const std::vector<ExpectedImage> group5 = {{48, 8, Image(0xA3, 20)}};
  const std::vector<ExpectedImage> group7 = {{64, 32, Image(0xA4, 33)}};  // 99 is missing
  struct Case {
    std::int32_t index;
    const std::vector<ExpectedImage>* expected;  // nullptr: NoIcon
  } cases[] = {
      {0, &mainIcon}, {1, &group5},  {2, &group7},  {3, nullptr},  {1000, nullptr},
      {-5, &group5},  {-7, &group7}, {-6, nullptr}, {-1, nullptr}, {INT32_MIN, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("index " + std::to_string(c.index));
    const ExtractedIcon icon = ExtractIconFromBytes(pe.file, c.index);
    if (c.expected) {
      ASSERT_EQ(icon.outcome, IconOutcome::Found) << icon.error;
      ExpectIco(icon.ico, *c.expected);
    } else {
      EXPECT_EQ(icon.outcome, IconOutcome::NoIcon);
      EXPECT_TRUE(icon.ico.empty());
      EXPECT_FALSE(icon.error.empty());
    }
  }
}

TEST_P(PeIconTest, GroupWithoutAnyImageOrRepeatedImages) {
  Res root;
  root.children.push_back(Res{"", 3, {Icon(1, Image(0x11, 10))}, {}});
  root.children.push_back(
      Res{"",
          14,
          {Group("", 1, {{16, 4, 50}, {32, 4, 51}}), Group("", 2, {{16, 4, 1}, {32, 8, 1}})},
          {}});
  const Bytes file = MakePe(GetParam(), ResourceWriter(kSectionRva).Write(root));

  const ExtractedIcon none = ExtractIconFromBytes(file, 0);
  EXPECT_EQ(none.outcome, IconOutcome::NoIcon);
  EXPECT_NE(none.error.find("none of the 2 images"), std::string::npos) << none.error;

  // An image named twice is taken once.
  const ExtractedIcon twice = ExtractIconFromBytes(file, -2);
  ASSERT_EQ(twice.outcome, IconOutcome::Found) << twice.error;
  ExpectIco(twice.ico, {{16, 4, Image(0x11, 10)}});
}

TEST_P(PeIconTest, EveryTruncationIsSafe) {
  const SamplePe pe = MakeSamplePe(GetParam());
  const ExtractedIcon whole = ExtractIconFromBytes(pe.file, 1);
  ASSERT_EQ(whole.outcome, IconOutcome::Found);
  for (std::size_t length = 0; length < pe.file.size(); ++length) {
    const std::span<const std::byte> cut(pe.file.data(), length);
    for (std::int32_t index : {0, 1, -7}) {
      const ExtractedIcon icon = ExtractIconFromBytes(cut, index);
      if (length < 2) {
        EXPECT_EQ(icon.outcome, IconOutcome::Unusable) << length;
      } else if (icon.outcome == IconOutcome::Found) {
        // Only a cut that leaves every byte the group needs may still find it.
        if (index == 1) {
          EXPECT_EQ(icon.ico, whole.ico) << length;
        }
      } else {
        EXPECT_EQ(icon.outcome, IconOutcome::NoIcon) << length;
        EXPECT_FALSE(icon.error.empty()) << length;
      }
    }
    EXPECT_LE(CountIcons(cut), 3);
  }
}

// Every byte set to 0xFF and to 0x00 in turn: nothing may crash, and a found
// icon must still be a complete file.
TEST_P(PeIconTest, EveryByteDamagedIsSafe) {
  const SamplePe pe = MakeSamplePe(GetParam());
  for (std::size_t at = 0; at < pe.file.size(); ++at) {
    for (std::byte value : {std::byte{0xFF}, std::byte{0x00}}) {
      Bytes damaged = pe.file;
      damaged[at] = value;
      for (std::int32_t index : {0, 2, -5}) {
        const ExtractedIcon icon = ExtractIconFromBytes(damaged, index);
        if (icon.outcome != IconOutcome::Found) {
          EXPECT_FALSE(icon.error.empty()) << at;
          continue;
        }
        const std::uint32_t count = Get16(icon.ico, 4);
        ASSERT_LE(6 + 16 * count, icon.ico.size()) << at;
        for (std::uint32_t i = 0; i < count; ++i) {
          EXPECT_LE(
              std::uint64_t{Get32(icon.ico, 6 + 16 * i + 12)} + Get32(icon.ico, 6 + 16 * i + 8),
              icon.ico.size())
              << at;
        }
      }
    }
  }
}

TEST_P(PeIconTest, HostileResourceTrees) {
  const SamplePe sample = MakeSamplePe(GetParam());
  const std::uint32_t rsrc = kSectionFileOffset;
  const std::uint32_t optional = 0x98;
  const std::uint32_t directories = optional + (GetParam() == 0x10b ? 96 : 112);
  const std::uint32_t section = optional + Get16(sample.file, 0x94);
  struct Damage {
    const char* what;
    std::uint32_t at;  // file offset of the 32-bit value written
    std::uint32_t value;
    const char* message;  // a part of the expected error
  } damages[] = {
      {"root claims 0xFFFF + 0xFFFF entries", rsrc + 12, 0xFFFFFFFFu, "entries"},
      {"group directory claims 0xFFFF ID entries", sample.groupDir + 12, 0xFFFF0001u, "entries"},
      {"icon group claims 0xFFFF images", sample.mainGroupData + 4, 0xFFFF, "images"},
      {"group entry leads back to the group directory", sample.groupDir + 20,
       0x80000000u | (sample.groupDir - rsrc), "loops"},
      {"group entry leads back to the root", sample.groupDir + 20, 0x80000000u, "loops"},
      {"language directory leads to itself", sample.mainLangDir + 20,
       0x80000000u | (sample.mainLangDir - rsrc), "deeper"},
      {"type directory offset past the end", rsrc + 16 + 8 + 4, 0xFFFFFFF0u, "outside"},
      {"data entry offset past the end", sample.mainLangDir + 20, 0x7FFFFFF0u, "outside"},
      {"group data RVA outside every section", sample.mainDataEntry, 0x10, "outside"},
      {"group data size that overflows", sample.mainDataEntry + 4, 0xFFFFFFFFu, "outside"},
      {"section data past the end of the file", section + 20, 0x7FFFFFFF, "no section"},
      {"0xFFFF sections", 0x84, 0xFFFF0000u | (GetParam() == 0x10b ? 0x14cu : 0x8664u),
       "section table"},
      {"e_lfanew past the end", 0x3C, 0xFFFFFFF0u, "outside"},
      {"16-bit NE program", 0x80, 0x454E, "NE"},
      {"no resource directory", directories + 16, 0, "no resources"},
      {"unknown optional header magic", optional, 0x107, "magic"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    Bytes file = sample.file;
    Put32(file, damage.at, damage.value);
    const ExtractedIcon icon = ExtractIconFromBytes(file, 0);
    EXPECT_EQ(icon.outcome, IconOutcome::NoIcon);
    EXPECT_NE(icon.error.find(damage.message), std::string::npos) << icon.error;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, PeIconTest, ::testing::Values(0x10b, 0x20b),
                         [](const auto& info) {
                           return info.param == 0x10b ? "PE32" : "PE32Plus";
                         });

// An .ico with two images: 16x16 (offset 38, 5 bytes) and 32x32 (7 bytes).
Bytes MakeIcoFile() {
  Bytes file(6 + 2 * 16, std::byte{0});
  Put16(file, 2, 1);
  Put16(file, 4, 2);
  const Bytes images[] = {Image(0xB1, 5), Image(0xB2, 7)};
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t at = 6 + 16 * i;
    file[at] = file[at + 1] = std::byte(16 * (i + 1));
    Put16(file, at + 6, 32);
    Put32(file, at + 8, static_cast<std::uint32_t>(images[i].size()));
    Put32(file, at + 12, static_cast<std::uint32_t>(file.size()));
    file.insert(file.end(), images[i].begin(), images[i].end());
  }
  return file;
}

// An .ico file is one icon with all its sizes, so that each image list can
// take the size it shows.
TEST(IcoIconTest, OneIconWithEverySize) {
  const Bytes file = MakeIcoFile();
  EXPECT_EQ(CountIcons(file), 1);
  const ExtractedIcon icon = ExtractIconFromBytes(file, 0);
  ASSERT_EQ(icon.outcome, IconOutcome::Found) << icon.error;
  ExpectIco(icon.ico, {{16, 32, Image(0xB1, 5)}, {32, 32, Image(0xB2, 7)}});
  for (std::int32_t index : {1, -1, INT32_MIN}) {
    EXPECT_EQ(ExtractIconFromBytes(file, index).outcome, IconOutcome::NoIcon) << index;
  }
}

TEST(IcoIconTest, EveryTruncationIsSafe) {
  const Bytes file = MakeIcoFile();
  constexpr std::size_t kDirEnd = 6 + 2 * 16, kFirstEnd = kDirEnd + 5;
  for (std::size_t length = 0; length < file.size(); ++length) {
    SCOPED_TRACE(length);
    const std::span<const std::byte> cut(file.data(), length);
    if (length < kDirEnd) {
      EXPECT_EQ(ExtractIconFromBytes(cut, 0).outcome, IconOutcome::Unusable);
      EXPECT_EQ(CountIcons(cut), 0);
      continue;
    }
    EXPECT_EQ(CountIcons(cut), 1);
    const ExtractedIcon icon = ExtractIconFromBytes(cut, 0);
    if (length < kFirstEnd) {
      EXPECT_EQ(icon.outcome, IconOutcome::NoIcon);
    } else {
      // The cut second image is left out.
      ASSERT_EQ(icon.outcome, IconOutcome::Found);
      ExpectIco(icon.ico, {{16, 32, Image(0xB1, 5)}});
    }
  }
}

// Entries naming the same bytes made one icon many times the size of the file.
TEST(IcoIconTest, EntriesSharingBytesMakeNoIconLargerThanTheFile) {
  std::ifstream in(std::string(ORBEL_TEST_DATA_DIR) + "/ico-entries-sharing-bytes.ico",
                   std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(bytes.empty());
  const std::span<const std::byte> file(reinterpret_cast<const std::byte*>(bytes.data()),
                                        bytes.size());
  const ExtractedIcon icon = ExtractIconFromBytes(file, 0);
  ASSERT_EQ(icon.outcome, IconOutcome::Found) << icon.error;
  std::uint64_t images = 0;
  for (std::uint32_t i = 0; i < Get16(icon.ico, 4); ++i) images += Get32(icon.ico, 6 + 16 * i + 8);
  EXPECT_GT(images, 0u);
  EXPECT_LE(images, file.size());
}

TEST(IcoIconTest, DamagedAndForeignFiles) {
  const std::string text = "Windows Registry Editor Version 5.00\r\n";
  const Bytes textFile(reinterpret_cast<const std::byte*>(text.data()),
                       reinterpret_cast<const std::byte*>(text.data() + text.size()));
  struct Case {
    const char* what;
    Bytes file;
    std::int32_t index;
    IconOutcome outcome;
    std::int32_t count;
  };
  std::vector<Case> cases = {
      {"text file", textFile, 0, IconOutcome::Unusable, 0},
      {"empty file", {}, 0, IconOutcome::Unusable, 0},
      {"MZ alone", Bytes{std::byte{'M'}, std::byte{'Z'}}, 0, IconOutcome::NoIcon, 0},
  };
  Bytes cursor = MakeIcoFile();
  Put16(cursor, 2, 2);
  cases.push_back({"cursor file (type 2)", cursor, 0, IconOutcome::Unusable, 0});
  Bytes reserved = MakeIcoFile();
  Put16(reserved, 0, 1);
  cases.push_back({"reserved field set", reserved, 0, IconOutcome::Unusable, 0});
  Bytes noImages = MakeIcoFile();
  Put16(noImages, 4, 0);
  cases.push_back({"no images", noImages, 0, IconOutcome::Unusable, 0});
  Bytes manyImages = MakeIcoFile();
  Put16(manyImages, 4, 0xFFFF);
  cases.push_back({"0xFFFF images", manyImages, 0, IconOutcome::Unusable, 0});
  Bytes pastEnd = MakeIcoFile();
  Put32(pastEnd, 6 + 16 + 12, 0xFFFFFFFEu);
  cases.push_back({"index past the one icon", pastEnd, 1, IconOutcome::NoIcon, 1});
  Bytes bigSize = MakeIcoFile();
  Put32(bigSize, 6 + 8, 0xFFFFFFFFu);
  Put32(bigSize, 6 + 16 + 12, 0xFFFFFFFEu);
  cases.push_back({"every image outside the file", bigSize, 0, IconOutcome::NoIcon, 1});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ExtractedIcon icon = ExtractIconFromBytes(c.file, c.index);
    EXPECT_EQ(icon.outcome, c.outcome);
    EXPECT_FALSE(icon.error.empty());
    EXPECT_TRUE(icon.ico.empty());
    EXPECT_EQ(CountIcons(c.file), c.count);
  }
}

class IconFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("orbel-icon-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path Write(const std::string& name, const Bytes& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(IconFileTest, ReadsFilesAndNamesThemInErrors) {
  const auto pe = Write("app.exe", MakeSamplePe(0x20b).file);
  const ExtractedIcon found = ExtractIconFromFile(pe, -5);
  ASSERT_EQ(found.outcome, IconOutcome::Found) << found.error;
  ExpectIco(found.ico, {{48, 8, Image(0xA3, 20)}});

  const ExtractedIcon missing = ExtractIconFromFile(dir_ / "missing.dll", 0);
  EXPECT_EQ(missing.outcome, IconOutcome::NoIcon);
  EXPECT_NE(missing.error.find("missing.dll"), std::string::npos) << missing.error;

  EXPECT_EQ(ExtractIconFromFile(dir_, 0).outcome, IconOutcome::NoIcon);

  const ExtractedIcon past = ExtractIconFromFile(pe, 9);
  EXPECT_EQ(past.outcome, IconOutcome::NoIcon);
  EXPECT_NE(past.error.find("app.exe"), std::string::npos) << past.error;

  const std::string text = "not an icon";
  const ExtractedIcon unusable = ExtractIconFromFile(
      Write("readme.txt", Bytes(reinterpret_cast<const std::byte*>(text.data()),
                                reinterpret_cast<const std::byte*>(text.data()) + text.size())),
      0);
  EXPECT_EQ(unusable.outcome, IconOutcome::Unusable);
}

// The last file read is kept for the next extraction: a file rewritten
// since then must be read again, not served from what was kept.
TEST_F(IconFileTest, AFileRewrittenSinceTheLastReadIsReadAgain) {
  const auto path = Write("app.exe", MakeSamplePe(0x20b).file);
  ASSERT_EQ(ExtractIconFromFile(path, -5).outcome, IconOutcome::Found);
  Write("app.exe", MakeIcoFile());
  const ExtractedIcon icon = ExtractIconFromFile(path, 0);
  ASSERT_EQ(icon.outcome, IconOutcome::Found) << icon.error;
  EXPECT_EQ(icon.ico, ExtractIconFromBytes(MakeIcoFile(), 0).ico);
}

TEST_F(IconFileTest, RefusesFilesAbove256MiB) {
  // A sparse file: large on paper, no disk used.
  const auto path = Write("huge.dll", MakeSamplePe(0x10b).file);
  std::filesystem::resize_file(path, 256ull * 1024 * 1024 + 1);
  const ExtractedIcon icon = ExtractIconFromFile(path, 0);
  EXPECT_EQ(icon.outcome, IconOutcome::NoIcon);
  EXPECT_NE(icon.error.find("256 MiB"), std::string::npos) << icon.error;
}

// A sparse .ico of 255 MiB: one entry claims 200 MiB, the other's image lies
// past the hole. Only the directory and that image are read.
TEST_F(IconFileTest, ReadsOnlyTheDirectoryAndTheImagesOfAnIcoFile) {
  constexpr std::uint32_t kSize = 255u << 20, kAt = kSize - 4096;
  Bytes directory(6 + 2 * 16, std::byte{0});
  Put16(directory, 2, 1);
  Put16(directory, 4, 2);
  directory[6] = directory[7] = std::byte{16};
  Put32(directory, 6 + 8, 200u << 20);
  Put32(directory, 6 + 12, 64);
  directory[22] = directory[23] = std::byte{32};
  Put16(directory, 22 + 6, 32);
  Put32(directory, 22 + 8, 7);
  Put32(directory, 22 + 12, kAt);
  const auto path = Write("sparse.ico", directory);
  std::filesystem::resize_file(path, kSize);
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(kAt);
    file.write("\xB2\xB2\xB2\xB2\xB2\xB2\xB2", 7);
  }
  const std::uint64_t before = FileBytesRead();
  const ExtractedIcon icon = ExtractIconFromFile(path, 0);
  ASSERT_EQ(icon.outcome, IconOutcome::Found) << icon.error;
  ExpectIco(icon.ico, {{32, 32, Image(0xB2, 7)}});
  // Its head, its directory, the one image.
  EXPECT_EQ(FileBytesRead() - before, 6 + directory.size() + 7);

  // With no image left, the entry claiming too much is named.
  Put32(directory, 22 + 8, 0);
  const auto damaged = Write("damaged.ico", directory);
  std::filesystem::resize_file(damaged, kSize);
  const ExtractedIcon none = ExtractIconFromFile(damaged, 0);
  EXPECT_EQ(none.outcome, IconOutcome::NoIcon);
  EXPECT_NE(none.error.find("more than an icon image takes"), std::string::npos) << none.error;
}

// A real library from a Wine prefix named by ORBEL_TEST_WINEPREFIX.
TEST(WineIconTest, Shell32HasManyIcons) {
  const char* prefix = std::getenv("ORBEL_TEST_WINEPREFIX");
  if (!prefix || !*prefix) GTEST_SKIP() << "ORBEL_TEST_WINEPREFIX is not set";
  const auto shell32 =
      MapWindowsPath("%SystemRoot%\\System32\\shell32.dll", ImageFilesOfWinePrefix(prefix));
  ASSERT_TRUE(shell32) << "no shell32.dll in the Wine prefix " << prefix;
  std::ifstream in(*shell32, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::span<const std::byte> file(reinterpret_cast<const std::byte*>(bytes.data()),
                                        bytes.size());
  EXPECT_GT(CountIcons(file), 20);
  const ExtractedIcon icon = ExtractIconFromFile(*shell32, 3);
  ASSERT_EQ(icon.outcome, IconOutcome::Found) << icon.error;
  EXPECT_GE(Get16(icon.ico, 4), 1u);
}

}  // namespace
}  // namespace orbel::platform
