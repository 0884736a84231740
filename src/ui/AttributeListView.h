// The attribute list `ListViewValues`: one table model of name/value rows
// shown in four view styles (large icons, small icons, list, details), and
// the list interface the object entries fill.
#pragma once

#include <QAbstractTableModel>
#include <QListView>
#include <QStackedWidget>
#include <QString>
#include <QTreeView>
#include <string>
#include <vector>

#include "model/Controls.h"

namespace orbel {

class QtImageList;

// The rows of the attribute list: "Name" and "Value" columns, the row's
// image from the small or large image list. Nothing is editable.
class TAttributeModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  TAttributeModel(const QtImageList* smallImages, const QtImageList* largeImages,
                  QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  void Clear();
  void Append(const QString& caption, int image, const QString& value);
  // The row's texts and image position; empty and -1 outside the rows.
  QString Caption(int row) const;
  QString Value(int row) const;
  int Image(int row) const;

 private:
  struct Row {
    QString caption;
    int image;
    QString value;
  };
  const QtImageList* smallImages_;
  const QtImageList* largeImages_;
  std::vector<Row> rows_;
};

enum class ViewStyle { LargeIcons = 1, SmallIcons = 2, List = 3, Details = 4 };

class TAttributeListView : public QStackedWidget, public AttributeList {
  Q_OBJECT

 public:
  TAttributeListView(const QtImageList* smallImages, const QtImageList* largeImages,
                     QWidget* parent = nullptr);

  // AttributeList.
  void BeginUpdate() override;
  void EndUpdate() override;
  void DeleteAllRows() override;
  void AppendRow(const std::string& caption, int image, const std::string& value) override;
  void SetFocus() override;
  bool SelectRow(int position) override;

  void SetViewStyle(ViewStyle style);
  ViewStyle Style() const { return style_; }
  // The hint: the value of the row last described; shown as the list's
  // tooltip and copied by the popup menu.
  void SetHint(const QString& hint) { hint_ = hint; }
  const QString& Hint() const { return hint_; }
  void DeselectAll();
  // The selected row, -1 when none.
  int SelectedRow() const;
  // Widths of the "Name" (0) and "Value" (1) columns of the details style.
  int ColumnWidth(int column) const;
  void SetColumnWidth(int column, int width);
  // Lays the icons out again from the top left.
  void ArrangeIcons();

  TAttributeModel* Model() const { return model_; }
  QListView* IconView() const { return iconView_; }
  QTreeView* DetailsView() const { return detailsView_; }
  QAbstractItemView* CurrentView() const;

 signals:
  // The selection state of a row changed (for the row that lost it as well
  // as for the row that gained it, in that order).
  void itemStateChanged(int row);
  // The list lost the keyboard focus to another control.
  void exited();
  // The pointer moved over the rows.
  void pointerMoved();
  // The popup menu is asked for at a screen position.
  void popupRequested(const QPoint& globalPosition);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Watch(QAbstractItemView* view);
  void SelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);

  TAttributeModel* model_;
  QListView* iconView_;
  QTreeView* detailsView_;
  QItemSelectionModel* selection_;
  ViewStyle style_ = ViewStyle::Details;
  QString hint_;
  int updateDepth_ = 0;
  bool switching_ = false;
};

}  // namespace orbel
