#pragma once

#include "management/ViewTree.h"
#include "shell/Constants.h"
#include "store/LocalDownloadInfo.h"
#include "store/RecordDateTime.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora {

class TDownloader;
class TCategoryList;

// The ready-made texts of one row of the download list, so painting a cell computes nothing.
struct rNode {
  TLocalDownloadinfo *LDI = nullptr;
  std::string FileName;
  std::string Status;
  std::string Downloaded;
  std::string Size;
  std::string TimeLeft;
  std::string Rate;
  std::string Added;
  std::string Folder;
  std::string Description;
  int32_t SysIconIndex = 0;  // 0 or less: not looked up yet
  int32_t ExeIconIndex = -1; // no program icon
  // The byte count the "Completed" column sorts by, taken when the row was filled.
  int64_t DownloadedBytes = 0;
};
using PrNode = rNode *;

// The list columns by their fixed index.
enum TListColumn : int {
  lcFileName = 0,
  lcStatus,
  lcCompleted,
  lcTotal,
  lcTimeLeft,
  lcRate,
  lcTimeAdded,
  lcSavePath,
  lcDescription,
  kListColumnCount
};
// The text a column shows of a row; empty for an index outside the columns.
const std::string &CellText(const rNode &row, int column);
// Below 0 when a sorts before b ascending, 0 when equal.
int CompareRows(const rNode &a, const rNode &b, int column);

// What the rows need of the download system.
class IRowSource {
public:
  virtual ~IRowSource() = default;
  virtual TLDIList AllRecords() const = 0;
  virtual std::vector<TDownloader *> ActiveDownloaders() const = 0;
  virtual TDownloader *AssociatedDownloader(const TLocalDownloadinfo *record) const = 0;
};

// Told of every change of the rows, so a list model can follow them one for one.
class IRowObserver {
public:
  virtual ~IRowObserver() = default;
  virtual void RowsAboutToReset() = 0;
  virtual void RowsReset() = 0;
  virtual void RowAboutToInsert(std::size_t index) = 0;
  virtual void RowInserted() = 0;
  virtual void RowAboutToRemove(std::size_t index) = 0;
  virtual void RowRemoved() = 0;
  virtual void RowsChanged(std::size_t first, std::size_t last) = 0;
};

struct TDownloadRowsContext {
  const IRowSource &Source;
  const TConstants &Words;
  TCategoryList &Categories;
  TViewTree &Tree;
  std::string DecimalSeparator;
  std::function<TDateTime()> Now = NowLocal;
  // The file-type icon index of a file name (by its name alone); none: icons are never looked up.
  std::function<int32_t(const std::string &fileName)> FileTypeIcon = {};
};

// The rows of the download list for the view selected in the tree: which records a view shows,
// the row texts, the sorted place of a new row, and updates that touch only their own row. A
// refilled row keeps its place; only a fill, a new row or a sort orders rows.
class TDownloadRows {
public:
  explicit TDownloadRows(TDownloadRowsContext context);

  IRowObserver *Observer = nullptr;
  int SortColumn = lcFileName; // -1: unsorted
  bool SortAscending = true;

  std::size_t Count() const { return rows_.size(); }
  const rNode &Row(std::size_t index) const { return *rows_[index]; }

  void SetNodeData(rNode &Data, TLocalDownloadinfo &LDI) const;
  void PopulateGrid(const TLDIList &LDIList);
  void ShowAll();
  void ShowStatus(const std::string &Status);
  void ShowAllStatus();
  void ShowCategory(const std::string &strCategory);
  void ShowAllCategory();
  void ShowHistory(const std::string &History);
  // Shows the view of the tree's selected node.
  void ShowSelectedView();

  bool BelongsToCurrentView(const TLocalDownloadinfo &record) const;
  void InsertRow(TLocalDownloadinfo &record);
  // Adds or removes the record's row at once; a row that stays is refilled at the next Flush, so
  // a record that changes often is repainted at most once per flush. True when it had a row.
  bool UpdateRow(TLocalDownloadinfo &ldi);
  // Refills the rows updated since the last flush, telling the observer once per run of rows.
  void Flush();
  // -1 when the record has no row.
  std::ptrdiff_t AssociatedRow(const TLocalDownloadinfo *record) const;
  // The records of the given rows, top to bottom.
  TLDIList GetSelectedFromList(std::vector<std::size_t> selectedRows) const;
  // Orders every row by the sort column and direction.
  void Sort();

private:
  std::unique_ptr<rNode> MakeRow(TLocalDownloadinfo &record) const;
  std::size_t SortedPlace(const rNode &row) const;
  TLDIList StatusList(const std::string &Status) const;

  TDownloadRowsContext context_;
  std::vector<std::unique_ptr<rNode>> rows_;
  std::set<const TLocalDownloadinfo *> dirty_;
  // Bytes of part files per base name, from one listing of the partial folder during a fill.
  const std::unordered_map<std::string, int64_t> *partBytes_ = nullptr;
};

// The bytes of every base name's part files in folder (TempFileName.<digits>), from one listing.
std::unordered_map<std::string, int64_t> ListPartBytes(const std::string &folder);

} // namespace velmora
