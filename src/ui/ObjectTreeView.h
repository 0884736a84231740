// The object tree `TreeViewObjects`: the root, the six categories and an
// object node per entry, as the catalogue builds them. A tree node is the
// item's address.
#pragma once

#include <QIcon>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "catalogue/CatalogueControls.h"

namespace orbel {

class QtImageList;

class TObjectTreeView : public QTreeWidget, public ObjectTree {
 public:
  // The images are the tree's nine node images (not owned).
  explicit TObjectTreeView(const QtImageList* images, QWidget* parent = nullptr);
  ~TObjectTreeView() override;

  void BeginUpdate() override;
  void EndUpdate() override;
  void Clear() override;
  TreeNode Add(TreeNode parent, const std::string& text, int image, int selectedImage,
               COLEObject* data) override;
  void Expand(TreeNode node) override;
  TreeNode First() const override;
  TreeNode Next(TreeNode node) const override;
  int Level(TreeNode node) const override;
  COLEObject* Data(TreeNode node) const override;
  void MakeVisibleAndSelect(TreeNode node) override;
  void RunSelectionHandler(TreeNode node) override;
  // Lays the badges over the node's own images: a user's figure at the
  // bottom right, "32" at the top left, a warning triangle at the bottom left.
  void SetBadges(TreeNode node, unsigned badges) override;
  // The badges laid over a node's images (EntryBadge bits).
  static unsigned BadgesOf(const QTreeWidgetItem* item);

  // The selected node, 0 when none.
  TreeNode Selected() const;
  static QTreeWidgetItem* ItemOf(TreeNode node) { return reinterpret_cast<QTreeWidgetItem*>(node); }
  static TreeNode NodeOf(QTreeWidgetItem* item) { return reinterpret_cast<TreeNode>(item); }

  // Called for a changed selection (with the newly selected node, 0 for
  // none) and by RunSelectionHandler.
  std::function<void(TreeNode)> selectionHandler;

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Nodes added inside an update bracket below a node already in the tree
  // are inserted together when the bracket ends (or before the tree is next
  // asked about its nodes), so that a large catalogue fills in one step.
  void InsertPending() const;
  QIcon IconFor(int image, int selectedImage, unsigned badges = 0);

  const QtImageList* images_;
  int updateDepth_ = 0;
  mutable std::vector<std::pair<QTreeWidgetItem*, QList<QTreeWidgetItem*>>> pending_;
  mutable std::unordered_map<QTreeWidgetItem*, std::size_t> pendingGroup_;
  // The last node Next found among its siblings, with its position there,
  // so that a walk over all nodes does not search every parent's list.
  mutable QTreeWidgetItem* lastSibling_ = nullptr;
  mutable int lastSiblingPosition_ = -1;
  std::vector<std::pair<std::tuple<int, int, unsigned>, QIcon>> icons_;
};

}  // namespace orbel
