#include "platform/IniFile.h"

#include "platform/AtomicFile.h"

#include <algorithm>
#include <stdexcept>

namespace velmora::platform {

namespace {

// Record files are a few hundred bytes; anything near this is not one of ours.
constexpr uint64_t kMaxIniFileBytes = uint64_t{16} << 20;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n')
      continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < text.size())
    lines.push_back(text.substr(start));
  return lines;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void CheckSectionName(std::string_view name) {
  if (HasLineBreakOrNul(name) || name.find(']') != std::string_view::npos || TrimBlanks(name) != name)
    throw std::invalid_argument("INI section name cannot be stored: " + std::string(name));
}

void CheckKeyName(std::string_view key) {
  const bool startsLikeOtherLine =
      !key.empty() && (key.front() == '[' || key.front() == ';' || key.front() == '#');
  if (key.empty() || HasLineBreakOrNul(key) || key.find('=') != std::string_view::npos ||
      startsLikeOtherLine || TrimBlanks(key) != key)
    throw std::invalid_argument("INI key name cannot be stored: " + std::string(key));
}

std::string OneLine(std::string_view value) {
  std::string line(value);
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
  return line;
}

} // namespace

IniFile IniFile::FromText(std::string_view text) {
  IniFile file;
  file.parse(text);
  return file;
}

void IniFile::parse(std::string_view text) {
  sections_.clear();
  if (text.starts_with(kByteOrderMark))
    text.remove_prefix(kByteOrderMark.size());
  sections_.push_back(Section{"", false, {}});
  Section *current = &sections_.back();
  for (std::string_view raw : SplitLines(text)) {
    std::string_view line = raw;
    while (!line.empty() && IsBlank(line.front()))
      line.remove_prefix(1);
    const std::size_t close = line.find(']');
    if (!line.empty() && line.front() == '[' && close != std::string_view::npos) {
      const std::string_view name = TrimBlanks(line.substr(1, close - 1));
      current = findSection(name);
      if (current == nullptr) {
        sections_.push_back(Section{std::string(name), true, {}});
        current = &sections_.back();
      }
      continue;
    }
    const std::size_t equals = line.find('=');
    const bool comment = !line.empty() && (line.front() == ';' || line.front() == '#');
    const std::string_view key =
        equals == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(0, equals));
    if (!comment && !key.empty() && current->hasHeader)
      current->lines.push_back(Line{true, std::string(key), std::string(line.substr(equals + 1))});
    else
      current->lines.push_back(Line{false, {}, std::string(raw)});
  }
}

FileResult IniFile::load(const std::string &path) {
  sections_.clear();
  std::string contents;
  bool missing = false;
  FileResult result = ReadFileContents(path, contents, kMaxIniFileBytes, &missing);
  if (!result)
    return missing ? FileResult::Success() : result;
  parse(contents);
  return result;
}

FileResult IniFile::save(const std::string &path) const { return WriteFileAtomically(path, toText()); }

std::string IniFile::toText() const {
  std::string text;
  for (const Section &section : sections_) {
    if (section.hasHeader)
      text += "[" + section.name + "]\n";
    for (const Line &line : section.lines)
      text += line.isEntry ? line.key + "=" + line.text + "\n" : line.text + "\n";
  }
  // A kept first line that begins with the byte-order mark's bytes would lose them to the reader's
  // skip on the next load: a mark in front keeps them.
  if (text.starts_with(kByteOrderMark))
    text.insert(0, kByteOrderMark);
  return text;
}

IniFile::Section *IniFile::findSection(std::string_view name) {
  for (Section &section : sections_) {
    if (section.hasHeader && SameName(section.name, name))
      return &section;
  }
  return nullptr;
}

const IniFile::Section *IniFile::findSection(std::string_view name) const {
  return const_cast<IniFile *>(this)->findSection(name);
}

bool IniFile::sectionExists(std::string_view section) const { return findSection(section) != nullptr; }

bool IniFile::valueExists(std::string_view section, std::string_view key) const {
  return value(section, key).has_value();
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
  const Section *found = findSection(section);
  if (found == nullptr)
    return std::nullopt;
  for (const Line &line : found->lines) {
    if (line.isEntry && SameName(line.key, key))
      return line.text;
  }
  return std::nullopt;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  return value(section, key).value_or(std::string(fallback));
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
  CheckSectionName(section);
  CheckKeyName(key);
  Section *target = findSection(section);
  if (target == nullptr) {
    sections_.push_back(Section{std::string(section), true, {}});
    target = &sections_.back();
  }
  auto &lines = target->lines;
  for (Line &line : lines) {
    if (line.isEntry && SameName(line.key, key)) {
      line.text = OneLine(value);
      return;
    }
  }
  const auto lastEntry =
      std::find_if(lines.rbegin(), lines.rend(), [](const Line &line) { return line.isEntry; });
  lines.insert(lastEntry.base(), Line{true, std::string(key), OneLine(value)});
}

void IniFile::deleteKey(std::string_view section, std::string_view key) {
  Section *found = findSection(section);
  if (found == nullptr)
    return;
  std::erase_if(found->lines, [&](const Line &line) { return line.isEntry && SameName(line.key, key); });
}

void IniFile::eraseSection(std::string_view section) {
  std::erase_if(sections_, [&](const Section &s) { return s.hasHeader && SameName(s.name, section); });
}

std::vector<std::string> IniFile::sectionNames() const {
  std::vector<std::string> names;
  for (const Section &section : sections_) {
    if (section.hasHeader)
      names.push_back(section.name);
  }
  return names;
}

std::vector<std::string> IniFile::keyNames(std::string_view section) const {
  std::vector<std::string> names;
  const Section *found = findSection(section);
  if (found == nullptr)
    return names;
  for (const Line &line : found->lines) {
    if (line.isEntry &&
        std::none_of(names.begin(), names.end(), [&](const std::string &n) { return SameName(n, line.key); }))
      names.push_back(line.key);
  }
  return names;
}

} // namespace velmora::platform
