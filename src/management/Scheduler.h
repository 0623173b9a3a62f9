#pragma once

#include "platform/EventLoop.h"
#include "store/RecordDateTime.h"
#include "store/Registry.h"

#include <array>
#include <cstdint>
#include <functional>

namespace velmora {

// Lets downloads run only inside a daily time window on chosen weekdays, within a range of dates.
// It only watches the clock (once a minute, from the loop) and raises OnTime when the window opens
// and OnTimeOut when it closes; what that does to the downloads is the download system's.
class TScheduler {
public:
  using TEvent = std::function<void(TScheduler &)>;
  using TClock = std::function<TDateTime()>;

  // now is the local wall clock; tests pass their own.
  explicit TScheduler(platform::EventLoop &loop, TClock now = NowLocal);

  // Checks the clock at once.
  void EnableScheduler();
  // Stops watching; downloads started by the window keep running and Running keeps its value.
  void DisableScheduler() { Disabled = true; }
  // The minute's check: outside the date range nothing happens at all; inside it the window is
  // open from StartTime to EndTime (both included) on the enabled weekdays. A window that ends
  // before it starts runs over midnight: from StartTime to midnight on an enabled weekday and on
  // to EndTime on the day after it.
  void OnTimer();

  TDateTime StartTime = 0; // only the time of day counts
  TDateTime EndTime = 0;   // only the time of day counts
  TDateTime RecurrenceStart = 0;
  TDateTime RecurrenceEnd = 0;
  TEvent OnTime;
  TEvent OnTimeOut;
  bool Running = false;
  bool Disabled = false;
  std::array<bool, 8> WeekDays{false, true, true, true, true, true, true, true}; // 1 Sunday ... 7 Saturday

private:
  bool WindowOpen(TDateTime now) const;

  TClock now_;
  platform::LoopTimer timer_;
};

// 1 for Sunday up to 7 for Saturday.
int DayOfWeek(TDateTime moment);

// Applies the scheduler's settings (section "Options"), then enables or disables it per
// UseSchedule; now gives the defaults of the date-times that were never written.
void LoadSchedulerSettingsFromRegistry(TScheduler &scheduler, const TSettingsStore &settings, TDateTime now);

} // namespace velmora
