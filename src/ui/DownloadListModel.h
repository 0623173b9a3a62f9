#pragma once

#include "management/DownloadRows.h"
#include "shell/Constants.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <functional>

namespace velmora {

// The download list as Qt sees it: a flat table that follows the rows one for one, so an updated
// row stays where it is and only the rows that changed repaint.
class TDownloadListModel : public QAbstractTableModel, public IRowObserver {
public:
  static constexpr int kRowRole = Qt::UserRole + 1; // the row's rNode as a pointer

  TDownloadListModel(TDownloadRows &rows, std::function<QString(const char *)> translate,
                     QObject *parent = nullptr);

  TThemeColors Theme = kStandardTheme;

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void RowsAboutToReset() override { beginResetModel(); }
  void RowsReset() override { endResetModel(); }
  void RowAboutToInsert(std::size_t index) override;
  void RowInserted() override { endInsertRows(); }
  void RowAboutToRemove(std::size_t index) override;
  void RowRemoved() override { endRemoveRows(); }
  void RowsChanged(std::size_t first, std::size_t last) override;

  // The file-type icon of a name, looked up by its extension once.
  QIcon FileTypeIcon(const std::string &fileName) const;

private:
  TDownloadRows &rows_;
  std::function<QString(const char *)> translate_;
  mutable QHash<QString, QIcon> icons_;
};

// The English captions of the nine columns and their settings key suffixes, by index.
extern const char *const kColumnCaptions[kListColumnCount];
extern const char *const kColumnKeys[kListColumnCount];
extern const int kColumnWidths[kListColumnCount];
extern const bool kColumnVisible[kListColumnCount];
extern const int kColumnPositions[kListColumnCount];

} // namespace velmora
