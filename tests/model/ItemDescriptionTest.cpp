#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/COLEItemDescriptionUnit.h"

namespace orbel {
namespace {

const std::string kFallback = "Sorry, Vell Orbel has no idea what this item is good for.";

// The fixed rows of the attribute list, in row order.
const std::vector<std::string> kAttributeNames = {
    "Name",
    "Type",
    "GUID",
    "RegPath",
    "Convert to",
    "COM Name (with Version)",
    "COM Name (no Version)",
    "OLE 1.0 Name",
    "Type Library Name",
    "Last change",
    "Control (16bit)",
    "Control",
    "Threading",
    "Server (16bit)",
    "Server",
    "Handler (16bit)",
    "Handler",
    "Handler Threading",
    "Development Icon (16bit)",
    "Development Icon",
    "Default Icon",
    "Version",
    "Misc. Settings",
};

TEST(ItemDescriptionTest, EveryAttributeOfTheListHasAText) {
  const CItemDescription descriptions;
  ASSERT_EQ(kAttributeNames.size(), 23u);
  for (const std::string& name : kAttributeNames) {
    const std::string text = descriptions.GetDescription(name);
    EXPECT_NE(text, kFallback) << name;
    EXPECT_FALSE(text.empty()) << name;
  }
}

TEST(ItemDescriptionTest, TextsMatchTheirLiterals) {
  const CItemDescription descriptions;
  struct TextCase {
    const char* name;
    std::string expected;
  };
  const std::vector<TextCase> cases = {
      {"Name",
       "The name describes the object. This name is not the name you use to access an object!"},
      {"Version", "The version of the object."},
      {"Handler Threading",
       "The same as \"Threading\", except this is the threading for the handler."},
      {"Misc. Settings",
       "This value is used internally for various COM settings and should never be changed!"},
      {"Development Icon",
       "This picture is shown in the programming environment's toolbar. It is used to easily "
       "identify an object."},
      {"Control",
       "A control is a COM object that is used internally by a program. For example a button in "
       "a VB program is always a COM object called \"CommandButton\". It is always a part of the "
       "program, using the same memory, resources etc.  If the program crashes, the control(s) "
       "it uses will crash also."},
      {"OLE 1.0 Name",
       "If an object provides backward-compatibility to OLE 1.0 (the first version of COM), it "
       "has to set this name. Normally, you won't find any objects containing a value other "
       "than <Unknown>."},
      {"Convert to",
       "Compatibility is very important in COM. For example, some programs may want to use the "
       "object \"App.OLD\". To ensure that they work, even if the new version (\"App.NEW\") is "
       "installed, the object \"App.OLD\" is created but will be converted to \"App.NEW\". "
       "That way, the programs think they use \"App.OLD\" but they use \"App.NEW\" in "
       "reality."},
      {"Treat As (?)", "????????????????"},
      {"Unknown Subkey", kFallback},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(descriptions.GetDescription(c.name), c.expected) << c.name;
  }
  EXPECT_EQ(descriptions.GetDescription("Treat As (?)"), std::string(16, '?'));
}

TEST(ItemDescriptionTest, PairedRowsShareTheirText) {
  const CItemDescription descriptions;
  const std::vector<std::string> bases = {"Server", "Handler", "Development Icon"};
  std::set<std::string> distinct;
  for (const std::string& base : bases) {
    const std::string text = descriptions.GetDescription(base);
    EXPECT_EQ(descriptions.GetDescription(base + " (16bit)"), text) << base;
    distinct.insert(text);
  }
  EXPECT_EQ(distinct.size(), bases.size());
  EXPECT_NE(descriptions.GetDescription("Handler Threading"),
            descriptions.GetDescription("Threading"));
}

TEST(ItemDescriptionTest, ControlTextsDifferByOneBlank) {
  const CItemDescription descriptions;
  const std::string wide = descriptions.GetDescription("Control");
  std::string narrow = descriptions.GetDescription("Control (16bit)");
  ASSERT_NE(wide, narrow);
  ASSERT_EQ(wide.size(), narrow.size() + 1);
  const std::size_t at = narrow.find("etc. If");
  ASSERT_NE(at, std::string::npos);
  narrow.insert(at + 4, " ");
  EXPECT_EQ(narrow, wide);
}

TEST(ItemDescriptionTest, NamesMatchWholeAndCaseSensitively) {
  const CItemDescription descriptions;
  const std::vector<std::string_view> names = {
      "",
      "name",
      "NAME",
      "guid",
      " Name",
      "Name ",
      "Server(16bit)",
      "Control(16bit)",
      "Control (16Bit)",
      "Development icon",
      "Misc Settings",
      "Convert To",
      "Treat As",
      "TreatAs",
      "Last Change",
      "Threading Model",
      std::string_view("GUID\0", 5),
      "Implemented Categories",
  };
  for (const std::string_view name : names) {
    EXPECT_EQ(descriptions.GetDescription(name), kFallback) << '"' << name << '"';
  }
}

TEST(ItemDescriptionTest, TableNamesAreReadableByPosition) {
  EXPECT_EQ(CItemDescription::kEntryCount, 24);
  EXPECT_EQ(CItemDescription::NameAt(1), "Name");
  EXPECT_EQ(CItemDescription::NameAt(6), "Treat As (?)");
  EXPECT_EQ(CItemDescription::NameAt(16), "Threading");
  EXPECT_EQ(CItemDescription::NameAt(24), "Misc. Settings");
  EXPECT_TRUE(CItemDescription::NameAt(0).empty());
  EXPECT_TRUE(CItemDescription::NameAt(25).empty());
  EXPECT_TRUE(CItemDescription::NameAt(-1).empty());

  // Every table name answers with its own row's text, and no row is shadowed by an
  // earlier one of the same name.
  const CItemDescription descriptions;
  std::set<std::string_view> seen;
  for (int position = 1; position <= CItemDescription::kEntryCount; ++position) {
    const std::string_view name = CItemDescription::NameAt(position);
    EXPECT_TRUE(seen.insert(name).second) << name;
    EXPECT_NE(descriptions.GetDescription(name), kFallback) << name;
  }
  for (const std::string& name : kAttributeNames) {
    EXPECT_EQ(seen.count(name), 1u) << name;
  }
}

}  // namespace
}  // namespace orbel
