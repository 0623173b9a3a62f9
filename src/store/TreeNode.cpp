#include "store/TreeNode.h"

#include <algorithm>
#include <stdexcept>

namespace velmora {

size_t TTreeNode::IndexOf(const TTreeNode *child) const {
  const auto found = std::find_if(children_.begin(), children_.end(),
                                  [child](const std::unique_ptr<TTreeNode> &c) { return c.get() == child; });
  return static_cast<size_t>(found - children_.begin());
}

size_t TTreeNode::Level() const {
  size_t level = 0;
  for (const TTreeNode *node = parent_; node != nullptr; node = node->parent_)
    ++level;
  return level;
}

bool TTreeNode::Contains(const TTreeNode *node) const {
  for (; node != nullptr; node = node->parent_)
    if (node == this)
      return true;
  return false;
}

TTreeNode &TTreeNode::Insert(size_t index, std::unique_ptr<TTreeNode> child) {
  if (!child || child->parent_ != nullptr || child->Contains(this))
    throw std::invalid_argument("a tree node can only be inserted once, and never below itself");
  child->parent_ = this;
  TTreeNode &inserted = *child;
  children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(std::min(index, children_.size())),
                   std::move(child));
  return inserted;
}

std::unique_ptr<TTreeNode> TTreeNode::Detach() {
  if (parent_ == nullptr)
    throw std::logic_error("the root of a tree cannot be detached");
  auto &siblings = parent_->children_;
  const auto self = siblings.begin() + static_cast<std::ptrdiff_t>(parent_->IndexOf(this));
  std::unique_ptr<TTreeNode> detached = std::move(*self);
  siblings.erase(self);
  parent_ = nullptr;
  return detached;
}

std::vector<TTreeNode *> TTreeNode::Descendants() const {
  std::vector<TTreeNode *> nodes;
  for (const auto &child : children_) {
    nodes.push_back(child.get());
    const std::vector<TTreeNode *> below = child->Descendants();
    nodes.insert(nodes.end(), below.begin(), below.end());
  }
  return nodes;
}

} // namespace velmora
