#pragma once

#include "shell/Constants.h"

#include <memory>
#include <string>

namespace velmora {

class TDownloader;
class TLocalDownloadinfo;
class TPartDownloadSlot;

// The Save As choice of a new download whose local file name was not decided automatically. It
// decides with the download system: Start calls TryToStartDownload, Schedule calls
// ScheduleNewDownload, Abort aborts the downloader; once it is hidden it calls FormClosed.
class IFileInfoWindow {
public:
  virtual ~IFileInfoWindow() = default;
  virtual bool Visible() const = 0;
  // The size line: "Contacting host", then the size once it is known.
  virtual void ShowSize(const std::string &text) = 0;
  // The size line shows the error in the status colour, and there is nothing left to start.
  virtual void ShowError(const std::string &text, TColor color) = 0;
};

// The window of one running download with a row per part. Closing it by hand only hides it.
class IDownloadWindow {
public:
  virtual ~IDownloadWindow() = default;
  virtual bool Visible() const = 0;
  // Shows it in front, on the screen.
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // Redraws everything from the downloader.
  virtual void Refresh() = 0;
  virtual void SlotChanged(TPartDownloadSlot &slot) = 0;
  virtual void SlotDeleted(TPartDownloadSlot &slot) = 0;
  virtual void SetCaption(const std::string &caption) = 0;
  // The status line (the error word, the retry countdown).
  virtual void ShowStatus(const std::string &text, TColor color) = 0;
};

// The dialog offered when a download is complete; once it is hidden it calls FormClosed.
class ICompleteWindow {
public:
  virtual ~ICompleteWindow() = default;
  virtual bool Visible() const = 0;
  virtual void Show() = 0;
};

// Everything the download system shows goes through this: the GUI implements it with its windows,
// velmora-get with lines on the terminal, tests with a recording fake. Windows are created for a
// downloader and owned by the download system, which destroys them before the downloader.
class IDownloadSystemUi {
public:
  virtual ~IDownloadSystemUi() = default;
  // Creates the Save As choice for the downloader's record, shows it in front and on the screen;
  // nullptr when nobody can be asked (then the default folder is taken).
  virtual std::unique_ptr<IFileInfoWindow> CreateFileInfoWindow(TDownloader &downloader) = 0;
  // Creates the download window, not yet shown.
  virtual std::unique_ptr<IDownloadWindow> CreateDownloadWindow(TDownloader &downloader) = 0;
  // Creates the download-complete dialog for the downloader's record, not yet shown; it copies the
  // address and the file, since the record may leave the list while the dialog is open.
  virtual std::unique_ptr<ICompleteWindow> CreateCompleteWindow(TDownloader &downloader) = 0;
  // The record changed, or left the list (then it is still alive during the call).
  virtual void UpdateRow(TLocalDownloadinfo &record) = 0;
  // A server wants credentials for the slot: answered by SlotAuthenticated or AbortSlotAuthenticated.
  virtual void ShowAuthForm(TDownloader &downloader, TPartDownloadSlot &slot) = 0;
  // A confirmation titled "Velmora"; true only for Yes.
  virtual bool AskYesNo(const std::string &question) = 0;
  virtual void ShowMessage(const std::string &text) = 0;
  // Ends the program after the last download when asked to (nothing is active any more).
  virtual void ExitProgram() = 0;
};

} // namespace velmora
