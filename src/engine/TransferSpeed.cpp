#include "engine/TransferSpeed.h"

#include "platform/Tick.h"
#include "store/IndependentGeneralFunctions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

namespace velmora {

namespace {

constexpr std::string_view kNotAvailable = "N/A";

std::string OneDecimal(double value, const std::string &decimalSeparator) {
  char text[64];
  const auto written = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, 1);
  std::string result(std::begin(text), written.ptr);
  if (const auto point = result.find('.'); point != std::string::npos)
    result.replace(point, 1, decimalSeparator);
  return result;
}

} // namespace

TTransferSpeed::TTransferSpeed(int32_t NumberOfValuesToMeasureOn, TMillisecondClock clock,
                               std::string decimalSeparator)
    : Capacity_(NumberOfValuesToMeasureOn), RateText_(kNotAvailable),
      clock_(clock ? std::move(clock) : TMillisecondClock(platform::MonotonicMilliseconds)),
      decimalSeparator_(std::move(decimalSeparator)) {}

void TTransferSpeed::Update(int64_t CurrentTransferCount) {
  if (!Samples_.empty() && static_cast<int64_t>(Samples_.size()) >= static_cast<int64_t>(Capacity_) - 2)
    Samples_.pop_front();
  Samples_.push_back({CurrentTransferCount, clock_()});
  if (Samples_.size() < 2) {
    RateText_ = kNotAvailable;
    return;
  }
  const uint64_t elapsed = Samples_.back().Moment - Samples_.front().Moment;
  if (elapsed == 0)
    return; // two samples in the same millisecond tell no rate; the last one stays shown
  const double bytes = static_cast<double>(Samples_.back().Count - Samples_.front().Count);
  RateText_ = OneDecimal(bytes / static_cast<double>(elapsed) * 1000.0 / 1024.0, decimalSeparator_);
}

std::string TTransferSpeed::TimeLeft(int64_t BytesLeft) const {
  if (Samples_.size() < 2 || BytesLeft <= 0)
    return std::string(kNotAvailable);
  const uint64_t elapsed = Samples_.back().Moment - Samples_.front().Moment;
  if (elapsed == 0)
    return {};
  const int64_t bytes = Samples_.back().Count - Samples_.front().Count;
  // A falling count (a restarted part) gives no estimate rather than a negative time.
  if (bytes <= 0)
    return std::string(kNotAvailable);
  const double bytesPerSecond = static_cast<double>(bytes) / (static_cast<double>(elapsed) / 1000.0);
  // Capped far beyond any real wait so the conversion to an integer stays defined.
  const double seconds = std::min(std::nearbyint(static_cast<double>(BytesLeft) / bytesPerSecond), 1e15);
  return SecondsToTimeString(static_cast<int64_t>(seconds));
}

} // namespace velmora
