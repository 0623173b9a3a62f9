#include "management/DownloadSystemFixture.h"

namespace velmora::testing {
namespace {

TEST_F(DownloadSystemTest, AFourthDownloadWaitsInTheQueueUntilAPauseFreesAPlace) {
  for (const char *name : {"a.bin", "b.bin", "c.bin", "d.bin"})
    server.Hold(name);
  TLocalDownloadinfo &a = Add("a.bin");
  Add("b.bin");
  Add("c.bin");
  TLocalDownloadinfo &d = Add("d.bin");
  Settle();
  EXPECT_EQ(system->NumberOfDownloading(), 3);
  EXPECT_EQ(d.Status, words.Queued);
  EXPECT_EQ(d.StatusImage, kStatusCodeQueued);
  EXPECT_EQ(DownloaderOf(d), nullptr) << "a queued download keeps no downloader";
  EXPECT_EQ(system->AllRecords().Count(), 4u);

  system->PauseDownloads(TLDIList({&a}));
  Settle();
  EXPECT_EQ(a.Status, words.Paused);
  EXPECT_EQ(DownloaderOf(a), nullptr);
  ASSERT_NE(DownloaderOf(d), nullptr);
  EXPECT_EQ(d.Status, words.ContactingHost);
  EXPECT_EQ(system->NumberOfDownloading(), 3);
  EXPECT_EQ(server.Requests("d.bin"), 1) << "the queued download asked only once it started";
}

TEST_F(DownloadSystemTest, AJoiningDownloadTakesNoPlaceOneWaitingToRetryDoes) {
  settings.WriteInteger("Options", "MaxSimultaneousDownloads", 2);
  for (const char *name : {"a.bin", "b.bin", "c.bin"})
    server.Hold(name);
  server.Fail("b.bin", 1);
  server.Hold("b.bin", false);
  TLocalDownloadinfo &a = Add("a.bin");
  TLocalDownloadinfo &b = Add("b.bin");
  TLocalDownloadinfo &c = Add("c.bin");
  Settle();
  ASSERT_NE(b.RetryTimer, nullptr) << b.Status;
  EXPECT_EQ(c.Status, words.Queued) << "a download waiting to retry keeps its place";

  server.Hold("a.bin", false);
  server.Serve("a.bin", std::string(5000, 'a'));
  server.Answer(*PartOf("a.bin"));
  EXPECT_EQ(a.Status, words.CombiningFiles);
  EXPECT_EQ(system->NumberOfDownloading(), 2);
  EXPECT_NE(DownloaderOf(c), nullptr) << "the joining download gave its place to the queued one";
  ASSERT_TRUE(RunUntilStatus(a, words.Done));
  EXPECT_EQ(ReadWholeFile(saved("a.bin")), std::string(5000, 'a'));
}

TEST_F(DownloadSystemTest, QueuedRecordsStartInListOrderWhilePlacesAreFree) {
  settings.WriteInteger("Options", "MaxSimultaneousDownloads", 1);
  for (const char *name : {"a.bin", "b.bin", "c.bin"})
    server.Hold(name);
  TLocalDownloadinfo &a = Add("a.bin");
  TLocalDownloadinfo &b = Add("b.bin");
  TLocalDownloadinfo &c = Add("c.bin");
  Settle();
  EXPECT_EQ(Statuses(), (std::vector<std::string>{words.ContactingHost, words.Queued, words.Queued}));
  settings.WriteInteger("Options", "MaxSimultaneousDownloads", 3);
  system->PauseDownloads(TLDIList({&a}));
  Settle();
  EXPECT_NE(DownloaderOf(b), nullptr);
  EXPECT_NE(DownloaderOf(c), nullptr) << "the walk goes on after the first start";
}

TEST_F(DownloadSystemTest, AWrongPlaceCountStillLetsOneDownloadRun) {
  settings.WriteInteger("Options", "MaxSimultaneousDownloads", 0);
  server.Hold("a.bin");
  TLocalDownloadinfo &a = Add("a.bin");
  Settle();
  EXPECT_EQ(a.Status, words.ContactingHost);
}

TEST_F(DownloadSystemTest, ASilentPartTimesOutAfterTimeOutTime) {
  settings.WriteInteger("Options", "TimeOutTime", 5000);
  settings.WriteInteger("Options", "RetryTimes", 0);
  server.Hold("a.bin");
  TLocalDownloadinfo &a = Add("a.bin");
  Settle();
  FakePart *part = PartOf("a.bin");
  ASSERT_NE(part, nullptr);
  part->LastActivityTick = 1000;
  tick = 1000 + 5000;
  system->CheckDownloadsForTimeOut();
  EXPECT_EQ(a.Status, words.ContactingHost);
  tick = 1000 + 5001;
  system->CheckDownloadsForTimeOut();
  EXPECT_EQ(a.Status, words.Timeout);
  EXPECT_EQ(a.StatusImage, kStatusCodeError);
}

} // namespace
} // namespace velmora::testing
