#include "ui/ObjectTreeView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "catalogue/ClassExtras.h"

#include "ui/QtImageList.h"

namespace orbel {
namespace {

// The item data role that holds a node's badges.
constexpr int kBadgesRole = Qt::UserRole + 1;

// `image` with the badges drawn over it.
QPixmap WithBadges(const QPixmap& image, unsigned badges) {
  if (image.isNull() || badges == BadgeNone) return image;
  QPixmap badged = image.copy();
  QPainter painter(&badged);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal w = badged.width() / badged.devicePixelRatio();
  const qreal h = badged.height() / badged.devicePixelRatio();
  if (badges & BadgeUser) {
    // A head and shoulders on a white disc.
    const QRectF disc(w - 9, h - 9, 9, 9);
    painter.setPen(QPen(QColor(0x20, 0x40, 0x90), 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0x40, 0x90));
    painter.drawEllipse(QRectF(disc.left() + 3, disc.top() + 1.5, 3, 3));
    QPainterPath shoulders;
    shoulders.moveTo(disc.left() + 1.5, disc.bottom() - 1);
    shoulders.cubicTo(disc.left() + 2, disc.top() + 4.5, disc.right() - 2, disc.top() + 4.5,
                      disc.right() - 1.5, disc.bottom() - 1);
    shoulders.closeSubpath();
    painter.drawPath(shoulders);
  }
  if (badges & BadgeFinding) {
    // A warning triangle with an exclamation mark.
    QPainterPath triangle;
    triangle.moveTo(4.5, h - 8.5);
    triangle.lineTo(8.5, h - 0.5);
    triangle.lineTo(0.5, h - 0.5);
    triangle.closeSubpath();
    painter.setPen(QPen(QColor(0x8a, 0x52, 0x00), 1));
    painter.setBrush(QColor(0xff, 0xc8, 0x2a));
    painter.drawPath(triangle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x3a, 0x24, 0x00));
    painter.drawRect(QRectF(4, h - 6, 1, 3));
    painter.drawRect(QRectF(4, h - 2, 1, 1));
  }
  if (badges & BadgeView32) {
    QFont font = painter.font();
    font.setPixelSize(7);
    font.setBold(true);
    painter.setFont(font);
    const QRectF plate(0, 0, 10, 7);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x70, 0x30, 0x00));
    painter.drawRect(plate);
    painter.setPen(Qt::white);
    painter.drawText(plate, Qt::AlignCenter, QStringLiteral("32"));
  }
  return badged;
}

// Tree items that carry their entry.
class ObjectItem : public QTreeWidgetItem {
 public:
  ObjectItem(const QString& text, COLEObject* entry)
      : QTreeWidgetItem(QStringList{text}, QTreeWidgetItem::UserType), entry_(entry) {}
  COLEObject* Entry() const { return entry_; }
  // The images the node was added with.
  int image = 0;
  int selectedImage = 0;

 private:
  COLEObject* entry_;
};

}  // namespace

TObjectTreeView::TObjectTreeView(const QtImageList* images, QWidget* parent)
    : QTreeWidget(parent), images_(images) {
  setObjectName(QStringLiteral("TreeViewObjects"));
  setColumnCount(1);
  setHeaderHidden(true);
  setIndentation(19);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setIconSize(QSize(16, 16));
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (selectionHandler) selectionHandler(Selected());
  });
}

TObjectTreeView::~TObjectTreeView() {
  for (auto& group : pending_) qDeleteAll(group.second);
}

QIcon TObjectTreeView::IconFor(int image, int selectedImage, unsigned badges) {
  const std::tuple<int, int, unsigned> key{image, selectedImage, badges};
  for (const auto& [cached, icon] : icons_) {
    if (cached == key) return icon;
  }
  QIcon icon;
  if (images_) {
    const QPixmap normal = WithBadges(images_->Pixmap(image), badges);
    const QPixmap selected = WithBadges(images_->Pixmap(selectedImage), badges);
    if (!normal.isNull()) icon.addPixmap(normal, QIcon::Normal);
    if (!selected.isNull()) icon.addPixmap(selected, QIcon::Selected);
  }
  icons_.emplace_back(key, icon);
  return icon;
}

void TObjectTreeView::SetBadges(TreeNode node, unsigned badges) {
  QTreeWidgetItem* item = ItemOf(node);
  if (!item || item->type() != QTreeWidgetItem::UserType) return;
  const auto* object = static_cast<ObjectItem*>(item);
  item->setIcon(0, IconFor(object->image, object->selectedImage, badges));
  item->setData(0, kBadgesRole, badges);
}

unsigned TObjectTreeView::BadgesOf(const QTreeWidgetItem* item) {
  return item ? item->data(0, kBadgesRole).toUInt() : 0;
}

void TObjectTreeView::BeginUpdate() {
  if (updateDepth_++ == 0) setUpdatesEnabled(false);
}

void TObjectTreeView::EndUpdate() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ == 0) {
    InsertPending();
    setUpdatesEnabled(true);
  }
}

void TObjectTreeView::InsertPending() const {
  if (pending_.empty()) return;
  auto groups = std::move(pending_);
  pending_.clear();
  pendingGroup_.clear();
  for (auto& [parent, children] : groups) parent->addChildren(children);
}

void TObjectTreeView::Clear() {
  for (auto& group : pending_) qDeleteAll(group.second);
  pending_.clear();
  pendingGroup_.clear();
  lastSibling_ = nullptr;
  lastSiblingPosition_ = -1;
  clear();
}

TreeNode TObjectTreeView::Add(TreeNode parent, const std::string& text, int image,
                              int selectedImage, COLEObject* data) {
  auto* item = new ObjectItem(QString::fromStdString(text), data);
  item->image = image;
  item->selectedImage = selectedImage;
  item->setIcon(0, IconFor(image, selectedImage));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  QTreeWidgetItem* parentItem = ItemOf(parent);
  if (!parentItem) {
    InsertPending();
    addTopLevelItem(item);
  } else if (updateDepth_ > 0 && parentItem->treeWidget() == this) {
    const auto [group, added] = pendingGroup_.try_emplace(parentItem, pending_.size());
    if (added) pending_.emplace_back(parentItem, QList<QTreeWidgetItem*>{});
    pending_[group->second].second.append(item);
  } else {
    InsertPending();
    parentItem->addChild(item);
  }
  return NodeOf(item);
}

void TObjectTreeView::Expand(TreeNode node) {
  InsertPending();
  if (QTreeWidgetItem* item = ItemOf(node)) item->setExpanded(true);
}

TreeNode TObjectTreeView::First() const {
  InsertPending();
  return NodeOf(topLevelItem(0));
}

TreeNode TObjectTreeView::Next(TreeNode node) const {
  InsertPending();
  QTreeWidgetItem* item = ItemOf(node);
  if (!item) return 0;
  if (item->childCount() > 0) {
    lastSibling_ = item->child(0);
    lastSiblingPosition_ = 0;
    return NodeOf(lastSibling_);
  }
  // The next sibling of the node or of its nearest ancestor that has one.
  while (item) {
    QTreeWidgetItem* parent = item->parent();
    int position = -1;
    if (item == lastSibling_) {
      position = lastSiblingPosition_;
    } else {
      position = parent ? parent->indexOfChild(item) : indexOfTopLevelItem(item);
    }
    QTreeWidgetItem* sibling = parent ? parent->child(position + 1) : topLevelItem(position + 1);
    if (sibling) {
      lastSibling_ = sibling;
      lastSiblingPosition_ = position + 1;
      return NodeOf(sibling);
    }
    item = parent;
  }
  return 0;
}

int TObjectTreeView::Level(TreeNode node) const {
  InsertPending();
  int level = 0;
  for (QTreeWidgetItem* item = ItemOf(node); item && item->parent(); item = item->parent()) ++level;
  return level;
}

COLEObject* TObjectTreeView::Data(TreeNode node) const {
  QTreeWidgetItem* item = ItemOf(node);
  if (!item || item->type() != QTreeWidgetItem::UserType) return nullptr;
  return static_cast<ObjectItem*>(item)->Entry();
}

void TObjectTreeView::MakeVisibleAndSelect(TreeNode node) {
  InsertPending();
  QTreeWidgetItem* item = ItemOf(node);
  if (!item) return;
  for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent()) {
    parent->setExpanded(true);
  }
  scrollToItem(item);
  setCurrentItem(item);
}

void TObjectTreeView::RunSelectionHandler(TreeNode node) {
  if (selectionHandler) selectionHandler(node);
}

TreeNode TObjectTreeView::Selected() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  return items.isEmpty() ? 0 : NodeOf(items.first());
}

void TObjectTreeView::mousePressEvent(QMouseEvent* event) {
  // A right click selects the node under the pointer, as a left click does.
  if (event->button() == Qt::RightButton) {
    if (QTreeWidgetItem* item = itemAt(event->position().toPoint())) setCurrentItem(item);
    event->accept();
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

}  // namespace orbel
