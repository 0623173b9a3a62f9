#include "ui/DownloadListModel.h"

#include "ui/ThemeColors.h"

#include <QApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStyle>

namespace velmora {

const char *const kColumnCaptions[kListColumnCount] = {"File Name",  "Status",    "Completed",
                                                       "Total",      "Time Left", "kB/s",
                                                       "Time Added", "Save Path", "Description"};
const char *const kColumnKeys[kListColumnCount] = {
    "FileName", "Status", "Completed", "Total", "TimeLeft", "kbps", "TimeAdded", "SavePath", "Description"};
const int kColumnWidths[kListColumnCount] = {100, 60, 65, 60, 60, 50, 105, 80, 70};
const bool kColumnVisible[kListColumnCount] = {true, true, true, true, true, true, false, true, false};
const int kColumnPositions[kListColumnCount] = {0, 1, 2, 3, 4, 5, 7, 6, 8};

TDownloadListModel::TDownloadListModel(TDownloadRows &rows, std::function<QString(const char *)> translate,
                                       QObject *parent)
    : QAbstractTableModel(parent), rows_(rows), translate_(std::move(translate)) {}

int TDownloadListModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.Count());
}

int TDownloadListModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : kListColumnCount;
}

QVariant TDownloadListModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_.Count())
    return {};
  const rNode &row = rows_.Row(static_cast<std::size_t>(index.row()));
  switch (role) {
  case Qt::DisplayRole:
  case Qt::AccessibleTextRole:
    return QString::fromStdString(CellText(row, index.column()));
  case Qt::ForegroundRole:
    return ToQColor(GetStatusColor(row.LDI->StatusImage, Theme), QApplication::palette());
  case Qt::DecorationRole:
    if (index.column() == lcFileName)
      return FileTypeIcon(row.FileName);
    return {};
  case kRowRole:
    return QVariant::fromValue(static_cast<void *>(const_cast<rNode *>(&row)));
  default:
    return {};
  }
}

QVariant TDownloadListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kListColumnCount)
    return {};
  return translate_(kColumnCaptions[section]);
}

void TDownloadListModel::RowAboutToInsert(std::size_t index) {
  beginInsertRows({}, static_cast<int>(index), static_cast<int>(index));
}

void TDownloadListModel::RowAboutToRemove(std::size_t index) {
  beginRemoveRows({}, static_cast<int>(index), static_cast<int>(index));
}

void TDownloadListModel::RowsChanged(std::size_t first, std::size_t last) {
  emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), kListColumnCount - 1));
}

QIcon TDownloadListModel::FileTypeIcon(const std::string &fileName) const {
  const QString name = QString::fromStdString(fileName);
  const QString extension = QFileInfo(name).suffix().toLower();
  if (const auto cached = icons_.constFind(extension); cached != icons_.constEnd())
    return *cached;
  static const QMimeDatabase database;
  const QMimeType type = database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
  QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
  if (icon.isNull())
    icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
  icons_.insert(extension, icon);
  return icon;
}

} // namespace velmora
