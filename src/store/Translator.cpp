#include "store/Translator.h"

#include "platform/FileContents.h"
#include "store/IndependentGeneralFunctions.h"
#include "store/TextChecks.h"

#include <algorithm>
#include <filesystem>

namespace velmora {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeaderEnd = "# file info end";
// Translation files are a few hundred kilobytes at most.
constexpr uint64_t kMaxTranslationBytes = uint64_t{16} << 20;

// Blanks and control characters at both ends go.
std::string_view Trim(std::string_view text) {
  const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// Each key found (without regard to case) anywhere in the line takes the rest of the line.
void PickHeaderKeys(const std::string &line, TTranslation &translation) {
  const std::string lower = LowerAscii(line);
  const std::pair<std::string_view, std::string TTranslation::*> keys[] = {
      {"language=", &TTranslation::Language}, {"author=", &TTranslation::Author},
      {"email=", &TTranslation::Email},       {"date=", &TTranslation::Date},
      {"comment=", &TTranslation::Comment},
  };
  for (const auto &[key, field] : keys) {
    const auto at = lower.find(key);
    if (at != std::string::npos)
      translation.*field = line.substr(at + key.size());
  }
}

bool IsTranslationFile(const fs::directory_entry &entry) {
  std::error_code error;
  return entry.is_regular_file(error) && LowerAscii(entry.path().extension().string()) == ".vmt";
}

} // namespace

TTranslation TTranslation::FromText(std::string_view text, const std::string &fileName) {
  TTranslation translation;
  translation.FileName = fileName;
  if (text.substr(0, 3) == "\xEF\xBB\xBF")
    text.remove_prefix(3);
  std::vector<std::string> lines;
  LoadMemoFromMemoryStream(lines, text);
  // The header runs up to the last marker line; every line of it may carry keys.
  const auto marker = std::find_if(lines.rbegin(), lines.rend(),
                                   [](const std::string &line) { return LowerAscii(line) == kHeaderEnd; });
  const auto bodyStart = marker == lines.rend() ? lines.begin() : marker.base();
  for (auto line = lines.begin(); line != bodyStart; ++line)
    PickHeaderKeys(*line, translation);
  translation.Lines.assign(std::make_move_iterator(bodyStart), std::make_move_iterator(lines.end()));
  return translation;
}

TTranslation TTranslation::Load(const std::string &fileName) {
  std::string contents;
  if (!platform::ReadFileContents(fileName, contents, kMaxTranslationBytes)) {
    TTranslation empty;
    empty.FileName = fileName;
    return empty;
  }
  return FromText(contents, fileName);
}

TTranslator::TTranslator(const std::string &folder) : folder_(folder) {
  if (folder_.empty() || folder_.back() != '/')
    folder_ += '/';
  std::error_code ignored; // a folder that cannot be made simply lists no translations
  fs::create_directories(folder_, ignored);
}

std::vector<std::string> TTranslator::ListTranslations() const {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator entry(folder_, error), end; !error && entry != end; entry.increment(error)) {
    if (IsTranslationFile(*entry))
      files.push_back(entry->path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> entries;
  entries.reserve(files.size());
  for (const fs::path &file : files)
    entries.push_back(TTranslation::Load(file.string()).Language + "\t" + file.filename().string());
  return entries;
}

std::vector<std::string> TTranslator::LanguageList() const {
  std::vector<std::string> languages{std::string(kDefaultLanguage)};
  for (const std::string &entry : ListTranslations())
    languages.push_back(entry.substr(0, entry.rfind('\t')));
  return languages;
}

bool TTranslator::LoadTranslation(const std::string &fileName) {
  const std::string path = folder_ + fileName;
  std::error_code error;
  if (fileName.empty() || !fs::is_regular_file(path, error))
    return false;
  translation_ = std::make_unique<TTranslation>(TTranslation::Load(path));
  firstLine_.clear();
  const auto &lines = translation_->Lines;
  for (std::size_t i = 0; i < lines.size(); ++i)
    firstLine_.try_emplace(LowerAscii(lines[i]), i);
  return true;
}

void TTranslator::LoadConfiguredTranslation(const TSettingsStore &settings) {
  if (settings.ReadString("Options", "CurrentLanguage", kDefaultLanguage) != kDefaultLanguage)
    LoadTranslation(settings.ReadString("Options", "TranslationFile", ""));
}

std::string TTranslator::Translate(std::string_view text) const {
  // An empty text would otherwise take whatever follows the first blank line of the file.
  if (!translation_ || text.empty())
    return std::string(text);
  const auto found = firstLine_.find(LowerAscii(text));
  if (found == firstLine_.end() || found->second + 1 >= translation_->Lines.size())
    return std::string(text);
  const std::string_view translated = Trim(translation_->Lines[found->second + 1]);
  return translated.empty() ? std::string(text) : std::string(translated);
}

TTranslate TTranslator::AsFunction() const {
  return [this](std::string_view text) { return Translate(text); };
}

} // namespace velmora
