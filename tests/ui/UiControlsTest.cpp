// The Qt controls behind the core's interfaces: image lists and icon
// decoding, the attribute list and its model, the object tree, the progress
// dialog and the Qt screen.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QBuffer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "tools/Vell_Tools.h"
#include "ui/AttributeListView.h"
#include "ui/ObjectTreeView.h"
#include "ui/ProgressWindow.h"
#include "ui/QtImageList.h"
#include "ui/QtScreen.h"

using orbel::QtImageList;
using orbel::TAttributeListView;
using orbel::TObjectTreeView;
using orbel::TreeNode;
using orbel::ViewStyle;

namespace {

using Bytes = std::vector<std::byte>;

void PutLittle(Bytes& bytes, std::size_t at, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes[at + static_cast<std::size_t>(i)] = std::byte((value >> (8 * i)) & 0xFF);
}

Bytes FromArray(const QByteArray& array) {
  Bytes bytes(static_cast<std::size_t>(array.size()));
  if (!bytes.empty()) std::memcpy(bytes.data(), array.constData(), bytes.size());
  return bytes;
}

QByteArray Png(int size, QColor colour) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(colour);
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return data;
}

// A 32-bit bitmap icon image: header, bottom-up BGRA rows, an empty AND mask.
QByteArray Bitmap(int size, QColor colour) {
  QByteArray data(40, '\0');
  auto put = [&data](int at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) data[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put(0, 40, 4);
  put(4, static_cast<std::uint32_t>(size), 4);
  put(8, static_cast<std::uint32_t>(size * 2), 4);
  put(12, 1, 2);
  put(14, 32, 2);
  put(20, static_cast<std::uint32_t>(size * size * 4), 4);
  for (int i = 0; i < size * size; ++i) {
    data.append(static_cast<char>(colour.blue()));
    data.append(static_cast<char>(colour.green()));
    data.append(static_cast<char>(colour.red()));
    data.append(static_cast<char>(0xFF));
  }
  const int maskRow = ((size + 31) / 32) * 4;
  data.append(QByteArray(maskRow * size, '\0'));
  return data;
}

struct IconImage {
  int size;
  QByteArray data;
};

// An .ico file of the given images, directory first, data after it.
Bytes Ico(const std::vector<IconImage>& images) {
  const std::size_t directory = 6 + 16 * images.size();
  Bytes bytes(directory);
  PutLittle(bytes, 2, 1, 2);
  PutLittle(bytes, 4, static_cast<std::uint32_t>(images.size()), 2);
  std::size_t offset = directory;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const std::size_t at = 6 + 16 * i;
    PutLittle(bytes, at, static_cast<std::uint32_t>(images[i].size % 256), 1);
    PutLittle(bytes, at + 1, static_cast<std::uint32_t>(images[i].size % 256), 1);
    PutLittle(bytes, at + 4, 1, 2);
    PutLittle(bytes, at + 6, 32, 2);
    PutLittle(bytes, at + 8, static_cast<std::uint32_t>(images[i].data.size()), 4);
    PutLittle(bytes, at + 12, static_cast<std::uint32_t>(offset), 4);
    offset += static_cast<std::size_t>(images[i].data.size());
  }
  for (const auto& image : images) {
    const Bytes data = FromArray(image.data);
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  return bytes;
}

QColor CentreColour(const QPixmap& pixmap) {
  return pixmap.toImage().pixelColor(pixmap.width() / 2, pixmap.height() / 2);
}

}  // namespace

class UiControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void fixedImagesAreDrawnAtTheListSize();
  void appendIconTakesTheNearestImage_data();
  void appendIconTakesTheNearestImage();
  void appendIconRefusesWhatItCannotDecode_data();
  void appendIconRefusesWhatItCannotDecode();
  void deleteKeepsTheOthersInOrder();

  void attributeModelRowsAndRoles();
  void attributeListUpdatesAndSelection();
  void attributeListStyles();
  void attributeListReportsLeaving();

  void treeWalksDepthFirst();
  void treeFillsManyNodesInOneStep();
  void treeSelectionReachesTheHandler();

  void progressRunsWorkWhileShown();
  void progressSurvivesHidingAndTheCloseBox();
  void progressPassesFailuresOn();
  void progressLayout();

  void screenMessageBoxes_data();
  void screenMessageBoxes();
  void screenBusyCursorIsNotCounted();
  void screenShellTargets();
};

void UiControlsTest::fixedImagesAreDrawnAtTheListSize() {
  QtImageList small(16, orbel::AttributeImageFiles());
  QtImageList large(32, orbel::AttributeImageFiles());
  QCOMPARE(small.Count(), 17);
  QCOMPARE(large.Count(), 17);
  for (int i = 0; i < 17; ++i) {
    QCOMPARE(small.Pixmap(i).size(), QSize(16, 16));
    QCOMPARE(large.Pixmap(i).size(), QSize(32, 32));
  }
  // Every picture comes from the resources, at a list's size and larger
  // than it is drawn: none is blank.
  QStringList pictures = orbel::AttributeImageFiles() + orbel::TreeImageFiles() +
                         orbel::ToolbarImageFiles() + orbel::AnimationImageFiles();
  pictures << QString::fromLatin1(orbel::kLogoFile);
  for (const QString& picture : pictures) {
    for (int size : {16, 96}) {
      const QImage image = orbel::RenderImage(picture, size).toImage();
      QCOMPARE(image.size(), QSize(size, size));
      bool drawn = false;
      for (int y = 0; y < size && !drawn; ++y) {
        for (int x = 0; x < size && !drawn; ++x) drawn = image.pixelColor(x, y).alpha() > 0;
      }
      QVERIFY2(drawn, qPrintable(picture));
    }
  }
  QCOMPARE(QtImageList(16, orbel::TreeImageFiles()).Count(), 9);
  QCOMPARE(QtImageList(16, orbel::ToolbarImageFiles()).Count(), 10);
  QCOMPARE(QtImageList(32, orbel::AnimationImageFiles()).Count(), 6);
  QVERIFY(small.Pixmap(17).isNull());
  QVERIFY(small.Pixmap(-1).isNull());
}

void UiControlsTest::appendIconTakesTheNearestImage_data() {
  QTest::addColumn<QByteArray>("ico");
  QTest::addColumn<QColor>("smallColour");
  QTest::addColumn<QColor>("largeColour");
  const auto pack = [](const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
  };
  QTest::newRow("png 16 and 32") << pack(Ico({{32, Png(32, Qt::blue)}, {16, Png(16, Qt::red)}}))
                                 << QColor(Qt::red) << QColor(Qt::blue);
  QTest::newRow("bitmap 16 and 32")
      << pack(Ico({{16, Bitmap(16, Qt::green)}, {32, Bitmap(32, Qt::yellow)}})) << QColor(Qt::green)
      << QColor(Qt::yellow);
  QTest::newRow("only 48, scaled")
      << pack(Ico({{48, Png(48, Qt::magenta)}})) << QColor(Qt::magenta) << QColor(Qt::magenta);
  QTest::newRow("24 rather than 8 for 16")
      << pack(Ico({{8, Png(8, Qt::red)}, {24, Png(24, Qt::cyan)}})) << QColor(Qt::cyan)
      << QColor(Qt::cyan);
  QTest::newRow("a broken nearest image falls back")
      << pack(Ico({{16, QByteArray("\x89PNG\r\n\x1a\nbroken", 14)}, {32, Png(32, Qt::blue)}}))
      << QColor(Qt::blue) << QColor(Qt::blue);
}

void UiControlsTest::appendIconTakesTheNearestImage() {
  QFETCH(QByteArray, ico);
  QFETCH(QColor, smallColour);
  QFETCH(QColor, largeColour);
  QtImageList small(16, orbel::AttributeImageFiles());
  QtImageList large(32, orbel::AttributeImageFiles());
  const Bytes bytes = FromArray(ico);
  QCOMPARE(small.AppendIcon(bytes), 17);
  QCOMPARE(large.AppendIcon(bytes), 17);
  QCOMPARE(small.Count(), 18);
  QCOMPARE(large.Count(), 18);
  QCOMPARE(small.Pixmap(17).size(), QSize(16, 16));
  QCOMPARE(large.Pixmap(17).size(), QSize(32, 32));
  QCOMPARE(CentreColour(small.Pixmap(17)), smallColour);
  QCOMPARE(CentreColour(large.Pixmap(17)), largeColour);
}

void UiControlsTest::appendIconRefusesWhatItCannotDecode_data() {
  QTest::addColumn<QByteArray>("ico");
  const auto pack = [](Bytes bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
  };
  const Bytes good = Ico({{16, Png(16, Qt::red)}});
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("garbage") << QByteArray("this is no icon at all");
  QTest::newRow("directory only") << QByteArray("\0\0\1\0\1\0", 6);
  Bytes truncated = good;
  truncated.resize(6 + 8);
  QTest::newRow("entry cut short") << pack(truncated);
  Bytes past = good;
  PutLittle(past, 6 + 12, 0x7FFFFFF0, 4);
  QTest::newRow("data offset past the end") << pack(past);
  Bytes longer = good;
  PutLittle(longer, 6 + 8, 0xFFFFFFFF, 4);
  QTest::newRow("data size past the end") << pack(longer);
  Bytes cursor = good;
  PutLittle(cursor, 2, 2, 2);
  QTest::newRow("a cursor file") << pack(cursor);
  Bytes none = good;
  PutLittle(none, 4, 0, 2);
  QTest::newRow("no images") << pack(none);
  QTest::newRow("undecodable bitmap") << pack(Ico({{16, QByteArray(40, '\x7F')}}));
}

void UiControlsTest::appendIconRefusesWhatItCannotDecode() {
  QFETCH(QByteArray, ico);
  QtImageList list(16, orbel::AttributeImageFiles());
  QCOMPARE(list.AppendIcon(FromArray(ico)), -1);
  QCOMPARE(list.Count(), 17);
}

void UiControlsTest::deleteKeepsTheOthersInOrder() {
  QtImageList list(16, {});
  for (QColor colour : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)}) {
    list.AppendIcon(Ico({{16, Png(16, colour)}}));
  }
  list.Delete(1);
  list.Delete(7);
  QCOMPARE(list.Count(), 2);
  QCOMPARE(CentreColour(list.Pixmap(0)), QColor(Qt::red));
  QCOMPARE(CentreColour(list.Pixmap(1)), QColor(Qt::blue));
}

void UiControlsTest::attributeModelRowsAndRoles() {
  QtImageList small(16, orbel::AttributeImageFiles());
  QtImageList large(32, orbel::AttributeImageFiles());
  orbel::TAttributeModel model(&small, &large);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  QCOMPARE(model.columnCount(), 2);
  QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
  QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Value"));
  model.Append("GUID", 2, "{1}");
  model.Append("Extra", -1, "x");
  QCOMPARE(model.rowCount(), 2);
  QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("GUID"));
  QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("{1}"));
  const QIcon icon = model.data(model.index(0, 0), Qt::DecorationRole).value<QIcon>();
  QVERIFY(!icon.isNull());
  QCOMPARE(icon.availableSizes(), QList<QSize>({QSize(16, 16), QSize(32, 32)}));
  QVERIFY(!model.data(model.index(1, 0), Qt::DecorationRole).isValid());
  QVERIFY(!model.data(model.index(0, 1), Qt::DecorationRole).isValid());
  QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
  QVERIFY(model.flags(model.index(0, 1)) & Qt::ItemIsSelectable);
  QCOMPARE(model.Caption(5), QString());
  QCOMPARE(model.Image(-1), -1);
  model.Clear();
  QCOMPARE(model.rowCount(), 0);
}

void UiControlsTest::attributeListUpdatesAndSelection() {
  QtImageList small(16, orbel::AttributeImageFiles());
  QtImageList large(32, orbel::AttributeImageFiles());
  TAttributeListView list(&small, &large);
  list.resize(400, 300);
  list.show();
  QVERIFY(QTest::qWaitForWindowExposed(&list));
  orbel::AttributeList& rows = list;
  rows.BeginUpdate();
  rows.BeginUpdate();
  QVERIFY(!list.updatesEnabled());
  rows.AppendRow("Name", 1, "Thing");
  rows.AppendRow("GUID", 2, "{1}");
  rows.AppendRow("Type", 1, "Other");
  rows.EndUpdate();
  QVERIFY(!list.updatesEnabled());
  rows.EndUpdate();
  QVERIFY(list.updatesEnabled());
  rows.EndUpdate();
  QVERIFY(list.updatesEnabled());

  QSignalSpy changes(&list, &TAttributeListView::itemStateChanged);
  QVERIFY(rows.SelectRow(1));
  QCOMPARE(list.SelectedRow(), 1);
  QVERIFY(rows.SelectRow(2));
  // The row that loses the selection is reported before the one that gains it.
  QCOMPARE(changes.size(), 3);
  QCOMPARE(changes[0][0].toInt(), 1);
  QCOMPARE(changes[1][0].toInt(), 1);
  QCOMPARE(changes[2][0].toInt(), 2);
  QVERIFY(!rows.SelectRow(3));
  QVERIFY(!rows.SelectRow(-1));
  QCOMPARE(list.SelectedRow(), 2);
  list.DeselectAll();
  QCOMPARE(list.SelectedRow(), -1);
  rows.DeleteAllRows();
  QCOMPARE(list.Model()->rowCount(), 0);
}

void UiControlsTest::attributeListStyles() {
  QtImageList small(16, orbel::AttributeImageFiles());
  QtImageList large(32, orbel::AttributeImageFiles());
  TAttributeListView list(&small, &large);
  QCOMPARE(list.Style(), ViewStyle::Details);
  QCOMPARE(list.currentWidget(), list.DetailsView());
  QCOMPARE(list.ColumnWidth(0), 150);
  QCOMPARE(list.ColumnWidth(1), 190);
  QVERIFY(list.DetailsView()->selectionBehavior() == QAbstractItemView::SelectRows);
  list.AppendRow("Name", 1, "Thing");
  list.SelectRow(0);

  list.SetViewStyle(ViewStyle::LargeIcons);
  QCOMPARE(list.currentWidget(), list.IconView());
  QCOMPARE(list.IconView()->viewMode(), QListView::IconMode);
  QCOMPARE(list.IconView()->iconSize(), QSize(32, 32));
  list.SetViewStyle(ViewStyle::SmallIcons);
  QCOMPARE(list.IconView()->viewMode(), QListView::ListMode);
  QCOMPARE(list.IconView()->iconSize(), QSize(16, 16));
  QCOMPARE(list.IconView()->flow(), QListView::LeftToRight);
  QVERIFY(list.IconView()->isWrapping());
  list.SetViewStyle(ViewStyle::List);
  QCOMPARE(list.IconView()->flow(), QListView::TopToBottom);
  QVERIFY(list.IconView()->isWrapping());
  // One selection for every style.
  QCOMPARE(list.IconView()->selectionModel(), list.DetailsView()->selectionModel());
  QCOMPARE(list.SelectedRow(), 0);
  list.SetViewStyle(ViewStyle::Details);
  QCOMPARE(list.currentWidget(), list.DetailsView());
  QCOMPARE(list.SelectedRow(), 0);
}

void UiControlsTest::attributeListReportsLeaving() {
  QWidget window;
  QtImageList small(16, orbel::AttributeImageFiles());
  auto* list = new TAttributeListView(&small, &small, &window);
  auto* other = new QLabel(&window);
  other->setFocusPolicy(Qt::StrongFocus);
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(list);
  layout->addWidget(other);
  window.show();
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QSignalSpy exits(list, &TAttributeListView::exited);
  list->SetFocus();
  QVERIFY(list->DetailsView()->hasFocus());
  // Switching styles moves the focus between the views without leaving.
  list->SetViewStyle(ViewStyle::LargeIcons);
  QVERIFY(list->IconView()->hasFocus());
  QCOMPARE(exits.size(), 0);
  other->setFocus(Qt::MouseFocusReason);
  QCOMPARE(exits.size(), 1);

  // The hint is the tooltip of the rows.
  list->SetHint(QStringLiteral("the value"));
  QCOMPARE(list->Hint(), QStringLiteral("the value"));
  QSignalSpy moves(list, &TAttributeListView::pointerMoved);
  QTest::mouseMove(list->IconView()->viewport(), QPoint(10, 10));
  QTRY_VERIFY(moves.size() > 0);
}

void UiControlsTest::treeWalksDepthFirst() {
  QtImageList images(16, orbel::TreeImageFiles());
  TObjectTreeView tree(&images);
  QAbstractItemModelTester tester(tree.model(),
                                  QAbstractItemModelTester::FailureReportingMode::QtTest);
  orbel::ObjectTree& nodes = tree;
  nodes.BeginUpdate();
  const TreeNode root = nodes.Add(0, "root", 2, 2, nullptr);
  const TreeNode a = nodes.Add(root, "a", 3, 3, nullptr);
  const TreeNode b = nodes.Add(root, "b", 4, 4, nullptr);
  auto* entry = reinterpret_cast<orbel::COLEObject*>(&tree);
  const TreeNode a1 = nodes.Add(a, "a1", 0, 1, entry);
  const TreeNode b1 = nodes.Add(b, "b1", 0, 1, nullptr);
  const TreeNode a2 = nodes.Add(a, "a2", 0, 1, nullptr);
  nodes.EndUpdate();
  const TreeNode second = nodes.Add(0, "second root", 2, 2, nullptr);
  std::vector<TreeNode> walk;
  for (TreeNode node = nodes.First(); node; node = nodes.Next(node)) walk.push_back(node);
  QCOMPARE(walk, (std::vector<TreeNode>{root, a, a1, a2, b, b1, second}));
  QCOMPARE(nodes.Level(root), 0);
  QCOMPARE(nodes.Level(b), 1);
  QCOMPARE(nodes.Level(a2), 2);
  QCOMPARE(nodes.Data(a1), entry);
  QCOMPARE(nodes.Data(a2), nullptr);
  QCOMPARE(nodes.Data(0), nullptr);
  QCOMPARE(nodes.Next(0), TreeNode{0});
  // The object image and its selected image.
  QVERIFY(!TObjectTreeView::ItemOf(a1)->icon(0).isNull());

  nodes.Expand(root);
  QVERIFY(TObjectTreeView::ItemOf(root)->isExpanded());
  QVERIFY(!TObjectTreeView::ItemOf(a)->isExpanded());
  nodes.MakeVisibleAndSelect(b1);
  QVERIFY(TObjectTreeView::ItemOf(b)->isExpanded());
  QCOMPARE(tree.Selected(), b1);
  nodes.Clear();
  QCOMPARE(nodes.First(), TreeNode{0});
  QCOMPARE(tree.Selected(), TreeNode{0});
}

void UiControlsTest::treeFillsManyNodesInOneStep() {
  QtImageList images(16, orbel::TreeImageFiles());
  TObjectTreeView tree(&images);
  orbel::ObjectTree& nodes = tree;
  nodes.BeginUpdate();
  const TreeNode root = nodes.Add(0, "COM Objects", 2, 2, nullptr);
  std::vector<TreeNode> categories;
  for (int i = 0; i < 6; ++i)
    categories.push_back(nodes.Add(root, "category", 3 + i, 3 + i, nullptr));
  nodes.EndUpdate();
  nodes.Expand(root);
  QSignalSpy inserted(tree.model(), &QAbstractItemModel::rowsInserted);
  constexpr int kObjects = 20000;
  nodes.BeginUpdate();
  for (int i = 0; i < kObjects; ++i) {
    nodes.Add(categories[static_cast<std::size_t>(i % 6)], "object " + std::to_string(i), 0, 1,
              nullptr);
  }
  nodes.EndUpdate();
  // One insertion per category, not one per node.
  QCOMPARE(inserted.size(), 6);
  int count = 0;
  int objects = 0;
  for (TreeNode node = nodes.First(); node; node = nodes.Next(node)) {
    ++count;
    if (nodes.Level(node) == 2) ++objects;
  }
  QCOMPARE(count, 1 + 6 + kObjects);
  QCOMPARE(objects, kObjects);
  QCOMPARE(TObjectTreeView::ItemOf(categories[0])->child(1)->text(0), QStringLiteral("object 6"));
}

void UiControlsTest::treeSelectionReachesTheHandler() {
  QtImageList images(16, orbel::TreeImageFiles());
  TObjectTreeView tree(&images);
  std::vector<TreeNode> seen;
  tree.selectionHandler = [&seen](TreeNode node) { seen.push_back(node); };
  const TreeNode root = tree.Add(0, "root", 2, 2, nullptr);
  const TreeNode child = tree.Add(root, "child", 3, 3, nullptr);
  tree.Expand(root);
  tree.resize(200, 200);
  tree.show();
  QVERIFY(QTest::qWaitForWindowExposed(&tree));
  // A right click selects the node under the pointer.
  const QRect rect = tree.visualItemRect(TObjectTreeView::ItemOf(child));
  QTest::mouseClick(tree.viewport(), Qt::RightButton, {}, rect.center());
  QCOMPARE(tree.Selected(), child);
  QCOMPARE(seen, std::vector<TreeNode>{child});
  tree.RunSelectionHandler(root);
  QCOMPARE(seen.back(), root);
  QVERIFY(tree.editTriggers() == QAbstractItemView::NoEditTriggers);
  QCOMPARE(tree.indentation(), 19);
}

void UiControlsTest::progressRunsWorkWhileShown() {
  orbel::TProgressWindow dialog;
  int cancels = 0;
  dialog.cancelHandler = [&cancels] { ++cancels; };
  bool ran = false;
  dialog.RunModal([&] {
    ran = true;
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.Running());
    QCOMPARE(dialog.windowModality(), Qt::ApplicationModal);
    dialog.SetMaximum(3);
    dialog.Step();
    dialog.Step();
    dialog.Step();
    dialog.Step();
    QCOMPARE(dialog.findChild<QProgressBar*>("ProgressBar")->value(), 3);
    dialog.DrawFrame(4);
    QCOMPARE(dialog.Frame(), 4);
    dialog.DrawFrame(6);
    QCOMPARE(dialog.Frame(), 4);
    QTest::mouseClick(dialog.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
  });
  QVERIFY(ran);
  QCOMPARE(cancels, 1);
  QVERIFY(!dialog.isVisible());
  QVERIFY(!dialog.Running());
  dialog.SetPosition(0);
  QCOMPARE(dialog.findChild<QProgressBar*>("ProgressBar")->value(), 0);
}

void UiControlsTest::progressSurvivesHidingAndTheCloseBox() {
  orbel::TProgressWindow dialog;
  bool afterHide = false;
  dialog.RunModal([&] {
    dialog.HideDialog();
    QVERIFY(!dialog.isVisible());
    QCoreApplication::processEvents();
    dialog.ShowDialog();
    QVERIFY(dialog.isVisible());
    // The close box does not end the reading.
    QVERIFY(!dialog.close());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(dialog.isVisible());
    afterHide = true;
  });
  QVERIFY(afterHide);
  QVERIFY(!dialog.isVisible());
}

void UiControlsTest::progressPassesFailuresOn() {
  orbel::TProgressWindow dialog;
  bool thrown = false;
  try {
    dialog.RunModal([] { throw std::runtime_error("reading failed"); });
  } catch (const std::runtime_error& e) {
    thrown = std::string(e.what()) == "reading failed";
  }
  QVERIFY(thrown);
  QVERIFY(!dialog.isVisible());
  bool again = false;
  dialog.RunModal([&again] { again = true; });
  QVERIFY(again);
}

void UiControlsTest::progressLayout() {
  orbel::TProgressWindow dialog;
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Vell Orbel"));
  QCOMPARE(dialog.size(), QSize(236, 104));
  QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
  const struct {
    const char* name;
    QRect geometry;
  } controls[] = {
      {"PaintBox", QRect(8, 4, 32, 32)},
      {"staDesc", QRect(52, 8, 173, 33)},
      {"ProgressBar", QRect(8, 52, 221, 12)},
      {"btnCancel", QRect(76, 76, 75, 23)},
  };
  for (const auto& control : controls) {
    auto* widget = dialog.findChild<QWidget*>(control.name);
    QVERIFY2(widget, control.name);
    QCOMPARE(widget->geometry(), control.geometry);
  }
  auto* text = dialog.findChild<QLabel*>("staDesc");
  QCOMPARE(text->text(), QStringLiteral("Please wait while the COM settings are loaded..."));
  QVERIFY(text->wordWrap());
  QCOMPARE(dialog.findChild<QPushButton*>("btnCancel")->text(), QStringLiteral("&Cancel"));
}

void UiControlsTest::screenMessageBoxes_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QStringList>("buttons");
  QTest::addColumn<int>("icon");
  QTest::addColumn<bool>("pressFirst");
  QTest::addColumn<bool>("answer");
  const QStringList yesNo = {"&Yes", "&No"};
  const QStringList ok = {"OK"};
  using MK = orbel::MessageKind;
  QTest::newRow("confirm yes") << int(MK::Confirm) << "Confirm" << yesNo
                               << int(QMessageBox::Question) << true << true;
  QTest::newRow("confirm no") << int(MK::Confirm) << "Confirm" << yesNo
                              << int(QMessageBox::Question) << false << false;
  QTest::newRow("error") << int(MK::Error) << "Error" << ok << int(QMessageBox::Critical) << true
                         << false;
  QTest::newRow("information") << int(MK::Information) << "Information" << ok
                               << int(QMessageBox::Information) << true << false;
  QTest::newRow("warning") << int(MK::Warning) << "Warning" << ok << int(QMessageBox::Warning)
                           << true << false;
  QTest::newRow("plain") << int(MK::Plain) << "Vell Orbel - Viewing Computer \"X\"" << ok
                         << int(QMessageBox::NoIcon) << true << false;
}

void UiControlsTest::screenMessageBoxes() {
  QFETCH(int, kind);
  QFETCH(QString, caption);
  QFETCH(QStringList, buttons);
  QFETCH(int, icon);
  QFETCH(bool, pressFirst);
  QFETCH(bool, answer);
  orbel::SetApplicationTitle(QStringLiteral("Vell Orbel - Viewing Computer \"X\""));
  orbel::QtScreen screen;
  QString seenCaption;
  QString seenText;
  QStringList seenButtons;
  int seenIcon = -1;
  bool defaultFirst = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box);
    seenCaption = box->windowTitle();
    seenText = box->text();
    seenIcon = box->icon();
    for (QAbstractButton* button : box->buttons()) seenButtons << button->text();
    seenButtons.sort();
    defaultFirst = box->defaultButton() && box->defaultButton()->text() == buttons.first();
    // Escape answers with the last button ("&No" or "OK").
    if (pressFirst) {
      QTest::keyClick(box, Qt::Key_Return);
    } else {
      QTest::keyClick(box, Qt::Key_Escape);
    }
  });
  const bool result = screen.ShowMessage(static_cast<orbel::MessageKind>(kind),
                                         caption.toStdString(), "line 1\n\nline 2");
  QCOMPARE(result, answer);
  QCOMPARE(seenCaption, caption);
  QCOMPARE(seenText, QStringLiteral("line 1\n\nline 2"));
  QStringList sorted = buttons;
  sorted.sort();
  QCOMPARE(seenButtons, sorted);
  QCOMPARE(seenIcon, icon);
  QVERIFY(defaultFirst);
  orbel::SetApplicationTitle(QStringLiteral("Vell Orbel"));
}

void UiControlsTest::screenBusyCursorIsNotCounted() {
  {
    orbel::QtScreen screen;
    QVERIFY(!QApplication::overrideCursor());
    screen.SetCursorBusy(true);
    screen.SetCursorBusy(true);
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    screen.SetCursorBusy(false);
    QVERIFY(!QApplication::overrideCursor());
    screen.SetCursorBusy(false);
    QVERIFY(!QApplication::overrideCursor());
    screen.SetCursorBusy(true);
  }
  // A screen that goes away leaves no busy cursor behind.
  QVERIFY(!QApplication::overrideCursor());
  orbel::QtScreen screen;
  QVERIFY(!screen.FontFamilies().empty());
}

void UiControlsTest::screenShellTargets() {
  const QString file = QFINDTESTDATA("UiControlsTest.cpp");
  QVERIFY(!file.isEmpty());
  const QString path = QFileInfo(file).absoluteFilePath();
  QCOMPARE(orbel::ShellUrlFor(path.toStdString()), QUrl::fromLocalFile(path).toString());
  QCOMPARE(orbel::ShellUrlFor(path.toStdString() + "#find"),
           QUrl::fromLocalFile(path).toString() + QStringLiteral("#find"));
  QCOMPARE(orbel::ShellUrlFor(orbel::kMakerWebSite), QString::fromLatin1(orbel::kMakerWebSite));
  QCOMPARE(orbel::ShellUrlFor(""), QString());
  const QUrl mail(orbel::ShellUrlFor(std::string("mailto: ") + orbel::kMakerEMail));
  QCOMPARE(mail.scheme(), QStringLiteral("mailto"));
  QVERIFY(mail.path().contains(QLatin1String(orbel::kMakerEMail)));
}

QTEST_MAIN(UiControlsTest)
#include "UiControlsTest.moc"
