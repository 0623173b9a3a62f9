#pragma once

#include "platform/FileContents.h"
#include "shell/Constants.h"
#include "store/Category.h"
#include "store/TreeNode.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class TLDIList;

// All categories: a flat list in file order holding their properties, and the tree below the
// "Categories" node holding their hierarchy, which nodes share with categories by name only. The
// category file stores both, one line per category, depth first, one leading tab per level.
class TCategoryList {
public:
  // Reads the category file; a missing file means no categories.
  TCategoryList(std::string fileName, const TCategoryDefaults &defaults);
  TCategoryList(const TCategoryList &) = delete;
  TCategoryList &operator=(const TCategoryList &) = delete;

  size_t Count() const { return categories_.size(); }
  TCategory *Get(size_t index) const;
  // The first category, in list order, whose name equals name ignoring case.
  TCategory *GetByName(std::string_view name) const;
  // The first category, in list order, that claims the file name's extension.
  TCategory *GetByFileName(std::string_view fileName) const;

  // Why name cannot be given to a category (other than except), in the translator's language;
  // empty when the name is fine.
  std::string NameProblem(std::string_view name, const TCategory *except = nullptr,
                          const TTranslate &translate = nullptr) const;

  // Adds the category to the list and a node for it at its sorted place under parent (the
  // "Categories" node when none), then saves when asked. Refuses, in English, a name NameProblem
  // objects to; a dialog asks NameProblem first to show the reason in the user's language.
  platform::FileResult Add(std::unique_ptr<TCategory> category, bool save, TTreeNode *parent = nullptr);
  // Removes the category with its node and every sub-category below that node. Records that
  // referred to any of them lose their category and are saved, so none points at a freed one.
  platform::FileResult Remove(TCategory *category, const TLDIList &records);
  // Renames the category and its node, keeps the siblings sorted, and saves the records that
  // refer to it, since their files hold the name.
  platform::FileResult Rename(TCategory &category, std::string_view newName, const TLDIList &records);

  // Builds the hierarchy of the category file under node, replacing its children.
  void AddCategoriesToTreeView(TTreeNode &node) const;
  // Inserts a node before the first child whose caption is greater, comparing in lower case.
  TTreeNode &InsertSortedNode(TTreeNode &parent, std::string_view name) const;
  // Moves the node with its sub-tree to its sorted place under parent; false (nothing moved) when
  // parent lies in that sub-tree or node is no node below "Categories".
  bool MoveSortedNode(TTreeNode &parent, TTreeNode &node) const;
  // The first node below "Categories", depth first, whose caption equals the name exactly.
  TTreeNode *GetCategoryNode(const TCategory &category) const;
  // The categories of every node below the category's node, depth first.
  std::vector<TCategory *> GetSubCategories(const TCategory &category) const;

  // Replaces the category file with the tree's lines; categories without a node follow at the top
  // level, so none is lost. Refuses (old file kept) when a category cannot be written faithfully.
  platform::FileResult SaveToFile() const;

  TTreeNode &CategoriesNode() { return *root_; }
  const TTreeNode &CategoriesNode() const { return *root_; }
  const std::string &FileName() const { return fileName_; }

private:
  std::vector<std::string> ReadLines() const;
  void BuildNodes(const TTreeNode &top, TTreeNode &parent, const std::vector<std::string_view> &lines) const;
  void AppendLines(const TTreeNode &node, size_t depth, std::string &text,
                   std::vector<const TCategory *> &written) const;
  bool InThisTree(const TTreeNode &node) const;
  platform::FileResult SaveRecordsOf(const std::vector<TCategory *> &categories, const TLDIList &records,
                                     bool detach) const;

  std::string fileName_;
  std::vector<std::unique_ptr<TCategory>> categories_;
  std::unique_ptr<TTreeNode> root_;
};

} // namespace velmora
