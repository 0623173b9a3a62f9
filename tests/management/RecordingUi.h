#pragma once

#include "engine/Downloader.h"
#include "management/DownloadSystemUi.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {

// The windows and boxes of the download system, recording what they were asked to show. Each
// window removes itself from the lists when the download system destroys it.
class RecordingUi : public IDownloadSystemUi {
public:
  struct FileInfoWindow : IFileInfoWindow {
    FileInfoWindow(RecordingUi &owner, TDownloader &d) : ui(owner), downloader(&d) {}
    ~FileInfoWindow() override { std::erase(ui.fileInfoWindows, this); }
    bool Visible() const override { return visible; }
    void ShowSize(const std::string &text) override { size = text; }
    void ShowError(const std::string &text, TColor) override {
      size = text;
      startEnabled = false;
    }
    RecordingUi &ui;
    TDownloader *downloader;
    bool visible = true;
    bool startEnabled = true;
    std::string size;
  };

  struct DownloadWindow : IDownloadWindow {
    DownloadWindow(RecordingUi &owner, TDownloader &d) : ui(owner), downloader(&d) {}
    ~DownloadWindow() override { std::erase(ui.downloadWindows, this); }
    bool Visible() const override { return visible; }
    void Show() override { visible = true; }
    void Hide() override { visible = false; }
    void Refresh() override { ++refreshes; }
    void SlotChanged(TPartDownloadSlot &) override {}
    void SlotDeleted(TPartDownloadSlot &) override {}
    void SetCaption(const std::string &text) override { caption = text; }
    void ShowStatus(const std::string &text, TColor) override { status = text; }
    RecordingUi &ui;
    TDownloader *downloader;
    bool visible = false;
    int refreshes = 0;
    std::string caption;
    std::string status;
  };

  struct CompleteWindow : ICompleteWindow {
    CompleteWindow(RecordingUi &owner, TDownloader &d)
        : ui(owner), downloader(&d), localFileName(d.Info.LocalFileName) {}
    ~CompleteWindow() override { std::erase(ui.completeWindows, this); }
    bool Visible() const override { return visible; }
    void Show() override { visible = true; }
    RecordingUi &ui;
    TDownloader *downloader;
    std::string localFileName;
    bool visible = false;
  };

  std::unique_ptr<IFileInfoWindow> CreateFileInfoWindow(TDownloader &downloader) override {
    if (!offerSaveAs)
      return nullptr;
    auto window = std::make_unique<FileInfoWindow>(*this, downloader);
    fileInfoWindows.push_back(window.get());
    log.push_back("save-as " + downloader.Info.Url.FileName);
    return window;
  }
  std::unique_ptr<IDownloadWindow> CreateDownloadWindow(TDownloader &downloader) override {
    auto window = std::make_unique<DownloadWindow>(*this, downloader);
    downloadWindows.push_back(window.get());
    return window;
  }
  std::unique_ptr<ICompleteWindow> CreateCompleteWindow(TDownloader &downloader) override {
    auto window = std::make_unique<CompleteWindow>(*this, downloader);
    completeWindows.push_back(window.get());
    log.push_back("complete " + downloader.Info.LocalFileName);
    return window;
  }
  void UpdateRow(TLocalDownloadinfo &record) override { rows[record.TempFileName] = record.Status; }
  void ShowAuthForm(TDownloader &downloader, TPartDownloadSlot &) override {
    log.push_back("auth " + downloader.Info.Url.FileName);
  }
  bool AskYesNo(const std::string &question) override {
    log.push_back("ask " + question);
    return answer;
  }
  void ShowMessage(const std::string &text) override { log.push_back("message " + text); }
  void ExitProgram() override { log.push_back("exit"); }

  bool Logged(const std::string &line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

  std::vector<std::string> log;
  std::map<std::string, std::string> rows; // last status shown, by the record's TempFileName
  bool answer = true;
  bool offerSaveAs = true; // false: like a terminal, which cannot ask
  std::vector<FileInfoWindow *> fileInfoWindows;
  std::vector<DownloadWindow *> downloadWindows;
  std::vector<CompleteWindow *> completeWindows;
};

} // namespace velmora::testing
