// The window placement component against an in-memory user registry: what it
// restores, what it saves, and the switches that turn either off.
#include <QMargins>
#include <QWidget>
#include <QtTest>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/store/RegistryTypes.h"
#include "support/FakeScreen.h"
#include "support/MemoryRegistry.h"
#include "ui/Vell_PersWindow.h"

using orbel::TPersWindow;
using orbel::testing::MemoryRegistry;

namespace {

constexpr char kWindowKey[] = "Software\\Vell Inc.\\Orbel\\1.0\\Window";
// The main window's design bounds.
const QRect kDesign(15, 15, 753, 447);

// A top-level owner at the design bounds, never shown: no frame around it.
struct Owner {
  QWidget window;
  TPersWindow* placement;
  Owner(MemoryRegistry& registry, const std::string& regPath = kWindowKey) {
    window.setGeometry(kDesign);
    placement = new TPersWindow(&window, registry.api);
    placement->RegPath = regPath;
  }
};

void PutNumber(MemoryRegistry& registry, const std::string& path, const std::string& name,
               std::int32_t number) {
  registry.user->PutDword(registry.user->EnsurePath(path), name,
                          static_cast<std::uint32_t>(number));
}

// A value as a signed 32-bit number when it is a REG_DWORD of four bytes.
std::optional<std::int32_t> StoredNumber(MemoryRegistry& registry, const std::string& path,
                                         const std::string& name) {
  const auto node = registry.user->Find(path);
  if (!node) return std::nullopt;
  orbel::platform::Value value;
  if (registry.user->GetValue(*node, name, value) != orbel::platform::kSuccess) return std::nullopt;
  if (value.type != orbel::platform::REG_DWORD || value.data.size() != 4) return std::nullopt;
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < 4; ++i)
    bits |= std::to_integer<std::uint32_t>(value.data[i]) << (8 * i);
  return static_cast<std::int32_t>(bits);
}

QStringList ValueNames(MemoryRegistry& registry, const std::string& path) {
  QStringList names;
  const auto node = registry.user->Find(path);
  if (!node) return names;
  for (const auto& value : registry.user->ValuesOf(*node))
    names << QString::fromStdString(value.name);
  return names;
}

}  // namespace

class PersWindowTest : public QObject {
  Q_OBJECT
  // The component shows nothing; a message would be recorded here, not shown.
  orbel::testing::FakeScreen screen_;

 private slots:
  void firstRunCreatesTheKeyAndKeepsTheDesign() {
    MemoryRegistry registry;
    Owner owner(registry);
    owner.placement->RestorePlacement();
    QCOMPARE(owner.window.geometry(), kDesign);
    QVERIFY(registry.user->Find(kWindowKey).has_value());
    QVERIFY(ValueNames(registry, kWindowKey).isEmpty());

    owner.window.move(-200, 0);
    owner.placement->SavePlacement();
    QCOMPARE(ValueNames(registry, kWindowKey), (QStringList{"Height", "Left", "Top", "Width"}));
    QCOMPARE(StoredNumber(registry, kWindowKey, "Height"), std::optional<std::int32_t>(447));
    QCOMPARE(StoredNumber(registry, kWindowKey, "Left"), std::optional<std::int32_t>(-200));
    QCOMPARE(StoredNumber(registry, kWindowKey, "Top"), std::optional<std::int32_t>(0));
    QCOMPARE(StoredNumber(registry, kWindowKey, "Width"), std::optional<std::int32_t>(753));
    QCOMPARE(registry.api.OpenHandleCount(), std::size_t{0});

    // The next run: -200 comes back, the top edge saved as 0 keeps the design's 15.
    Owner next(registry);
    next.placement->RestorePlacement();
    QCOMPARE(next.window.geometry(), QRect(-200, 15, 753, 447));
  }

  void restoresStoredValues_data() {
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("width");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("all four") << 500 << 40 << 30 << 900 << QRect(40, 30, 900, 500);
    QTest::newRow("zero keeps the design") << 0 << 0 << 0 << 640 << QRect(15, 15, 640, 447);
    QTest::newRow("off the screen") << 300 << -200 << -50 << 200 << QRect(-200, -50, 200, 300);
  }

  void restoresStoredValues() {
    QFETCH(int, height);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, width);
    QFETCH(QRect, expected);
    MemoryRegistry registry;
    PutNumber(registry, kWindowKey, "Height", height);
    PutNumber(registry, kWindowKey, "Left", left);
    PutNumber(registry, kWindowKey, "Top", top);
    PutNumber(registry, kWindowKey, "Width", width);
    Owner owner(registry);
    owner.placement->RestorePlacement();
    QCOMPARE(owner.window.geometry(), expected);
  }

  // The design's size and a stored one are outer sizes: a window not shown
  // yet gets, before it first appears, the client that fits its coming frame.
  void outerSizeBeforeTheFirstShowing_data() {
    QTest::addColumn<int>("storedWidth");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("first run") << 0 << QRect(15, 15, 753 - 8, 447 - 28);
    QTest::newRow("stored width") << 900 << QRect(15, 15, 900 - 8, 447 - 28);
  }

  void outerSizeBeforeTheFirstShowing() {
    QFETCH(int, storedWidth);
    QFETCH(QRect, expected);
    MemoryRegistry registry;
    if (storedWidth != 0) PutNumber(registry, kWindowKey, "Width", storedWidth);
    Owner owner(registry);
    owner.placement->ExpectedFrame = [](QWidget&) { return QMargins(4, 24, 4, 4); };
    owner.placement->RestorePlacement();
    QCOMPARE(owner.window.geometry(), expected);
  }

  void disabledTouchesNothing() {
    MemoryRegistry registry;
    Owner fresh(registry);
    fresh.placement->Enabled = false;
    fresh.placement->RestorePlacement();
    fresh.placement->SavePlacement();
    QVERIFY(!registry.user->Find("Software").has_value());

    PutNumber(registry, kWindowKey, "Left", 300);
    Owner stored(registry);
    stored.placement->Enabled = false;
    stored.placement->RestorePlacement();
    QCOMPARE(stored.window.geometry(), kDesign);
    stored.placement->SavePlacement();
    QCOMPARE(ValueNames(registry, kWindowKey), QStringList{"Left"});
    QCOMPARE(StoredNumber(registry, kWindowKey, "Left"), std::optional<std::int32_t>(300));
  }

  void emptyPathReadsTheRootAndSavesNothing() {
    MemoryRegistry registry;
    PutNumber(registry, "", "Left", 111);
    PutNumber(registry, "", "Width", 222);
    Owner owner(registry, "");
    owner.placement->RestorePlacement();
    QCOMPARE(owner.window.geometry(), QRect(111, 15, 222, 447));
    owner.window.setGeometry(1, 2, 333, 444);
    owner.placement->SavePlacement();
    QCOMPARE(ValueNames(registry, ""), (QStringList{"Left", "Width"}));
    QCOMPARE(StoredNumber(registry, "", "Left"), std::optional<std::int32_t>(111));
  }

  void customNameForTheLeftEdge() {
    MemoryRegistry registry;
    PutNumber(registry, kWindowKey, "Left", 99);
    PutNumber(registry, kWindowKey, "PosX", 250);
    Owner owner(registry);
    owner.placement->RgNameLeft = "PosX";
    owner.placement->RestorePlacement();
    QCOMPARE(owner.window.x(), 250);
    owner.window.move(70, 80);
    owner.placement->SavePlacement();
    QCOMPARE(ValueNames(registry, kWindowKey),
             (QStringList{"Left", "PosX", "Height", "Top", "Width"}));
    QCOMPARE(StoredNumber(registry, kWindowKey, "PosX"), std::optional<std::int32_t>(70));
    QCOMPARE(StoredNumber(registry, kWindowKey, "Left"), std::optional<std::int32_t>(99));
  }

  void widthNotSavedComesBackFromAnEarlierRun() {
    MemoryRegistry registry;
    PutNumber(registry, kWindowKey, "Width", 600);
    for (int run = 0; run < 2; ++run) {
      Owner owner(registry);
      owner.placement->SaveWidth = false;
      owner.placement->RestorePlacement();
      QCOMPARE(owner.window.width(), 600);
      owner.window.resize(700, 500);
      owner.placement->SavePlacement();
      QCOMPARE(StoredNumber(registry, kWindowKey, "Width"), std::optional<std::int32_t>(600));
      QCOMPARE(StoredNumber(registry, kWindowKey, "Height"), std::optional<std::int32_t>(500));
    }
  }
};

QTEST_MAIN(PersWindowTest)
#include "PersWindowTest.moc"
