#include "ui/DownloadListDelegate.h"

#include "engine/Downloader.h"
#include "management/ProgressBarGeometry.h"
#include "ui/DownloadListModel.h"
#include "ui/ThemeColors.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>

namespace velmora {

TDownloadListDelegate::TDownloadListDelegate(
    const TConstants &words, std::function<TDownloader *(const TLocalDownloadinfo *)> downloaderOf,
    QObject *parent)
    : QStyledItemDelegate(parent), words_(words), downloaderOf_(std::move(downloaderOf)) {}

void TDownloadListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                  const QModelIndex &index) const {
  const auto *row = static_cast<const rNode *>(index.data(TDownloadListModel::kRowRole).value<void *>());
  const QPalette &palette = option.palette;
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  if (row != nullptr && index.column() == lcStatus && DrawProgressBars &&
      PaintBars(painter, option.rect, *row, selected)) {
    // The bars replace the text.
  } else {
    QStyleOptionViewItem plain = option;
    plain.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    if (selected)
      painter->fillRect(option.rect, palette.color(QPalette::Button));
    QStyledItemDelegate::paint(painter, plain, index);
  }
  // The focused row is marked with a line along the top and bottom of each cell.
  const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
  if (view != nullptr && view->currentIndex().row() == index.row()) {
    painter->save();
    painter->setPen(ToQColor(kSystemColor + 10, palette));
    painter->drawLine(option.rect.topLeft(), option.rect.topRight());
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
  }
}

bool TDownloadListDelegate::PaintBars(QPainter *painter, const QRect &cell, const rNode &row,
                                      bool selected) const {
  TDownloader *downloader = downloaderOf_ ? downloaderOf_(row.LDI) : nullptr;
  if (downloader == nullptr || row.LDI->StatusState != TStatusState::Downloading)
    return false;
  std::vector<TBarSlot> parts;
  for (int32_t i = 0; i < downloader->Slots.NumberOfSlots(); ++i)
    if (const TPartDownloadSlot *slot = downloader->Slots.GetSlot(i))
      parts.push_back({slot->StartByte, slot->EndByte, slot->TransferCount()});
  const TProgressBars bars = ComputeProgressBars({0, 0, cell.width(), cell.height()},
                                                 downloader->TransferCount(), row.LDI->FileSize, parts);
  const QPalette &palette = QApplication::palette();
  const auto rect = [](const TBarRect &r) {
    return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1));
  };
  painter->save();
  painter->translate(cell.topLeft());
  painter->fillRect(QRect(0, 0, cell.width(), cell.height()),
                    selected ? palette.color(QPalette::Button) : QColor(Qt::white));
  painter->setPen(Qt::black);
  painter->setBrush(Qt::white);
  painter->drawRect(rect(bars.UpperFrame));
  painter->drawRect(rect(bars.LowerFrame));
  painter->setPen(Qt::NoPen);
  painter->setBrush(ToQColor(Theme.Done, palette));
  if (bars.UpperBar.Right > bars.UpperBar.Left)
    painter->drawRect(rect(bars.UpperBar));
  painter->setBrush(ToQColor(Theme.Downloading, palette));
  for (const TBarRect &segment : bars.Segments)
    if (segment.Right > segment.Left)
      painter->drawRect(rect(segment));
  painter->restore();
  return true;
}

} // namespace velmora
