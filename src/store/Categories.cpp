#include "store/Categories.h"

#include "platform/AtomicFile.h"
#include "shell/ReportError.h"
#include "store/LocalDownloadInfo.h"
#include "store/TextChecks.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr uint64_t kMaxCategoryFileBytes = uint64_t{16} * 1024 * 1024;
constexpr std::string_view kLineEnd = "\r\n";

std::string_view WithoutLeadingTabs(std::string_view line) {
  return line.substr(std::min(line.find_first_not_of('\t'), line.size()));
}

// Lines end in CR LF as written, and in LF or CR as an editor may leave them.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos)
      break;
    const bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crLf ? 2 : 1));
  }
  return lines;
}

} // namespace

TCategoryList::TCategoryList(std::string fileName, const TCategoryDefaults &defaults)
    : fileName_(std::move(fileName)), root_(std::make_unique<TTreeNode>("Categories")) {
  GuardedVoid("constructor TCategoryList.Create", [&] {
    const std::vector<std::string> lines = ReadLines();
    for (const std::string &line : lines) {
      const std::string_view text = WithoutLeadingTabs(line);
      if (text.empty())
        continue;
      std::unique_ptr<TCategory> category = TCategory::FromLine(text, defaults);
      // Names are unique without regard to case; a second one could never be found by name.
      if (GetByName(category->Name) != nullptr) {
        ReportError("constructor TCategoryList.Create",
                    "a second category named " + category->Name + " is ignored");
        continue;
      }
      categories_.push_back(std::move(category));
    }
    BuildNodes(*root_, *root_, std::vector<std::string_view>(lines.begin(), lines.end()));
  });
}

std::vector<std::string> TCategoryList::ReadLines() const {
  std::string contents;
  bool missing = false;
  const platform::FileResult read =
      platform::ReadFileContents(fileName_, contents, kMaxCategoryFileBytes, &missing);
  if (!read) {
    if (!missing)
      ReportError("function TCategoryList.ReadLines", read.error);
    return {};
  }
  return SplitLines(contents);
}

TCategory *TCategoryList::Get(size_t index) const {
  return index < categories_.size() ? categories_[index].get() : nullptr;
}

TCategory *TCategoryList::GetByName(std::string_view name) const {
  const auto found = std::find_if(categories_.begin(), categories_.end(), [name](const auto &category) {
    return EqualsIgnoringCase(category->Name, name);
  });
  return found == categories_.end() ? nullptr : found->get();
}

TCategory *TCategoryList::GetByFileName(std::string_view fileName) const {
  const auto found = std::find_if(categories_.begin(), categories_.end(), [fileName](const auto &category) {
    return category->BelongsToCategory(fileName);
  });
  return found == categories_.end() ? nullptr : found->get();
}

std::string TCategoryList::NameProblem(std::string_view name, const TCategory *except,
                                       const TTranslate &translate) const {
  const auto text = [&translate](std::string_view english) {
    return translate ? translate(english) : std::string(english);
  };
  if (name.empty())
    return text("Please type a category name.");
  if (HoldsControlCharacter(name))
    return text("A category name cannot hold tabs, line breaks or other control characters.");
  const TCategory *existing = GetByName(name);
  if (existing != nullptr && existing != except)
    return text("A category named") + " " + std::string(name) + " " + text("already exists.");
  return {};
}

platform::FileResult TCategoryList::Add(std::unique_ptr<TCategory> category, bool save, TTreeNode *parent) {
  return Guarded(
      "procedure TCategoryList.Add(Category : TCategory; save : boolean)",
      [&] {
        if (!category)
          return platform::FileResult::Failure("No category to add.");
        const std::string problem = NameProblem(category->Name);
        if (!problem.empty())
          return platform::FileResult::Failure(problem);
        if (parent == nullptr || !InThisTree(*parent))
          parent = root_.get();
        InsertSortedNode(*parent, category->Name);
        parent->Expanded = true;
        categories_.push_back(std::move(category));
        return save ? SaveToFile() : platform::FileResult::Success();
      },
      platform::FileResult::Failure("The category could not be added."));
}

platform::FileResult TCategoryList::Remove(TCategory *category, const TLDIList &records) {
  return Guarded(
      "procedure TCategoryList.Remove(Category : TCategory)",
      [&] {
        std::vector<TCategory *> removed = GetSubCategories(*category);
        removed.insert(removed.begin(), category);
        if (TTreeNode *node = GetCategoryNode(*category))
          node->Detach();
        platform::FileResult result = SaveRecordsOf(removed, records, true);
        std::erase_if(categories_, [&removed](const std::unique_ptr<TCategory> &candidate) {
          return std::find(removed.begin(), removed.end(), candidate.get()) != removed.end();
        });
        const platform::FileResult saved = SaveToFile();
        return result ? saved : result;
      },
      platform::FileResult::Failure("The category could not be deleted."));
}

platform::FileResult TCategoryList::Rename(TCategory &category, std::string_view newName,
                                           const TLDIList &records) {
  return Guarded(
      "procedure TCategoryList.Rename(Category : TCategory; NewName : string)",
      [&] {
        const std::string problem = NameProblem(newName, &category);
        if (!problem.empty())
          return platform::FileResult::Failure(problem);
        TTreeNode *node = GetCategoryNode(category);
        category.Name = newName;
        if (node != nullptr) {
          node->Caption = category.Name;
          MoveSortedNode(*node->Parent(), *node);
        }
        const platform::FileResult result = SaveRecordsOf({&category}, records, false);
        const platform::FileResult saved = SaveToFile();
        return result ? saved : result;
      },
      platform::FileResult::Failure("The category could not be renamed."));
}

platform::FileResult TCategoryList::SaveRecordsOf(const std::vector<TCategory *> &categories,
                                                  const TLDIList &records, bool detach) const {
  platform::FileResult result = platform::FileResult::Success();
  for (TLocalDownloadinfo *record : records) {
    if (std::find(categories.begin(), categories.end(), record->Category) == categories.end())
      continue;
    if (detach)
      record->Category = nullptr;
    const platform::FileResult saved = record->SaveDatFile();
    if (!saved && result)
      result = saved;
  }
  return result;
}

void TCategoryList::AddCategoriesToTreeView(TTreeNode &node) const {
  GuardedVoid("procedure TCategoryList.AddCategoriesToTreeView(Node : TTreeNode)", [&] {
    node.Clear();
    const std::vector<std::string> lines = ReadLines();
    BuildNodes(node, node, std::vector<std::string_view>(lines.begin(), lines.end()));
  });
}

void TCategoryList::BuildNodes(const TTreeNode &top, TTreeNode &parent,
                               const std::vector<std::string_view> &lines) const {
  for (size_t i = 0; i < lines.size(); ++i) {
    // A line that starts with a tab belongs to the line above it.
    if (lines[i].empty() || lines[i].front() == '\t')
      continue;
    std::vector<std::string_view> children;
    for (size_t j = i + 1; j < lines.size() && !lines[j].empty() && lines[j].front() == '\t'; ++j)
      children.push_back(lines[j].substr(1));
    const std::string_view name = lines[i].substr(0, lines[i].find('\t'));
    // A name met twice joins the first node of that name, so each category has one node.
    TTreeNode *node = nullptr;
    for (TTreeNode *existing : top.Descendants())
      if (node == nullptr && EqualsIgnoringCase(existing->Caption, name))
        node = existing;
    if (node == nullptr)
      node = &InsertSortedNode(parent, name);
    parent.Expanded = true;
    BuildNodes(top, *node, children);
  }
}

TTreeNode &TCategoryList::InsertSortedNode(TTreeNode &parent, std::string_view name) const {
  const std::string key = LowerAscii(name);
  size_t index = 0;
  while (index < parent.Count() && LowerAscii(parent.Child(index)->Caption) <= key)
    ++index;
  return parent.Insert(index, std::make_unique<TTreeNode>(std::string(name)));
}

bool TCategoryList::MoveSortedNode(TTreeNode &parent, TTreeNode &node) const {
  if (&node == root_.get() || !InThisTree(node) || !InThisTree(parent) || node.Contains(&parent))
    return false;
  std::unique_ptr<TTreeNode> moved = node.Detach();
  const std::string key = LowerAscii(moved->Caption);
  size_t index = 0;
  while (index < parent.Count() && LowerAscii(parent.Child(index)->Caption) <= key)
    ++index;
  parent.Insert(index, std::move(moved));
  return true;
}

bool TCategoryList::InThisTree(const TTreeNode &node) const { return root_->Contains(&node); }

TTreeNode *TCategoryList::GetCategoryNode(const TCategory &category) const {
  for (TTreeNode *node : root_->Descendants())
    if (node->Caption == category.Name)
      return node;
  return nullptr;
}

std::vector<TCategory *> TCategoryList::GetSubCategories(const TCategory &category) const {
  std::vector<TCategory *> subCategories;
  const TTreeNode *node = GetCategoryNode(category);
  if (node == nullptr)
    return subCategories;
  for (const TTreeNode *below : node->Descendants())
    if (TCategory *found = GetByName(below->Caption); found != nullptr && found != &category)
      subCategories.push_back(found);
  return subCategories;
}

void TCategoryList::AppendLines(const TTreeNode &node, size_t depth, std::string &text,
                                std::vector<const TCategory *> &written) const {
  for (size_t i = 0; i < node.Count(); ++i) {
    const TTreeNode &child = *node.Child(i);
    const TCategory *category = GetByName(child.Caption);
    const bool writes =
        category != nullptr && std::find(written.begin(), written.end(), category) == written.end();
    if (writes) {
      text.append(depth, '\t');
      text += category->toString();
      text += kLineEnd;
      written.push_back(category);
    }
    // Below a node without a category of its own the children move up a level, never vanish.
    AppendLines(child, writes ? depth + 1 : depth, text, written);
  }
}

platform::FileResult TCategoryList::SaveToFile() const {
  return Guarded(
      "procedure TCategoryList.SaveToFile",
      [&] {
        for (const auto &category : categories_)
          if (!category->Writable())
            return platform::FileResult::Failure(
                "The category \"" + category->Name +
                "\" cannot be saved: its name, extensions or folder hold a tab, "
                "a line break or another control character.");
        std::string text;
        std::vector<const TCategory *> written;
        AppendLines(*root_, 0, text, written);
        for (const auto &category : categories_)
          if (std::find(written.begin(), written.end(), category.get()) == written.end()) {
            text += category->toString();
            text += kLineEnd;
          }
        return platform::WriteFileAtomically(fileName_, text);
      },
      platform::FileResult::Failure("The category file " + fileName_ + " could not be written."));
}

} // namespace velmora
