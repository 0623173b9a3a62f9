#include "management/Scheduler.h"

#include "shell/ReportError.h"

#include <cmath>

namespace velmora {

namespace {

constexpr uint32_t kCheckInterval = 60000;
constexpr int64_t kMillisecondsPerDay = 86400000;
constexpr double kMillisecondsPerDayAsDouble = 86400000.0;
constexpr std::string_view kOptions = "Options";

int64_t WholeDay(TDateTime moment) { return static_cast<int64_t>(std::floor(moment)); }

// Milliseconds since midnight, so times that were entered alike compare alike.
int64_t TimeOfDay(TDateTime moment) {
  const auto milliseconds = std::llround((moment - std::floor(moment)) * kMillisecondsPerDayAsDouble);
  return milliseconds % kMillisecondsPerDay;
}

} // namespace

int DayOfWeek(TDateTime moment) {
  // Day 0, 30 December 1899, was a Saturday.
  const int64_t sinceSunday = ((WholeDay(moment) + 6) % 7 + 7) % 7;
  return static_cast<int>(sinceSunday) + 1;
}

TScheduler::TScheduler(platform::EventLoop &loop, TClock now) : now_(std::move(now)), timer_(loop) {
  timer_.start(kCheckInterval, true, [this] { OnTimer(); });
}

void TScheduler::EnableScheduler() {
  Disabled = false;
  OnTimer();
}

bool TScheduler::WindowOpen(TDateTime now) const {
  const int64_t t = TimeOfDay(now);
  const int64_t start = TimeOfDay(StartTime);
  const int64_t end = TimeOfDay(EndTime);
  const int today = DayOfWeek(now);
  const int yesterday = today == 1 ? 7 : today - 1;
  if (start <= t && t <= end && WeekDays[today])
    return true;
  if (end < start && t >= start && WeekDays[today])
    return true;
  // The part after midnight of a window that opened the evening before.
  return end < start && t <= end && WeekDays[yesterday];
}

void TScheduler::OnTimer() {
  GuardedVoid("procedure TScheduler.OnTimer(Sender : TObject)", [&] {
    if (Disabled)
      return;
    const TDateTime now = now_();
    const TDateTime midnight = std::floor(now);
    if (WholeDay(RecurrenceStart) > WholeDay(now) || RecurrenceEnd < midnight)
      return;
    if (WindowOpen(now)) {
      if (!Running && OnTime) {
        Running = true;
        OnTime(*this);
      }
      return;
    }
    if (Running && OnTimeOut) {
      Running = false;
      OnTimeOut(*this);
    }
  });
}

void LoadSchedulerSettingsFromRegistry(TScheduler &scheduler, const TSettingsStore &settings, TDateTime now) {
  GuardedVoid("procedure TForm_Main.LoadSchedulerSettingsFromRegistry", [&] {
    static constexpr std::string_view kDays[] = {
        "ScheduledWeekly_Sun", "ScheduledWeekly_Mon", "ScheduledWeekly_Tue", "ScheduledWeekly_Wed",
        "ScheduledWeekly_Thu", "ScheduledWeekly_Fri", "ScheduledWeekly_Sat"};
    for (std::size_t day = 0; day < 7; ++day)
      scheduler.WeekDays[day + 1] = settings.ReadBool(kOptions, kDays[day], false);
    scheduler.RecurrenceStart = settings.ReadDateTime(kOptions, "ScheduledRecurrence_StartTime", now);
    if (settings.ReadBool(kOptions, "ScheduledRecurrence_NoEnd", true))
      scheduler.RecurrenceEnd = EncodeDateTime(2999, 12, 31);
    else
      scheduler.RecurrenceEnd = settings.ReadDateTime(kOptions, "ScheduledRecurrence_EndTime", now);
    scheduler.StartTime = settings.ReadDateTime(kOptions, "StartTime", now);
    scheduler.EndTime = settings.ReadDateTime(kOptions, "EndTime", now);
    if (settings.ReadBool(kOptions, "UseSchedule", false))
      scheduler.EnableScheduler();
    else
      scheduler.DisableScheduler();
  });
}

} // namespace velmora
