#pragma once

#include "engine/Downloader.h"
#include "management/DownloadSystemUi.h"

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velmora {

// The download system on a terminal: one progress line per running download, redrawn in place on a
// terminal, and a line for every change that matters (done, failed, retrying, queued) otherwise.
// Nobody sits at the terminal to choose a file or answer a server's demand for credentials: a
// download without a file name goes to the default folder, and a demand is answered as a cancelled
// dialog would be.
class TTerminalUi : public IDownloadSystemUi {
public:
  TTerminalUi(const TConstants &words, std::FILE *output, bool terminal, bool quiet);

  std::unique_ptr<IFileInfoWindow> CreateFileInfoWindow(TDownloader &) override { return nullptr; }
  std::unique_ptr<IDownloadWindow> CreateDownloadWindow(TDownloader &) override { return nullptr; }
  std::unique_ptr<ICompleteWindow> CreateCompleteWindow(TDownloader &) override { return nullptr; }
  void UpdateRow(TLocalDownloadinfo &record) override;
  void ShowAuthForm(TDownloader &downloader, TPartDownloadSlot &slot) override;
  bool AskYesNo(const std::string &question) override;
  void ShowMessage(const std::string &text) override;
  void ExitProgram() override;

  // Redraws the progress lines of the running downloads (on a terminal only).
  void ShowProgress(const std::vector<TDownloader *> &active);
  // Writes a line above the progress lines.
  void Say(const std::string &line);
  // Clears the progress lines for good.
  void Finish();

  std::function<void(TDownloader &, TPartDownloadSlot &)> OnAuthenticationRequired;
  std::function<void()> OnExitProgram;

private:
  std::string ProgressLine(const TDownloader &downloader) const;
  void ClearProgress();

  const TConstants &words_;
  std::FILE *output_;
  bool terminal_;
  bool quiet_;
  int progressLines_ = 0;
  std::map<std::string, std::string> shown_; // the last status told, by record file
};

} // namespace velmora
