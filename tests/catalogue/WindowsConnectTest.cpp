// Connecting to a computer through the real registry, on Windows or under
// Wine: a name that is no computer fails in RegConnectRegistryW, and the
// loader asks, naming it as it was typed, whether to read this computer.
#include <gtest/gtest.h>

#ifdef _WIN32

#include "catalogue/COLESettingsUnit.h"
#include "catalogue/PlainControls.h"
#include "platform/computer/LocalImage.h"
#include "support/FakeScreen.h"

namespace orbel {
namespace {

class NoIcons : public IconExtractor {
 public:
  platform::ExtractedIcon Extract(const std::string&, std::int32_t) override { return {}; }
};

TEST(WindowsConnect, ANameThatIsNoComputerIsRefusedAndTheQuestionNamesIt) {
  testing::FakeScreen screen;
  screen.answers = {false};
  PlainTree tree;
  PlainProgress progress;
  PlainList list;
  PlainImages small(17), large(17);
  CatalogueWindows windows{&platform::SystemRegistry(), &progress, &tree, &list, &small, &large,
                           nullptr, [](platform::RegistryApi&, platform::HKey) {
                             return std::make_shared<NoIcons>();
                           }};
  TCOLESettings catalogue(windows);
  catalogue.RequestedComputer = "\\\\Orbel-No-Such-PC";
  catalogue.LoadCatalogue();
  ASSERT_FALSE(screen.messages.empty());
  EXPECT_EQ(screen.messages[0].kind, MessageKind::Confirm);
  // The question, with what the connection answered between its two lines.
  const std::string& text = screen.messages[0].text;
  EXPECT_TRUE(text.starts_with("Unable to retrieve information from \"\\\\Orbel-No-Such-PC\", "
                               "maybe access-forbidden.\n\n\\\\Orbel-No-Such-PC: "))
      << text;
  EXPECT_TRUE(text.ends_with("\n\nRead the settings from this computer instead?")) << text;
  EXPECT_EQ(catalogue.EntryCount(), 0);
}

}  // namespace
}  // namespace orbel

#endif  // _WIN32
