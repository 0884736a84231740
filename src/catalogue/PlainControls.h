// Controls without a screen: an object tree in memory, a progress dialog that
// only counts, an attribute list that keeps its rows, and image lists that
// only count. The command-line companion reads through them; tests watch
// them.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/CatalogueControls.h"
#include "model/Controls.h"

namespace orbel {

class PlainTree : public ObjectTree {
 public:
  struct Node {
    TreeNode parent = 0;
    std::vector<TreeNode> children;
    std::string text;
    int image = 0;
    int selectedImage = 0;
    COLEObject* data = nullptr;
    bool expanded = false;
    std::size_t position = 0;  // among its parent's children
  };

  void BeginUpdate() override { ++updates; }
  void EndUpdate() override {}
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

  const Node& At(TreeNode node) const { return nodes_[node - 1]; }
  std::vector<TreeNode> Roots() const { return roots_; }

  TreeNode selected = 0;
  std::function<void(TreeNode)> selectionHandler;
  int updates = 0;

 private:
  // Node n is nodes_[n - 1]; a deque, so that adding a node moves none.
  std::deque<Node> nodes_;
  std::vector<TreeNode> roots_;
};

class PlainProgress : public ProgressDialog {
 public:
  void RunModal(const std::function<void()>& work) override;
  void HideDialog() override { visible = false; }
  void ShowDialog() override { visible = true; }
  void SetMaximum(int value) override { maximum = value; }
  void SetPosition(int value) override { position = value; }
  void Step() override;
  void DrawFrame(int frame) override { frames.push_back(frame); }

  bool visible = false;
  int maximum = 100;
  int position = 0;
  std::vector<int> frames;
  // Called after every step with the position and the maximum.
  std::function<void(int, int)> onStep;
};

class PlainList : public AttributeList {
 public:
  struct Row {
    std::string caption;
    int image = 0;
    std::string value;
  };
  void BeginUpdate() override {}
  void EndUpdate() override {}
  void DeleteAllRows() override { rows.clear(); }
  void AppendRow(const std::string& caption, int image, const std::string& value) override {
    rows.push_back({caption, image, value});
  }
  void SetFocus() override {}
  bool SelectRow(int position) override {
    if (position < 0 || position >= static_cast<int>(rows.size())) return false;
    selected = position;
    return true;
  }

  std::vector<Row> rows;
  int selected = -1;
};

class PlainImages : public ImageList {
 public:
  explicit PlainImages(int fixedImages) : count(fixedImages) {}
  int Count() const override { return count; }
  int AppendIcon(std::span<const std::byte> ico) override { return ico.empty() ? -1 : count++; }
  void Delete(int) override { --count; }
  int count;
};

}  // namespace orbel
