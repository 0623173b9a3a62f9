#include "engine/Downloader.h"

#include "engine/FakePartDownloader.h"
#include "engine/HttpPartDownloader.h"
#include "engine/HttpPartFixture.h"
#include "engine/PartDownloaderFactory.h"
#include "engine/PartLayout.h"
#include "engine/SiteCredentials.h"
#include "platform/SettingsDatabase.h"
#include "platform/Tick.h"
#include "support/LoopRunner.h"
#include "support/PeerServers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora {
namespace {

using testing::NginxPeer;
using testing::RemoteBytes;
using testing::RunUntil;
using testing::TempDir;

// The parts of a finished download, joined in byte order as the joining will do.
std::string JoinedParts(const std::string &tempFileName, int64_t fileSize) {
  std::string joined;
  while (static_cast<int64_t>(joined.size()) < fileSize) {
    const std::string part =
        testing::ReadWholeFile(PartFileName(tempFileName, static_cast<int64_t>(joined.size())));
    if (part.empty())
      break;
    joined += part;
  }
  return joined;
}

// A downloader over real HTTP part downloaders, for one record in a partial-downloads folder of its own.
class DownloaderPeerTest : public ::testing::Test {
protected:
  ~DownloaderPeerTest() override {
    downloader.reset();
    loop.runOnce(0);
    EXPECT_EQ(loop.registeredCount(), 0u);
  }

  void Serve(const std::string &name, int64_t size) {
    testing::WriteWholeFile(nginx.filesFolder() / name, RemoteBytes(0, size));
  }

  TLocalDownloadinfo &NewRecord(const std::string &url) {
    record = std::make_unique<TLocalDownloadinfo>(TUrl(url), dir.file("REC"), records);
    record->LocalFileName = dir.file("final.bin");
    return *record;
  }

  TDownloader &Start(bool startNow = true) {
    downloader = std::make_unique<TDownloader>(context, *record, 4, false, startNow);
    downloader->OnAllPartsDone = [this](TDownloader &) { events.push_back("all-parts-done"); };
    downloader->OnDownloadError = [this](TDownloader &d) { events.push_back("error " + d.ErrorText); };
    downloader->OnPause = [this](TDownloader &) { events.push_back("pause"); };
    downloader->OnFileSizeRequestDone = [this](TDownloader &) { events.push_back("size"); };
    downloader->StartDownload();
    return *downloader;
  }

  bool RunUntilEvent(const std::string &event, uint32_t deadlineMs = 20000) {
    return RunUntil(
        loop, [&] { return std::find(events.begin(), events.end(), event) != events.end(); }, deadlineMs);
  }

  NginxPeer nginx;
  TempDir dir;
  platform::EventLoop loop;
  std::unique_ptr<platform::SettingsDatabase> database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
  TUrlCredentials credentials;
  TConstants words;
  THttpPartContext http{loop, settings, [](const std::string &) { return std::optional<std::string>(); },
                        credentials, words};
  TPartDownloaderFactory factory{http};
  TDownloaderContext context{loop, settings, words, factory, {}};
  TRecordContext records{words, nullptr, nullptr, [this] { return dir.path().string(); }};
  std::unique_ptr<TLocalDownloadinfo> record;
  std::unique_ptr<TDownloader> downloader;
  std::vector<std::string> events;
};

TEST_F(DownloaderPeerTest, SplitsIntoPartsAndCompletesByteExact) {
  // Throttled, so that the first part cannot swallow its neighbours before they connect.
  constexpr int64_t kSize = 400 * 1024 + 17;
  Serve("big.bin", kSize);
  NewRecord(nginx.url("/slow/big.bin"));
  Start();
  ASSERT_TRUE(RunUntilEvent("all-parts-done")) << ::testing::PrintToString(events);
  EXPECT_EQ(record->FileSize, kSize);
  EXPECT_EQ(record->NumOfParts, downloader->Slots.NumberOfSlots());
  EXPECT_EQ(downloader->Slots.NumberOfSlots(), 4);
  EXPECT_EQ(downloader->ResumeSupported, rsYes);
  EXPECT_EQ(record->StatusImage, kStatusCodeDone);
  EXPECT_TRUE(downloader->AllPartsDone());
  EXPECT_EQ(JoinedParts(record->TempFileName, kSize), RemoteBytes(0, kSize));
  EXPECT_EQ(downloader->TransferCount(), kSize);
}

TEST_F(DownloaderPeerTest, PartsFinishingTogetherHandOverToJoiningOnce) {
  // Resumed parts of equal size on one throttled server end within the same moment.
  constexpr int64_t kSize = 4 * 131072;
  Serve("together.bin", kSize);
  NewRecord(nginx.url("/slow/together.bin"));
  record->FileSize = kSize;
  record->NumOfParts = 4;
  for (int64_t start = 0; start < kSize; start += 131072)
    testing::WriteWholeFile(PartFileName(record->TempFileName, start), RemoteBytes(start, 65536));
  Start();
  ASSERT_TRUE(RunUntilEvent("all-parts-done")) << ::testing::PrintToString(events);
  RunUntil(
      loop, [] { return false; }, 500);
  EXPECT_EQ(std::count(events.begin(), events.end(), "all-parts-done"), 1);
  EXPECT_EQ(JoinedParts(record->TempFileName, kSize), RemoteBytes(0, kSize));
}

TEST_F(DownloaderPeerTest, WithoutRangesTheFirstPartFetchesEverything) {
  constexpr int64_t kSize = 700 * 1024;
  Serve("whole.bin", kSize);
  NewRecord(nginx.url("/norange/whole.bin"));
  Start();
  ASSERT_TRUE(RunUntilEvent("all-parts-done")) << ::testing::PrintToString(events);
  EXPECT_EQ(downloader->ResumeSupported, rsNo);
  EXPECT_EQ(downloader->Slots.NumberOfSlots(), 1);
  EXPECT_EQ(testing::ReadWholeFile(PartFileName(record->TempFileName, 0)), RemoteBytes(0, kSize));
}

TEST_F(DownloaderPeerTest, AFailedSizeRequestEndsTheDownloadWithItsText) {
  NewRecord(nginx.url("/files/missing.bin"));
  Start();
  ASSERT_TRUE(RunUntilEvent("error File not found")) << ::testing::PrintToString(events);
  EXPECT_EQ(record->Status, "File not found");
  EXPECT_EQ(record->StatusImage, kStatusCodeError);
}

TEST_F(DownloaderPeerTest, AQueuedDownloadPausesOnceSizeAndResumeAreKnown) {
  constexpr int64_t kSize = 600 * 1024;
  Serve("queued.bin", kSize);
  NewRecord(nginx.url("/slow/queued.bin"));
  Start(false);
  ASSERT_TRUE(RunUntilEvent("pause")) << ::testing::PrintToString(events);
  EXPECT_EQ(record->FileSize, kSize);
  EXPECT_EQ(record->NumOfParts, -1) << "a queued download is not split";
}

TEST_F(DownloaderPeerTest, AnInterruptedDownloadResumesFromItsPartFiles) {
  constexpr int64_t kSize = 2 * 1024 * 1024;
  Serve("resume.bin", kSize);
  NewRecord(nginx.url("/files/resume.bin"));
  // Part files of an earlier run: the first holds some bytes, the second is complete, the third empty.
  record->FileSize = kSize;
  record->NumOfParts = 3;
  const int64_t second = 700000, third = 1400000;
  testing::WriteWholeFile(PartFileName(record->TempFileName, 0), RemoteBytes(0, 1234));
  testing::WriteWholeFile(PartFileName(record->TempFileName, second), RemoteBytes(second, third - second));
  testing::WriteWholeFile(PartFileName(record->TempFileName, third), "");
  Start();
  ASSERT_TRUE(RunUntilEvent("all-parts-done")) << ::testing::PrintToString(events);
  ASSERT_EQ(downloader->Slots.NumberOfSlots(), 3);
  EXPECT_EQ(JoinedParts(record->TempFileName, kSize), RemoteBytes(0, kSize));
}

// A join interrupted by a crash leaves the first part longer than its range, with the other parts
// still there: the next start cuts it back and hands the parts to joining again.
TEST_F(DownloaderPeerTest, AFirstPartLeftLongByAnInterruptedJoinIsCutBack) {
  constexpr int64_t kSize = 300000, kSecond = 100000, kThird = 200000;
  Serve("joined.bin", kSize);
  NewRecord(nginx.url("/files/joined.bin"));
  record->FileSize = kSize;
  record->NumOfParts = 3;
  testing::WriteWholeFile(PartFileName(record->TempFileName, 0), RemoteBytes(0, kSecond + 1234));
  testing::WriteWholeFile(PartFileName(record->TempFileName, kSecond),
                          RemoteBytes(kSecond, kThird - kSecond));
  testing::WriteWholeFile(PartFileName(record->TempFileName, kThird), RemoteBytes(kThird, kSize - kThird));
  Start();
  ASSERT_TRUE(RunUntilEvent("all-parts-done")) << ::testing::PrintToString(events);
  EXPECT_EQ(testing::ReadWholeFile(PartFileName(record->TempFileName, 0)), RemoteBytes(0, kSecond));
  EXPECT_EQ(JoinedParts(record->TempFileName, kSize), RemoteBytes(0, kSize));
}

// Every part file complete when the downloader is made (a join that failed, or a kill before the
// join's rename): the hand-over waits for StartDownload, when the owner's handlers are attached.
TEST_F(DownloaderPeerTest, PartsCompleteBeforeTheStartAreHandedOverWhenStarted) {
  constexpr int64_t kSize = 300000, kSecond = 100000;
  NewRecord(nginx.url("/files/never-asked.bin"));
  record->FileSize = kSize;
  record->NumOfParts = 2;
  testing::WriteWholeFile(PartFileName(record->TempFileName, 0), RemoteBytes(0, kSecond));
  testing::WriteWholeFile(PartFileName(record->TempFileName, kSecond), RemoteBytes(kSecond, kSize - kSecond));
  Start();
  EXPECT_EQ(events, std::vector<std::string>{"all-parts-done"});
  RunUntil(
      loop, [] { return false; }, 200);
  EXPECT_EQ(events, std::vector<std::string>{"all-parts-done"});
}

TEST_F(DownloaderPeerTest, ARecordSplitBeforeWhosePartFilesAreGoneSplitsAgain) {
  constexpr int64_t kSize = 400 * 1024 + 3;
  Serve("again.bin", kSize);
  NewRecord(nginx.url("/slow/again.bin"));
  record->FileSize = kSize;
  record->NumOfParts = 4;
  Start();
  ASSERT_TRUE(RunUntilEvent("all-parts-done")) << ::testing::PrintToString(events);
  EXPECT_EQ(downloader->Slots.NumberOfSlots(), 4);
  EXPECT_EQ(record->NumOfParts, 4);
  EXPECT_EQ(JoinedParts(record->TempFileName, kSize), RemoteBytes(0, kSize));
}

TEST_F(DownloaderPeerTest, PartsOnADeadMirrorMoveToOneThatAnswers) {
  constexpr int64_t kSize = 400 * 1024;
  Serve("mirrored.bin", kSize);
  NewRecord(nginx.url("/slow/mirrored.bin"));
  Start();
  // A mirror that refuses connections and pings fastest, so the split puts parts on it first.
  TFileMirror *dead =
      downloader->MirrorList.Add(std::make_unique<TFileMirror>("http://127.0.0.1:1/slow/mirrored.bin"));
  dead->PingTime = 1;
  ASSERT_TRUE(RunUntilEvent("all-parts-done")) << ::testing::PrintToString(events);
  EXPECT_EQ(dead->ErrorState, fmeCouldntConnect);
  EXPECT_EQ(JoinedParts(record->TempFileName, kSize), RemoteBytes(0, kSize));
}

// A downloader over part downloaders the test drives by hand.
class DownloaderFakeTest : public ::testing::Test, public IPartDownloaderFactory {
protected:
  std::unique_ptr<TPartDownloader> CreatePartDownloader(const std::string &url, const std::string &fileName,
                                                        int64_t startB, int64_t endB) override {
    auto part = std::make_unique<testing::FakePartDownloader>(url, fileName, startB, endB, words, nullptr);
    parts.push_back(part.get());
    return part;
  }

  TDownloader &Make(const std::vector<int32_t> &pingTimes) {
    // A record of its own each time, so that no case resumes the parts an earlier one split.
    record = std::make_unique<TLocalDownloadinfo>(TUrl("http://origin/f.bin"),
                                                  dir.file("REC" + std::to_string(++made)), records);
    downloader = std::make_unique<TDownloader>(context, *record, 4, false, true);
    downloader->MirrorList.Get(0)->PingTime = pingTimes.front();
    for (std::size_t i = 1; i < pingTimes.size(); ++i)
      downloader->MirrorList.Add(std::make_unique<TFileMirror>("http://m" + std::to_string(i) + "/f.bin"))
          ->PingTime = pingTimes[i];
    return *downloader;
  }

  TempDir dir;
  platform::EventLoop loop;
  std::unique_ptr<platform::SettingsDatabase> database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
  TConstants words;
  TDownloaderContext context{loop, settings, words, *this, {}};
  TRecordContext records{words, nullptr, nullptr, [this] { return dir.path().string(); }};
  std::unique_ptr<TLocalDownloadinfo> record;
  std::unique_ptr<TDownloader> downloader;
  std::vector<testing::FakePartDownloader *> parts;
  int made = 0;
};

TEST_F(DownloaderFakeTest, ChooseMirrorTakesTheFirstThatIsNotWorseThanTheNext) {
  struct Case {
    std::vector<int32_t> pings;
    int32_t slotsOnFirst;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {{50, 80, 90}, 0, 0},  {{50, 80, 90}, 2, 1}, // 150 > 80, 80 <= 90
      {{50, 40, 200}, 0, 1},                       // 50 > 40, 40 <= 200
      {{50, 60, 10}, 0, 0},                        // a walk, not a search for the fastest
      {{9999, 9999}, 1, 1},                        // unmeasured: the slot counts decide
  };
  for (const Case &c : cases) {
    TDownloader &d = Make(c.pings);
    d.Slots.GetSlot(0)->SetMirror(c.slotsOnFirst > 0 ? d.MirrorList.Get(0) : nullptr);
    for (int32_t i = 1; i < c.slotsOnFirst; ++i)
      d.Slots.NewSlot().SetMirror(d.MirrorList.Get(0));
    EXPECT_EQ(d.MirrorList.IndexOf(d.ChooseMirror()), c.expected) << ::testing::PrintToString(c.pings);
  }
}

// The split chooses a mirror for each new part from the ping times known at that moment: a measured
// mirror keeps every part while the others are still unmeasured (9999), and mirrors with equal times
// share the parts by their slot counts.
TEST_F(DownloaderFakeTest, TheSplitFollowsThePingTimesKnownAtThatMoment) {
  struct Case {
    std::vector<int32_t> pings;
    std::vector<int32_t> partsPerMirror;
  };
  const std::vector<Case> cases = {
      {{5, 9999, 9999}, {4, 0, 0}},    // only the own server has answered its ping yet
      {{9999, 5, 9999}, {1, 3, 0}},    // the first part stays on the own server
      {{9999, 9999, 9999}, {2, 1, 1}}, // no ping answered
      {{5, 5, 5}, {2, 1, 1}},
  };
  for (const Case &c : cases) {
    TDownloader &d = Make(c.pings);
    testing::FakePartDownloader &first = *parts.back();
    first.ResumeSupported = rsYes;
    first.RemoteSize = 4 * 1024 * 1024;
    first.Report(pdsResumeKnown);
    first.Report(pdsFileSizeKnown);
    ASSERT_EQ(d.Slots.NumberOfSlots(), 4) << ::testing::PrintToString(c.pings);
    std::vector<int32_t> spread;
    for (int32_t i = 0; i < d.MirrorList.Count(); ++i)
      spread.push_back(d.Slots.NumberOfSlotsUsingFileMirror(d.MirrorList.Get(i)));
    EXPECT_EQ(spread, c.partsPerMirror) << ::testing::PrintToString(c.pings);
  }
}

TEST_F(DownloaderFakeTest, PartsHandOverRangesAndConnectionsAndFailTogether) {
  struct Case {
    const char *what;
    std::vector<int32_t> pings;
    std::function<void(TDownloader &)> act;
    std::function<void(TDownloader &)> check;
  };
  std::vector<std::string> errors;
  const auto partOf = [](TDownloader &d, int32_t slot) {
    return static_cast<testing::FakePartDownloader *>(d.Slots.GetSlot(slot)->PartDownloader());
  };
  const std::vector<Case> cases = {
      {"a part whose range is full takes over a neighbour still contacting its host",
       {10},
       [&](TDownloader &d) { partOf(d, 0)->Report(pdsRangeComplete); },
       [&](TDownloader &d) {
         ASSERT_EQ(d.Slots.NumberOfSlots(), 3);
         EXPECT_EQ(d.NumParts, 3);
         EXPECT_EQ(d.Info.NumOfParts, 3);
         EXPECT_EQ(d.Slots.GetSlot(0)->EndByte, 2 * 1024 * 1024 - 1);
         EXPECT_EQ(partOf(d, 0)->EndByte, 2 * 1024 * 1024 - 1) << "the running transfer goes on";
         EXPECT_FALSE(std::filesystem::exists(PartFileName(d.Info.TempFileName, 1024 * 1024)));
       }},
      {"a finished connection goes on with a part that has no mirror of its own",
       {10},
       [&](TDownloader &d) {
         partOf(d, 2)->State = pdsIdle;
         testing::FakePartDownloader *first = partOf(d, 0);
         testing::WriteWholeFile(PartFileName(d.Info.TempFileName, 0), std::string(1024 * 1024, 'x'));
         first->Report(pdsDone);
         ASSERT_EQ(partOf(d, 2), first) << "slot 2 took over the first slot's part downloader";
         EXPECT_NE(std::find(first->calls.begin(), first->calls.end(),
                             "Get http://origin:80/f.bin 2097152-3145727"),
                   first->calls.end())
             << ::testing::PrintToString(first->calls);
       },
       [&](TDownloader &d) { EXPECT_EQ(d.Slots.GetSlot(0)->PartDownloader(), nullptr); }},
      {"every mirror failing fails the download with the last failing part's text",
       {10, 20},
       [&](TDownloader &d) {
         std::string last;
         for (int round = 0; round < 40 && errors.empty(); ++round)
           for (int32_t i = 0; i < d.Slots.NumberOfSlots() && errors.empty(); ++i) {
             testing::FakePartDownloader *part = partOf(d, i);
             if (part == nullptr || part->State != pdsConnecting)
               continue;
             last = "refused " + std::to_string(round) + "." + std::to_string(i);
             part->Fail(fmeCouldntConnect, last);
             part->Report(pdsError);
           }
         ASSERT_EQ(errors.size(), 1u);
         EXPECT_EQ(errors.front(), last);
       },
       [&](TDownloader &d) {
         EXPECT_EQ(d.Info.Status, errors.front());
         EXPECT_EQ(d.Info.StatusImage, kStatusCodeError);
         EXPECT_EQ(d.ChooseMirror(), nullptr);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    errors.clear();
    TDownloader &d = Make(c.pings);
    d.OnDownloadError = [&](TDownloader &failed) { errors.push_back(failed.ErrorText); };
    // A 4 MiB file split in four, every new part contacting its host.
    testing::FakePartDownloader &first = *parts.back();
    first.ResumeSupported = rsYes;
    first.RemoteSize = 4 * 1024 * 1024;
    first.Report(pdsResumeKnown);
    first.Report(pdsFileSizeKnown);
    ASSERT_EQ(d.Slots.NumberOfSlots(), 4);
    c.act(d);
    c.check(d);
  }
}

// The only part of a file of unknown length ends while the Save As choice is still open: the
// download completes once the name is chosen.
TEST_F(DownloaderFakeTest, AnUnsizedPartThatEndedBeforeTheNameWasChosenCompletesWithIt) {
  TDownloader &d = Make({10});
  int handedOver = 0;
  d.OnAllPartsDone = [&](TDownloader &) { ++handedOver; };
  testing::FakePartDownloader &part = *parts.back();
  part.ResumeSupported = rsNo;
  part.RemoteSize = -1;
  part.Report(pdsResumeKnown);
  part.Report(pdsFileSizeKnown);
  testing::WriteWholeFile(PartFileName(d.Info.TempFileName, 0), "the whole file");
  part.Received = 14;
  part.Report(pdsDone);
  EXPECT_EQ(handedOver, 0) << "no name yet";
  d.Info.LocalFileName = dir.file("chosen.txt");
  d.StartDownload();
  EXPECT_EQ(handedOver, 1);
}

TEST_F(DownloaderFakeTest, FailedMirrorsAreNeverChosen) {
  TDownloader &d = Make({10, 20});
  d.MirrorList.Get(0)->ErrorState = fmeFileNotFound;
  d.MirrorList.Get(1)->ErrorState = fmeCouldntConnect;
  EXPECT_EQ(d.ChooseMirror(), nullptr);
}

TEST_F(DownloaderFakeTest, SilentPartsTimeOutLaterWhenTheyAreAlone) {
  TDownloader &d = Make({10});
  ASSERT_EQ(parts.size(), 1u);
  const uint32_t started = parts[0]->LastActivityTick;
  d.CheckSlotsForTimeOut(started + 30000);
  EXPECT_EQ(parts[0]->State, pdsConnecting) << "30000 ms is not yet over the limit of a single slot";
  d.CheckSlotsForTimeOut(started + 30001);
  EXPECT_EQ(parts[0]->State, pdsError);
  EXPECT_EQ(parts[0]->ErrorText, "Timeout");

  // With several slots a connecting part has the mirror limit, across the wrap of the tick counter.
  TDownloader &three = Make({10});
  three.Slots.NewSlot();
  three.Slots.NewSlot();
  parts.back()->LastActivityTick = 0xFFFFF000u;
  three.CheckSlotsForTimeOut(0xFFFFF000u + 10001u);
  EXPECT_EQ(parts.back()->State, pdsError);
}

TEST_F(DownloaderFakeTest, TimeLeftIsUnknownWithoutAFileSize) {
  TDownloader &d = Make({10});
  EXPECT_EQ(d.TimeLeft(), "N/A");
  EXPECT_EQ(d.TransferRate(), "N/A");
}

} // namespace
} // namespace velmora
