#include "app/TerminalUi.h"

#include "store/IndependentGeneralFunctions.h"

#include <filesystem>

namespace velmora {

namespace {

std::string FileNameOf(const TLocalDownloadinfo &record) {
  return std::filesystem::path(record.LocalFileName).filename().string();
}

} // namespace

TTerminalUi::TTerminalUi(const TConstants &words, std::FILE *output, bool terminal, bool quiet)
    : words_(words), output_(output), terminal_(terminal), quiet_(quiet) {}

void TTerminalUi::ClearProgress() {
  // Up to the first progress line, then everything below it goes.
  if (progressLines_ > 0)
    static_cast<void>(std::fprintf(output_, "\033[%dA\r\033[J", progressLines_));
  progressLines_ = 0;
}

void TTerminalUi::Say(const std::string &line) {
  if (terminal_)
    ClearProgress();
  static_cast<void>(std::fprintf(output_, "%s\n", line.c_str()));
  static_cast<void>(std::fflush(output_));
}

void TTerminalUi::Finish() {
  if (terminal_)
    ClearProgress();
  static_cast<void>(std::fflush(output_));
}

std::string TTerminalUi::ProgressLine(const TDownloader &downloader) const {
  const TLocalDownloadinfo &record = downloader.Info;
  const int64_t count = downloader.TransferCount();
  std::string line = FileNameOf(record) + "  " + record.Status;
  if (record.RetryTimer != nullptr)
    return line + " (" + std::to_string(record.RetryCountdown) + ")";
  if (record.FileSize > 0)
    line += "  " + std::to_string(count * 100 / record.FileSize) + "%  " +
            BytesToPresentableString(count, words_) + " of " +
            BytesToPresentableString(record.FileSize, words_);
  else
    line += "  " + BytesToPresentableString(count, words_);
  return line + "  " + downloader.TransferRate() + " kB/s  " + downloader.TimeLeft() + " left";
}

void TTerminalUi::ShowProgress(const std::vector<TDownloader *> &active) {
  if (quiet_ || !terminal_)
    return;
  ClearProgress();
  for (const TDownloader *downloader : active)
    static_cast<void>(std::fprintf(output_, "%s\033[K\n", ProgressLine(*downloader).c_str()));
  progressLines_ = static_cast<int>(active.size());
  static_cast<void>(std::fflush(output_));
}

void TTerminalUi::UpdateRow(TLocalDownloadinfo &record) {
  const bool error = record.StatusImage == kStatusCodeError;
  const bool retrying = error && record.RetryTimer != nullptr;
  // Only a new status word is worth a line (not the joining percentage); the progress lines show
  // the rest.
  if (!error && words_.StatusToEnglish(record.Status).empty())
    return;
  std::string &shown = shown_[record.TempFileName];
  const std::string state = record.Status + (retrying ? " retrying" : "");
  if (shown == state)
    return;
  shown = state;
  if (quiet_ && !error)
    return;
  if (record.IsDone())
    Say(words_.Done + ": " + record.LocalFileName);
  else if (retrying)
    Say(FileNameOf(record) + ": retrying in " + std::to_string(record.RetryCountdown) + " s");
  else if (error || record.StatusState == TStatusState::Queued ||
           record.StatusState == TStatusState::Paused || !terminal_)
    Say(FileNameOf(record) + ": " + record.Status);
}

void TTerminalUi::ShowAuthForm(TDownloader &downloader, TPartDownloadSlot &slot) {
  if (OnAuthenticationRequired)
    OnAuthenticationRequired(downloader, slot);
}

bool TTerminalUi::AskYesNo(const std::string &question) {
  // The command line already said what to do.
  Say(question + " " + words_.Yes);
  return true;
}

void TTerminalUi::ShowMessage(const std::string &text) { Say("velmora-get: " + text); }

void TTerminalUi::ExitProgram() {
  if (OnExitProgram)
    OnExitProgram();
}

} // namespace velmora
