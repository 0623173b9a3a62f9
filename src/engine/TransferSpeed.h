#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace velmora {

// Milliseconds of a clock that never jumps (daylight-saving time or a changed system clock must
// not distort a rate); tests give their own.
using TMillisecondClock = std::function<uint64_t()>;

// One sample of the byte count and the moment it was taken.
struct TByteCount {
  int64_t Count = 0;
  uint64_t Moment = 0; // milliseconds of the meter's clock
};

// The displayed rate and time left of a download, from a sliding window of byte-count samples:
// the rate is the difference between the newest and the oldest sample over the time between them.
class TTransferSpeed {
public:
  // The window holds at most NumberOfValuesToMeasureOn - 2 samples. decimalSeparator is the user's.
  explicit TTransferSpeed(int32_t NumberOfValuesToMeasureOn, TMillisecondClock clock = {},
                          std::string decimalSeparator = ".");

  // Adds a sample of the byte count now and recomputes RateText.
  void Update(int64_t CurrentTransferCount);
  // The estimated time left for BytesLeft at the window's rate, as hours:minutes:seconds, or "N/A"
  // when no rate is known or nothing is coming in.
  std::string TimeLeft(int64_t BytesLeft) const;

  // The rate in kilobytes per second with one decimal, or "N/A" before there are two samples.
  const std::string &RateText() const { return RateText_; }
  int32_t Capacity() const { return Capacity_; }
  std::size_t SampleCount() const { return Samples_.size(); }

private:
  std::deque<TByteCount> Samples_;
  int32_t Capacity_;
  std::string RateText_;
  TMillisecondClock clock_;
  std::string decimalSeparator_;
};

} // namespace velmora
