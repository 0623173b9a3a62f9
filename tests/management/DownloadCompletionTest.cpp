#include "management/DownloadSystemFixture.h"

#include <sys/stat.h>

namespace velmora::testing {
namespace {

TEST_F(DownloadSystemTest, AFinishedDownloadIsJoinedMarkedDoneAndItsRecordSaved) {
  server.Serve("a.bin", "the whole file");
  TLocalDownloadinfo &a = Add("a.bin");
  ASSERT_TRUE(RunUntilStatus(a, words.Done));
  EXPECT_EQ(a.StatusImage, kStatusCodeDone);
  EXPECT_EQ(ReadWholeFile(saved("a.bin")), "the whole file");
  EXPECT_FALSE(std::filesystem::exists(a.TempFileName + ".0"));
  EXPECT_NE(ReadWholeFile(a.DatFileName()).find("Status=Done"), std::string::npos);
  EXPECT_TRUE(system->ActiveDownloaders().empty());
  ASSERT_EQ(ui.completeWindows.size(), 1u);
  EXPECT_TRUE(ui.completeWindows.front()->visible);
}

TEST_F(DownloadSystemTest, TheCompleteDialogFollowsTheCategoryElseTheSetting) {
  struct Case {
    const char *name;
    bool showCompletedDialog;
    bool shown;
  };
  auto quiet = std::make_unique<TCategory>();
  quiet->SetName("Quiet");
  quiet->SetExtensions("zip");
  quiet->SetShowCompleteDialog(false);
  auto loud = std::make_unique<TCategory>();
  loud->SetName("Loud");
  loud->SetExtensions("iso");
  loud->SetShowCompleteDialog(true);
  ASSERT_TRUE(categories.Add(std::move(quiet), false));
  ASSERT_TRUE(categories.Add(std::move(loud), false));
  const std::vector<Case> cases = {{"plain.bin", true, true},
                                   {"plain2.bin", false, false},
                                   {"q.zip", true, false},
                                   {"l.iso", false, true}};
  for (const Case &c : cases) {
    settings.WriteBool("Options", "ShowCompletedDialog", c.showCompletedDialog);
    server.Serve(c.name, "x");
    TLocalDownloadinfo &record = Add(c.name);
    ASSERT_TRUE(RunUntilStatus(record, words.Done)) << c.name;
    Settle();
    // A dialog not shown is released with its download at once.
    EXPECT_EQ(ui.completeWindows.size(), c.shown ? 1u : 0u) << c.name;
    for (RecordingUi::CompleteWindow *window : ui.completeWindows) {
      window->visible = false;
      system->FormClosed(*window->downloader);
    }
    Settle();
    EXPECT_TRUE(ui.completeWindows.empty()) << "closing the dialog releases it";
  }
}

TEST_F(DownloadSystemTest, ASuccessfulDownloadLeavesTheListWhenAskedWhileItsDialogStillKnowsTheFile) {
  settings.WriteBool("Options", "RemoveSuccessfulDownloadFromList", true);
  server.Serve("a.bin", "content");
  const std::string datFile = Add("a.bin").DatFileName();
  ASSERT_TRUE(RunUntil(loop, [&] { return system->AllRecords().Count() == 0; }));
  EXPECT_FALSE(std::filesystem::exists(datFile));
  ASSERT_EQ(ui.completeWindows.size(), 1u);
  EXPECT_EQ(ui.completeWindows.front()->localFileName, saved("a.bin"));
  EXPECT_EQ(ReadWholeFile(ui.completeWindows.front()->localFileName), "content");
  Settle();
  ASSERT_EQ(ui.completeWindows.size(), 1u) << "the open dialog keeps its download";
  EXPECT_EQ(ui.completeWindows.front()->downloader->Info.Status, words.Done);
}

TEST_F(DownloadSystemTest, TheLastDownloadEndingRunsExactlyTheFinalActionsSwitchedOn) {
  struct Case {
    bool connectUsingDialUp, disconnectAfterDownload, shutdownFlag, autoClose;
    std::vector<std::string> actions;
    bool exits;
  };
  const std::vector<Case> cases = {
      {false, false, false, false, {}, false},
      {true, false, false, false, {}, false},
      {false, true, false, false, {}, false},
      {true, true, false, false, {"hang-up"}, false},
      {false, false, false, true, {}, true},
      {false, false, true, false, {"power-off"}, false},
      {false, false, true, true, {"power-off"}, false},
      {true, true, true, true, {"hang-up", "power-off"}, false},
      {true, true, false, true, {"hang-up"}, true},
  };
  settings.WriteBool("Options", "ShowCompletedDialog", false);
  int index = 0;
  for (const Case &c : cases) {
    settings.WriteBool("Options", "ConnectUsingDialUp", c.connectUsingDialUp);
    settings.WriteBool("Options", "DisconnectAfterDownload", c.disconnectAfterDownload);
    settings.WriteBool("Options", "AutoCloseAfterDownloads", c.autoClose);
    system->ShutdownAfterDownloading = c.shutdownFlag;
    finalActions.clear();
    ui.log.clear();
    int finished = 0;
    system->OnFinalActionsDone = [&] { ++finished; };
    const std::string name = "f" + std::to_string(index++) + ".bin";
    server.Serve(name, "x");
    TLocalDownloadinfo &record = Add(name);
    ASSERT_TRUE(RunUntilStatus(record, words.Done));
    if (dialUp.pending) {
      EXPECT_EQ(finished, 0) << "the rest waits for the hang-up";
      std::exchange(dialUp.pending, nullptr)();
    }
    EXPECT_EQ(finalActions, c.actions) << index;
    EXPECT_EQ(ui.Logged("exit"), c.exits) << index;
    EXPECT_EQ(finished, 1) << index;
  }
}

TEST_F(DownloadSystemTest, TheHangUpSwitchOfTheCommandLineHangsUpWhateverTheSettingsSay) {
  system->HangUpAfterDownloading = true;
  server.Serve("a.bin", "x");
  ASSERT_TRUE(RunUntilStatus(Add("a.bin"), words.Done));
  EXPECT_EQ(finalActions, (std::vector<std::string>{"hang-up"}));
}

TEST_F(DownloadSystemTest, AFailedJoinKeepsThePartsAndCanBeJoinedAgain) {
  server.Serve("a.bin", "content");
  server.Hold("a.bin");
  TLocalDownloadinfo &a = Add("a.bin");
  Settle();
  // The folder of the file is taken by a file, so the join cannot write there.
  WriteWholeFile(dir.file("blocker"), "");
  a.LocalFileName = dir.file("blocker") + "/a.bin";
  server.Hold("a.bin", false);
  server.Answer(*PartOf("a.bin"));
  ASSERT_TRUE(RunUntil(loop, [&] { return a.StatusImage == kStatusCodeError; }));
  EXPECT_NE(a.Status, words.Done);
  EXPECT_EQ(ReadWholeFile(a.TempFileName + ".0"), "content");
  EXPECT_NE(std::find_if(ui.log.begin(), ui.log.end(),
                         [](const std::string &line) { return line.starts_with("message Couldn't"); }),
            ui.log.end());
  EXPECT_TRUE(system->ActiveDownloaders().empty());

  a.LocalFileName = saved("a.bin");
  server.Hold("a.bin");
  system->ResumeDownloads(TLDIList({&a}));
  ASSERT_TRUE(RunUntilStatus(a, words.Done));
  EXPECT_EQ(ReadWholeFile(saved("a.bin")), "content");
}

TEST_F(DownloadSystemTest, ADownloadThatIsJoiningCannotBePausedScheduledOrDeleted) {
  server.Serve("a.bin", std::string(100000, 'j'));
  server.Hold("a.bin");
  TLocalDownloadinfo &a = Add("a.bin");
  Settle();
  server.Hold("a.bin", false);
  server.Answer(*PartOf("a.bin"));
  ASSERT_EQ(a.Status, words.CombiningFiles);
  // The join runs on its thread; its end reaches the loop only when the loop turns again.
  system->PauseDownloads(TLDIList({&a}));
  system->ScheduleDownloads(TLDIList({&a}));
  system->DoOnSchedulerTimeOut();
  system->DeleteItems(TLDIList({&a}), false);
  EXPECT_EQ(system->AllRecords().Count(), 1u);
  EXPECT_NE(DownloaderOf(a), nullptr);
  ASSERT_TRUE(RunUntilStatus(a, words.Done));
  EXPECT_EQ(ReadWholeFile(saved("a.bin")), std::string(100000, 'j'));
}

TEST_F(DownloadSystemTest, PartsCompleteWhileTheSaveAsChoiceIsOpenAreJoinedOnceItStarts) {
  settings.WriteBool("Options", "ShowSaveDialog", true);
  server.Serve("a.bin", "early");
  TLocalDownloadinfo &a = Add("a.bin");
  ASSERT_EQ(ui.fileInfoWindows.size(), 1u);
  RecordingUi::FileInfoWindow &choice = *ui.fileInfoWindows.front();
  EXPECT_EQ(choice.size, words.ContactingHost);
  EXPECT_EQ(system->AllRecords().Count(), 0u) << "listed only once the user decides";
  ASSERT_TRUE(RunUntil(loop, [&] { return choice.size == "5 B"; })) << choice.size;
  Settle();
  EXPECT_NE(a.Status, words.CombiningFiles) << "no file name yet, nothing to join into";

  a.LocalFileName = saved("chosen.bin");
  system->TryToStartDownload(*choice.downloader);
  choice.visible = false;
  system->FormClosed(*choice.downloader);
  ASSERT_TRUE(RunUntilStatus(a, words.Done));
  EXPECT_EQ(ReadWholeFile(saved("chosen.bin")), "early");
  EXPECT_EQ(system->AllRecords().Count(), 1u);
}

TEST_F(DownloadSystemTest, AQueuedNewDownloadStoppedBehindItsSaveAsChoiceStartsWhenChosen) {
  settings.WriteInteger("Options", "MaxSimultaneousDownloads", 1);
  server.Hold("first.bin");
  TLocalDownloadinfo &first = Add("first.bin");
  settings.WriteBool("Options", "ShowSaveDialog", true);
  server.Serve("second.bin", "second");
  TLocalDownloadinfo &second = Add("second.bin");
  ASSERT_EQ(ui.fileInfoWindows.size(), 1u);
  RecordingUi::FileInfoWindow &choice = *ui.fileInfoWindows.front();
  // Without a free place it only learns the size, then stops.
  ASSERT_TRUE(RunUntilStatus(second, words.Paused));
  EXPECT_EQ(choice.size, "6 B");

  system->PauseDownloads(TLDIList({&first}));
  second.LocalFileName = saved("second.bin");
  system->TryToStartDownload(*choice.downloader);
  choice.visible = false;
  system->FormClosed(*choice.downloader);
  ASSERT_TRUE(RunUntilStatus(second, words.Done));
  EXPECT_EQ(ReadWholeFile(saved("second.bin")), "second");
}

TEST_F(DownloadSystemTest, AbortingTheSaveAsChoiceDeletesTheNewRecordWithItsFiles) {
  settings.WriteBool("Options", "ShowSaveDialog", true);
  server.Serve("a.bin", "content");
  TLocalDownloadinfo &a = Add("a.bin");
  const std::string tempFileName = a.TempFileName;
  ASSERT_TRUE(RunUntil(loop, [&] { return std::filesystem::exists(tempFileName + ".0"); }));
  RecordingUi::FileInfoWindow &choice = *ui.fileInfoWindows.front();
  choice.downloader->Abort();
  Settle();
  EXPECT_TRUE(ui.fileInfoWindows.empty());
  EXPECT_FALSE(std::filesystem::exists(tempFileName + ".0"));
  EXPECT_FALSE(std::filesystem::exists(tempFileName + ".dat"));
  EXPECT_EQ(system->AllRecords().Count(), 0u);
}

} // namespace
} // namespace velmora::testing
