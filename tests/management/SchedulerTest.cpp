#include "management/Scheduler.h"
#include "management/DownloadSystemFixture.h"

#include <gtest/gtest.h>

namespace velmora::testing {
namespace {

// 5 January 2004 was a Monday.
TDateTime Monday(int hour, int minute) { return EncodeDateTime(2004, 1, 5, hour, minute); }
TDateTime Tuesday(int hour, int minute) { return EncodeDateTime(2004, 1, 6, hour, minute); }

TEST(SchedulerClockTest, WeekdaysCountFromSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDateTime(1899, 12, 30)), 7);
  EXPECT_EQ(DayOfWeek(EncodeDateTime(2004, 1, 4, 23, 59)), 1);
  EXPECT_EQ(DayOfWeek(Monday(0, 0)), 2);
  EXPECT_EQ(DayOfWeek(EncodeDateTime(1899, 12, 24)), 1) << "before day 0 too";
}

class SchedulerTest : public ::testing::Test {
protected:
  // The scheduler with only Monday enabled, the window from..to, and a log of its two events.
  void Window(TDateTime from, TDateTime to) {
    scheduler.WeekDays.fill(false);
    scheduler.WeekDays[2] = true;
    scheduler.StartTime = from - static_cast<int>(from);
    scheduler.EndTime = to - static_cast<int>(to);
    scheduler.RecurrenceStart = EncodeDateTime(2004, 1, 1);
    scheduler.RecurrenceEnd = EncodeDateTime(2999, 12, 31);
    scheduler.OnTime = [this](TScheduler &) { events.push_back("on"); };
    scheduler.OnTimeOut = [this](TScheduler &) { events.push_back("off"); };
  }
  std::vector<std::string> At(const std::vector<TDateTime> &moments) {
    events.clear();
    for (TDateTime moment : moments) {
      now = moment;
      scheduler.OnTimer();
      events.push_back(scheduler.Running ? "|" : ".");
    }
    return events;
  }

  platform::EventLoop loop;
  TDateTime now = 0;
  TScheduler scheduler{loop, [this] { return now; }};
  std::vector<std::string> events;
};

TEST_F(SchedulerTest, TheWindowOpensAndClosesOnItsDaysOnly) {
  struct Case {
    const char *what;
    TDateTime from, to;
    std::vector<TDateTime> moments;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"01:00-05:00 on Monday",
       Monday(1, 0),
       Monday(5, 0),
       {Monday(0, 59), Monday(1, 0), Monday(5, 0), Monday(5, 1), Tuesday(1, 0)},
       {".", "on", "|", "|", "off", ".", "."}},
      {"23:00-02:00 from Monday evening into Tuesday",
       Monday(23, 0),
       Monday(2, 0),
       {Monday(22, 59), Monday(23, 0), Tuesday(0, 30), Tuesday(2, 0), Tuesday(2, 1), Tuesday(23, 0)},
       {".", "on", "|", "|", "|", "off", ".", "."}},
      {"23:00-02:00 opens after midnight too",
       Monday(23, 0),
       Monday(2, 0),
       {Tuesday(0, 30), Tuesday(2, 1)},
       {"on", "|", "off", "."}},
      {"23:00-02:00 not after a disabled day", Monday(23, 0), Monday(2, 0), {Monday(0, 30)}, {"."}},
  };
  for (const Case &c : cases) {
    scheduler.Running = false;
    Window(c.from, c.to);
    EXPECT_EQ(At(c.moments), c.expected) << c.what;
  }
}

TEST_F(SchedulerTest, OutsideItsDateRangeItNeitherStartsNorStops) {
  Window(Monday(1, 0), Monday(5, 0));
  scheduler.RecurrenceEnd = EncodeDateTime(2004, 1, 4, 12, 0);
  EXPECT_EQ(At({Monday(2, 0)}), (std::vector<std::string>{"."}));
  scheduler.Running = true;
  EXPECT_EQ(At({Monday(6, 0)}), (std::vector<std::string>{"|"})) << "a running window is not closed either";
  scheduler.RecurrenceEnd = EncodeDateTime(2999, 12, 31);
  scheduler.RecurrenceStart = EncodeDateTime(2004, 1, 5, 23, 0);
  EXPECT_EQ(At({Monday(6, 0)}), (std::vector<std::string>{"off", "."})) << "the first day counts as a whole";
}

TEST_F(SchedulerTest, DisablingLeavesTheWindowAsItIsAndEnablingChecksAtOnce) {
  Window(Monday(1, 0), Monday(5, 0));
  EXPECT_EQ(At({Monday(2, 0)}), (std::vector<std::string>{"on", "|"}));
  scheduler.DisableScheduler();
  EXPECT_EQ(At({Monday(6, 0)}), (std::vector<std::string>{"|"}));
  events.clear();
  scheduler.EnableScheduler();
  EXPECT_EQ(events, (std::vector<std::string>{"off"}));
}

TEST_F(SchedulerTest, SettingsAreAppliedInFull) {
  auto database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings(*database);
  settings.WriteBool("Options", "ScheduledWeekly_Mon", true);
  settings.WriteDateTime("Options", "ScheduledRecurrence_StartTime", EncodeDateTime(2004, 1, 1));
  settings.WriteBool("Options", "ScheduledRecurrence_NoEnd", false);
  settings.WriteDateTime("Options", "ScheduledRecurrence_EndTime", EncodeDateTime(2004, 2, 1));
  settings.WriteDateTime("Options", "StartTime", Monday(1, 0));
  settings.WriteDateTime("Options", "EndTime", Monday(5, 0));
  settings.WriteBool("Options", "UseSchedule", true);
  scheduler.OnTime = [this](TScheduler &) { events.push_back("on"); };
  now = Monday(2, 0);
  LoadSchedulerSettingsFromRegistry(scheduler, settings, now);
  EXPECT_EQ(events, (std::vector<std::string>{"on"})) << "enabled, it checked at once";
  EXPECT_FALSE(scheduler.WeekDays[1]);
  EXPECT_TRUE(scheduler.WeekDays[2]);
  EXPECT_EQ(scheduler.RecurrenceEnd, EncodeDateTime(2004, 2, 1));
  settings.WriteBool("Options", "ScheduledRecurrence_NoEnd", true);
  settings.WriteBool("Options", "UseSchedule", false);
  LoadSchedulerSettingsFromRegistry(scheduler, settings, now);
  EXPECT_EQ(scheduler.RecurrenceEnd, EncodeDateTime(2999, 12, 31));
  EXPECT_TRUE(scheduler.Disabled);
}

TEST_F(DownloadSystemTest, TheScheduledWindowStartsScheduledDownloadsAndStopsTheActiveOnes) {
  settings.WriteInteger("Options", "MaxSimultaneousDownloads", 2);
  std::vector<TLocalDownloadinfo *> added;
  for (const char *name : {"a.bin", "b.bin", "c.bin"}) {
    server.Hold(name);
    added.push_back(&Add(name));
  }
  Settle();
  system->ScheduleDownloads(system->AllRecords());
  Settle();
  EXPECT_EQ(Statuses(), std::vector<std::string>(3, words.Scheduled));

  system->DoOnSchedulerTime();
  Settle();
  EXPECT_EQ(Statuses(), (std::vector<std::string>{words.ContactingHost, words.ContactingHost, words.Queued}));

  system->DoOnSchedulerTimeOut();
  Settle();
  EXPECT_EQ(Statuses(), (std::vector<std::string>{words.Scheduled, words.Scheduled, words.ContactingHost}))
      << "the queued one, let in by the pauses, keeps running";
  EXPECT_EQ(system->ActiveDownloaders().size(), 1u);
}

} // namespace
} // namespace velmora::testing
