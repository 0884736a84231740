// What the catalogue needs of the windows: its progress dialog and the main
// window's object tree. The Qt layer implements these; tests and the
// command-line companion use plain ones.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orbel {

class COLEObject;

// The modal progress dialog of a reading.
class ProgressDialog {
 public:
  virtual ~ProgressDialog() = default;
  // Shows the dialog modally, runs `work` once the dialog is on screen, and
  // returns after `work` has returned; the dialog is closed then.
  virtual void RunModal(const std::function<void()>& work) = 0;
  // Hides the dialog for a question, and shows it again, without ending the
  // modal display.
  virtual void HideDialog() = 0;
  virtual void ShowDialog() = 0;
  virtual void SetMaximum(int maximum) = 0;
  virtual void SetPosition(int position) = 0;
  virtual void Step() = 0;
  // Draws frame 0 to 5 of the animation.
  virtual void DrawFrame(int frame) = 0;
};

// A node of the object tree; 0 is no node.
using TreeNode = std::uintptr_t;

// The main window's object tree: a root, six categories, an object node per
// entry.
class ObjectTree {
 public:
  virtual ~ObjectTree() = default;
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  virtual void Clear() = 0;
  // Adds a node as the last child of `parent` (0: at the top level).
  virtual TreeNode Add(TreeNode parent, const std::string& text, int image, int selectedImage,
                       COLEObject* data) = 0;
  // Expands a node by one level.
  virtual void Expand(TreeNode node) = 0;
  // Depth-first order over all nodes, open or closed: the first node, and
  // the node after `node` (0 after the last).
  virtual TreeNode First() const = 0;
  virtual TreeNode Next(TreeNode node) const = 0;
  virtual int Level(TreeNode node) const = 0;
  virtual COLEObject* Data(TreeNode node) const = 0;
  // Opens the node's parents and scrolls to it, then selects it.
  virtual void MakeVisibleAndSelect(TreeNode node) = 0;
  // Runs the main window's handler for a changed tree selection with `node`.
  virtual void RunSelectionHandler(TreeNode node) = 0;
  // Lays small pictures (EntryBadge bits) over a node's image; a tree that
  // shows none ignores them.
  virtual void SetBadges(TreeNode /*node*/, unsigned /*badges*/) {}
};

}  // namespace orbel
