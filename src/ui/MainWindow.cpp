#include "ui/MainWindow.h"

#include "platform/AtomicFile.h"
#include "shell/ReportError.h"
#include "store/WindowGeometry.h"
#include "ui/DownloadListDelegate.h"
#include "ui/DownloadListModel.h"
#include "ui/ForegroundWindow.h"
#include "ui/ThemeColors.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <charconv>
#include <map>

namespace velmora {

namespace {

constexpr const char *kOptions = "Options";
constexpr const char *kFormName = "Form_Main";
constexpr int kFlushInterval = 200; // a changed row repaints at most five times a second

struct TToolbarButton {
  const char *Caption;
  const char *Hint;
  QStyle::StandardPixmap Glyph;
};
const TToolbarButton kButtons[] = {
    {"Add", "Add a new URL to download", QStyle::SP_FileDialogNewFolder},
    {"Delete", "Delete all selected files from list (not from disk!)", QStyle::SP_TrashIcon},
    {"Pause", "Pause all selected downloads", QStyle::SP_MediaPause},
    {"Resume", "Resume all selected downloads", QStyle::SP_MediaPlay},
    {"Scheduler", "Change scheduler settings", QStyle::SP_FileDialogDetailedView},
    {"Hang Up", "Hang up on completion of downloads (modem users only)", QStyle::SP_DialogCloseButton},
    {"Options...", "Change program settings", QStyle::SP_FileDialogInfoView},
};

// Wide enough for the English captions in the desktop's usual fonts; longer translations end in "...".
const int kButtonWidths[] = {56, 56, 56, 62, 72, 66, 69};

// A label that writes its help text into the first status bar panel while the mouse is over it.
class THintFilter : public QObject {
public:
  THintFilter(QLabel *panel, QObject *parent) : QObject(parent), panel_(panel) {}
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Enter)
      if (const QVariant hint = watched->property("helpText"); hint.isValid())
        panel_->setText(hint.toString());
    return false;
  }

private:
  QLabel *panel_;
};

} // namespace

TForm_Main::TForm_Main(TMainWindowContext context)
    : context_(std::move(context)), viewTree_(context_.Words, context_.Categories) {
  setObjectName(kFormName);
  setWindowTitle(QStringLiteral("Velmora " VELMORA_VERSION));
  setMinimumSize(400, 200);
  resize(623, 432);
  move(269, 103);
  BuildMenus();
  auto *central = new QWidget(this);
  auto *layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  BuildToolbar();
  layout->addWidget(buttonPanel_);
  auto *splitter = new QSplitter(Qt::Horizontal, central);
  splitter->setObjectName("Splitter1");
  splitter->setChildrenCollapsible(false);
  tree_ = new QTreeWidget(splitter);
  tree_->setObjectName("TreeView_Categories");
  tree_->setHeaderHidden(true);
  tree_->setMinimumWidth(20);
  list_ = new QTreeView(splitter);
  list_->setObjectName("VDT_Downloads");
  list_->setAccessibleName("VDT_Downloads");
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAllColumnsShowFocus(true);
  splitter->addWidget(tree_);
  splitter->addWidget(list_);
  splitter->setStretchFactor(1, 1);
  layout->addWidget(splitter, 1);
  setCentralWidget(central);
  BuildStatusBar();
  TranslateButtons();

  TWindowGeometry current{x(), y(), width(), height()};
  const TWindowGeometry stored = velmora::LoadPosition(context_.Settings, kFormName, current, 400, 200);
  setGeometry(stored.Left, stored.Top, stored.Width, stored.Height);
  normalGeometry_ = geometry();
  if (stored.Maximized)
    setWindowState(Qt::WindowMaximized);
  connect(&flushTimer_, &QTimer::timeout, this, [this] {
    if (rows_)
      rows_->Flush();
    DumpList();
  });
  if (const QByteArray dump = qgetenv("VELMORA_LIST_DUMP"); !dump.isEmpty())
    listDumpFile_ = std::string(dump.constData(), static_cast<std::size_t>(dump.size()));
  connect(&statusTimer_, &QTimer::timeout, this, [this] { UpdateStatusBarFast(); });
  connect(qApp, &QGuiApplication::commitDataRequest, this,
          [this](QSessionManager &) { Lifecycle.SessionEnding = true; });
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    trayIcon_ = new QSystemTrayIcon(QApplication::style()->standardIcon(QStyle::SP_ArrowDown), this);
    trayIcon_->setToolTip(QStringLiteral("Velmora"));
    connect(trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::Trigger)
        ToggleTray();
    });
    trayIcon_->show();
  }
}

TForm_Main::~TForm_Main() {
  // The list lets go of the rows before the download system and its records go.
  list_->setModel(nullptr);
  if (rows_)
    rows_->Observer = nullptr;
  scheduler_.reset();
  system_.reset();
}

QString TForm_Main::Tr(const char *english) const {
  return QString::fromStdString(context_.Translator.Translate(english));
}

std::string TForm_Main::Translate(const std::string &english) const {
  return context_.Translator.Translate(english);
}

void TForm_Main::BuildMenus() {
  struct TItem {
    const char *Name, *Caption, *Shortcut;
    bool Separator;
  };
  const auto add = [this](QMenu *menu, const TItem &item) {
    QAction *action = menu->addAction(Tr(item.Caption));
    action->setObjectName(item.Name);
    if (item.Shortcut[0] != '\0')
      action->setShortcut(QKeySequence(QString::fromLatin1(item.Shortcut)));
    action->setEnabled(false); // their commands come with the dialogs they open
    if (item.Separator)
      menu->addSeparator();
    return action;
  };
  QMenu *file = menuBar()->addMenu(Tr("&File"));
  for (const TItem &item : {TItem{"Options1", "&Options...", "", false},
                            TItem{"Checkfornewversion1", "&Check for New Version", "", true},
                            TItem{"ViewServerStatistics1", "&View Server Statistics", "Ctrl+Alt+S", false},
                            TItem{"DeleteStatistics1", "&Clear Statistics", "", true}})
    add(file, item);
  QAction *exit = add(file, {"Exit1", "E&xit", "", false});
  exit->setEnabled(true);
  connect(exit, &QAction::triggered, this, [this] { Lifecycle.ExitProgram(); });
  QMenu *categories = menuBar()->addMenu(Tr("&Categories"));
  for (const TItem &item : {TItem{"AddCategory2", "&Add Category...", "", false},
                            TItem{"EditCategory2", "&Edit Category...", "", false},
                            TItem{"DeleteCategory2", "&Delete Category", "", false}})
    add(categories, item);
  QMenu *downloads = menuBar()->addMenu(Tr("&Downloads"));
  for (const TItem &item :
       {TItem{"AddURL1", "&Add URL...", "Ctrl+Alt+A", true}, TItem{"Pause1", "&Pause", "Ctrl+P", false},
        TItem{"Resume1", "&Resume", "Ctrl+R", false}, TItem{"Schedule1", "&Schedule", "Ctrl+S", true},
        TItem{"Delete1", "&Delete", "Ctrl+D", false}, TItem{"ReDownload2", "Re-Download", "Ctrl+O", true},
        TItem{"DeleteAll1", "D&elete All", "Ctrl+Alt+D", false},
        TItem{"PauseAll1", "P&ause All", "Ctrl+Alt+P", false},
        TItem{"ResumeAll1", "Res&ume All", "Ctrl+Alt+R", false},
        TItem{"ClearAllDoneandErrenous1", "&Clear All Done and Erroneous", "Ctrl+Alt+C", true},
        TItem{"Extract2", "&Extract...", "", false},
        TItem{"ExtractandInstall2", "Extract and &Install...", "", true},
        TItem{"ViewAsText1", "&View As Text...", "F3", true},
        TItem{"Properties2", "Pr&operties...", "", false}})
    add(downloads, item);
  QMenu *view = menuBar()->addMenu(Tr("&View"));
  buttonsAction_ = view->addAction(Tr("&Buttons"));
  buttonsAction_->setObjectName("Buttons1");
  buttonsAction_->setCheckable(true);
  connect(buttonsAction_, &QAction::triggered, this, [this] {
    buttonPanel_->setVisible(!buttonPanel_->isVisible());
    context_.Settings.WriteBool(kOptions, "ButtonsVisible", buttonPanel_->isVisible());
    buttonsAction_->setChecked(buttonPanel_->isVisible());
  });
  categoriesAction_ = view->addAction(Tr("&Categories"));
  categoriesAction_->setObjectName("Categories2");
  categoriesAction_->setCheckable(true);
  connect(categoriesAction_, &QAction::triggered, this, [this](bool checked) {
    context_.Settings.WriteBool(kOptions, "ShowCategories", checked);
    LoadPanelCategories();
  });
  columnsMenu_ = view->addMenu(Tr("&Columns"));
  columnsMenu_->menuAction()->setObjectName("Columns1");
  view->addSeparator();
  QAction *basket = add(view, {"DownloadBasket1", "&Download Basket", "", false});
  basket->setCheckable(true);
  QMenu *help = menuBar()->addMenu(Tr("&Help"));
  for (const TItem &item :
       {TItem{"Help2", "&Help...", "", true}, TItem{"BugReports1", "Bug Reports", "", false},
        TItem{"Suggestions1", "Suggestions", "", false}, TItem{"ellaFriend1", "&Tell a Friend", "", true},
        TItem{"About1", "&About...", "", false}})
    add(help, item);
}

void TForm_Main::BuildToolbar() {
  buttonPanel_ = new QWidget(this);
  buttonPanel_->setObjectName("Panel_SpeedButtons");
  auto *row = new QHBoxLayout(buttonPanel_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  auto *strip = new QWidget(buttonPanel_);
  strip->setObjectName("Panel_ResizeButtons");
  strip->setFixedWidth(16);
  auto *stripLayout = new QVBoxLayout(strip);
  stripLayout->setContentsMargins(0, 0, 0, 0);
  upButton_ = new QToolButton(strip);
  upButton_->setObjectName("SpeedButton_Up");
  upButton_->setArrowType(Qt::UpArrow);
  upButton_->setFixedSize(15, 15);
  upButton_->setProperty("helpText", Tr("Show small buttons"));
  downButton_ = new QToolButton(strip);
  downButton_->setObjectName("SpeedButton_Down");
  downButton_->setArrowType(Qt::DownArrow);
  downButton_->setFixedSize(15, 15);
  downButton_->setProperty("helpText", Tr("Show large buttons with text"));
  stripLayout->addWidget(upButton_);
  stripLayout->addWidget(downButton_);
  stripLayout->addStretch();
  connect(upButton_, &QToolButton::clicked, this, [this] {
    context_.Settings.WriteBool(kOptions, "LargeButtons", false);
    DrawButtons();
  });
  connect(downButton_, &QToolButton::clicked, this, [this] {
    context_.Settings.WriteBool(kOptions, "LargeButtons", true);
    DrawButtons();
  });
  row->addWidget(strip);
  const char *const names[] = {"Add", "Delete", "Pause", "Resume", "Schedule", "HangUp", "Config"};
  for (std::size_t i = 0; i < std::size(kButtons); ++i) {
    const TToolbarButton &button = kButtons[i];
    const QIcon glyph = QApplication::style()->standardIcon(button.Glyph);
    auto *large = new QToolButton(buttonPanel_);
    large->setObjectName(QString("SpeedButton_") + names[i]);
    large->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    large->setIcon(glyph);
    large->setIconSize(QSize(32, 32));
    large->setFixedSize(kButtonWidths[i], 60);
    large->setAutoRaise(true);
    large->setProperty("helpText", Tr(button.Hint));
    large->setProperty("caption", QString::fromLatin1(button.Caption));
    auto *small = new QToolButton(buttonPanel_);
    small->setObjectName(QString("SpeedButton_Small_") + names[i]);
    small->setIcon(glyph);
    small->setIconSize(QSize(14, 14));
    small->setFixedSize(16, 17);
    small->setAutoRaise(true);
    small->setProperty("helpText", Tr(button.Hint));
    small->setToolTip(Tr(button.Caption));
    // Their commands come with the dialogs and commands of the list.
    large->setEnabled(false);
    small->setEnabled(false);
    largeButtons_.push_back(large);
    smallButtons_.push_back(small);
    row->addWidget(large);
  }
  for (QToolButton *small : smallButtons_)
    row->addWidget(small);
  row->addStretch();
}

void TForm_Main::BuildStatusBar() {
  const char *const initial[] = {"Help text", "Hang Up Enabled", "Scheduler Disabled",
                                 "0kb/s",     "00:00:00",        ""};
  for (int i = 0; i < 6; ++i) {
    auto *panel = new QLabel(Tr(initial[i]), statusBar());
    panel->setObjectName(QString("StatusBar_Panel%1").arg(i));
    panel->setAlignment(i == 0   ? Qt::AlignLeft | Qt::AlignVCenter
                        : i >= 3 ? Qt::AlignRight | Qt::AlignVCenter
                                 : Qt::AlignCenter);
    if (i == 0)
      statusBar()->addWidget(panel, 1);
    else
      statusBar()->addPermanentWidget(panel);
    panels_.push_back(panel);
  }
  panels_[5]->setFixedWidth(50);
  panels_[1]->installEventFilter(this);
  panels_[2]->installEventFilter(this);
  statusBar()->setSizeGripEnabled(true);
  auto *hints = new THintFilter(panels_[0], this);
  for (QToolButton *button : {upButton_, downButton_})
    button->installEventFilter(hints);
  for (auto *buttons : {&largeButtons_, &smallButtons_})
    for (QToolButton *button : *buttons)
      button->installEventFilter(hints);
}

void TForm_Main::TranslateButtons() {
  for (QToolButton *button : largeButtons_) {
    const std::string caption =
        context_.Translator.Translate(button->property("caption").toString().toStdString());
    const QFontMetrics metrics(button->font());
    // The style keeps a few pixels beside the text; it never shortens what fits here.
    const int available = button->width() - 4;
    button->setText(QString::fromStdString(MakeTextFit(caption, available, [&](const std::string &text) {
      return metrics.horizontalAdvance(QString::fromStdString(text));
    })));
  }
}

void TForm_Main::DrawButtons() {
  const bool large = context_.Settings.ReadBool(kOptions, "LargeButtons", true);
  upButton_->setVisible(large);
  downButton_->setVisible(!large);
  for (QToolButton *button : largeButtons_)
    button->setVisible(large);
  for (QToolButton *button : smallButtons_)
    button->setVisible(!large);
  buttonPanel_->setFixedHeight(large ? 62 : 17);
}

void TForm_Main::ApplyColors() {
  const TThemeColors theme = LoadThemeColors(context_.Settings);
  if (model_)
    model_->Theme = theme;
  if (delegate_)
    delegate_->Theme = theme;
  for (QWidget *widget : {static_cast<QWidget *>(list_), static_cast<QWidget *>(tree_)}) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, ToQColor(theme.Background, QApplication::palette()));
    if (widget == tree_)
      palette.setColor(QPalette::Text, ToQColor(theme.Other, QApplication::palette()));
    else // selected rows lie on the button face, their text keeps the status colour
      palette.setColor(QPalette::Highlight, QApplication::palette().color(QPalette::Button));
    widget->setPalette(palette);
  }
  list_->viewport()->update();
}

void TForm_Main::LoadListConfiguration() {
  QHeaderView *header = list_->header();
  header->setSectionsMovable(true);
  header->setSectionsClickable(true);
  header->setMinimumSectionSize(20);
  header->setStretchLastSection(true);
  header->setSortIndicatorShown(true);
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  // Damaged positions (out of range, repeated) fall back to the defaults as a whole.
  std::vector<int> positions(kListColumnCount);
  std::vector<bool> taken(kListColumnCount, false);
  bool valid = true;
  for (int column = 0; column < kListColumnCount; ++column) {
    positions[column] = context_.Settings.ReadInteger(
        kOptions, std::string("VDT_Downloads_ColPos_") + kColumnKeys[column], kColumnPositions[column]);
    valid =
        valid && positions[column] >= 0 && positions[column] < kListColumnCount && !taken[positions[column]];
    if (valid)
      taken[positions[column]] = true;
  }
  if (!valid)
    positions.assign(kColumnPositions, kColumnPositions + kListColumnCount);
  bool anyVisible = false;
  for (int column = 0; column < kListColumnCount; ++column) {
    const std::string key = kColumnKeys[column];
    const int width = std::clamp(
        context_.Settings.ReadInteger(kOptions, "VDT_Downloads_ColWidth_" + key, kColumnWidths[column]), 20,
        2000);
    header->resizeSection(column, width);
    const bool visible =
        context_.Settings.ReadBool(kOptions, "VDT_Downloads_ColVisible_" + key, kColumnVisible[column]);
    header->setSectionHidden(column, !visible);
    anyVisible = anyVisible || visible;
  }
  if (!anyVisible) // a header without columns could never be right-clicked again
    header->setSectionHidden(lcFileName, false);
  for (int position = 0; position < kListColumnCount; ++position)
    for (int column = 0; column < kListColumnCount; ++column)
      if (positions[column] == position)
        header->moveSection(header->visualIndex(column), position);
  RebuildColumnsMenu();
  const bool gridLines = context_.Settings.ReadBool(kOptions, "GridLines", false);
  list_->setStyleSheet(gridLines ? "QTreeView::item { border: 1px solid #d0d0d0; }" : "");
  const int sortColumn = context_.Settings.ReadInteger(kOptions, "VDT_Downloads_SortByColumn", 0);
  rows_->SortColumn = sortColumn >= 0 && sortColumn < kListColumnCount ? sortColumn : -1;
  rows_->SortAscending = context_.Settings.ReadBool(kOptions, "VDT_Downloads_SortDirectionAscending", true);
  header->setSortIndicator(rows_->SortColumn,
                           rows_->SortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TForm_Main::RebuildColumnsMenu() {
  columnsMenu_->clear();
  for (int column = 0; column < kListColumnCount; ++column) {
    QAction *item = columnsMenu_->addAction(Tr(kColumnCaptions[column]));
    item->setCheckable(true);
    item->setChecked(!list_->header()->isSectionHidden(column));
    connect(item, &QAction::triggered, this,
            [this, column](bool checked) { list_->header()->setSectionHidden(column, !checked); });
  }
}

void TForm_Main::SaveVDTConfiguration() {
  GuardedVoid("procedure TForm_Main.SaveVDTConfiguration", [&] {
    const QHeaderView *header = list_->header();
    for (int column = 0; column < kListColumnCount; ++column) {
      const std::string key = kColumnKeys[column];
      context_.Settings.WriteInteger(kOptions, "VDT_Downloads_ColWidth_" + key, header->sectionSize(column));
      context_.Settings.WriteInteger(kOptions, "VDT_Downloads_ColPos_" + key, header->visualIndex(column));
      context_.Settings.WriteBool(kOptions, "VDT_Downloads_ColVisible_" + key,
                                  !header->isSectionHidden(column));
    }
    context_.Settings.WriteInteger(kOptions, "VDT_Downloads_SortByColumn", rows_ ? rows_->SortColumn : 0);
    context_.Settings.WriteBool(kOptions, "VDT_Downloads_SortDirectionAscending",
                                !rows_ || rows_->SortAscending);
  });
}

void TForm_Main::HeaderClicked(int column) {
  GuardedVoid("procedure TForm_Main.VDT_DownloadsHeaderClick", [&] {
    if (column < 0)
      rows_->SortColumn = -1;
    else if (column != rows_->SortColumn) {
      rows_->SortColumn = column;
      rows_->SortAscending = true;
    } else
      rows_->SortAscending = !rows_->SortAscending;
    list_->header()->setSortIndicator(rows_->SortColumn,
                                      rows_->SortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
    const TLDIList selected = rows_->GetSelectedFromList(SelectedRows());
    rows_->Sort();
    for (TLocalDownloadinfo *record : selected)
      if (const std::ptrdiff_t row = rows_->AssociatedRow(record); row >= 0)
        list_->selectionModel()->select(model_->index(static_cast<int>(row), 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
  });
}

void TForm_Main::PopulateTreeView() {
  tree_->clear();
  treeItems_.clear();
  viewTree_.Rebuild();
  std::map<const TTreeNode *, QTreeWidgetItem *> items;
  for (TTreeNode *node : viewTree_.Nodes()) {
    const auto found = items.find(node->Parent());
    QTreeWidgetItem *item =
        found == items.end() ? new QTreeWidgetItem(tree_) : new QTreeWidgetItem(found->second);
    item->setText(0, QString::fromStdString(node->Caption));
    item->setIcon(0, QApplication::style()->standardIcon(node->Count() > 0 || node->Parent() == nullptr
                                                             ? QStyle::SP_DirIcon
                                                             : QStyle::SP_FileIcon));
    items[node] = item;
    treeItems_.push_back(item);
  }
  for (TTreeNode *node : viewTree_.Nodes())
    if (node->Expanded)
      items[node]->setExpanded(true);
}

void TForm_Main::LoadPanelCategories() {
  const bool wasHandling = treeChangeHandling_;
  treeChangeHandling_ = false;
  const int selected = viewTree_.AbsoluteIndex(viewTree_.Selected);
  PopulateTreeView();
  const bool show = context_.Settings.ReadBool(kOptions, "ShowCategories", true);
  categoriesAction_->setChecked(show);
  auto *splitter = static_cast<QSplitter *>(tree_->parentWidget());
  if (show) {
    const int width = std::max(20, context_.Settings.ReadInteger(kOptions, "CategoriesPanelWidth", 150));
    tree_->show();
    splitter->setSizes({width, std::max(1, splitter->width() - width)});
    SelectView(selected < 0 ? 0 : selected);
  } else {
    tree_->hide();
    SelectView(0);
  }
  treeChangeHandling_ = wasHandling;
  if (treeChangeHandling_)
    PopulateVDT(true);
}

void TForm_Main::SelectView(int absoluteIndex) {
  if (absoluteIndex < 0 || static_cast<std::size_t>(absoluteIndex) >= treeItems_.size())
    absoluteIndex = 0;
  viewTree_.Selected = viewTree_.NodeAt(static_cast<std::size_t>(absoluteIndex));
  tree_->setCurrentItem(treeItems_[static_cast<std::size_t>(absoluteIndex)]);
}

void TForm_Main::TreeSelectionChanged() {
  const auto found = std::find(treeItems_.begin(), treeItems_.end(), tree_->currentItem());
  if (found == treeItems_.end())
    return;
  viewTree_.Selected = viewTree_.NodeAt(static_cast<std::size_t>(found - treeItems_.begin()));
  if (treeChangeHandling_)
    PopulateVDT(true);
}

std::vector<std::size_t> TForm_Main::SelectedRows() const {
  std::vector<std::size_t> rows;
  for (const QModelIndex &index : list_->selectionModel()->selectedRows())
    rows.push_back(static_cast<std::size_t>(index.row()));
  return rows;
}

void TForm_Main::PopulateVDT(bool KeepSelection) {
  GuardedVoid("procedure TForm_Main.PopulateVDT(KeepSelection : boolean)", [&] {
    const int scroll = list_->verticalScrollBar()->value();
    const std::size_t count = rows_->Count();
    const TLDIList selected = rows_->GetSelectedFromList(SelectedRows());
    const QModelIndex current = list_->currentIndex();
    TLocalDownloadinfo *focused =
        current.isValid() ? rows_->Row(static_cast<std::size_t>(current.row())).LDI : nullptr;
    rows_->ShowSelectedView();
    if (!KeepSelection || rows_->Count() == 0)
      return;
    auto *selection = list_->selectionModel();
    if (selected.Count() == 0)
      list_->setCurrentIndex(model_->index(0, 0));
    for (TLocalDownloadinfo *record : selected)
      if (const std::ptrdiff_t row = rows_->AssociatedRow(record); row >= 0)
        selection->select(model_->index(static_cast<int>(row), 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (const std::ptrdiff_t row = rows_->AssociatedRow(focused); focused != nullptr && row >= 0) {
      selection->setCurrentIndex(model_->index(static_cast<int>(row), 0), QItemSelectionModel::NoUpdate);
      list_->scrollTo(model_->index(static_cast<int>(row), 0));
    }
    if (rows_->Count() == count)
      list_->verticalScrollBar()->setValue(scroll);
  });
}

void TForm_Main::WMMYMSG() {
  GuardedVoid("procedure TForm_Main.WMMYMSG(var Msg: TMessage)", [&] {
    system_ = context_.CreateDownloadSystem(*this);
    source_ = std::make_unique<TDownloadSystemRowSource>(*system_);
    rows_ = std::make_unique<TDownloadRows>(
        TDownloadRowsContext{*source_, context_.Words, context_.Categories, viewTree_, DecimalSeparator()});
    model_ = new TDownloadListModel(
        *rows_, [this](const char *english) { return Tr(english); }, this);
    rows_->Observer = model_;
    delegate_ = new TDownloadListDelegate(
        context_.Words,
        [this](const TLocalDownloadinfo *record) { return system_->AssociatedDownloader(record); }, this);
    delegate_->DrawProgressBars = context_.Settings.ReadBool(kOptions, "DrawProgressBars", true);
    list_->setModel(model_);
    list_->setItemDelegate(delegate_);
    ApplyColors();
    LoadListConfiguration();
    connect(list_->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { HeaderClicked(column); });
    connect(list_->header(), &QHeaderView::customContextMenuRequested, this, [this](const QPoint &at) {
      RebuildColumnsMenu();
      columnsMenu_->popup(list_->header()->mapToGlobal(at));
    });
    connect(list_->header(), &QHeaderView::sectionDoubleClicked, this,
            [this](int column) { list_->resizeColumnToContents(column); });
    system_->UpdateGridInfo();
    LoadPanelCategories();
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { TreeSelectionChanged(); });
    SelectView(context_.Settings.ReadInteger(kOptions, "ChoosenCategory", 0));
    treeChangeHandling_ = true;
    PopulateVDT(true);
    CleanUpTempDirectory(context_.PartialDownloadsFolder);
    UpdateStatusBar();
    scheduler_ = std::make_unique<TScheduler>(context_.Loop);
    scheduler_->OnTime = [this](TScheduler &) { system_->DoOnSchedulerTime(); };
    scheduler_->OnTimeOut = [this](TScheduler &) { system_->DoOnSchedulerTimeOut(); };
    LoadScheduler();
    DrawButtons();
    flushTimer_.start(kFlushInterval);
  });
  // The tree's width after the second stage: one default for start-up and for showing it again.
  if (tree_->isVisible() || context_.Settings.ReadBool(kOptions, "ShowCategories", true)) {
    auto *splitter = static_cast<QSplitter *>(tree_->parentWidget());
    const int width = std::max(20, context_.Settings.ReadInteger(kOptions, "CategoriesPanelWidth", 150));
    splitter->setSizes({width, std::max(1, this->width() - width)});
  }
  if (context_.Settings.ReadBool(kOptions, "StartMinimized", false)) {
    show();
    OnMinimizeApp();
  } else if (isMaximized()) {
    showMaximized();
  } else {
    show();
  }
  list_->setFocus();
}

void TForm_Main::DumpList() {
  if (listDumpFile_.empty() || model_ == nullptr)
    return;
  // What the list shows, row by row in its visible columns, for tests that drive the real window.
  std::string text;
  const QHeaderView *header = list_->header();
  for (int row = 0; row < model_->rowCount(); ++row) {
    for (int position = 0; position < header->count(); ++position) {
      const int column = header->logicalIndex(position);
      if (header->isSectionHidden(column))
        continue;
      text += model_->index(row, column).data().toString().toStdString();
      text += '\t';
    }
    text += '\n';
  }
  if ((!dumped_ || text != lastDump_) && platform::WriteFileAtomically(listDumpFile_, text)) {
    lastDump_ = text;
    dumped_ = true;
  }
}

void TForm_Main::HandleArgument(const std::string &argument) { Lifecycle.CheckInstances(argument); }

void TForm_Main::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!firstShow_)
    return;
  firstShow_ = false;
  MakeStatusBarCaptionsFit();
  TranslateButtons(); // again, with the fonts the style has settled on
  const bool buttons = context_.Settings.ReadBool(kOptions, "ButtonsVisible", true);
  buttonsAction_->setChecked(buttons);
  categoriesAction_->setChecked(context_.Settings.ReadBool(kOptions, "ShowCategories", true));
  buttonPanel_->setVisible(buttons);
  std::vector<TScreenArea> screens;
  if (QScreen *primary = QGuiApplication::primaryScreen()) {
    const QRect area = primary->availableGeometry();
    screens.push_back({area.x(), area.y(), area.width(), area.height()});
  }
  for (QScreen *screen : QGuiApplication::screens())
    if (screen != QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      screens.push_back({area.x(), area.y(), area.width(), area.height()});
    }
  const TWindowGeometry here{x(), y(), width(), height()};
  const TWindowGeometry onScreen = MakeSureFormIsOnScreen(here, screens);
  if (!(onScreen == here))
    move(onScreen.Left, onScreen.Top);
  loadingPosition_ = false;
  statusTimer_.start(200);
}

void TForm_Main::MakeStatusBarCaptionsFit() {
  const QFontMetrics metrics(panels_[1]->font());
  const auto wider = [&](const char *a, const char *b) {
    const QString ta = Tr(a), tb = Tr(b);
    return metrics.horizontalAdvance(ta.size() >= tb.size() ? ta : tb) + 16;
  };
  panels_[1]->setFixedWidth(wider("Hang Up Disabled", "Hang Up Enabled"));
  panels_[2]->setFixedWidth(wider("Scheduler Disabled", "Scheduler Enabled"));
  panels_[3]->setFixedWidth(metrics.horizontalAdvance("9999,9" + Tr("kB/s")) + 16);
  panels_[4]->setFixedWidth(metrics.horizontalAdvance("00:00:00") + 16);
}

void TForm_Main::UpdateStatusBar() {
  panels_[0]->setText(Tr("Ready"));
  const bool hangUp = context_.Settings.ReadBool(kOptions, "DisconnectAfterDownload", false) &&
                      context_.Settings.ReadBool(kOptions, "ConnectUsingDialUp", false);
  panels_[1]->setText(Tr(hangUp ? "Hang Up Enabled" : "Hang Up Disabled"));
  panels_[2]->setText(Tr(context_.Settings.ReadBool(kOptions, "UseSchedule", false) ? "Scheduler Enabled"
                                                                                    : "Scheduler Disabled"));
}

void TForm_Main::LoadScheduler() {
  if (scheduler_)
    LoadSchedulerSettingsFromRegistry(*scheduler_, context_.Settings, NowLocal());
}

bool TForm_Main::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::MouseButtonPress)
    for (std::size_t panel : {std::size_t{1}, std::size_t{2}})
      if (watched == panels_[panel])
        StatusPanelClicked(panel);
  return QMainWindow::eventFilter(watched, event);
}

void TForm_Main::StatusPanelClicked(std::size_t panel) {
  GuardedVoid("procedure TForm_Main.StatusBarClick(Sender: TObject)", [&] {
    const char *key = panel == 1 ? "DisconnectAfterDownload" : "UseSchedule";
    context_.Settings.WriteBool(kOptions, key, !context_.Settings.ReadBool(kOptions, key, false));
    if (panel == 2)
      LoadScheduler();
    UpdateStatusBar();
  });
}

void TForm_Main::UpdateStatusBarFast() {
  if (!system_)
    return;
  double total = 0;
  for (TDownloader *downloader : system_->ActiveDownloaders()) {
    if (downloader->Info.StatusState != TStatusState::Downloading)
      continue;
    std::string rate = downloader->TransferRate();
    if (rate == "N/A" || rate == " ")
      continue;
    std::replace(rate.begin(), rate.end(), ',', '.');
    double value = 0;
    if (std::from_chars(rate.data(), rate.data() + rate.size(), value).ec == std::errc())
      total += value;
  }
  QString text = QString::number(total, 'f', 1);
  text.replace('.', QString::fromStdString(DecimalSeparator()));
  panels_[3]->setText(text + " " + Tr("kB/s"));
  panels_[4]->setText(QString::fromStdString(TotalTimeLeft()));
}

std::string TForm_Main::TotalTimeLeft() const {
  std::string longest = "00:00:00";
  int32_t seconds = 0;
  for (TDownloader *downloader : system_->ActiveDownloaders()) {
    const std::string left = downloader->TimeLeft();
    if (const int32_t value = TimeStringToSeconds(left); value > seconds) {
      seconds = value;
      longest = left;
    }
  }
  return longest;
}

void TForm_Main::UpdateRow(TLocalDownloadinfo &record) {
  if (rows_)
    rows_->UpdateRow(record);
}

void TForm_Main::ShowAuthForm(TDownloader &downloader, TPartDownloadSlot &slot) {
  // The credentials dialog comes with the dialogs; until then the part gives up as if cancelled.
  // Decided once the event is over; by then the download may have been released.
  context_.Loop.post([self = QPointer(this), target = &downloader, &slot] {
    if (!self || !self->system_)
      return;
    const auto &active = self->system_->ActiveDownloaders();
    if (std::find(active.begin(), active.end(), target) != active.end())
      self->system_->AbortSlotAuthenticated(*target, slot);
  });
}

bool TForm_Main::AskYesNo(const std::string &question) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Velmora"), QString::fromStdString(question),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  return box.exec() == QMessageBox::Yes;
}

void TForm_Main::ShowMessage(const std::string &text) {
  // Modeless, so a loop callback that shows it returns at once.
  auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Velmora"), QString::fromStdString(text),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TForm_Main::ExitProgram() {
  // Asked from inside a download event: decided once that event is over.
  context_.Loop.post([self = QPointer(this)] {
    if (self)
      self->Lifecycle.ExitProgram();
  });
}

bool TForm_Main::AnyDownloadActive() const { return system_ && system_->NumberOfDownloading() > 0; }

void TForm_Main::DoBeforeTerminate() {
  GuardedVoid("procedure TForm_Main.DoBeforeTerminate", [&] {
    SaveVDTConfiguration();
    SavePosition();
    context_.Settings.WriteInteger(kOptions, "ChoosenCategory", viewTree_.AbsoluteIndex(viewTree_.Selected));
    context_.Settings.WriteBool(kOptions, "ShowCategories", categoriesAction_->isChecked());
    if (trayIcon_)
      trayIcon_->hide();
  });
}

void TForm_Main::Terminate() {
  // Qt's loop ends once the round that asked is over, also when asked before it started.
  context_.Loop.post([] { QCoreApplication::quit(); });
}

bool TForm_Main::MinimizeToTray() const {
  return context_.Settings.ReadBool(kOptions, "MinimizeToTray", false);
}

void TForm_Main::AddDownload(const std::string &url) {
  if (system_)
    system_->AddDownload(context_.CreateRecord(url));
}

void TForm_Main::ToggleTray() { OnMinimizeApp(); }

void TForm_Main::OnMinimizeApp() {
  GuardedVoid("procedure TForm_Main.OnMinimizeApp(Sender: TObject)", [&] {
    if (inTray_ || isMinimized() || !isVisible()) {
      inTray_ = false;
      LoadPosition();
      showNormal();
      ForceForegroundWindow(*this, {});
      return;
    }
    SavePosition();
    if (trayIcon_ != nullptr && trayIcon_->isVisible()) {
      inTray_ = true;
      hide();
    } else {
      // Without a tray the window stays reachable from the taskbar.
      showMinimized();
    }
  });
}

void TForm_Main::SavePosition() {
  const QRect normal = isMaximized() || isMinimized() ? normalGeometry_ : geometry();
  velmora::SavePosition(
      context_.Settings, kFormName,
      {normal.x(), normal.y(), normal.width(), normal.height(), isMaximized(), isMinimized() || inTray_});
}

void TForm_Main::LoadPosition() {
  const TWindowGeometry stored = velmora::LoadPosition(
      context_.Settings, kFormName,
      {normalGeometry_.x(), normalGeometry_.y(), normalGeometry_.width(), normalGeometry_.height()}, 400,
      200);
  setGeometry(stored.Left, stored.Top, stored.Width, stored.Height);
}

void TForm_Main::closeEvent(QCloseEvent *event) {
  if (Lifecycle.FormCloseQuery())
    event->accept();
  else
    event->ignore();
}

void TForm_Main::changeEvent(QEvent *event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !loadingPosition_) {
    SavePosition();
    if (isMinimized() && trayIcon_ != nullptr && trayIcon_->isVisible() &&
        context_.Settings.ReadBool(kOptions, "MinimizeToTray", false)) {
      inTray_ = true;
      context_.Loop.post([self = QPointer(this)] {
        if (self)
          self->hide();
      });
    }
  }
}

void TForm_Main::moveEvent(QMoveEvent *event) {
  QMainWindow::moveEvent(event);
  if (!isMaximized() && !isMinimized())
    normalGeometry_ = geometry();
}

void TForm_Main::resizeEvent(QResizeEvent *event) {
  QMainWindow::resizeEvent(event);
  if (!isMaximized() && !isMinimized())
    normalGeometry_ = geometry();
  if (!panels_.empty())
    UpdateStatusBar();
}

} // namespace velmora
