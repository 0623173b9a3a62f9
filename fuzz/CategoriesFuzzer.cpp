// Feeds arbitrary category files ("cat.dat") to the category list: it loads without failing, a
// save loses no category, and a file it wrote keeps its categories and tree size.
#include "FuzzFiles.h"
#include "store/Categories.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace velmora;

std::string Shape(const TTreeNode &node) {
  std::string shape = node.Caption + "{";
  for (size_t i = 0; i < node.Count(); ++i)
    shape += Shape(*node.Child(i)) + ",";
  return shape + "}";
}

std::string Tree(const TCategoryList &list) {
  TTreeNode root("Categories");
  list.AddCategoriesToTreeView(root);
  return Shape(root);
}

// The list's order is the file's, and a save writes the tree's order: names compare as a set.
std::vector<std::string> Names(const TCategoryList &list) {
  std::vector<std::string> names;
  for (size_t i = 0; i < list.Count(); ++i)
    names.push_back(list.Get(i)->Name);
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = fuzzing::WriteInput("cat.dat", data, size);
  const TCategoryList list(path, {});
  // A category holding a control character is refused rather than written as another line.
  if (!list.SaveToFile())
    return 0;
  // A damaged hierarchy (a level skipped) is written back whole, so only names must survive it.
  const TCategoryList again(path, {});
  if (Names(again) != Names(list))
    std::abort();
  if (!again.SaveToFile())
    return 0;
  const TCategoryList third(path, {});
  if (Names(third) != Names(again) || Tree(third).size() != Tree(again).size())
    std::abort();
  return 0;
}
