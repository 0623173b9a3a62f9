// Feeds arbitrary category files ("cat.dat") to the category list: it loads without failing,
// and what it saves loads back to the same categories in the same tree.
#include "FuzzFiles.h"
#include "store/Categories.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace velmora;

std::string Shape(const TTreeNode &node) {
  std::string shape = node.Caption + "{";
  for (size_t i = 0; i < node.Count(); ++i)
    shape += Shape(*node.Child(i)) + ",";
  return shape + "}";
}

std::string Describe(const TCategoryList &list) {
  std::string text;
  for (size_t i = 0; i < list.Count(); ++i)
    text += list.Get(i)->Name + "\n";
  TTreeNode root("Categories");
  list.AddCategoriesToTreeView(root);
  return text + Shape(root);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = fuzzing::WriteInput("cat.dat", data, size);
  const TCategoryList list(path, {});
  const std::string loaded = Describe(list);
  if (!list.SaveToFile())
    std::abort();
  const TCategoryList again(path, {});
  if (Describe(again) != loaded)
    std::abort();
  return 0;
}
