// Reads a real Wine prefix when the environment names one
// (ORBEL_TEST_WINEPREFIX, made with `wineboot -i`): every class gives an
// entry, and the icons of servers in the prefix's system folder come out of
// its program files.
#include <gtest/gtest.h>

#include <cstdlib>

#include "catalogue/COLESettingsUnit.h"
#include "catalogue/PlainControls.h"
#include "platform/computer/LocalImage.h"
#include "support/FakeScreen.h"

namespace orbel {
namespace {

TEST(WinePrefix, EveryClassReadsAndServersGiveTheirIcons) {
  const char* prefix = std::getenv("ORBEL_TEST_WINEPREFIX");
  if (!prefix) GTEST_SKIP() << "ORBEL_TEST_WINEPREFIX names no Wine prefix";
  testing::FakeScreen screen;
  platform::PortableRegistry registry;
  platform::SetUpPortableRegistry(registry, {prefix, "Wine prefix"});
  PlainProgress progress;
  PlainTree tree;
  PlainList list;
  PlainImages small(17), large(17);
  TCOLESettings catalogue({&registry, &progress, &tree, &list, &small, &large, nullptr, nullptr});
  catalogue.LoadCatalogue();
  EXPECT_GT(catalogue.EntryCount(), 300);
  EXPECT_EQ(catalogue.NotReadCount, 0);
  EXPECT_TRUE(catalogue.ReadErrors.empty());
  EXPECT_EQ(catalogue.ReadStatus, ReadComplete);

  int withServerIcon = 0;
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    COLEObject& entry = *catalogue.EntryAt(i);
    if (entry.GetValue(13).find("shell32.dll") == std::string::npos) continue;
    entry.FillValueList();
    if (list.rows[11].image >= 17) ++withServerIcon;
    EXPECT_EQ(small.count, large.count);
  }
  EXPECT_GT(withServerIcon, 5) << "shell32.dll servers show the library's first icon";
}

}  // namespace
}  // namespace orbel
