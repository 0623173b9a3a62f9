#include "management/ShellLifecycle.h"

#include "shell/DownloadableUrl.h"
#include "shell/ReportError.h"
#include "store/IndependentGeneralFunctions.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

namespace velmora {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

} // namespace

void TShellLifecycle::Terminate() {
  if (terminated_)
    return;
  terminated_ = true;
  actions_.DoBeforeTerminate();
  actions_.Terminate();
}

bool TShellLifecycle::FormCloseQuery() {
  return Guarded("procedure TForm_Main.FormCloseQuery(Sender: TObject; var CanClose: Boolean)", [&] {
    if (SessionEnding || terminated_) {
      Terminate();
      return true;
    }
    if (actions_.MinimizeToTray()) {
      actions_.ToggleTray();
      return false;
    }
    return ExitProgram();
  });
}

bool TShellLifecycle::ExitProgram() {
  return Guarded("function TForm_Main.ExitProgram : boolean", [&] {
    if (!SessionEnding && actions_.AnyDownloadActive() &&
        !actions_.AskYesNo(actions_.Translate("Download(s) in progress. Exit anyway?")))
      return false;
    Terminate();
    return true;
  });
}

void TShellLifecycle::CheckInstances(const std::string &text) {
  GuardedVoid("procedure TForm_Main.CheckInstances(Sender: TObject)", [&] {
    if (IsDownloadableUrl(TUrl(text)))
      actions_.AddDownload(text);
  });
}

int CleanUpTempDirectory(const std::string &folder) {
  return Guarded("procedure TForm_Main.CleanUpTempDirectory", [&] {
    std::vector<std::filesystem::path> files;
    std::set<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
      names.insert(Lower(it->path().filename().string()));
      std::error_code typeError;
      if (it->is_regular_file(typeError) && !it->is_symlink(typeError))
        files.push_back(it->path());
    }
    int removed = 0;
    for (const std::filesystem::path &file : files) {
      const std::string name = file.filename().string();
      const std::string base = name.substr(0, name.find('.'));
      if (names.contains(Lower(base) + ".dat") || !IsNumericExtension(name))
        continue;
      std::error_code removeError;
      removed += std::filesystem::remove(file, removeError) ? 1 : 0;
    }
    return removed;
  });
}

} // namespace velmora
