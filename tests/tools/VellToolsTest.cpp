#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

// Records every call and answers message boxes with a scripted choice.
class RecordingScreen : public Screen {
 public:
  struct Message {
    MessageKind kind;
    std::string caption;
    std::string text;
  };

  bool ShowMessage(MessageKind kind, const std::string& caption, const std::string& text) override {
    messages.push_back({kind, caption, text});
    return answerYes;
  }
  void SetCursorBusy(bool busy) override {
    cursorCalls.push_back(busy);
    cursorBusy = busy;
  }
  void ProcessPendingEvents() override { ++pumpCount; }
  std::vector<std::string> FontFamilies() override { return families; }
  void OpenWithShell(const std::string& target) override { opened.push_back(target); }

  bool answerYes = false;
  std::vector<std::string> families;
  std::vector<Message> messages;
  std::vector<bool> cursorCalls;
  bool cursorBusy = false;
  int pumpCount = 0;
  std::vector<std::string> opened;
};

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { SetScreen(&screen_); }
  void TearDown() override { SetScreen(nullptr); }

  RecordingScreen screen_;
};

struct ReplaceCase {
  const char* label;
  std::string text;
  std::string value;
  std::string expected;
};

TEST(ReplaceParamTest, ReplacesOnlyTheFirstOccurrence) {
  const std::vector<ReplaceCase> cases = {
      {"two markers", "a%1b%1c", "X", "aXb%1c"},
      {"no marker", "Done", "X", "Done"},
      {"empty text", "", "X", ""},
      {"empty value removes marker", "a%1b", "", "ab"},
      {"value holding the marker", "a%1b", "%1%1", "a%1%1b"},
      {"marker alone", "%1", "12", "12"},
      {"marker at the end", "%1 Objects displayed", "7", "7 Objects displayed"},
      {"lone percent", "100%", "X", "100%"},
      {"percent before marker", "%%1", "X", "%X"},
      {"split marker", "% 1", "X", "% 1"},
      {"other digit", "%2", "X", "%2"},
  };
  for (const ReplaceCase& c : cases) {
    EXPECT_EQ(ReplaceParam(c.text, c.value), c.expected) << c.label;
  }
}

TEST(ReplaceParamTest, PutsComputerNameBetweenTheQuotesOfTheLoaderQuestion) {
  const std::string question =
      "Unable to retrieve information from \"%1\", maybe access-forbidden.\n\n"
      "Read the settings from this computer instead?";
  EXPECT_EQ(ReplaceParam(question, "SERVER01"),
            "Unable to retrieve information from \"SERVER01\", maybe access-forbidden.\n\n"
            "Read the settings from this computer instead?");
}

TEST(SpacesTest, GivesThatManyBlanksOrNone) {
  EXPECT_EQ(Spaces(0), "");
  EXPECT_EQ(Spaces(-3), "");
  EXPECT_EQ(Spaces(std::numeric_limits<std::int32_t>::min()), "");
  EXPECT_EQ(Spaces(1), " ");
  const std::string wide = Spaces(512);
  EXPECT_EQ(wide.size(), 512u);
  EXPECT_EQ(wide.find_first_not_of(' '), std::string::npos);
}

TEST_F(ScreenTest, FontInstalledIgnoresAsciiCaseOnly) {
  screen_.families = {"Arial", "Tahoma", "Courier New", "\xC3\xA4rial"};
  struct FontCase {
    const char* name;
    bool installed;
  };
  const std::vector<FontCase> cases = {
      {"Tahoma", true},        {"tahoma", true},   {"TAHOMA", true},
      {"tAhOmA", true},        {"Arial", true},  // first in the list
      {"COURIER NEW", true},                     // blank inside the name
      {"\xC3\xA4RIAL", true},                    // non-ASCII letter kept as is
      {"\xC3\x84RIAL", false},                   // upper-case umlaut is not folded
      {"Taho", false},         {"Tahoma ", false}, {" Tahoma", false},
      {"Courier", false},      {"", false},
  };
  for (const FontCase& c : cases) {
    EXPECT_EQ(FontInstalled(c.name), c.installed) << '"' << c.name << '"';
  }
}

TEST_F(ScreenTest, FontInstalledFindsTheFamilyAnywhereInTheList) {
  screen_.families = {"Tahoma"};
  EXPECT_TRUE(FontInstalled("Tahoma"));
  screen_.families = {"Arial", "Verdana", "Tahoma"};
  EXPECT_TRUE(FontInstalled("tahoma"));
  screen_.families = {"Tahoma Bold", "Tahom", "MS Tahoma"};
  EXPECT_FALSE(FontInstalled("Tahoma"));
  screen_.families = {};
  EXPECT_FALSE(FontInstalled("Tahoma"));
}

TEST_F(ScreenTest, MessageRoutinesUseTheirCaptionAndKeepTheText) {
  struct MessageCase {
    void (*show)(const std::string&);
    MessageKind kind;
    const char* caption;
  };
  const std::vector<MessageCase> cases = {
      {[](const std::string& text) { ConfirmMessage(text); }, MessageKind::Confirm, "Confirm"},
      {&ErrorMessage, MessageKind::Error, "Error"},
      {&InfoMessage, MessageKind::Information, "Information"},
      {&WarningMessage, MessageKind::Warning, "Warning"},
  };
  const std::string text = "First statement.\n\nFollow-up with %1 and \"quotes\".";
  for (const MessageCase& c : cases) {
    screen_.messages.clear();
    c.show(text);
    ASSERT_EQ(screen_.messages.size(), 1u) << c.caption;
    EXPECT_EQ(screen_.messages[0].kind, c.kind) << c.caption;
    EXPECT_EQ(screen_.messages[0].caption, c.caption);
    EXPECT_EQ(screen_.messages[0].text, text) << c.caption;
  }
}

TEST_F(ScreenTest, ConfirmMessageIsTrueOnlyOnYes) {
  screen_.answerYes = true;
  EXPECT_TRUE(ConfirmMessage("Read the settings from this computer instead?"));
  screen_.answerYes = false;
  EXPECT_FALSE(ConfirmMessage("Read the settings from this computer instead?"));
  EXPECT_EQ(screen_.messages.size(), 2u);
}

TEST_F(ScreenTest, CursorIsNotCounted) {
  BusyCursor();
  BusyCursor();
  EXPECT_TRUE(screen_.cursorBusy);
  NormalCursor();
  EXPECT_FALSE(screen_.cursorBusy);
  EXPECT_EQ(screen_.cursorCalls, (std::vector<bool>{true, true, false}));
}

TEST_F(ScreenTest, PumpAndShellOpenReachTheScreen) {
  PumpMessages();
  PumpMessages();
  EXPECT_EQ(screen_.pumpCount, 2);

  OpenDocument("C:\\Program Files\\Readme.txt");
  OpenWebSite();
  EXPECT_EQ(screen_.opened, (std::vector<std::string>{"C:\\Program Files\\Readme.txt",
                                                      "https://www.vell.example/"}));
}

TEST(HeadlessTest, WithoutScreenMessagesGoToStandardError) {
  SetScreen(nullptr);
  ASSERT_EQ(CurrentScreen(), nullptr);

  ::testing::internal::CaptureStderr();
  ErrorMessage("Nothing selected.");
  const bool confirmed = ConfirmMessage("Proceed?");
  const std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(confirmed);
  EXPECT_NE(written.find("Error"), std::string::npos) << written;
  EXPECT_NE(written.find("Nothing selected."), std::string::npos) << written;
  EXPECT_NE(written.find("Confirm"), std::string::npos) << written;
  EXPECT_NE(written.find("Proceed?"), std::string::npos) << written;

  EXPECT_FALSE(FontInstalled("Tahoma"));

  ::testing::internal::CaptureStderr();
  BusyCursor();
  NormalCursor();
  PumpMessages();
  OpenWebSite();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(ComputerNameTest, TakesTextUpToNulWithoutLeadingControlsAndBlanks) {
  struct NameCase {
    const char* label;
    std::optional<std::string> platformName;
    std::string expected;
  };
  const std::vector<NameCase> cases = {
      {"call failed", std::nullopt, "LOCAL"},
      {"plain", std::string("WORKSTATION"), "WORKSTATION"},
      {"blank-filled buffer", std::string("PC7\0      ", 10), "PC7"},
      {"leading blanks and controls", std::string(" \t\x01\x1F PC7"), "PC7"},
      {"inner and trailing blanks kept", std::string("MY PC "), "MY PC "},
      {"non-ASCII first byte kept",
       std::string("\xC3\x9C"
                   "BERALL"),
       "\xC3\x9C"
       "BERALL"},
      {"DEL is above blank", std::string("\x7FPC"), "\x7FPC"},
      // A name that leaves nothing would give the title "Viewing Computer """.
      {"only blanks", std::string(512, ' '), "LOCAL"},
      {"NUL first", std::string("\0PC7", 4), "LOCAL"},
      {"empty", std::string(), "LOCAL"},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(ComputerNameFrom(c.platformName), c.expected) << c.label;
  }
}

TEST(PlatformKindTest, MapsPlatformIdentifiers) {
  struct KindCase {
    bool succeeded;
    std::uint32_t platformId;
    int expected;
  };
  const std::vector<KindCase> cases = {
      {true, 0, 0},  // Win32s
      {true, 1, 1},           {true, 2, 2},  {true, 3, 0},
      {true, 0xFFFFFFFFu, 0}, {false, 1, 0}, {false, 2, 0},
  };
  for (const KindCase& c : cases) {
    EXPECT_EQ(PlatformKindFrom(c.succeeded, c.platformId), c.expected)
        << c.succeeded << ' ' << c.platformId;
  }
}

// Off Windows by definition; on Windows (and Wine) the NT kind as
// RtlGetVersion gives it, and the computer's own name.
TEST(PlatformKindTest, TheConnectCommandIsOfferedAndTheComputerNamed) {
  EXPECT_EQ(WindowsPlatform(), 2);
  EXPECT_NE(LocalComputerName(), "LOCAL");
}

}  // namespace
}  // namespace orbel
