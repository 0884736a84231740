// Registry text on a terminal: control characters escaped in the plain text
// output, kept exact in JSON.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/TerminalText.h"
#include "support/CompanionRun.h"
#include "support/TempFolder.h"

namespace orbel {
namespace {

using std::string_literals::operator""s;

TEST(TerminalText, ControlCharactersAreEscapedAndTheRestKept) {
  const struct {
    std::string text, shown;
  } cases[] = {
      {"C:\\Windows\\x.dll /a", "C:\\Windows\\x.dll /a"},
      {"a\x1b[2Jb\x07", "a\\x1B[2Jb\\x07"},
      {"one\ttwo\r\nthree", "one\\x09two\\x0D\\x0Athree"},
      {"nul\0end\x7f"s, "nul\\x00end\\x7F"},
      {"\u00e9\u00a0\u20ac", "\u00e9\u00a0\u20ac"},
      {"csi\u009b2J nel\u0085", "csi\\u009B2J nel\\u0085"},
      {"bad\x9b\xc3", "bad\\x9B\\xC3"},
  };
  for (const auto& c : cases) EXPECT_EQ(TerminalText(c.text), c.shown) << c.shown;
}

// A name and ProgID with escape sequences reached the terminal raw through
// the listing, --find and --test.
TEST(TerminalText, RegistryTextReachesTheTerminalEscaped) {
  testing::TempFolder folder;
  const std::string guid = "{A0000000-0000-4000-8000-0000000000E5}";
  const std::string key = "[Software\\\\Classes\\\\CLSID\\\\" + guid;
  folder.Write("prefix/system.reg", "WINE REGISTRY Version 2\n#arch=win64\n\n" + key +
                                        "] 1700000000\n@=\"Evil\x1b[2J\tname\"\n\n" + key +
                                        "\\\\ProgID] 1700000000\n@=\"Evil\x1b]0;x\x07.1\"\n");
  const std::string prefix = (folder.path() / "prefix").string();
  for (const auto& args :
       {std::vector<std::string>{prefix}, {"--find", "Evil", prefix}, {"--test", guid, prefix}}) {
    const testing::Outcome run = testing::Command(args);
    EXPECT_NE(run.out.find("Evil\\x1B"), std::string::npos) << args[0] << "\n" << run.out;
    EXPECT_TRUE(std::none_of(run.out.begin(), run.out.end(), [](char c) {
      return (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
    })) << args[0];
    if (args.size() == 1) {
      EXPECT_NE(run.out.find("\t" + guid + "\tEvil\\x1B[2J\\x09name\n"), std::string::npos);
    }
  }
  const testing::Outcome json = testing::Command({"--json", prefix});
  EXPECT_EQ(nlohmann::json::parse(json.out.substr(0, json.out.find('\n')))["name"],
            "Evil\x1b[2J\tname");
}

}  // namespace
}  // namespace orbel
