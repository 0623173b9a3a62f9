#pragma once

#include "platform/FileContents.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

// Velmora's own INI files (record files and the like): "[Section]" header lines and "key=value"
// lines, held in memory and written back whole.
//
// Reading rules:
// - Lines end in CR LF, LF or CR; a UTF-8 byte-order mark at the start is skipped.
// - Blanks (spaces, tabs) before a line's first character are ignored. A line starting with ";" or
//   "#" is a comment. "[name]" starts a section; the name is trimmed of blanks.
// - "key=value": the key is the text before the first "=", trimmed of blanks; the value is the rest
//   of the line exactly as it stands (no blanks trimmed, no quotes removed), because the writer
//   writes key=value without padding and a file name or a description may begin or end with a blank.
// - Section and key names are compared without regard to ASCII letter case. A repeated section
//   joins the first one of that name; of a repeated key the first one counts.
// - Lines that are none of these (comments, blank lines, lines without "=", keys before the first
//   section) are kept as they stand and written back unchanged; keys keep their written order.
class IniFile {
public:
  IniFile() = default;
  static IniFile FromText(std::string_view text);

  // Replaces the contents with those of the file at path. A missing file gives an empty IniFile and
  // counts as success; any other failure leaves it empty and says why.
  FileResult load(const std::string &path);
  // Replaces the file at path atomically (see WriteFileAtomically).
  FileResult save(const std::string &path) const;
  std::string toText() const;

  bool sectionExists(std::string_view section) const;
  bool valueExists(std::string_view section, std::string_view key) const;
  std::optional<std::string> value(std::string_view section, std::string_view key) const;
  std::string readString(std::string_view section, std::string_view key, std::string_view fallback) const;

  // Sets the value, creating the section at the end and the key after the section's last key when
  // missing. Line breaks and NULs in the value become blanks, so that a value can never add lines
  // to the file. Throws std::invalid_argument for a section or key name the format cannot hold.
  void writeString(std::string_view section, std::string_view key, std::string_view value);
  void deleteKey(std::string_view section, std::string_view key);
  void eraseSection(std::string_view section);

  std::vector<std::string> sectionNames() const;
  std::vector<std::string> keyNames(std::string_view section) const;

private:
  struct Line {
    bool isEntry = false;
    std::string key;  // entries only
    std::string text; // the value of an entry, else the whole line as read
  };
  struct Section {
    std::string name;
    bool hasHeader = true; // false only for the lines before the first header
    std::vector<Line> lines;
  };

  Section *findSection(std::string_view name);
  const Section *findSection(std::string_view name) const;
  void parse(std::string_view text);

  std::vector<Section> sections_;
};

} // namespace velmora::platform
