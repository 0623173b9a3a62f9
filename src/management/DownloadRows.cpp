#include "management/DownloadRows.h"

#include "engine/Downloader.h"
#include "management/Downloads.h"
#include "shell/ReportError.h"
#include "store/Categories.h"
#include "store/IndependentGeneralFunctions.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>

namespace velmora {

namespace {

// Created in the user's short date and long time format; the date alone at exactly midnight.
std::string FormatAdded(TDateTime moment) {
  if (!std::isfinite(moment) || std::fabs(moment) > 3e6)
    return {};
  using namespace std::chrono;
  const double wholeDays = std::floor(moment);
  const auto seconds = static_cast<long>(std::lround((moment - wholeDays) * 86400.0));
  const year_month_day date{sys_days{year{1899} / December / 30} + days{static_cast<long>(wholeDays)}};
  std::tm parts{};
  parts.tm_year = static_cast<int>(date.year()) - 1900;
  parts.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  parts.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  parts.tm_hour = static_cast<int>(seconds / 3600 % 24);
  parts.tm_min = static_cast<int>(seconds / 60 % 60);
  parts.tm_sec = static_cast<int>(seconds % 60);
  char text[128];
  // The user's locale decides the date's form, two-digit years included.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
  const std::size_t length = std::strftime(text, sizeof text, seconds == 0 ? "%x" : "%x %X", &parts);
#pragma GCC diagnostic pop
  return std::string(text, length);
}

int CompareText(const std::string &a, const std::string &b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb)
      return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

template <class T> int CompareValues(T a, T b) { return a < b ? -1 : b < a ? 1 : 0; }

// The shown rate as a number: "N/A", empty or unreadable count 0; "," reads as the decimal point.
double RateValue(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  double value = 0;
  const char *begin =
      text.data() +
      (text.find_first_not_of(' ') == std::string::npos ? text.size() : text.find_first_not_of(' '));
  const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
  (void)end;
  return error == std::errc() ? value : 0;
}

std::string FolderPart(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NamePart(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

const std::string &CellText(const rNode &row, int column) {
  static const std::string empty;
  switch (column) {
  case lcFileName:
    return row.FileName;
  case lcStatus:
    return row.Status;
  case lcCompleted:
    return row.Downloaded;
  case lcTotal:
    return row.Size;
  case lcTimeLeft:
    return row.TimeLeft;
  case lcRate:
    return row.Rate;
  case lcTimeAdded:
    return row.Added;
  case lcSavePath:
    return row.Folder;
  case lcDescription:
    return row.Description;
  default:
    return empty;
  }
}

int CompareRows(const rNode &a, const rNode &b, int column) {
  switch (column) {
  case lcStatus:
    return CompareText(a.Status, b.Status);
  case lcCompleted:
    return CompareValues(a.DownloadedBytes, b.DownloadedBytes);
  case lcTotal:
    return CompareValues(a.LDI->FileSize, b.LDI->FileSize);
  case lcTimeLeft:
    return CompareValues(TimeStringToSeconds(a.TimeLeft), TimeStringToSeconds(b.TimeLeft));
  case lcRate:
    return CompareValues(RateValue(a.Rate), RateValue(b.Rate));
  // The shown text has whole seconds: the record's moment rounded to them orders the same.
  case lcTimeAdded:
    return CompareValues(std::llround(a.LDI->Created * 86400.0), std::llround(b.LDI->Created * 86400.0));
  case lcSavePath:
    return CompareText(a.Folder, b.Folder);
  case lcDescription:
    return CompareText(a.Description, b.Description);
  default:
    return CompareText(a.FileName, b.FileName);
  }
}

std::unordered_map<std::string, int64_t> ListPartBytes(const std::string &folder) {
  std::unordered_map<std::string, int64_t> bytes;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos || name.find(".dat") != std::string::npos)
      continue;
    std::error_code sizeError;
    if (it->is_regular_file(sizeError) && !it->is_symlink(sizeError))
      bytes[(std::filesystem::path(folder) / name.substr(0, dot)).string()] +=
          static_cast<int64_t>(it->file_size(sizeError));
  }
  return bytes;
}

TDownloadRows::TDownloadRows(TDownloadRowsContext context) : context_(std::move(context)) {}

void TDownloadRows::SetNodeData(rNode &Data, TLocalDownloadinfo &LDI) const {
  GuardedVoid("procedure TDownloadSystem.SetNodeData(Data : PrNode; LDI : TLocalDownloadinfo)", [&] {
    const TConstants &words = context_.Words;
    Data.LDI = &LDI;
    Data.FileName = NamePart(LDI.LocalFileName);
    Data.Added = FormatAdded(LDI.Created);
    Data.Status = LDI.Status;
    if (LDI.RetryTimer != nullptr)
      Data.Status += " (" + std::to_string(LDI.RetryCountdown) + ")";
    Data.Size = LDI.FileSize == 0
                    ? words.Unknown
                    : BytesToPresentableString(LDI.FileSize, words.Unknown, context_.DecimalSeparator);
    Data.TimeLeft.clear();
    Data.Rate.clear();
    if (LDI.IsDone()) {
      Data.Downloaded = Data.Size;
      Data.DownloadedBytes = LDI.FileSize;
    } else if (const TDownloader *downloader = context_.Source.AssociatedDownloader(&LDI)) {
      Data.DownloadedBytes = downloader->TransferCount();
      Data.Downloaded =
          BytesToPresentableString(Data.DownloadedBytes, words.Unknown, context_.DecimalSeparator);
      if (LDI.RetryTimer == nullptr) {
        Data.TimeLeft = downloader->TimeLeft();
        Data.Rate = downloader->TransferRate();
      }
    } else {
      if (partBytes_ == nullptr) {
        Data.DownloadedBytes = TDownloadSystem::BytesDownloaded(LDI.TempFileName);
      } else {
        const auto listed = partBytes_->find(LDI.TempFileName);
        Data.DownloadedBytes = listed == partBytes_->end() ? 0 : listed->second;
      }
      Data.Downloaded =
          BytesToPresentableString(Data.DownloadedBytes, words.Unknown, context_.DecimalSeparator);
    }
    Data.Folder = FolderPart(LDI.LocalFileName);
    Data.Description = LDI.Description;
    if (Data.SysIconIndex <= 0) {
      if (context_.FileTypeIcon)
        Data.SysIconIndex = context_.FileTypeIcon(Data.FileName);
      Data.ExeIconIndex = -1;
    }
  });
}

std::unique_ptr<rNode> TDownloadRows::MakeRow(TLocalDownloadinfo &record) const {
  auto row = std::make_unique<rNode>();
  SetNodeData(*row, record);
  return row;
}

void TDownloadRows::PopulateGrid(const TLDIList &LDIList) {
  GuardedVoid("procedure TDownloadSystem.PopulateGrid(LDIList : TLDIList)", [&] {
    if (Observer != nullptr)
      Observer->RowsAboutToReset();
    rows_.clear();
    dirty_.clear();
    // One listing per folder of part files, not one per row.
    std::unordered_map<std::string, int64_t> bytes;
    std::set<std::string> listed;
    for (const TLocalDownloadinfo *record : LDIList) {
      const std::string folder = std::filesystem::path(record->TempFileName).parent_path().string();
      if (listed.insert(folder).second)
        bytes.merge(ListPartBytes(folder));
    }
    partBytes_ = &bytes;
    rows_.reserve(LDIList.Count());
    for (TLocalDownloadinfo *record : LDIList)
      rows_.push_back(MakeRow(*record));
    partBytes_ = nullptr;
    if (SortColumn >= 0)
      std::stable_sort(rows_.begin(), rows_.end(), [this](const auto &a, const auto &b) {
        const int order = CompareRows(*a, *b, SortColumn);
        return SortAscending ? order < 0 : order > 0;
      });
    if (Observer != nullptr)
      Observer->RowsReset();
  });
}

void TDownloadRows::Sort() {
  if (Observer != nullptr)
    Observer->RowsAboutToReset();
  if (SortColumn >= 0)
    std::stable_sort(rows_.begin(), rows_.end(), [this](const auto &a, const auto &b) {
      const int order = CompareRows(*a, *b, SortColumn);
      return SortAscending ? order < 0 : order > 0;
    });
  if (Observer != nullptr)
    Observer->RowsReset();
}

void TDownloadRows::ShowAll() { PopulateGrid(context_.Source.AllRecords()); }

TLDIList TDownloadRows::StatusList(const std::string &Status) const {
  if (Status == context_.Words.Downloading) {
    TLDIList list;
    for (TDownloader *downloader : context_.Source.ActiveDownloaders())
      list.Add(&downloader->Info);
    return list;
  }
  return context_.Source.AllRecords().GetByStatus(context_.Words.StateOf(Status));
}

void TDownloadRows::ShowStatus(const std::string &Status) { PopulateGrid(StatusList(Status)); }

void TDownloadRows::ShowAllStatus() { PopulateGrid(context_.Source.AllRecords().GetNotDone()); }

void TDownloadRows::ShowCategory(const std::string &strCategory) {
  TLDIList list;
  const TLDIList all = context_.Source.AllRecords();
  if (TCategory *category = context_.Categories.GetByName(strCategory)) {
    list = all.GetByCategory(category);
    for (TCategory *below : context_.Categories.GetSubCategories(*category))
      for (TLocalDownloadinfo *record : all.GetByCategory(below))
        if (std::find(list.begin(), list.end(), record) == list.end())
          list.Add(record);
  }
  PopulateGrid(list);
}

void TDownloadRows::ShowAllCategory() { PopulateGrid(context_.Source.AllRecords().GetWithCategory()); }

void TDownloadRows::ShowHistory(const std::string &History) {
  const TConstants &words = context_.Words;
  const TDateTime now = context_.Now();
  const double back = History == words.Hours24  ? 1
                      : History == words.Days7  ? 7
                      : History == words.Days30 ? 30
                                                : 0;
  PopulateGrid(context_.Source.AllRecords().GetDoneSince(now - back));
}

void TDownloadRows::ShowSelectedView() {
  GuardedVoid("procedure TForm_Main.PopulateVDT(KeepSelection : boolean)", [&] {
    TViewTree &tree = context_.Tree;
    TTreeNode *selected = tree.Selected;
    TTreeNode *group = tree.GroupOf(selected);
    if (selected == nullptr || group == nullptr || group == &tree.All())
      ShowAll();
    else if (selected == &tree.CategoriesRoot())
      ShowAllCategory();
    else if (group == &tree.CategoriesRoot())
      ShowCategory(selected->Caption);
    else if (group == &tree.Status())
      selected == group ? ShowAllStatus() : ShowStatus(selected->Caption);
    else
      selected == group ? ShowStatus(context_.Words.Done) : ShowHistory(selected->Caption);
  });
}

bool TDownloadRows::BelongsToCurrentView(const TLocalDownloadinfo &record) const {
  return Guarded("function TDownloadSystem.BelongsToCurrentView(LDI : TLocalDownloadinfo) : boolean", [&] {
    const TLDIList all = context_.Source.AllRecords();
    if (std::find(all.begin(), all.end(), &record) == all.end())
      return false;
    const TViewTree &tree = context_.Tree;
    if (tree.Count() <= 1)
      return true;
    const TTreeNode *selected = tree.Selected;
    const TTreeNode *group = tree.GroupOf(selected);
    if (group == &tree.CategoriesRoot()) {
      if (selected == group)
        return record.Category != nullptr;
      if (record.Category == nullptr)
        return false;
      if (selected->Caption == record.Category->Name)
        return true;
      for (const TTreeNode *below : selected->Descendants())
        if (below->Caption == record.Category->Name)
          return true;
      return false;
    }
    if (group == &tree.Status()) {
      if (selected == group)
        return record.StatusImage != kStatusCodeDone;
      if (selected->Caption == context_.Words.Downloading)
        return record.StatusImage == kStatusCodeConnecting || record.StatusImage == kStatusCodeDownloading ||
               record.StatusImage == kStatusCodeError;
      return record.StatusState == context_.Words.StateOf(selected->Caption);
    }
    if (group == &tree.History())
      return record.IsDone();
    return true;
  });
}

std::size_t TDownloadRows::SortedPlace(const rNode &row) const {
  if (SortColumn < 0)
    return rows_.size();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const int order = CompareRows(row, *rows_[i], SortColumn);
    if (SortAscending ? order < 0 : order > 0)
      return i;
  }
  return rows_.size();
}

void TDownloadRows::InsertRow(TLocalDownloadinfo &record) {
  GuardedVoid("procedure TDownloadSystem.InsertRow(LDI : TLocalDownloadinfo)", [&] {
    std::unique_ptr<rNode> row = MakeRow(record);
    const std::size_t place = SortedPlace(*row);
    if (Observer != nullptr)
      Observer->RowAboutToInsert(place);
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(place), std::move(row));
    if (Observer != nullptr)
      Observer->RowInserted();
  });
}

bool TDownloadRows::UpdateRow(TLocalDownloadinfo &ldi) {
  return Guarded("function TDownloadSystem.UpdateRow(ldi : TLocalDownloadinfo) : boolean", [&] {
    const std::ptrdiff_t index = AssociatedRow(&ldi);
    if (index < 0) {
      if (BelongsToCurrentView(ldi))
        InsertRow(ldi);
      return false;
    }
    if (BelongsToCurrentView(ldi)) {
      dirty_.insert(&ldi);
      return true;
    }
    dirty_.erase(&ldi);
    if (Observer != nullptr)
      Observer->RowAboutToRemove(static_cast<std::size_t>(index));
    rows_.erase(rows_.begin() + index);
    if (Observer != nullptr)
      Observer->RowRemoved();
    return true;
  });
}

void TDownloadRows::Flush() {
  GuardedVoid("procedure TDownloadRows.Flush", [&] {
    if (dirty_.empty())
      return;
    const std::set<const TLocalDownloadinfo *> dirty = std::move(dirty_);
    dirty_.clear();
    std::ptrdiff_t runStart = -1;
    for (std::size_t i = 0; i <= rows_.size(); ++i) {
      const bool refill = i < rows_.size() && dirty.contains(rows_[i]->LDI);
      if (refill) {
        SetNodeData(*rows_[i], *rows_[i]->LDI);
        if (runStart < 0)
          runStart = static_cast<std::ptrdiff_t>(i);
      } else if (runStart >= 0) {
        if (Observer != nullptr)
          Observer->RowsChanged(static_cast<std::size_t>(runStart), i - 1);
        runStart = -1;
      }
    }
  });
}

std::ptrdiff_t TDownloadRows::AssociatedRow(const TLocalDownloadinfo *record) const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i]->LDI == record)
      return static_cast<std::ptrdiff_t>(i);
  return -1;
}

TLDIList TDownloadRows::GetSelectedFromList(std::vector<std::size_t> selectedRows) const {
  std::sort(selectedRows.begin(), selectedRows.end());
  selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
  TLDIList list;
  for (std::size_t index : selectedRows)
    if (index < rows_.size())
      list.Add(rows_[index]->LDI);
  return list;
}

} // namespace velmora
