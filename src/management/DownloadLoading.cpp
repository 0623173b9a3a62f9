#include "management/Downloads.h"

#include "management/FileNames.h"
#include "shell/ReportError.h"
#include "store/Categories.h"
#include "store/RecordLeftovers.h"
#include "store/RecordLock.h"
#include "store/SettingDefinitions.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace velmora {

namespace {

bool Exists(const std::string &path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

} // namespace

void TDownloadSystem::UpdateGridInfo() {
  GuardedVoid("procedure TDownloadSystem.UpdateGridInfo", [&] {
    const TConstants &words = context_.Words;
    const bool removeUnexisting = ReadSetting(context_.Settings, setting::RemoveUnexistingFilesFromList);
    std::vector<std::unique_ptr<TLocalDownloadinfo>> loaded;
    RemoveRecordSaveLeftovers(context_.Records.PartialDownloadsFolder());
    for (const std::string &datFile : GetDatFileNames()) {
      const std::string tempFileName = datFile.substr(0, datFile.size() - 4);
      if (records_.HasTempFileName(tempFileName))
        continue;
      auto record =
          std::make_unique<TLocalDownloadinfo>(TUrl("", words.Unknown), tempFileName, context_.Records);
      // Another process works on it: listed as its file says, never rewritten here.
      if (!record->Damaged() && TRecordLock::InUse(tempFileName)) {
        loaded.push_back(std::move(record));
        continue;
      }
      if (record->Damaged()) {
        // Kept with its files, so nothing the user may still want is lost; the row says why.
        ReportError("procedure TDownloadSystem.UpdateGridInfo", record->LoadError);
        SetStatus(*record, record->LoadError, kStatusCodeError);
        loaded.push_back(std::move(record));
        continue;
      }
      const bool drop = record->LocalFileName.empty() ||
                        (removeUnexisting && record->IsDone() && !Exists(record->LocalFileName)) ||
                        (record->StatusState == TStatusState::Downloading && !Exists(tempFileName + ".0"));
      if (drop) {
        record->DeleteDatFile();
        continue;
      }
      if (record->StatusState == TStatusState::Downloading || record->StatusState == TStatusState::Queued) {
        SetStatus(*record, words.Paused, kStatusCodePaused);
        SaveRecord(*record, "procedure TDownloadSystem.UpdateGridInfo");
      }
      loaded.push_back(std::move(record));
    }
    // The list (and so the queue) keeps the order in which the downloads were added.
    std::stable_sort(loaded.begin(), loaded.end(),
                     [](const auto &a, const auto &b) { return a->Created < b->Created; });
    for (auto &record : loaded)
      records_.Append(std::move(record));
  });
}

void TDownloadSystem::DecideLocalFileName(TLocalDownloadinfo &record, bool mayAsk) {
  const TSettingsStore &settings = context_.Settings;
  const std::string name = FileNameFromUrl(record.Url);
  // Downloads still waiting for their Save As choice count too.
  const TLDIList others = records_.Others(record);
  const TFileInUse inUse = [&others](const std::string &fileName) { return others.FileInUse(fileName); };
  if (ReadSetting(settings, setting::DateFolders)) {
    const std::string folder =
        WithTrailingSlash(DefaultDownloadDirectory()) + GetDateFolderName(settings, context_.Today()) + "/";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
      ReportError("procedure TDownloadSystem.AddDownload(ldi : TLocalDownloadinfo)",
                  folder + ": " + error.message());
    record.LocalFileName = GetUniqueFileName(folder + name, inUse);
  }
  const TCategoryList *categories = context_.Records.Categories;
  record.Category = categories != nullptr ? categories->GetByFileName(name) : nullptr;
  if (record.Category != nullptr && record.Category->AutoSave && !record.Category->SaveFolder.empty())
    record.LocalFileName = GetUniqueFileName(WithTrailingSlash(record.Category->SaveFolder) + name, inUse);
  if (record.LocalFileName.empty() && (!mayAsk || !ReadSetting(settings, setting::ShowSaveDialog)))
    record.LocalFileName = GetUniqueFileName(WithTrailingSlash(DefaultDownloadDirectory()) + name, inUse);
}

} // namespace velmora
