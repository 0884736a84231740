#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/base/Text.h"
#include "platform/formats/RegText.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;

std::vector<std::byte> Bytes(std::string_view text) {
  const auto* p = reinterpret_cast<const std::byte*>(text.data());
  return {p, p + text.size()};
}

std::vector<std::byte> Hex(std::initializer_list<unsigned> values) {
  std::vector<std::byte> out;
  for (unsigned v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

// UTF-16LE code units as bytes, without adding a terminator.
std::vector<std::byte> Units(std::u16string_view units) {
  std::vector<std::byte> out;
  for (char16_t u : units) {
    out.push_back(static_cast<std::byte>(u & 0xFF));
    out.push_back(static_cast<std::byte>(u >> 8));
  }
  return out;
}

RegTextResult Parse(std::string_view text, MemoryStore& store, const RegTextKeyMap& map = {}) {
  return ParseRegistryText(Bytes(text), store, map);
}

std::optional<Value> ValueAt(MemoryStore& store, std::string_view path, std::string_view name) {
  const auto node = store.Find(path);
  Value value;
  if (!node || store.GetValue(*node, name, value) != kSuccess) return std::nullopt;
  return value;
}

std::string Describe(const RegTextResult& result) {
  std::ostringstream out;
  out << result.error;
  for (const auto& issue : result.issues)
    out << " [line " << issue.line << ": " << issue.message << "]";
  return out.str();
}

struct ValueCase {
  std::string_view header;
  std::string_view line;
  std::string_view name;
  std::uint32_t type;
  std::vector<std::byte> data;
};

constexpr std::string_view kR4 = "REGEDIT4";
constexpr std::string_view kR5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kWine = "WINE REGISTRY Version 2";

TEST(RegTextValues, EveryFormParsesToItsTypeAndBytes) {
  const std::vector<ValueCase> cases = {
      {kR5, R"("v"="plain")", "v", REG_SZ, Units(u"plain\0"sv)},
      {kR5, R"("v"="a\\b\"c")", "v", REG_SZ, Units(u"a\\b\"c\0"sv)},
      {kR5, R"("v"="C:\temp")", "v", REG_SZ, Units(u"C:\\temp\0"sv)},
      {kR5, R"(@="default")", "", REG_SZ, Units(u"default\0"sv)},
      {kR5, R"("a\"b" = "x")", "a\"b", REG_SZ, Units(u"x\0"sv)},
      {kR5,
       R"("v"="caf)"
       "\xC3\xA9"
       R"(")",
       "v", REG_SZ, Units(u"caf\u00e9\0"sv)},
      {kR5, R"("v"=dword:0000000a)", "v", REG_DWORD, Hex({0x0a, 0, 0, 0})},
      {kR5, R"("v"=DWORD:A)", "v", REG_DWORD, Hex({0x0a, 0, 0, 0})},
      {kR5, R"("v"=dword:fffffffe)", "v", REG_DWORD, Hex({0xfe, 0xff, 0xff, 0xff})},
      {kR5, R"("v"=hex:01,02,ff)", "v", REG_BINARY, Hex({1, 2, 0xff})},
      {kR5, R"("v"=hex:)", "v", REG_BINARY, {}},
      {kR5, R"("v"=hex(0):)", "v", REG_NONE, {}},
      {kR5, R"("v"=hex(2):41,00,00,00)", "v", REG_EXPAND_SZ, Hex({0x41, 0, 0, 0})},
      {kR5, R"("v"=hex(7):61,00,00,00,00,00)", "v", REG_MULTI_SZ, Hex({0x61, 0, 0, 0, 0, 0})},
      {kR5, R"("v"=hex(b):2c,01,00,00,00,00,00,00)", "v", REG_QWORD,
       Hex({0x2c, 1, 0, 0, 0, 0, 0, 0})},
      {kR5, R"("v"=hex(ffffffff):01)", "v", 0xffffffffu, Hex({1})},
      {kR5, "\"v\"=hex:01,02,\\\n   03,\\\r\n\t04", "v", REG_BINARY, Hex({1, 2, 3, 4})},
      {kR4, R"("v"="x")", "v", REG_SZ, Units(u"x\0"sv)},
      {kR4, R"("v"=hex(2):25,41,25,00)", "v", REG_EXPAND_SZ, Units(u"%A%\0"sv)},
      {kR4, R"("v"=hex(7):61,00,62,00,00)", "v", REG_MULTI_SZ, Units(u"a\0b\0\0"sv)},
      // 0xE9 alone is not UTF-8, so the value's bytes are read as Windows-1252.
      {kR4, R"("v"=hex(2):e9,00)", "v", REG_EXPAND_SZ, Units(u"\u00e9\0"sv)},
      {kR4, R"("v"=hex:e9,00)", "v", REG_BINARY, Hex({0xe9, 0})},
      {kWine, R"("v"="a\\b\"c")", "v", REG_SZ, Units(u"a\\b\"c\0"sv)},
      {kWine, R"("v"="\a\b\e\f\n\r\t\v")", "v", REG_SZ, Units(u"\a\b\x1b\f\n\r\t\v\0"sv)},
      {kWine, R"("v"="\x41\x00e9b\xe9ab\x7g")", "v", REG_SZ, Units(u"A\u00e9b\ue9ab\x07g\0"sv)},
      {kWine, R"("v"="\xd83d\xde00")", "v", REG_SZ, Units(u"\xd83d\xde00\0"sv)},
      {kWine, R"("v"="\101\0\12x\1017")", "v", REG_SZ, Units(u"A\0\nxA7\0"sv)},
      {kWine, R"("v"="\q\]")", "v", REG_SZ, Units(u"q]\0"sv)},
      {kWine, R"("a\x42\"c"=dword:1)", "aB\"c", REG_DWORD, Hex({1, 0, 0, 0})},
      {kWine, R"("v"=str(2):"%SystemRoot%\\x")", "v", REG_EXPAND_SZ, Units(u"%SystemRoot%\\x\0"sv)},
      {kWine, R"("v"=str(7):"a\0b\0")", "v", REG_MULTI_SZ, Units(u"a\0b\0\0"sv)},
      {kWine, R"("v"=hex(b):2c,01,00,00,00,00,00,00)", "v", REG_QWORD,
       Hex({0x2c, 1, 0, 0, 0, 0, 0, 0})},
      {kWine, "\"v\"=hex(3):de,ad,\\\n  be,ef", "v", 3, Hex({0xde, 0xad, 0xbe, 0xef})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.header) + " | " + std::string(c.line));
    MemoryStore store;
    const std::string text = std::string(c.header) + "\n\n[K]\n" + std::string(c.line) + "\n";
    const auto result = Parse(text, store);
    ASSERT_TRUE(result.ok) << Describe(result);
    EXPECT_TRUE(result.issues.empty()) << Describe(result);
    EXPECT_EQ(result.values, 1u);
    const auto value = ValueAt(store, "K", c.name);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, c.type);
    EXPECT_EQ(value->data, c.data);
  }
}

TEST(RegTextIssues, MalformedLinesAreReportedWithLineNumbersAndSkipped) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n"  // 1
      "\"early\"=\"x\"\n"                       // 2
      "stray text\n"                            // 3
      "[K]\n"                                   // 4
      "\"a\"=\"unterminated\n"                  // 5
      "\"b\"=hex:01,zz,03\n"                    // 6
      "\"c\"=dword:123456789\n"                 // 7
      "\"d\"=hex(100020000):01\n"               // 8
      "\"e\"=bogus\n"                           // 9
      "\"f\"\n"                                 // 10
      "\"g\"=hex:01,\\\n"                       // 11
      "  zz\n"                                  // 12
      "\"h\"=\"x\" more\n"                      // 13
      "\"i\"=hex:01,,02\n"                      // 14
      "\"j\"=\n"                                // 15
      "\"good\"=dword:00000001\n"               // 16
      "\"k\"=hex:01,\\\n"                       // 17
      "[L]\n"                                   // 18
      "\"good\"=\"yes\"\n"                      // 19
      "[M\n"                                    // 20
      "\"lost\"=\"quietly\"\n"                  // 21
      "#comment\n";                             // 22
  MemoryStore store;
  const auto result = Parse(text, store);
  ASSERT_TRUE(result.ok);
  const std::vector<std::pair<std::size_t, std::string>> expected = {
      {2, "value outside a key"},
      {3, "unrecognised line"},
      {5, "unterminated string"},
      {6, "bad hex byte 'zz'"},
      {7, "bad dword"},
      {8, "bad value type"},
      {9, "unknown value type"},
      {10, "expected '='"},
      {12, "bad hex byte 'zz'"},
      {13, "after the string"},
      {14, "empty hex byte"},
      {15, "missing value data"},
      {17, "no continuation line"},
      {20, "without closing ']'"},
      {22, "unrecognised line"},
  };
  ASSERT_EQ(result.issues.size(), expected.size()) << Describe(result);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(result.issues[i].line, expected[i].first) << result.issues[i].message;
    EXPECT_NE(result.issues[i].message.find(expected[i].second), std::string::npos)
        << result.issues[i].message;
  }
  EXPECT_EQ(result.values, 2u);
  EXPECT_TRUE(ValueAt(store, "K", "good").has_value());
  EXPECT_TRUE(ValueAt(store, "L", "good").has_value());
  EXPECT_FALSE(ValueAt(store, "K", "b").has_value());
  EXPECT_FALSE(ValueAt(store, "K", "g").has_value());
  EXPECT_FALSE(store.Find("M").has_value());
}

TEST(RegTextIssues, ListStopsAtAThousandAndCountsTheRest) {
  std::string text = "REGEDIT4\n[K]\n";
  for (int i = 0; i < 1500; ++i) text += "junk\n";
  MemoryStore store;
  const auto result = Parse(text, store);
  ASSERT_EQ(result.issues.size(), 1001u);
  EXPECT_EQ(result.issues.back().message, "500 more issues");
  EXPECT_EQ(result.issues.back().line, 1502u);
}

TEST(RegTextKeys, WineNamesAreUnescapedAndMapped) {
  std::vector<std::string> seen;
  const RegTextKeyMap map = [&](std::string_view path) -> std::optional<std::string> {
    seen.emplace_back(path);
    if (path.starts_with("Skip")) return std::nullopt;
    return "Root\\" + std::string(path);
  };
  MemoryStore store;
  const auto result = Parse(
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
      "[Software\\\\Gr\\x00f6\\x00dfe\\\\a\\]b] 1273165719\n\"v\"=\"1\"\n"
      "[Skip\\\\Me]\n\"w\"=\"2\"\n#time=1\n",
      store, map);
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.issues.empty()) << Describe(result);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "Software\\Gr\u00f6\u00dfe\\a]b");
  EXPECT_EQ(seen[1], "Skip\\Me");
  EXPECT_TRUE(ValueAt(store, "Root\\Software\\GR\u00d6\u00dfE\\A]B", "v").has_value());
  EXPECT_FALSE(store.Find("Skip").has_value());
  EXPECT_FALSE(store.Find("Root\\Skip").has_value());
  EXPECT_EQ(result.keys, 1u);
  EXPECT_EQ(result.values, 1u);
}

TEST(RegTextKeys, RegeditPathsAreNormalisedAndKeepBrackets) {
  std::vector<std::string> seen;
  const RegTextKeyMap map = [&](std::string_view path) -> std::optional<std::string> {
    seen.emplace_back(path);
    return std::string(path);
  };
  MemoryStore store;
  const auto result = Parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\\\A\\b]c\\]\n@=\"x\"\n", store, map);
  EXPECT_TRUE(result.issues.empty()) << Describe(result);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "HKEY_LOCAL_MACHINE\\A\\b]c");
  // Regedit exports carry no times, for named keys and their parents alike.
  EXPECT_EQ(store.LastWriteOf(*store.Find("HKEY_LOCAL_MACHINE\\A\\b]c")), 0u);
  EXPECT_EQ(store.LastWriteOf(*store.Find("HKEY_LOCAL_MACHINE")), 0u);
}

TEST(RegTextKeys, DeletionsApplyInFileOrder) {
  MemoryStore store;
  const auto result = Parse(
      "Windows Registry Editor Version 5.00\n"
      "[A\\B\\C]\n\"x\"=\"1\"\n\"y\"=\"2\"\n@=\"d\"\n"
      "[A\\B]\n\"keep\"=\"1\"\n"
      "[A\\B\\C]\n\"x\"=-\n@=-\n"
      "[A]\n\"x\"=\"1\"\n@=\"d\"\n\"x\"=-\n@=-\n\"y\"=\"2\"\n\"z\"=-\n"
      "[-A\\B]\n\"ignored\"=\"after removal\"\n"
      "[A\\B\\D]\n\"new\"=\"1\"\n"
      "[-Nowhere\\At\\All]\n",
      store);
  EXPECT_TRUE(result.issues.empty()) << Describe(result);
  EXPECT_FALSE(store.Find("A\\B\\C").has_value());
  EXPECT_FALSE(ValueAt(store, "A\\B", "keep").has_value());
  EXPECT_TRUE(ValueAt(store, "A\\B\\D", "new").has_value());
  EXPECT_FALSE(ValueAt(store, "A\\B", "ignored").has_value());
  EXPECT_FALSE(ValueAt(store, "A", "x").has_value());
  EXPECT_FALSE(ValueAt(store, "A", "").has_value());
  EXPECT_TRUE(ValueAt(store, "A", "y").has_value());
  EXPECT_EQ(result.keys, 5u);
}

TEST(RegTextKeys, WineTimesComeFromSecondsOrTimeLines) {
  constexpr FileTime kFromSeconds = (1273165719ull + 11644473600ull) * 10000000ull;
  MemoryStore store;
  const auto result = Parse(
      "WINE REGISTRY Version 2\n"
      "[P\\\\Seconds] 1273165719\n"
      "[P\\\\Stamp] 1273165719\n#time=1caed3ec6059326\n"
      "[P\\\\None]\n"
      "[P\\\\Twice] 100\n[Other] 200\n[P\\\\Twice] 1273165719\n"
      "[P\\\\Bad] 12x\n#time=zz\n",
      store);
  const std::vector<std::pair<std::size_t, std::string>> issues = {{9, "bad time '12x'"},
                                                                   {10, "bad time stamp"}};
  ASSERT_EQ(result.issues.size(), issues.size()) << Describe(result);
  for (std::size_t i = 0; i < issues.size(); ++i) {
    EXPECT_EQ(result.issues[i].line, issues[i].first);
    EXPECT_NE(result.issues[i].message.find(issues[i].second), std::string::npos);
  }
  auto time = [&](std::string_view path) { return store.LastWriteOf(*store.Find(path)); };
  EXPECT_EQ(time("P\\Seconds"), kFromSeconds);
  EXPECT_EQ(time("P\\Stamp"), 0x1caed3ec6059326ull);
  EXPECT_EQ(time("P\\None"), 0u);
  EXPECT_EQ(time("P\\Twice"), kFromSeconds);
  EXPECT_EQ(time("P\\Bad"), 0u);
  EXPECT_EQ(time("P"), 0u);  // named only as part of longer paths
}

TEST(RegTextEncoding, Utf16WithBomKeepsHexStringsAsTheyAre) {
  const std::u16string text =
      u"\xfeffWindows Registry Editor Version 5.00\r\n\r\n[Caf\u00e9\\\U0001F600]\r\n"
      u"\"n\u00e4me\"=\"\u20ac\U0001F600\"\r\n\"e\"=hex(2):41,00,e9,00,00,00\r\n";
  MemoryStore store;
  const auto result = ParseRegistryText(Units(text), store, {});
  ASSERT_TRUE(result.ok) << Describe(result);
  EXPECT_EQ(result.format, RegTextFormat::Regedit5);
  EXPECT_TRUE(result.issues.empty()) << Describe(result);
  const auto name = ValueAt(store, "Caf\u00e9\\\U0001F600", "N\u00c4ME");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(name->data, Units(u"\u20ac\U0001F600\0"sv));
  EXPECT_EQ(ValueAt(store, "Caf\u00e9\\\U0001F600", "e")->data, Hex({0x41, 0, 0xe9, 0, 0, 0}));
}

TEST(RegTextEncoding, EightBitTextIsUtf8WhenValidElseWindows1252) {
  MemoryStore store;
  auto result = Parse("REGEDIT4\r\n[K\xe9]\r\n\"v\"=\"\x80\x9f\"\r\n", store);
  EXPECT_EQ(result.format, RegTextFormat::Regedit4);
  EXPECT_TRUE(result.issues.empty()) << Describe(result);
  EXPECT_EQ(ValueAt(store, "K\u00e9", "v")->data, Units(u"\u20ac\u0178\0"sv));

  MemoryStore utf8;
  result = Parse("\xEF\xBB\xBFREGEDIT4\n[K\xc3\xa9]\n\"v\"=\"\xe2\x82\xac\"\n", utf8);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(ValueAt(utf8, "K\u00e9", "v")->data, Units(u"\u20ac\0"sv));
}

TEST(RegTextDetection, OnlyTheThreeHeadersAreAccepted) {
  struct Case {
    std::string bytes;
    bool looksLike;
    std::string errorPart;  // empty: parses
  };
  const std::string longLine = std::string(60, 'a') + "ZZZ";
  const std::vector<Case> cases = {
      {"REGEDIT4\n", true, ""},
      {"\n  \r\nWindows Registry Editor Version 5.00  \r\n", true, ""},
      {"WINE REGISTRY Version 2", true, ""},
      {"\xEF\xBB\xBFREGEDIT4\r\n", true, ""},
      {std::string("\xFF\xFER\0E\0G\0E\0D\0I\0T\0"
                   "4\0",
                   18),
       true, ""},
      {"", false, "it is empty"},
      {"\n \n\t\n", false, "only blank lines"},
      {"REGEDIT5\n[K]\n", false, "first line is \"REGEDIT5\""},
      {"; REGEDIT4\nREGEDIT4\n", false, "first line is \"; REGEDIT4\""},
      {std::string("MZ\x90\0\x03", 5), false, "first line is \"MZ???\""},
      {longLine, false, std::string(60, 'a') + "...\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(LooksLikeRegistryText(Bytes(c.bytes)), c.looksLike);
    MemoryStore store;
    const auto result = Parse(c.bytes, store);
    EXPECT_EQ(result.ok, c.errorPart.empty());
    if (!c.errorPart.empty()) {
      EXPECT_NE(result.error.find("not a registry file"), std::string::npos) << result.error;
      EXPECT_NE(result.error.find(c.errorPart), std::string::npos) << result.error;
    }
  }
}

TEST(RegTextRobustness, EveryTruncationReadsWhatItHasWithoutCrashing) {
  const std::vector<std::string> files = {
      "WINE REGISTRY Version 2\n[A\\\\B] 1273165719\n#time=1caed3ec6059326\n"
      "\"s\"=\"x\\x00e9\\101\\\\\"\n\"m\"=str(7):\"a\\0b\\0\"\n\"d\"=dword:0000002a\n"
      "\"h\"=hex(b):01,02,\\\n  03,04\n[-A\\\\B]\n[C]\n@=\"e\"\n",
      "REGEDIT4\r\n[A\\B]\r\n\"s\"=\"q\\\"\"\r\n\"e\"=hex(2):41,\\\r\n  00\r\n\"x\"=-\r\n",
  };
  for (const auto& file : files) {
    MemoryStore full;
    const auto complete = Parse(file, full);
    ASSERT_TRUE(complete.issues.empty()) << Describe(complete);
    const std::size_t headerEnd = file.find('\n');
    for (std::size_t n = 0; n <= file.size(); ++n) {
      SCOPED_TRACE(n);
      MemoryStore store;
      const auto result = Parse(std::string_view(file).substr(0, n), store);
      const std::size_t headerLength = file[headerEnd - 1] == '\r' ? headerEnd - 1 : headerEnd;
      EXPECT_EQ(result.ok, n >= headerLength);
      EXPECT_LE(result.keys, complete.keys);
      EXPECT_LE(result.values, complete.values);
    }
  }
}

TEST(RegTextSample, TheShippedSampleLoadsCleanly) {
  const fs::path sample = ORBEL_SAMPLE_REGISTRY;
  if (!fs::exists(sample)) GTEST_SKIP() << "no sample registry at " << sample;
  MemoryStore store;
  const auto result = LoadRegistryTextFile(sample, store, {});
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.format, RegTextFormat::Wine2);
  EXPECT_TRUE(result.issues.empty()) << Describe(result);
  EXPECT_EQ(result.keys, 257u);
  EXPECT_EQ(result.values, 272u);
  const std::string key = "Software\\Classes\\CLSID\\{9EF58B7E-73C2-4963-A5BF-8A27D4AA5A0A}";
  const auto stufen = ValueAt(store, key + "\\Gr\u00f6\u00dfe", "Stufen");
  ASSERT_TRUE(stufen.has_value());
  EXPECT_EQ(stufen->type, REG_MULTI_SZ);
  EXPECT_EQ(stufen->data, Units(u"klein\0mittel\0gro\u00df\0\0"sv));
  EXPECT_EQ(store.LastWriteOf(*store.Find(key)), 0x1d4588387c3534bull);
}

TEST(RegTextFiles, LoadErrorsNameTheFile) {
  MemoryStore store;
  auto result = LoadRegistryTextFile("/nonexistent/orbel/x.reg", store, {});
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("/nonexistent/orbel/x.reg"), std::string::npos);
  result = LoadRegistryTextFile(fs::temp_directory_path(), store, {});
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("not a regular file"), std::string::npos);

  const fs::path hive = fs::path(ORBEL_CORPUS_DIR) / "damaged" / "NotAHive";
  if (!fs::exists(hive)) GTEST_SKIP() << "corpus not present at " << ORBEL_CORPUS_DIR;
  result = LoadRegistryTextFile(hive, store, {});
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find(hive.string() + ": not a registry file"), std::string::npos)
      << result.error;
  EXPECT_EQ(store.NodeCount(), 1u);
}

TEST(RegTextWriter, WritesTheExpectedText) {
  MemoryStore store;
  const auto c = store.EnsurePath("R\\A\\C");
  store.PutString(c, "", "q\"\\");
  store.PutDword(c, "n", 42);
  store.PutString(c, "p", "%x%", REG_EXPAND_SZ);
  store.Put(c, "b", REG_BINARY, Hex({1, 0xab}));
  store.EnsurePath("R\\B");
  const std::string text = WriteRegistryText(store, *store.Find("R"), "HKEY_LOCAL_MACHINE\\R");
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\R\\A\\C]\r\n"
            "@=\"q\\\"\\\\\"\r\n"
            "\"n\"=dword:0000002a\r\n"
            "\"p\"=hex(2):25,00,78,00,25,00,00,00\r\n"
            "\"b\"=hex:01,ab\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\R\\B]\r\n\r\n");
}

TEST(RegTextWriter, LongHexListsWrapWithinEightyColumns) {
  MemoryStore store;
  std::vector<std::byte> data(200);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::byte>(i);
  const auto k = store.EnsurePath("K");
  store.Put(k, "bin", REG_BINARY, data);
  store.Put(k, std::string(90, 'n'), 0x20, Hex({7}));
  const std::string text = WriteRegistryText(store, k, "K");
  std::istringstream lines(text);
  std::string line;
  int continued = 0;
  bool previousContinues = false;
  while (std::getline(lines, line)) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    line.pop_back();
    if (!line.starts_with("\"nnn")) {
      EXPECT_LE(line.size(), 80u) << line;
    }
    if (previousContinues) {
      EXPECT_TRUE(line.starts_with("  ")) << line;
    }
    previousContinues = !line.empty() && line.back() == '\\';
    continued += previousContinues;
  }
  EXPECT_GE(continued, 8);
  MemoryStore back;
  const auto result = Parse(text, back);
  EXPECT_TRUE(result.issues.empty()) << Describe(result);
  EXPECT_EQ(ValueAt(back, "K", "bin")->data, data);
  EXPECT_EQ(ValueAt(back, "K", std::string(90, 'n'))->data, Hex({7}));
}

// Compares two trees key by key: names, order, values, types and bytes.
void ExpectSameTree(const MemoryStore& a, Store::Node na, const MemoryStore& b, Store::Node nb,
                    const std::string& path) {
  SCOPED_TRACE(path);
  const auto& va = a.ValuesOf(na);
  const auto& vb = b.ValuesOf(nb);
  ASSERT_EQ(va.size(), vb.size());
  for (std::size_t i = 0; i < va.size(); ++i) {
    EXPECT_EQ(va[i].name, vb[i].name);
    EXPECT_EQ(va[i].value.type, vb[i].value.type) << va[i].name;
    EXPECT_EQ(va[i].value.data, vb[i].value.data) << va[i].name;
  }
  const auto& ca = a.ChildrenOf(na);
  const auto& cb = b.ChildrenOf(nb);
  ASSERT_EQ(ca.size(), cb.size());
  for (std::size_t i = 0; i < ca.size(); ++i) {
    EXPECT_EQ(a.NameOf(ca[i]), b.NameOf(cb[i]));
    ExpectSameTree(a, ca[i], b, cb[i], path + "\\" + a.NameOf(ca[i]));
  }
}

TEST(RegTextWriter, WhatIsWrittenReadsBackTheSame) {
  MemoryStore store;
  const auto k = store.EnsurePath("Root\\K]ey \u00e9\\Sub");
  store.PutString(k, "", "default");
  store.PutString(k, "quote\"back\\", "a\"b\\c \u20ac \U0001F600");
  store.Put(k, "no terminator", REG_SZ, Units(u"ab"));
  store.Put(k, "inner nul", REG_SZ, Units(u"a\0b\0"sv));
  store.Put(k, "line break", REG_SZ, Units(u"a\r\nb\0"sv));
  store.Put(k, "lone surrogate", REG_SZ, Units(u"\xd800x\0"sv));
  store.Put(k, "odd", REG_SZ, Hex({0x41}));
  store.Put(k, "short dword", REG_DWORD, Hex({1, 2, 3}));
  store.PutDword(k, "dword", 0xdeadbeef);
  store.Put(k, "qword", REG_QWORD, Hex({1, 2, 3, 4, 5, 6, 7, 8}));
  store.Put(k, "multi", REG_MULTI_SZ, Units(u"a\0b\0\0"sv));
  store.Put(k, "big type", 0xffffffffu, Hex({9}));
  store.Put(k, "empty", REG_BINARY, {});
  store.EnsurePath("Root\\Empty leaf");
  store.SetLastWrite(k, 12345);

  const std::string text = WriteRegistryText(store, *store.Find("Root"), "HKEY_LOCAL_MACHINE");
  MemoryStore back;
  const RegTextKeyMap map = [](std::string_view path) -> std::optional<std::string> {
    if (!path.starts_with("HKEY_LOCAL_MACHINE")) return std::nullopt;
    return "Root" + std::string(path.substr(18));
  };
  const auto result = ParseRegistryText(Bytes(text), back, map);
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.issues.empty()) << Describe(result) << "\n" << text;
  ExpectSameTree(store, store.RootNode(), back, back.RootNode(), "");
  EXPECT_EQ(back.LastWriteOf(*back.Find("Root\\K]ey \u00e9\\Sub")), 0u);
}

TEST(RegTextWriter, HandWrittenDwordStaysADword) {
  MemoryStore store;
  Parse("Windows Registry Editor Version 5.00\n\n[K]\n\"n\"=dword:2a\n", store);
  const std::string text = WriteRegistryText(store, *store.Find("K"), "K");
  EXPECT_NE(text.find("\"n\"=dword:0000002a\r\n"), std::string::npos) << text;
  MemoryStore back;
  Parse(text, back);
  const auto value = ValueAt(back, "K", "n");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, REG_DWORD);
  EXPECT_EQ(value->data, Hex({0x2a, 0, 0, 0}));
}

TEST(RegTextWriter, NamesWithLineBreaksAreLeftOut) {
  MemoryStore store;
  const auto k = store.EnsurePath("K");
  store.PutString(k, "ok", "1");
  store.PutString(k, "evil\r\n[Injected]", "2");
  store.PutString(store.EnsurePath("K\\bad\nkey"), "x", "3");
  const std::string text = WriteRegistryText(store, k, "K");
  EXPECT_EQ(text.find("Injected"), std::string::npos);
  EXPECT_EQ(text.find("bad"), std::string::npos);
  EXPECT_NE(text.find("\"ok\"=\"1\""), std::string::npos);
}

class AtomicWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("orbel-regtext-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    file_ = folder_ / "user.reg";
    std::ofstream(file_) << "old";
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all);
    fs::remove_all(folder_);
  }
  std::string Contents() const {
    std::ifstream in(file_);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder_), {}));
  }
  fs::path folder_;
  fs::path file_;
};

TEST_F(AtomicWriteTest, ReplacesTheFileAndLeavesNoTemporary) {
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(file_, "new contents", error)) << error;
  EXPECT_EQ(Contents(), "new contents");
  EXPECT_EQ(Entries(), 1u);
  const fs::path fresh = folder_ / "fresh.reg";
  ASSERT_TRUE(WriteFileAtomically(fresh, "", error)) << error;
  EXPECT_EQ(fs::file_size(fresh), 0u);
}

TEST_F(AtomicWriteTest, FailedRenameKeepsWhatWasThere) {
  const fs::path target = folder_ / "dir";
  fs::create_directories(target / "inside");
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(target, "x", error));
  EXPECT_NE(error.find(target.string()), std::string::npos) << error;
  EXPECT_TRUE(fs::is_directory(target / "inside"));
  EXPECT_EQ(Entries(), 2u);  // user.reg and dir: the temporary file is gone
  EXPECT_FALSE(WriteFileAtomically(folder_ / "missing" / "x.reg", "x", error));
}

TEST_F(AtomicWriteTest, ReadOnlyFolderKeepsTheOldFile) {
#ifdef _WIN32
  GTEST_SKIP() << "folder permission bits and forked children are POSIX's";
#else
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  if (::geteuid() != 0) {
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(file_, "new", error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
  } else {
    // Permissions do not bind root: try as an unprivileged user in a child.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(77);
      std::string error;
      ::_exit(WriteFileAtomically(file_, "new", error) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop root privileges here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write succeeded in a read-only folder";
  }
  EXPECT_EQ(Contents(), "old");
  EXPECT_EQ(Entries(), 1u);
#endif
}

}  // namespace
}  // namespace orbel::platform
