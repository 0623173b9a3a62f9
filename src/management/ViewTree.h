#pragma once

#include "shell/Constants.h"
#include "store/TreeNode.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace velmora {

class TCategoryList;

// The tree of views on the download list: "All"; "Categories" with the category hierarchy (the
// category list's own node, so moving a category moves it here too); "Status" with its four
// children; "History" with its three periods. Absolute indices count nodes in tree order, a node
// before its children, as the stored ChoosenCategory does.
class TViewTree {
public:
  TViewTree(const TConstants &words, TCategoryList &categories);

  // The captions in the current language and the fixed children again; the category nodes are the
  // category list's own. A selection that is gone falls back to "All".
  void Rebuild();

  std::vector<TTreeNode *> TopNodes() const {
    return {all_.get(), categoriesNode_, status_.get(), history_.get()};
  }
  // Every node in tree order.
  std::vector<TTreeNode *> Nodes() const;
  std::size_t Count() const { return Nodes().size(); }
  TTreeNode *NodeAt(std::size_t absoluteIndex) const;
  // -1 for a node not in the tree.
  int AbsoluteIndex(const TTreeNode *node) const;

  TTreeNode &All() const { return *all_; }
  TTreeNode &CategoriesRoot() const { return *categoriesNode_; }
  TTreeNode &Status() const { return *status_; }
  TTreeNode &History() const { return *history_; }
  // The top node the node belongs to (itself for a top node); nullptr for a node not in the tree.
  TTreeNode *GroupOf(const TTreeNode *node) const;
  bool IsCategoryNode(const TTreeNode *node) const;

  TTreeNode *Selected = nullptr;

private:
  const TConstants &words_;
  std::unique_ptr<TTreeNode> all_, status_, history_;
  TTreeNode *categoriesNode_;
};

} // namespace velmora
