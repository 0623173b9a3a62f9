#include "management/ShellLifecycle.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace velmora {
namespace {

using testing::TempDir;

// Records what closing and hand-overs ask of the window.
class RecordingShell : public IShellActions {
public:
  bool AnyDownloadActive() const override { return active; }
  bool AskYesNo(const std::string &question) override {
    log.push_back("ask " + question);
    return answer;
  }
  void DoBeforeTerminate() override { log.push_back("save"); }
  void Terminate() override { log.push_back("terminate"); }
  void ToggleTray() override { log.push_back("tray"); }
  bool MinimizeToTray() const override { return toTray; }
  void AddDownload(const std::string &url) override { log.push_back("add " + url); }
  std::string Translate(const std::string &english) const override { return english; }
  bool active = false, answer = false, toTray = false;
  std::vector<std::string> log;
};

TEST(ShellLifecycle, Closing) {
  const std::string question = "ask Download(s) in progress. Exit anyway?";
  struct Case {
    std::string name;
    bool active, answer, toTray, sessionEnding, menuExit;
    bool closes;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"idle close ends", false, false, false, false, false, true, {"save", "terminate"}},
      {"active close asks, No keeps running", true, false, false, false, false, false, {question}},
      {"active close asks, Yes ends", true, true, false, false, false, true, {question, "save", "terminate"}},
      {"MinimizeToTray hides instead", true, false, true, false, false, false, {"tray"}},
      {"Exit still asks with MinimizeToTray", true, false, true, false, true, false, {question}},
      {"a session end never asks", true, false, false, true, false, true, {"save", "terminate"}},
      {"a session end ignores the tray", true, false, true, true, false, true, {"save", "terminate"}},
  };
  for (const Case &c : cases) {
    RecordingShell shell;
    shell.active = c.active;
    shell.answer = c.answer;
    shell.toTray = c.toTray;
    TShellLifecycle lifecycle(shell);
    lifecycle.SessionEnding = c.sessionEnding;
    const bool closes = c.menuExit ? lifecycle.ExitProgram() : lifecycle.FormCloseQuery();
    EXPECT_EQ(closes, c.closes) << c.name;
    EXPECT_EQ(shell.log, c.log) << c.name;
  }
}

TEST(ShellLifecycle, ClosingTwiceSavesOnce) {
  RecordingShell shell;
  TShellLifecycle lifecycle(shell);
  EXPECT_TRUE(lifecycle.ExitProgram());
  EXPECT_TRUE(lifecycle.FormCloseQuery()); // the window's close after the exit
  EXPECT_EQ(shell.log, (std::vector<std::string>{"save", "terminate"}));
}

TEST(ShellLifecycle, OnlyAddressesWeDownloadBecomeDownloads) {
  RecordingShell shell;
  TShellLifecycle lifecycle(shell);
  for (const std::string text : {"http://127.0.0.1/f.bin", "ftp://h/g.zip", "https://h/x", "/uninstall", "",
                                 "file.txt", "mailto:a@b", "http://"})
    lifecycle.CheckInstances(text);
  EXPECT_EQ(shell.log,
            (std::vector<std::string>{"add http://127.0.0.1/f.bin", "add ftp://h/g.zip", "add https://h/x"}));
}

TEST(ShellLifecycle, CleanUpRemovesOrphanedPartFilesOnly) {
  TempDir dir;
  for (const std::string name :
       {"ab12.3400", "cd34.0", "CD34.DAT", "cd34.7", "notes.txt", "ef56", "ij90.", "gh78.12a"})
    testing::WriteWholeFile(dir.path() / name, "x");
  EXPECT_EQ(CleanUpTempDirectory(dir.path().string()), 2);
  std::vector<std::string> left;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{"CD34.DAT", "cd34.0", "cd34.7", "ef56", "gh78.12a", "notes.txt"}));
  EXPECT_EQ(CleanUpTempDirectory(dir.file("missing")), 0);
}

TEST(ShellLifecycle, VersionCheckAtMostOnceADay) {
  EXPECT_TRUE(VersionCheckDue(46000, 0));
  EXPECT_FALSE(VersionCheckDue(46000, 46000));
  EXPECT_TRUE(VersionCheckDue(46001, 46000));
}

} // namespace
} // namespace velmora
