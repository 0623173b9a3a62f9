#include "engine/TransferSpeed.h"

#include <gtest/gtest.h>

using velmora::TTransferSpeed;

namespace {

// A meter on a clock the test moves by hand.
struct ManualMeter {
  explicit ManualMeter(int32_t capacity, std::string separator = ".")
      : speed(
            capacity, [this] { return now; }, std::move(separator)) {}
  void At(uint64_t moment, int64_t count) {
    now = moment;
    speed.Update(count);
  }
  uint64_t now = 0;
  TTransferSpeed speed;
};

TEST(TransferSpeed, RateAndTimeLeftFromTheWindowEnds) {
  struct Case {
    const char *what;
    std::vector<std::pair<uint64_t, int64_t>> samples; // moment, count
    int64_t bytesLeft;
    std::string rate, timeLeft;
  };
  const Case cases[] = {
      {"no sample yet", {}, 1000, "N/A", "N/A"},
      {"one sample", {{1000, 500}}, 1000, "N/A", "N/A"},
      {"100 kB/s", {{0, 0}, {1000, 102400}}, 204800, "100.0", "00:00:02"},
      {"only the two ends count",
       {{0, 0}, {300, 90000}, {700, 1000}, {1000, 102400}},
       204800,
       "100.0",
       "00:00:02"},
      {"a constant count", {{0, 5000}, {1000, 5000}}, 100, "0.0", "N/A"},
      {"nothing left to fetch", {{0, 0}, {1000, 1024}}, 0, "1.0", "N/A"},
      {"time left rounds halves to even", {{0, 0}, {1000, 1000}}, 2500, "1.0", "00:00:02"},
      {"time left of more than 100 hours", {{0, 0}, {1000, 1}}, 360000, "0.0", "100:00:00"},
      {"a restarted part lowers the count", {{0, 10240}, {1000, 0}}, 100, "-10.0", "N/A"},
      {"files past 4 GiB", {{0, 0}, {2000, 8'000'000'000}}, 4'000'000'000, "3906250.0", "00:00:01"},
  };
  for (const Case &c : cases) {
    ManualMeter meter(200);
    for (const auto &[moment, count] : c.samples)
      meter.At(moment, count);
    EXPECT_EQ(meter.speed.RateText(), c.rate) << c.what;
    EXPECT_EQ(meter.speed.TimeLeft(c.bytesLeft), c.timeLeft) << c.what;
  }
}

TEST(TransferSpeed, WindowHoldsCapacityLessTwo) {
  ManualMeter meter(200);
  for (int i = 0; i < 198; ++i)
    meter.At(static_cast<uint64_t>(i) * 100, int64_t{i} * 1024);
  EXPECT_EQ(meter.speed.SampleCount(), 198u);
  EXPECT_EQ(meter.speed.RateText(), "10.0");
  // The 199th drops the oldest first: the window now spans samples 1..198, where the count jumps.
  meter.At(uint64_t{198} * 100, int64_t{198} * 1024 + int64_t{197} * 1024);
  EXPECT_EQ(meter.speed.SampleCount(), 198u);
  EXPECT_EQ(meter.speed.RateText(), "20.0");
}

TEST(TransferSpeed, SameMillisecondKeepsTheLastRate) {
  ManualMeter meter(4); // a window of two samples
  meter.At(0, 0);
  meter.At(1000, 2048);
  EXPECT_EQ(meter.speed.RateText(), "2.0");
  meter.At(1000, 4096);
  EXPECT_EQ(meter.speed.RateText(), "2.0");
  EXPECT_EQ(meter.speed.TimeLeft(100), "");
}

TEST(TransferSpeed, UsesTheUsersDecimalSeparator) {
  ManualMeter meter(200, ",");
  meter.At(0, 0);
  meter.At(1000, 12800);
  EXPECT_EQ(meter.speed.RateText(), "12,5");
}

} // namespace
