#pragma once

#include "management/DownloadRows.h"
#include "management/DownloadSystemRowSource.h"
#include "management/Downloads.h"
#include "management/Scheduler.h"
#include "management/ShellLifecycle.h"
#include "management/ViewTree.h"
#include "platform/EventLoop.h"
#include "store/Categories.h"
#include "store/Registry.h"
#include "store/Translator.h"

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <vector>

namespace velmora {

class TDownloadListModel;
class TDownloadListDelegate;

// What the main window works with; everything outlives it.
struct TMainWindowContext {
  platform::EventLoop &Loop;
  TSettingsStore &Settings;
  const TConstants &Words;
  const TTranslator &Translator;
  TCategoryList &Categories;
  std::string PartialDownloadsFolder;
  // Creates the download system with the window as its user interface.
  std::function<std::unique_ptr<TDownloadSystem>(IDownloadSystemUi &)> CreateDownloadSystem;
  // A new record for an address, ready for AddDownload.
  std::function<std::unique_ptr<TLocalDownloadinfo>(const std::string &url)> CreateRecord;
};

// The main window: the view tree, the download list, the toolbar, the status bar and the menus.
class TForm_Main : public QMainWindow, public IDownloadSystemUi, public IShellActions {
public:
  explicit TForm_Main(TMainWindowContext context);
  ~TForm_Main() override;

  // The second start-up stage: colours, columns, the download system with its records, the tree
  // and the first view, the status bar and the buttons; then the window is shown as stored.
  void WMMYMSG();
  // Once the loop runs: the command line's address.
  void HandleArgument(const std::string &argument);

  TShellLifecycle Lifecycle{*this};
  TDownloadSystem *DownloadSystem() const { return system_.get(); }
  TDownloadRows *Rows() const { return rows_.get(); }
  QTreeView *List() const { return list_; }
  QTreeWidget *Tree() const { return tree_; }
  // Selects a view tree node by its absolute index.
  void SelectView(int absoluteIndex);
  // Applies LargeButtons.
  void DrawButtons();
  void ApplyColors();

  // IDownloadSystemUi
  std::unique_ptr<IFileInfoWindow> CreateFileInfoWindow(TDownloader &) override { return nullptr; }
  std::unique_ptr<IDownloadWindow> CreateDownloadWindow(TDownloader &) override { return nullptr; }
  std::unique_ptr<ICompleteWindow> CreateCompleteWindow(TDownloader &) override { return nullptr; }
  void UpdateRow(TLocalDownloadinfo &record) override;
  void ShowAuthForm(TDownloader &downloader, TPartDownloadSlot &slot) override;
  bool AskYesNo(const std::string &question) override;
  void ShowMessage(const std::string &text) override;
  void ExitProgram() override;

  // IShellActions
  bool AnyDownloadActive() const override;
  void DoBeforeTerminate() override;
  void Terminate() override;
  void ToggleTray() override;
  bool MinimizeToTray() const override;
  void AddDownload(const std::string &url) override;
  std::string Translate(const std::string &english) const override;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void changeEvent(QEvent *event) override;
  void moveEvent(QMoveEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

private:
  QString Tr(const char *english) const;
  void BuildMenus();
  void BuildToolbar();
  void BuildStatusBar();
  void LoadListConfiguration();
  void SaveVDTConfiguration();
  void RebuildColumnsMenu();
  void LoadPanelCategories();
  void PopulateTreeView();
  void TreeSelectionChanged();
  void PopulateVDT(bool KeepSelection);
  void HeaderClicked(int column);
  void UpdateStatusBar();
  // A click on the hang-up or the scheduler panel switches it.
  void StatusPanelClicked(std::size_t panel);
  void LoadScheduler();
  void UpdateStatusBarFast();
  std::string TotalTimeLeft() const;
  void MakeStatusBarCaptionsFit();
  void TranslateButtons();
  void SavePosition();
  void LoadPosition();
  void OnMinimizeApp();
  std::vector<std::size_t> SelectedRows() const;
  void DumpList();

  TMainWindowContext context_;
  TViewTree viewTree_;
  std::unique_ptr<TDownloadSystem> system_;
  std::unique_ptr<TScheduler> scheduler_;
  std::unique_ptr<TDownloadSystemRowSource> source_;
  std::unique_ptr<TDownloadRows> rows_;
  TDownloadListModel *model_ = nullptr;
  TDownloadListDelegate *delegate_ = nullptr;
  QTreeView *list_ = nullptr;
  QTreeWidget *tree_ = nullptr;
  QWidget *buttonPanel_ = nullptr;
  QToolButton *upButton_ = nullptr, *downButton_ = nullptr;
  std::vector<QToolButton *> largeButtons_, smallButtons_;
  std::vector<QLabel *> panels_;
  QMenu *columnsMenu_ = nullptr;
  QAction *buttonsAction_ = nullptr, *categoriesAction_ = nullptr;
  QSystemTrayIcon *trayIcon_ = nullptr;
  QTimer flushTimer_, statusTimer_;
  std::vector<QTreeWidgetItem *> treeItems_; // by absolute index
  bool treeChangeHandling_ = false;
  bool firstShow_ = true;
  bool loadingPosition_ = true;
  bool inTray_ = false;
  QRect normalGeometry_;
  std::string listDumpFile_, lastDump_; // VELMORA_LIST_DUMP: the list's texts for tests
  bool dumped_ = false;
};

} // namespace velmora
