#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The flags a new category starts with, read from the settings when it is made: AutoSave is the
// opposite of ShowSaveDialog (default true), ShowCompleteDialog is ShowCompletedDialog (default
// true).
struct TCategoryDefaults {
  bool AutoSave = false;
  bool ShowCompleteDialog = true;
};

// A group of downloads by file extension, with a save folder of its own.
class TCategory {
public:
  explicit TCategory(const TCategoryDefaults &defaults = {});

  // One line of the category file, its leading tabs already removed. Lines of the older form
  // without the last field keep the default ShowCompleteDialog.
  static std::unique_ptr<TCategory> FromLine(std::string_view line, const TCategoryDefaults &defaults);

  // Refuse (returning false, value unchanged) a text holding tabs, line breaks or other control
  // characters, which would break the category file's line format.
  bool SetName(std::string_view aName);
  bool SetSaveFolder(std::string_view folder);
  // Extensions are separated by blanks (or any control character); empty pieces are dropped.
  void SetExtensions(std::string_view exts);
  void SetAutoSave(bool autoSave) { AutoSave = autoSave; }
  void SetShowCompleteDialog(bool show) { ShowCompleteDialog = show; }

  // Whether the file name's extension is one of Extensions, ignoring case; no wildcards.
  bool BelongsToCategory(std::string_view fileName) const;
  // The line of the category file without its leading tabs.
  std::string toString() const;
  // Whether toString reads back as this very category.
  bool Writable() const;

  std::string Name;
  std::vector<std::string> Extensions;
  std::string SaveFolder; // ends in "/" once set
  bool AutoSave;
  bool ShowCompleteDialog;
};

} // namespace velmora
