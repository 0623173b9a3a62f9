#include "engine/PartDownloadSlots.h"
#include "engine/FakePartDownloader.h"
#include "engine/PartFile.h"
#include "support/ExpectReports.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace velmora;
using velmora::testing::FakePartDownloader;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

class FakeFactory : public IPartDownloaderFactory {
public:
  explicit FakeFactory(const TConstants &words) : words_(words) {}
  std::unique_ptr<TPartDownloader> CreatePartDownloader(const std::string &url, const std::string &fileName,
                                                        int64_t startB, int64_t endB) override {
    if (TUrl(url).Protocol != "http")
      return nullptr;
    destroyed = false;
    auto part = std::make_unique<FakePartDownloader>(url, fileName, startB, endB, words_, &destroyed);
    last = part.get();
    ++created;
    return part;
  }
  FakePartDownloader *last = nullptr;
  int created = 0;
  bool destroyed = false;

private:
  const TConstants &words_;
};

class SlotTest : public ::testing::Test {
protected:
  ~SlotTest() override {
    loop.runOnce(0); // lets released part downloaders go
    EXPECT_EQ(loop.registeredCount(), 0u);
  }
  TPartDownloadSlot &NewSlot(int64_t start, int64_t end) {
    TPartDownloadSlot &slot = slots.NewSlot();
    slot.StartByte = start;
    slot.EndByte = end;
    slot.PartFileName = dir.file("T." + std::to_string(start));
    slot.OnChange = [this](TPartDownloadSlot &changed, TPartDownloaderState state) {
      changes.push_back({&changed, state});
    };
    return slot;
  }

  TConstants words;
  FakeFactory factory{words};
  platform::EventLoop loop;
  uint64_t now = 0;
  TPartDownloadContext context{words, factory, loop, [this] { return now; }};
  TPartDownloadSlots slots{context};
  TFileMirror mirror{"http://files.example/dir/f.zip?x=1"};
  TempDir dir;
  std::vector<std::pair<TPartDownloadSlot *, TPartDownloaderState>> changes;
};

TEST_F(SlotTest, StartCreatesAPartDownloaderForTheMirror) {
  TPartDownloadSlot &slot = NewSlot(5000, 9999);
  slot.AuthTried = true;
  EXPECT_EQ(slot.Status, "Idle");
  slot.Start(&mirror);
  ASSERT_NE(factory.last, nullptr);
  FakePartDownloader &part = *factory.last;
  EXPECT_EQ(part.calls, std::vector<std::string>{"Get http://files.example:80/dir/f.zip?x=1 5000-9999"});
  EXPECT_EQ(part.PartFileName, slot.PartFileName);
  EXPECT_TRUE(part.AuthTried);
  EXPECT_EQ(part.State, pdsConnecting);
  EXPECT_EQ(slot.Status, "Contacting host");
  EXPECT_EQ(slot.Mirror, &mirror);

  // Started again: the same part downloader, with the slot's current range.
  part.Received = 300;
  slot.SetPartDownloaderEndByte(19999);
  slot.Start();
  EXPECT_EQ(factory.created, 1);
  EXPECT_EQ(part.calls.back(), "Get http://files.example:80/dir/f.zip?x=1 5000-19999");
  EXPECT_EQ(slot.BytesAtStart, 300);
  EXPECT_EQ(slot.TransferCountCache, 300);
}

TEST_F(SlotTest, StartWithoutAUsableMirrorDoesNothing) {
  TPartDownloadSlot &slot = NewSlot(0, 0);
  slot.Start();
  TFileMirror unknown("gopher://old.example/f");
  slot.Start(&unknown);
  EXPECT_EQ(factory.created, 0);
  EXPECT_EQ(slot.PartDownloader(), nullptr);
  EXPECT_EQ(slot.Status, "Idle");
}

TEST_F(SlotTest, PartDownloaderStatesBecomeStatusTexts) {
  struct Case {
    TPartDownloaderState state;
    std::string status;
  };
  const Case cases[] = {{pdsConnecting, "Contacting host"},
                        {pdsConnected, "Getting file info"},
                        {pdsResumeKnown, "Getting file info"},
                        {pdsDownloading, "Downloading"},
                        {pdsRangeComplete, "Downloading"},
                        {pdsPaused, "Downloading"},
                        {pdsDone, "Done"}};
  TPartDownloadSlot &slot = NewSlot(0, 999);
  slot.Start(&mirror);
  for (const Case &c : cases) {
    factory.last->Report(c.state);
    EXPECT_EQ(slot.Status, c.status) << c.state;
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back(), std::make_pair(&slot, c.state)) << "every change is passed on";
  }
}

TEST_F(SlotTest, ErrorMarksMirrorAndSlot) {
  TPartDownloadSlot &slot = NewSlot(0, 999);
  slot.Start(&mirror);
  FakePartDownloader &part = *factory.last;
  part.AuthTried = true;
  part.Fail(fmeSizeMismatch, "Filesize mismatch");
  part.Report(pdsError);
  EXPECT_EQ(slot.Status, "Filesize mismatch");
  EXPECT_TRUE(slot.HadError);
  EXPECT_EQ(mirror.ErrorState, fmeSizeMismatch);
  EXPECT_FALSE(part.AuthTried);
}

TEST_F(SlotTest, FileSizeGivesTheFirstSlotItsEnd) {
  struct Case {
    int64_t endByte, remoteSize, expectedEnd;
  };
  const Case cases[] = {{0, 5000, 4999}, {0, -1, 0}, {2000, 5000, 2000}};
  for (const Case &c : cases) {
    TPartDownloadSlot &slot = NewSlot(0, c.endByte);
    slot.Start(&mirror);
    factory.last->RemoteSize = c.remoteSize;
    factory.last->Report(pdsFileSizeKnown);
    EXPECT_EQ(slot.FileSize, c.remoteSize);
    EXPECT_EQ(slot.EndByte, c.expectedEnd) << c.remoteSize;
    EXPECT_EQ(factory.last->EndByte, c.endByte) << "the running part downloader keeps its own end";
  }
}

TEST_F(SlotTest, KnownFileSizeIsWhatEveryPartIsCheckedAgainst) {
  TPartDownloadSlot &slot = NewSlot(5000, 9999);
  slot.FileSize = 10000;
  slot.Start(&mirror);
  EXPECT_EQ(factory.last->RemoteSize, 10000);
  TPartDownloadSlot &unknown = NewSlot(0, 0);
  unknown.FileSize = -1;
  unknown.Start(&mirror);
  EXPECT_EQ(factory.last->RemoteSize, 0) << "no length known: the part learns it";
}

TEST_F(SlotTest, RealmOfAnAuthenticationDemand) {
  TPartDownloadSlot &slot = NewSlot(0, 0);
  slot.Start(&mirror);
  factory.last->Realm = "Files";
  factory.last->Report(pdsAuthRequired);
  EXPECT_EQ(slot.Realm, "Files");
}

TEST_F(SlotTest, AverageRateOfACompletedRun) {
  struct Case {
    uint64_t elapsedMs;
    int64_t bytesAtStart, endByte, expectedRate;
  };
  const Case cases[] = {{999, 0, 9999, 0}, {2000, 0, 9999, 5000}, {2999, 1000, 9999, 4500}, {4000, 0, 9, 2}};
  for (const Case &c : cases) {
    TPartDownloadSlot &slot = NewSlot(0, c.endByte);
    now = 1'000'000;
    slot.Start(&mirror);
    slot.BytesAtStart = c.bytesAtStart;
    now += c.elapsedMs;
    factory.last->Report(pdsDone);
    EXPECT_EQ(slot.TransferCountCache, c.endByte + 1);
    EXPECT_EQ(slot.AverageRate, c.expectedRate) << c.elapsedMs << " ms";
  }
}

TEST_F(SlotTest, TransferCountStopsAtThePartLength) {
  TPartDownloadSlot &bounded = NewSlot(0, 999);
  bounded.TransferCountCache = 42;
  EXPECT_EQ(bounded.TransferCount(), 42) << "without a part downloader";
  bounded.Start(&mirror);
  factory.last->Received = 1200;
  EXPECT_EQ(bounded.TransferCount(), 1000);

  TPartDownloadSlot &open = NewSlot(0, 0);
  open.Start(&mirror);
  factory.last->Received = 123456;
  EXPECT_EQ(open.TransferCount(), 123456);
}

TEST_F(SlotTest, ResizePartFile) {
  const velmora::testing::ExpectReports expected; // a short part file is reported
  struct Case {
    const char *what;
    int64_t endByte;
    std::size_t onDisk;
    bool fits;
    std::size_t after;
  };
  const Case cases[] = {{"longer: cut to the range", 9, 15, true, 10},
                        {"exact", 9, 10, true, 10},
                        {"shorter: reported, never filled", 9, 4, false, 4},
                        {"no end: left alone", 0, 15, false, 15}};
  for (const Case &c : cases) {
    TPartDownloadSlot &slot = NewSlot(0, c.endByte);
    WriteWholeFile(slot.PartFileName, std::string(c.onDisk, 'd'));
    EXPECT_FALSE(slot.ResizePartFile()) << "nothing to do without a part downloader";
    slot.Start(&mirror);
    EXPECT_EQ(slot.ResizePartFile(), c.fits) << c.what;
    EXPECT_EQ(ReadWholeFile(slot.PartFileName).size(), c.after) << c.what;
  }
}

TEST_F(SlotTest, AbortAndPause) {
  TPartDownloadSlot &idle = NewSlot(0, 99);
  WriteWholeFile(idle.PartFileName, "partial");
  idle.Abort();
  EXPECT_FALSE(PartFileSize(idle.PartFileName).has_value()) << "without a part downloader the slot deletes";

  TPartDownloadSlot &running = NewSlot(100, 199);
  running.Start(&mirror);
  running.Pause();
  running.Abort();
  EXPECT_EQ(factory.last->calls, (std::vector<std::string>{
                                     "Get http://files.example:80/dir/f.zip?x=1 100-199", "Pause", "Abort"}));
}

TEST_F(SlotTest, SetErrorStateIsALoginFailure) {
  TPartDownloadSlot &slot = NewSlot(0, 0);
  slot.Start(&mirror);
  slot.SetErrorState(fmeLoginFailed);
  EXPECT_EQ(mirror.ErrorState, fmeLoginFailed);
  EXPECT_EQ(slot.Status, "Couldn't login");
  EXPECT_EQ(factory.last->State, pdsError);
  EXPECT_EQ(factory.last->ErrorState, fmeLoginFailed);
  EXPECT_EQ(changes.back(), std::make_pair(&slot, pdsError));
}

TEST_F(SlotTest, ReleasedInsideItsOwnEventStaysAliveUntilTheEventReturns) {
  TPartDownloadSlot &slot = NewSlot(0, 0);
  slot.Start(&mirror);
  FakePartDownloader *part = factory.last;
  slot.OnChange = [&](TPartDownloadSlot &changed, TPartDownloaderState) { changed.ReleasePartDownloader(); };
  part->Received = 77;
  part->Report(pdsDownloading);
  EXPECT_EQ(slot.PartDownloader(), nullptr);
  EXPECT_FALSE(factory.destroyed);
  EXPECT_EQ(part->calls.back(), "reported 6") << "the part downloader finished its event";
  EXPECT_EQ(part->calls[part->calls.size() - 2], "Detach");
  EXPECT_FALSE(part->OnChange) << "nothing reaches the slot any more";
  EXPECT_EQ(slot.TransferCount(), 77) << "the count stays with the slot";
  loop.runOnce(0);
  EXPECT_TRUE(factory.destroyed);
}

TEST_F(SlotTest, HandingAPartDownloaderToAnotherSlot) {
  TPartDownloadSlot &finished = NewSlot(0, 99);
  TPartDownloadSlot &idle = NewSlot(100, 199);
  finished.Start(&mirror);
  FakePartDownloader *part = factory.last;
  idle.Start(&mirror);
  FakePartDownloader *idlePart = factory.last;
  part->Received = 100;
  idle.SetPartDownloader(finished.TakePartDownloader());
  EXPECT_EQ(finished.PartDownloader(), nullptr);
  EXPECT_EQ(finished.TransferCount(), 100);
  EXPECT_EQ(idle.PartDownloader(), part);
  EXPECT_EQ(idlePart->calls.back(), "Detach") << "the idle slot's own part downloader is released";
  idle.Start();
  EXPECT_EQ(part->calls.back(), "Get http://files.example:80/dir/f.zip?x=1 100-199");
  changes.clear();
  part->Report(pdsDownloading);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].first, &idle) << "its reports go to the slot that holds it now";
}

TEST_F(SlotTest, Collection) {
  const velmora::testing::ExpectReports expected; // a bad slot index is reported
  EXPECT_TRUE(slots.AllIdle()) << "no slot with a part downloader";
  EXPECT_TRUE(slots.AllPaused());
  TPartDownloadSlot &first = NewSlot(0, 99);
  TPartDownloadSlot &second = NewSlot(100, 199);
  TPartDownloadSlot &third = NewSlot(200, 299);
  EXPECT_EQ(slots.NumberOfSlots(), 3);
  EXPECT_EQ(slots.GetSlot(1), &second);
  EXPECT_EQ(slots.GetSlot(3), nullptr);
  EXPECT_EQ(slots.GetSlot(-1), nullptr);

  TFileMirror other("http://other.example/f.zip");
  first.Start(&mirror);
  second.Start(&other);
  third.SetMirror(&mirror);
  EXPECT_EQ(slots.NumberOfSlotsUsingFileMirror(&mirror), 2);
  EXPECT_EQ(slots.NumberOfSlotsUsingFileMirror(&other), 1);

  first.PartDownloader()->State = pdsIdle;
  EXPECT_FALSE(slots.AllIdle());
  second.PartDownloader()->State = pdsIdle;
  EXPECT_TRUE(slots.AllIdle()) << "the third slot has no part downloader and does not count";

  slots.PauseAll();
  EXPECT_EQ(factory.last->calls.back(), "Pause");

  slots.DeleteSlot(1);
  EXPECT_EQ(slots.NumberOfSlots(), 2);
  EXPECT_EQ(slots.GetSlot(1), &third);
  EXPECT_EQ(second.StartByte, 100) << "a deleted slot stays alive";
  slots.DeleteSlot(5);
  EXPECT_EQ(slots.NumberOfSlots(), 2);

  const TPartDownloader *firstPart = first.PartDownloader();
  slots.RemovePartDownloader(firstPart);
  EXPECT_EQ(first.PartDownloader(), nullptr);
}

} // namespace

namespace {

TEST(PartDownloader, TimeOutLimitByState) {
  struct Case {
    TPartDownloaderState state;
    bool onlyPart;
    uint32_t expected;
  };
  const Case cases[] = {{pdsConnecting, true, 30000},
                        {pdsConnecting, false, 10000},
                        {pdsConnected, false, 30000},
                        {pdsResumeKnown, false, 30000},
                        {pdsFileSizeKnown, false, 30000},
                        {pdsDownloading, false, 30000},
                        {pdsRangeComplete, false, 30000},
                        {pdsAuthRequired, false, 0},
                        {pdsDone, true, 0},
                        {pdsError, true, 0},
                        {pdsPaused, true, 0},
                        {pdsIdle, true, 0}};
  for (const Case &c : cases)
    EXPECT_EQ(TimeOutLimit(c.state, c.onlyPart, 30000, 10000), c.expected) << c.state;
}

} // namespace
