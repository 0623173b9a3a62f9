#include "store/Category.h"

#include "store/TextChecks.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr char kFieldSeparator = '\t';

std::string_view YesNo(bool value) { return value ? "Yes" : "No"; }

bool IsExtensionSeparator(char c) { return c == ' ' || HoldsControlCharacter(std::string_view(&c, 1)); }

// Takes the text before the next tab off the front of line; the whole rest when there is none.
std::string_view TakeField(std::string_view &line) {
  const size_t tab = line.find(kFieldSeparator);
  const std::string_view field = line.substr(0, tab);
  line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
  return field;
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

TCategory::TCategory(const TCategoryDefaults &defaults)
    : AutoSave(defaults.AutoSave), ShowCompleteDialog(defaults.ShowCompleteDialog) {}

std::unique_ptr<TCategory> TCategory::FromLine(std::string_view line, const TCategoryDefaults &defaults) {
  auto category = std::make_unique<TCategory>(defaults);
  category->Name = TakeField(line);
  category->SetExtensions(TakeField(line));
  category->AutoSave = TakeField(line) == "Yes";
  const bool olderForm = line.find(kFieldSeparator) == std::string_view::npos;
  category->SaveFolder = TakeField(line);
  if (!olderForm)
    category->ShowCompleteDialog = line == "Yes";
  return category;
}

bool TCategory::SetName(std::string_view aName) {
  if (HoldsControlCharacter(aName))
    return false;
  Name = aName;
  return true;
}

bool TCategory::SetSaveFolder(std::string_view folder) {
  if (HoldsControlCharacter(folder))
    return false;
  SaveFolder = folder;
  if (!SaveFolder.empty() && SaveFolder.back() != '/')
    SaveFolder += '/';
  return true;
}

void TCategory::SetExtensions(std::string_view exts) {
  Extensions.clear();
  while (!exts.empty()) {
    const auto start = std::find_if_not(exts.begin(), exts.end(), IsExtensionSeparator);
    const auto end = std::find_if(start, exts.end(), IsExtensionSeparator);
    if (start != end)
      Extensions.emplace_back(start, end);
    exts.remove_prefix(static_cast<size_t>(end - exts.begin()));
  }
}

bool TCategory::BelongsToCategory(std::string_view fileName) const {
  const std::string_view baseName = fileName.substr(fileName.rfind('/') + 1);
  const size_t dot = baseName.rfind('.');
  if (dot == std::string_view::npos)
    return false;
  std::string_view extension = TrimBlanks(baseName.substr(dot));
  if (extension.starts_with('.'))
    extension.remove_prefix(1);
  return std::any_of(Extensions.begin(), Extensions.end(),
                     [extension](const std::string &known) { return EqualsIgnoringCase(known, extension); });
}

std::string TCategory::toString() const {
  std::string line = Name + kFieldSeparator;
  for (size_t i = 0; i < Extensions.size(); ++i) {
    if (i > 0)
      line += ' ';
    line += Extensions[i];
  }
  line += kFieldSeparator;
  line += YesNo(AutoSave);
  line += kFieldSeparator + SaveFolder + kFieldSeparator;
  line += YesNo(ShowCompleteDialog);
  return line;
}

bool TCategory::Writable() const {
  return !Name.empty() && !HoldsControlCharacter(Name) && !HoldsControlCharacter(SaveFolder) &&
         std::none_of(Extensions.begin(), Extensions.end(), [](const std::string &extension) {
           return extension.empty() || extension.find(' ') != std::string::npos ||
                  HoldsControlCharacter(extension);
         });
}

} // namespace velmora
