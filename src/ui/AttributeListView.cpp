#include "ui/AttributeListView.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QToolTip>
#include <algorithm>
#include <set>

#include "ui/QtImageList.h"

namespace orbel {

TAttributeModel::TAttributeModel(const QtImageList* smallImages, const QtImageList* largeImages,
                                 QObject* parent)
    : QAbstractTableModel(parent), smallImages_(smallImages), largeImages_(largeImages) {}

int TAttributeModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TAttributeModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant TAttributeModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const Row& row = rows_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return index.column() == 0 ? row.caption : row.value;
    case Qt::DecorationRole:
      if (index.column() == 0 && row.image >= 0) {
        const QIcon icon = PairedIcon(smallImages_, largeImages_, row.image);
        if (!icon.isNull()) return icon;
      }
      return {};
    default:
      return {};
  }
}

QVariant TAttributeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == 0) return QStringLiteral("Name");
  if (section == 1) return QStringLiteral("Value");
  return {};
}

Qt::ItemFlags TAttributeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TAttributeModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void TAttributeModel::Append(const QString& caption, int image, const QString& value) {
  const int row = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), row, row);
  rows_.push_back({caption, image, value});
  endInsertRows();
}

QString TAttributeModel::Caption(int row) const {
  return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].caption : QString();
}

QString TAttributeModel::Value(int row) const {
  return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].value : QString();
}

int TAttributeModel::Image(int row) const {
  return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].image : -1;
}

TAttributeListView::TAttributeListView(const QtImageList* smallImages,
                                       const QtImageList* largeImages, QWidget* parent)
    : QStackedWidget(parent),
      model_(new TAttributeModel(smallImages, largeImages, this)),
      iconView_(new QListView(this)),
      detailsView_(new QTreeView(this)),
      selection_(new QItemSelectionModel(model_, this)) {
  setObjectName(QStringLiteral("ListViewValues"));
  iconView_->setObjectName(QStringLiteral("ListViewValuesIcons"));
  detailsView_->setObjectName(QStringLiteral("ListViewValuesDetails"));

  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(iconView_),
                                  static_cast<QAbstractItemView*>(detailsView_)}) {
    QItemSelectionModel* own = nullptr;
    view->setModel(model_);
    own = view->selectionModel();
    view->setSelectionModel(selection_);
    if (own && own != selection_) own->deleteLater();
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    Watch(view);
  }
  iconView_->setUniformItemSizes(true);
  iconView_->setMovement(QListView::Static);
  iconView_->setResizeMode(QListView::Adjust);

  detailsView_->setRootIsDecorated(false);
  detailsView_->setItemsExpandable(false);
  detailsView_->setUniformRowHeights(true);
  detailsView_->setAllColumnsShowFocus(true);
  detailsView_->setIconSize(QSize(16, 16));
  QHeaderView* header = detailsView_->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->resizeSection(0, 150);
  header->resizeSection(1, 190);

  addWidget(iconView_);
  addWidget(detailsView_);
  SetViewStyle(ViewStyle::Details);

  connect(selection_, &QItemSelectionModel::selectionChanged, this,
          &TAttributeListView::SelectionChanged);
}

void TAttributeListView::Watch(QAbstractItemView* view) {
  view->installEventFilter(this);
  view->viewport()->installEventFilter(this);
  view->setMouseTracking(true);
  view->viewport()->setMouseTracking(true);
  connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& position) {
    emit popupRequested(view->viewport()->mapToGlobal(position));
  });
}

bool TAttributeListView::eventFilter(QObject* watched, QEvent* event) {
  const bool isView = watched == iconView_ || watched == detailsView_;
  const bool isViewport = watched == iconView_->viewport() || watched == detailsView_->viewport();
  if (isView && event->type() == QEvent::FocusOut) {
    // A popup menu, the menu bar (Alt, Alt+letter) or another window taking
    // over is no leaving of the list; neither is the switch between the
    // views of two styles.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (!switching_ && reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason &&
        reason != Qt::ActiveWindowFocusReason) {
      emit exited();
    }
  } else if (isViewport && event->type() == QEvent::MouseMove) {
    emit pointerMoved();
  } else if (isViewport && event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    if (hint_.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(help->globalPos(), hint_, static_cast<QWidget*>(watched));
    }
    return true;
  }
  return QStackedWidget::eventFilter(watched, event);
}

void TAttributeListView::SelectionChanged(const QItemSelection& selected,
                                          const QItemSelection& deselected) {
  std::set<int> lost;
  for (const QModelIndex& index : deselected.indexes()) lost.insert(index.row());
  std::set<int> gained;
  for (const QModelIndex& index : selected.indexes()) gained.insert(index.row());
  for (int row : lost) emit itemStateChanged(row);
  for (int row : gained) emit itemStateChanged(row);
}

void TAttributeListView::BeginUpdate() {
  if (updateDepth_++ == 0) setUpdatesEnabled(false);
}

void TAttributeListView::EndUpdate() {
  if (updateDepth_ > 0 && --updateDepth_ == 0) setUpdatesEnabled(true);
}

void TAttributeListView::DeleteAllRows() { model_->Clear(); }

void TAttributeListView::AppendRow(const std::string& caption, int image,
                                   const std::string& value) {
  model_->Append(QString::fromStdString(caption), image, QString::fromStdString(value));
}

void TAttributeListView::SetFocus() { CurrentView()->setFocus(Qt::OtherFocusReason); }

bool TAttributeListView::SelectRow(int position) {
  if (position < 0 || position >= model_->rowCount()) return false;
  const QModelIndex index = model_->index(position, 0);
  selection_->setCurrentIndex(index,
                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  CurrentView()->scrollTo(index);
  return true;
}

void TAttributeListView::DeselectAll() { selection_->clearSelection(); }

int TAttributeListView::SelectedRow() const {
  const QModelIndexList rows = selection_->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

QAbstractItemView* TAttributeListView::CurrentView() const {
  if (style_ == ViewStyle::Details) return detailsView_;
  return iconView_;
}

int TAttributeListView::ColumnWidth(int column) const {
  return detailsView_->header()->sectionSize(column);
}

void TAttributeListView::SetColumnWidth(int column, int width) {
  detailsView_->header()->resizeSection(column, std::max(0, width));
}

void TAttributeListView::ArrangeIcons() {
  if (style_ != ViewStyle::Details) iconView_->doItemsLayout();
}

void TAttributeListView::SetViewStyle(ViewStyle style) {
  const bool hadFocus = CurrentView()->hasFocus();
  style_ = style;
  switch (style) {
    case ViewStyle::LargeIcons:
      iconView_->setViewMode(QListView::IconMode);
      iconView_->setIconSize(QSize(32, 32));
      iconView_->setFlow(QListView::LeftToRight);
      iconView_->setWrapping(true);
      iconView_->setWordWrap(true);
      iconView_->setGridSize(QSize(96, 64));
      iconView_->setSpacing(0);
      iconView_->setUniformItemSizes(true);
      break;
    case ViewStyle::SmallIcons:
    case ViewStyle::List:
      iconView_->setViewMode(QListView::ListMode);
      iconView_->setIconSize(QSize(16, 16));
      iconView_->setGridSize(QSize());
      iconView_->setWordWrap(false);
      // As a Windows list control: small icons in rows that wrap at the
      // list's width, the list top to bottom in columns.
      iconView_->setFlow(style == ViewStyle::SmallIcons ? QListView::LeftToRight
                                                        : QListView::TopToBottom);
      iconView_->setWrapping(true);
      iconView_->setSpacing(style == ViewStyle::SmallIcons ? 2 : 0);
      // Each caption is shown whole, not cut to the first one's width.
      iconView_->setUniformItemSizes(false);
      break;
    case ViewStyle::Details:
      break;
  }
  iconView_->setMovement(QListView::Static);
  iconView_->setResizeMode(QListView::Adjust);
  QAbstractItemView* view = CurrentView();
  switching_ = true;
  setCurrentWidget(view);
  if (hadFocus) view->setFocus(Qt::OtherFocusReason);
  switching_ = false;
  const QModelIndex current = selection_->currentIndex();
  if (current.isValid()) view->scrollTo(current);
}

}  // namespace orbel
