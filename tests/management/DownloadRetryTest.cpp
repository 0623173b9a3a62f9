#include "management/DownloadSystemFixture.h"

namespace velmora::testing {
namespace {

TEST_F(DownloadSystemTest, AFailedDownloadCountsDownThenStartsAgain) {
  settings.WriteInteger("Options", "RetryDelay", 3);
  server.Fail("a.bin", 1, words.FileNotFound);
  server.Serve("a.bin", "content");
  TLocalDownloadinfo &a = Add("a.bin");
  ASSERT_TRUE(RunUntil(loop, [&] { return a.RetryTimer != nullptr; }));
  ASSERT_EQ(ui.downloadWindows.size(), 1u);
  RecordingUi::DownloadWindow &window = *ui.downloadWindows.front();
  // The record keeps the real error word although its window is open.
  EXPECT_EQ(a.Status, words.FileNotFound);
  EXPECT_EQ(a.StatusImage, kStatusCodeError);
  EXPECT_EQ(window.caption, "File not found: a.bin");
  EXPECT_EQ(a.RetryCountdown, 3);

  system->OnRetryTimer(a);
  EXPECT_EQ(window.status, "File not found (2)");
  system->OnRetryTimer(a);
  EXPECT_EQ(window.status, "File not found (1)");
  EXPECT_EQ(ui.rows[a.TempFileName], words.FileNotFound);
  system->OnRetryTimer(a);
  EXPECT_EQ(a.RetryTimer, nullptr);
  EXPECT_EQ(window.status, words.ContactingHost);
  EXPECT_EQ(a.Status, words.ContactingHost);
  EXPECT_EQ(DownloaderOf(a)->RestartCount, 1);
  ASSERT_TRUE(RunUntilStatus(a, words.Done));
  EXPECT_EQ(server.Requests("a.bin"), 2);
}

TEST_F(DownloadSystemTest, RetriesGiveUpOnceTheRestartsReachRetryTimes) {
  struct Case {
    int32_t retryTimes;
    int requests; // the first one and a restart after each error but the last
  };
  const std::vector<Case> cases = {{2, 3}, {0, 1}, {-5, 1}};
  for (const Case &c : cases) {
    settings.WriteInteger("Options", "RetryTimes", c.retryTimes);
    const std::string name = "r" + std::to_string(c.retryTimes) + ".bin";
    server.Fail(name, 100);
    TLocalDownloadinfo &record = Add(name);
    for (int i = 0; i < 10 && DownloaderOf(record) != nullptr; ++i) {
      ASSERT_TRUE(
          RunUntil(loop, [&] { return record.RetryTimer != nullptr || DownloaderOf(record) == nullptr; }));
      CountDown(record);
    }
    EXPECT_EQ(DownloaderOf(record), nullptr) << c.retryTimes;
    EXPECT_EQ(server.Requests(name), c.requests) << c.retryTimes;
    EXPECT_EQ(record.Status, words.CouldntConnectToHost);
    EXPECT_EQ(record.StatusImage, kStatusCodeError);
    EXPECT_EQ(record.RetryTimer, nullptr);
  }
  EXPECT_TRUE(system->ActiveDownloaders().empty());
}

TEST_F(DownloadSystemTest, DataArrivingResetsTheRestartCount) {
  settings.WriteInteger("Options", "RetryTimes", 1);
  server.Fail("a.bin", 1);
  server.Hold("a.bin");
  TLocalDownloadinfo &a = Add("a.bin");
  Settle();
  FakePart *part = PartOf("a.bin");
  ASSERT_NE(part, nullptr);
  server.Hold("a.bin", false);
  server.Answer(*part); // the first failure
  CountDown(a);
  ASSERT_EQ(DownloaderOf(a)->RestartCount, 1);
  // The restarted request delivers data, then the connection breaks.
  part->Report(pdsDownloading);
  EXPECT_EQ(DownloaderOf(a)->RestartCount, 0);
  part->Fail(fmeConnectionLost, words.LostConnectionToServer);
  part->Report(pdsError);
  EXPECT_NE(a.RetryTimer, nullptr) << "with the count reset, this error is retried too";
  server.Serve("a.bin", "content");
  CountDown(a);
  EXPECT_TRUE(RunUntilStatus(a, words.Done));
}

TEST_F(DownloadSystemTest, AGiveUpOfTheLastActiveDownloadRunsTheFinalActions) {
  settings.WriteInteger("Options", "RetryTimes", 0);
  settings.WriteBool("Options", "AutoCloseAfterDownloads", true);
  server.Fail("a.bin", 1);
  TLocalDownloadinfo &a = Add("a.bin");
  ASSERT_TRUE(RunUntil(loop, [&] { return DownloaderOf(a) == nullptr; }));
  EXPECT_TRUE(ui.Logged("exit"));
}

} // namespace
} // namespace velmora::testing
