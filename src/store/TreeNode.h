#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// One node of a view tree: a caption, an expanded flag and owned children. A plain model that the
// main window shows; the category operations work on it without any widget.
class TTreeNode {
public:
  explicit TTreeNode(std::string caption) : Caption(std::move(caption)) {}
  TTreeNode(const TTreeNode &) = delete;
  TTreeNode &operator=(const TTreeNode &) = delete;

  std::string Caption;
  bool Expanded = false;

  TTreeNode *Parent() const { return parent_; }
  size_t Count() const { return children_.size(); }
  TTreeNode *Child(size_t index) const { return index < children_.size() ? children_[index].get() : nullptr; }
  size_t IndexOf(const TTreeNode *child) const;
  // Depth below the root of the tree (the root itself is 0).
  size_t Level() const;
  // Whether node is this node or lies anywhere below it.
  bool Contains(const TTreeNode *node) const;

  TTreeNode &Insert(size_t index, std::unique_ptr<TTreeNode> child);
  // Takes the node out of its parent and hands it to the caller.
  std::unique_ptr<TTreeNode> Detach();
  void Clear() { children_.clear(); }

  // Every node below this one, a node before its children, siblings in order.
  std::vector<TTreeNode *> Descendants() const;

private:
  TTreeNode *parent_ = nullptr;
  std::vector<std::unique_ptr<TTreeNode>> children_;
};

} // namespace velmora
