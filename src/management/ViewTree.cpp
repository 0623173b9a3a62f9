#include "management/ViewTree.h"

#include "store/Categories.h"

#include <cstddef>

namespace velmora {

TViewTree::TViewTree(const TConstants &words, TCategoryList &categories)
    : words_(words), all_(std::make_unique<TTreeNode>(words.All)),
      status_(std::make_unique<TTreeNode>(words.Status)),
      history_(std::make_unique<TTreeNode>(words.History)), categoriesNode_(&categories.CategoriesNode()) {
  Rebuild();
}

void TViewTree::Rebuild() {
  const int selected = AbsoluteIndex(Selected);
  all_->Caption = words_.All;
  categoriesNode_->Caption = words_.Categories;
  categoriesNode_->Expanded = true;
  status_->Caption = words_.Status;
  status_->Expanded = true;
  status_->Clear();
  for (const std::string *caption : {&words_.Downloading, &words_.Paused, &words_.Scheduled, &words_.Queued})
    status_->Insert(status_->Count(), std::make_unique<TTreeNode>(*caption));
  history_->Caption = words_.History;
  history_->Expanded = true;
  history_->Clear();
  for (const std::string *caption : {&words_.Hours24, &words_.Days7, &words_.Days30})
    history_->Insert(history_->Count(), std::make_unique<TTreeNode>(*caption));
  Selected = NodeAt(selected < 0 ? 0 : static_cast<std::size_t>(selected));
  if (Selected == nullptr)
    Selected = all_.get();
}

std::vector<TTreeNode *> TViewTree::Nodes() const {
  std::vector<TTreeNode *> nodes;
  for (TTreeNode *top : TopNodes()) {
    nodes.push_back(top);
    for (TTreeNode *node : top->Descendants())
      nodes.push_back(node);
  }
  return nodes;
}

TTreeNode *TViewTree::NodeAt(std::size_t absoluteIndex) const {
  const std::vector<TTreeNode *> nodes = Nodes();
  return absoluteIndex < nodes.size() ? nodes[absoluteIndex] : nullptr;
}

int TViewTree::AbsoluteIndex(const TTreeNode *node) const {
  const std::vector<TTreeNode *> nodes = Nodes();
  for (std::size_t i = 0; i < nodes.size(); ++i)
    if (nodes[i] == node)
      return static_cast<int>(i);
  return -1;
}

TTreeNode *TViewTree::GroupOf(const TTreeNode *node) const {
  for (TTreeNode *top : TopNodes())
    if (node != nullptr && top->Contains(node))
      return top;
  return nullptr;
}

bool TViewTree::IsCategoryNode(const TTreeNode *node) const {
  return node != nullptr && node != categoriesNode_ && categoriesNode_->Contains(node);
}

} // namespace velmora
