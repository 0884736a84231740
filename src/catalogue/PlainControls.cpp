#include "catalogue/PlainControls.h"

namespace orbel {

void PlainTree::Clear() {
  nodes_.clear();
  roots_.clear();
  selected = 0;
}

TreeNode PlainTree::Add(TreeNode parent, const std::string& text, int image, int selectedImage,
                        COLEObject* data) {
  auto& siblings = parent ? nodes_[parent - 1].children : roots_;
  nodes_.push_back(Node{parent, {}, text, image, selectedImage, data, false, siblings.size()});
  const TreeNode node = nodes_.size();
  siblings.push_back(node);
  return node;
}

void PlainTree::Expand(TreeNode node) {
  if (node) nodes_[node - 1].expanded = true;
}

TreeNode PlainTree::First() const { return roots_.empty() ? 0 : roots_.front(); }

TreeNode PlainTree::Next(TreeNode node) const {
  if (!node) return 0;
  if (!At(node).children.empty()) return At(node).children.front();
  // The next sibling of the node or of its nearest ancestor that has one.
  while (node) {
    const TreeNode parent = At(node).parent;
    const auto& siblings = parent ? At(parent).children : roots_;
    const std::size_t next = At(node).position + 1;
    if (next < siblings.size()) return siblings[next];
    node = parent;
  }
  return 0;
}

int PlainTree::Level(TreeNode node) const {
  int level = 0;
  while (node && At(node).parent) {
    node = At(node).parent;
    ++level;
  }
  return level;
}

COLEObject* PlainTree::Data(TreeNode node) const { return node ? At(node).data : nullptr; }

void PlainTree::MakeVisibleAndSelect(TreeNode node) {
  for (TreeNode parent = At(node).parent; parent; parent = At(parent).parent) {
    nodes_[parent - 1].expanded = true;
  }
  selected = node;
}

void PlainTree::RunSelectionHandler(TreeNode node) {
  if (selectionHandler) selectionHandler(node);
}

void PlainProgress::RunModal(const std::function<void()>& work) {
  visible = true;
  work();
  visible = false;
}

void PlainProgress::Step() {
  ++position;
  if (onStep) onStep(position, maximum);
}

}  // namespace orbel
