#pragma once

#include "management/DownloadRows.h"

#include <QStyledItemDelegate>
#include <functional>

namespace velmora {

class TDownloader;

// Paints a cell of the download list: selected rows on the button face, text always in the row's
// status colour, the focused row's lines, and the two progress bars of a running download.
class TDownloadListDelegate : public QStyledItemDelegate {
public:
  TDownloadListDelegate(const TConstants &words,
                        std::function<TDownloader *(const TLocalDownloadinfo *)> downloaderOf,
                        QObject *parent = nullptr);

  bool DrawProgressBars = true;
  TThemeColors Theme = kStandardTheme;

  void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
  bool PaintBars(QPainter *painter, const QRect &cell, const rNode &row, bool selected) const;

  const TConstants &words_;
  std::function<TDownloader *(const TLocalDownloadinfo *)> downloaderOf_;
};

} // namespace velmora
