#pragma once

#include "store/LocalDownloadInfo.h"

#include <functional>
#include <memory>
#include <string>

namespace velmora {

// What closing and the hand-over need of the main window and the download system.
class IShellActions {
public:
  virtual ~IShellActions() = default;
  virtual bool AnyDownloadActive() const = 0;
  // A Yes/No question titled "Velmora"; true only for Yes.
  virtual bool AskYesNo(const std::string &question) = 0;
  // Saves the window state and closes what the window owns.
  virtual void DoBeforeTerminate() = 0;
  // Ends the application's event loop.
  virtual void Terminate() = 0;
  // Hides the window in the tray, or shows it again.
  virtual void ToggleTray() = 0;
  virtual bool MinimizeToTray() const = 0;
  // Hands a new record for the address to the download system.
  virtual void AddDownload(const std::string &url) = 0;
  virtual std::string Translate(const std::string &english) const = 0;
};

// The decisions of closing and of a hand-over from another copy, apart from any window.
class TShellLifecycle {
public:
  explicit TShellLifecycle(IShellActions &actions) : actions_(actions) {}

  // The desktop session ends (logout, SIGTERM, SIGHUP): closing asks nothing from now on.
  bool SessionEnding = false;
  bool Terminated() const { return terminated_; }

  // Whether the window may close.
  bool FormCloseQuery();
  // Exit: asks when downloads are active; true when the program is terminating.
  bool ExitProgram();
  // A text handed over by another copy or given on the command line: a download when it is an
  // address this program downloads, else nothing.
  void CheckInstances(const std::string &text);

private:
  void Terminate();

  IShellActions &actions_;
  bool terminated_ = false;
};

// Removes the orphaned part files of the folder: name.<digits> (or a bare name) without a
// name.dat beside it (names compared without case). Returns how many went.
int CleanUpTempDirectory(const std::string &folder);

// Whether the daily version check is due: today (a whole day number) after the last check.
inline bool VersionCheckDue(int32_t today, int32_t lastChecked) { return today - lastChecked > 0; }

} // namespace velmora
