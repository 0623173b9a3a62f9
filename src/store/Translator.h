#pragma once

#include "shell/Constants.h"
#include "store/Registry.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora {

// One translation file: the header fields and the body lines. Files are UTF-8 text (a byte-order
// mark is skipped) with lines ending in CR LF, LF or CR. An optional header runs up to and
// including the last line that reads "# FILE INFO END"; the body is English lines each followed by
// its translation.
struct TTranslation {
  std::string Language;
  std::string Author;
  std::string Email;
  std::string Date;
  std::string Comment;
  std::vector<std::string> Lines; // the body
  std::string FileName;           // full path

  // Reads a file; one that cannot be read gives an empty translation (texts stay English).
  static TTranslation Load(const std::string &fileName);
  static TTranslation FromText(std::string_view text, const std::string &fileName);
};

// The language chosen when no translation file is loaded, first in the language list.
inline constexpr std::string_view kDefaultLanguage = "English <default>";

// Every text the program shows passes through Translate: English in, the user's language out.
// One object for the process, on the translations folder; used from the loop thread.
class TTranslator {
public:
  // Remembers the folder (with a trailing "/") and creates it when missing.
  explicit TTranslator(const std::string &folder);

  const std::string &Folder() const { return folder_; }
  const TTranslation *Translation() const { return translation_.get(); }

  // "language name<TAB>file name" for every *.vmt file of the folder, sorted by file name; empty
  // when the folder does not exist.
  std::vector<std::string> ListTranslations() const;
  // kDefaultLanguage, then the language of every translation file in the order of ListTranslations.
  std::vector<std::string> LanguageList() const;

  // Loads the named file of the folder in place of the current translation; false (keeping the
  // current one) when no such file exists.
  bool LoadTranslation(const std::string &fileName);
  // At start-up: loads `TranslationFile` unless `CurrentLanguage` is kDefaultLanguage.
  void LoadConfiguredTranslation(const TSettingsStore &settings);

  // The line after the first body line equal to text without regard to ASCII case, trimmed; text
  // itself when nothing is loaded, nothing matches, the match is the last line or the next line is
  // blank.
  std::string Translate(std::string_view text) const;
  // Translate as a function for those that only need to translate.
  TTranslate AsFunction() const;

private:
  std::string folder_;
  std::unique_ptr<TTranslation> translation_;
  // Lower-cased body line to the index of its first occurrence, so lookups need no scan.
  std::unordered_map<std::string, std::size_t> firstLine_;
};

} // namespace velmora
