#include "store/LocalDownloadInfo.h"

#include "platform/IniFile.h"
#include "shell/DownloadableUrl.h"
#include "shell/ReportError.h"
#include "store/Categories.h"
#include "store/TextChecks.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <stdexcept>
#include <unistd.h>

namespace velmora {

namespace {

constexpr std::string_view kSection = "Options";
constexpr int kTempNameLength = 8;
constexpr int kMaxTempNameTries = 10000;

// Decimal with an optional sign, or hexadecimal after "0x" (or "$"); anything else, and a value
// out of range, gives the fallback.
int64_t ReadInt64(std::string_view text, int64_t fallback) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return fallback;
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  } else if (text.starts_with('$')) {
    text.remove_prefix(1);
    base = 16;
  } else if (text.starts_with('+')) {
    text.remove_prefix(1);
  }
  if (text.empty() || (base == 16 && text.starts_with('-')))
    return fallback;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size() ? value : fallback;
}

platform::FileResult RemoveFile(const std::string &path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT)
    return platform::FileResult::Success();
  return platform::FileResult::Failure("Cannot delete " + path + ": " + std::strerror(errno));
}

std::mt19937 &RandomGenerator() {
  // Seeded once per thread, so names drawn in quick succession differ.
  thread_local std::mt19937 generator{std::random_device{}()};
  return generator;
}

} // namespace

TLocalDownloadinfo::TLocalDownloadinfo(TUrl url, std::string tempFileName, const TRecordContext &context)
    : Url(std::move(url)), TempFileName(std::move(tempFileName)), context_(context) {
  GuardedVoid("constructor TLocalDownloadinfo.Create(Url : TUrl; TempFileName : string)", [&] {
    if (TempFileName.empty())
      TempFileName =
          GetTempFileName(context_.PartialDownloadsFolder ? context_.PartialDownloadsFolder() : "");
    Load();
  });
}

void TLocalDownloadinfo::Load() {
  const std::string path = DatFileName();
  std::error_code error;
  const bool exists = !TempFileName.empty() && std::filesystem::exists(path, error);
  platform::IniFile file;
  if (exists) {
    const platform::FileResult loaded = file.load(path);
    if (!loaded)
      LoadError = loaded.error;
  }
  const auto read = [&](std::string_view key, std::string_view fallback) {
    return file.readString(kSection, key, fallback);
  };

  const std::string urlText = read("URL", "");
  if (!urlText.empty())
    Url = TUrl(urlText, context_.Words.Unknown);
  if (exists && LoadError.empty()) {
    if (urlText.empty())
      LoadError = "The record file " + path + " holds no URL.";
    else if (!IsDownloadableProtocol(Url.Protocol))
      LoadError = "The record file " + path + " holds no address that can be downloaded: " + urlText;
  }
  LocalFileName = read("LocalFileName", "");
  const std::string storedStatus = read("Status", "");
  SetStatus(context_.Translate ? context_.Translate(storedStatus) : storedStatus);
  StatusImage = context_.Words.StatusImageOfStatus(Status);
  FileSize = ReadInt64(read("FileSize", ""), 0);
  NumOfParts = ReadInt64(read("NumOfParts", ""), -1);
  const std::string categoryName = read("Category", "");
  Category = context_.Categories != nullptr && !categoryName.empty()
                 ? context_.Categories->GetByName(categoryName)
                 : nullptr;
  const auto readMoment = [&](std::string_view key) {
    return ParseRecordDateTime(read(key, ""), context_.DateOrder).value_or(context_.Now());
  };
  LastActivity = readMoment("LastActivity");
  Created = readMoment("Created");
  Description = read("Description", "");
  RetryTimer = nullptr;
}

void TLocalDownloadinfo::SetStatus(std::string_view value) {
  GuardedVoid("procedure TLocalDownloadinfo.SetStatus(Value : string)", [&] {
    const bool wasActive = StatusState == TStatusState::Downloading ||
                           StatusState == TStatusState::ContactingHost ||
                           StatusState == TStatusState::GettingFileInfo;
    if (wasActive && value != Status)
      LastActivity = context_.Now();
    Status = value;
    StatusState = context_.Words.StateOf(value);
  });
}

void TLocalDownloadinfo::SetStatus(TStatusState state) {
  if (state != TStatusState::OtherError)
    SetStatus(context_.Words.Word(state));
}

std::string TLocalDownloadinfo::StoredStatus() const {
  switch (StatusState) {
  case TStatusState::ContactingHost:
  case TStatusState::GettingFileInfo:
    return std::string(english::Downloading);
  case TStatusState::Timeout:
  case TStatusState::FileNotFound:
  case TStatusState::FilesizeMismatch:
  case TStatusState::CouldntConnectToHost:
  case TStatusState::LostConnectionToServer:
  case TStatusState::CouldntLogin:
  case TStatusState::CertificateNotTrusted:
    return std::string(english::Paused);
  case TStatusState::OtherError:
    // A server's own phrase or a join's message: the text the download showed.
    return Status;
  case TStatusState::Idle:
    // A record that never had a status stores none.
    return Status.empty() ? std::string() : std::string(english::Idle);
  default:
    return std::string(EnglishStatusWord(StatusState));
  }
}

platform::FileResult TLocalDownloadinfo::SaveDatFile() const {
  return Guarded(
      "procedure TLocalDownloadinfo.SaveDatFile",
      [&] {
        const std::string path = DatFileName();
        if (TempFileName.empty())
          return platform::FileResult::Failure("The download has no record file name.");
        if (Damaged())
          return platform::FileResult::Failure("The record file " + path +
                                               " could not be read, so it is kept as it is: " + LoadError);
        const std::string categoryName = Category != nullptr ? Category->Name : std::string();
        const std::pair<std::string_view, const std::string *> texts[] = {{"URL", &Url.Url},
                                                                          {"local file name", &LocalFileName},
                                                                          {"category", &categoryName},
                                                                          {"description", &Description}};
        for (const auto &[what, text] : texts)
          if (HoldsLineBreak(*text))
            return platform::FileResult::Failure("The " + std::string(what) +
                                                 " of the download holds a line break, which " + path +
                                                 " cannot keep.");

        platform::IniFile file;
        if (!file.load(path))
          file = platform::IniFile(); // an unreadable old file is replaced whole
        file.writeString(kSection, "URL", Url.Url);
        file.writeString(kSection, "LocalFileName", LocalFileName);
        file.writeString(kSection, "Status", StoredStatus());
        file.writeString(kSection, "FileSize", std::to_string(FileSize));
        file.writeString(kSection, "NumOfParts", std::to_string(NumOfParts));
        file.writeString(kSection, "Category", categoryName);
        file.writeString(kSection, "LastActivity", FormatRecordDateTime(LastActivity));
        file.writeString(kSection, "Created", FormatRecordDateTime(Created));
        file.writeString(kSection, "Description", Description);
        return file.save(path);
      },
      platform::FileResult::Failure("The record file " + DatFileName() + " could not be written."));
}

platform::FileResult TLocalDownloadinfo::DeleteDatFile() const {
  if (TempFileName.empty())
    return platform::FileResult::Success();
  platform::FileResult removed = RemoveFile(DatFileName());
  if (!removed)
    ReportError("procedure TLocalDownloadinfo.DeleteDatFile", removed.error);
  return removed;
}

platform::FileResult TLocalDownloadinfo::DeletePartFiles() const {
  return Guarded(
      "procedure TLocalDownloadinfo.DeletePartFiles",
      [&] {
        if (TempFileName.empty())
          return platform::FileResult::Success();
        const std::filesystem::path base(TempFileName);
        const std::string baseName = base.filename().string();
        const std::string datName = baseName + ".dat";
        // The lock file is removed by its holder, which may be working on the record right now.
        const std::string lockName = baseName + ".lock";
        platform::FileResult result = platform::FileResult::Success();
        std::error_code error;
        for (const auto &entry : std::filesystem::directory_iterator(base.parent_path(), error)) {
          const std::string name = entry.path().filename().string();
          const bool belongs = name == baseName || name.starts_with(baseName + ".");
          if (!belongs || name == datName || name == lockName || entry.is_directory(error))
            continue;
          const platform::FileResult removed = RemoveFile(entry.path().string());
          if (!removed && result)
            result = removed;
        }
        if (!result)
          ReportError("procedure TLocalDownloadinfo.DeletePartFiles", result.error);
        return result;
      },
      platform::FileResult::Failure("The part files of " + TempFileName + " could not be deleted."));
}

void TLDIList::Remove(const TLocalDownloadinfo *record) {
  const auto found = std::find(records_.begin(), records_.end(), record);
  if (found != records_.end())
    records_.erase(found);
}

template <class Predicate> TLDIList TLDIList::Filter(Predicate keep) const {
  TLDIList kept;
  for (TLocalDownloadinfo *record : records_)
    if (keep(*record))
      kept.Add(record);
  return kept;
}

TLDIList TLDIList::GetByCategory(const TCategory *category) const {
  return Filter([category](const TLocalDownloadinfo &record) { return record.Category == category; });
}

TLDIList TLDIList::GetWithCategory() const {
  return Filter([](const TLocalDownloadinfo &record) { return record.Category != nullptr; });
}

TLDIList TLDIList::GetNotDone() const {
  return Filter([](const TLocalDownloadinfo &record) { return !record.IsDone(); });
}

TLDIList TLDIList::GetByStatus(std::string_view status) const {
  return Filter([status](const TLocalDownloadinfo &record) { return record.Status == status; });
}

TLDIList TLDIList::GetByStatus(TStatusState state) const {
  return Filter([state](const TLocalDownloadinfo &record) { return record.StatusState == state; });
}

TLocalDownloadinfo *TLDIList::GetByTimer(const platform::LoopTimer *timer) const {
  if (timer == nullptr)
    return nullptr;
  const auto found =
      std::find_if(records_.rbegin(), records_.rend(),
                   [timer](const TLocalDownloadinfo *record) { return record->RetryTimer == timer; });
  return found == records_.rend() ? nullptr : *found;
}

TLDIList TLDIList::GetDoneSince(TDateTime moment) const {
  return Filter([moment](const TLocalDownloadinfo &record) {
    return record.IsDone() && record.LastActivity >= moment;
  });
}

bool TLDIList::FileInUse(std::string_view fileName) const {
  return Guarded("function TLDIList.FileInUse(fileName : string) : boolean", [&] {
    return !fileName.empty() &&
           std::any_of(records_.begin(), records_.end(), [fileName](const TLocalDownloadinfo *record) {
             return EqualsIgnoringCase(record->LocalFileName, fileName);
           });
  });
}

std::string GenerateRandomAlphaNums(int32_t numberOfAlphaNums) {
  return Guarded("function GenerateRandomAlphaNums(NumberOfAlphaNums : integer) : string", [&] {
    std::uniform_int_distribution<int> draw(0, 41);
    std::string text;
    for (int32_t i = 0; i < numberOfAlphaNums; ++i) {
      int code = '0' + draw(RandomGenerator());
      // The seven codes between "9" and "A" land on "A" to "G".
      if (code >= 58 && code <= 64)
        code += 7;
      text += static_cast<char>(code);
    }
    return text;
  });
}

std::string GetTempFileName(const std::string &tempDir) {
  return Guarded("function GetTempFileName(TempDir : string) : string", [&] {
    std::filesystem::create_directories(tempDir);
    const std::string folder = tempDir.ends_with('/') ? tempDir : tempDir + "/";
    // A base name is taken when any file of the folder has it before its first ".".
    std::set<std::string> taken;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      taken.insert(LowerAscii(name.substr(0, name.find('.'))));
    }
    for (int attempt = 0; attempt < kMaxTempNameTries; ++attempt) {
      const std::string name = GenerateRandomAlphaNums(kTempNameLength);
      if (!taken.contains(LowerAscii(name)))
        return folder + name;
    }
    throw std::runtime_error("no free name in " + folder);
  });
}

} // namespace velmora
