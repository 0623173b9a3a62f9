#include "store/RecordDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

using namespace velmora;

namespace {

constexpr double kOneSecond = 1.0 / 86400;

TEST(RecordDateTime, EncodesDaysSince18991230) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2004, 3, 5), 38051.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2004, 3, 5, 18), 38051.75);
}

TEST(RecordDateTime, WrittenFormIsFixedAndReadsBack) {
  struct Case {
    TDateTime moment;
    std::string text;
  };
  const Case cases[] = {
      {EncodeDateTime(2004, 3, 5, 14, 30, 0), "2004-03-05 14:30:00"},
      {EncodeDateTime(2004, 3, 5), "2004-03-05 00:00:00"},
      {EncodeDateTime(2000, 2, 29, 23, 59, 59), "2000-02-29 23:59:59"},
      {EncodeDateTime(2024, 12, 31, 23, 59, 59) + 0.9 * kOneSecond, "2025-01-01 00:00:00"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(FormatRecordDateTime(c.moment), c.text);
    for (TDateOrder order : {TDateOrder::doDayMonthYear, TDateOrder::doMonthDayYear}) {
      const std::optional<TDateTime> back = ParseRecordDateTime(c.text, order);
      ASSERT_TRUE(back.has_value()) << c.text;
      EXPECT_NEAR(*back, c.moment, kOneSecond) << c.text;
    }
  }
}

TEST(RecordDateTime, ReadsLocaleFormsOfOlderFiles) {
  const TDateTime fifthOfMarch = EncodeDateTime(2004, 3, 5);
  const TDateTime afternoon = EncodeDateTime(2004, 3, 5, 14, 30, 5);
  struct Case {
    std::string text;
    TDateOrder order;
    std::optional<TDateTime> moment;
  };
  const Case cases[] = {
      {"05.03.2004", TDateOrder::doDayMonthYear, fifthOfMarch},
      {"05.03.2004 14:30:05", TDateOrder::doDayMonthYear, afternoon},
      {"5.3.04 14:30:05", TDateOrder::doDayMonthYear, afternoon},
      {"3/5/2004 2:30:05 PM", TDateOrder::doMonthDayYear, afternoon},
      {"3/5/2004 12:00:00 AM", TDateOrder::doMonthDayYear, fifthOfMarch},
      {"05/03/2004 14:30:05", TDateOrder::doDayMonthYear, afternoon},
      {"25/03/2004", TDateOrder::doMonthDayYear, EncodeDateTime(2004, 3, 25)}, // 25 cannot be a month
      {"03/25/2004", TDateOrder::doDayMonthYear, EncodeDateTime(2004, 3, 25)},
      {"2004-03-05T14:30:05", TDateOrder::doMonthDayYear, afternoon},
      {"2004/3/5 14:30", TDateOrder::doDayMonthYear, afternoon - 5 * kOneSecond},
      {"05.03.1999", TDateOrder::doYearMonthDay, EncodeDateTime(1999, 3, 5)},
      {"01.01.99", TDateOrder::doDayMonthYear, EncodeDateTime(1999, 1, 1)},
      {"", TDateOrder::doDayMonthYear, std::nullopt},
      {"yesterday", TDateOrder::doDayMonthYear, std::nullopt},
      {"31.02.2004", TDateOrder::doDayMonthYear, std::nullopt},
      {"29.02.2003", TDateOrder::doDayMonthYear, std::nullopt},
      {"05.03/2004", TDateOrder::doDayMonthYear, std::nullopt},
      {"05.03.2004 25:00:00", TDateOrder::doDayMonthYear, std::nullopt},
      {"05.03.2004 14:30:05 later", TDateOrder::doDayMonthYear, std::nullopt},
      {"3/5/2004 13:00:00 PM", TDateOrder::doMonthDayYear, std::nullopt},
      {"05.03.2004 14:3", TDateOrder::doDayMonthYear, std::nullopt},
  };
  for (const Case &c : cases) {
    const std::optional<TDateTime> read = ParseRecordDateTime(c.text, c.order);
    ASSERT_EQ(read.has_value(), c.moment.has_value()) << c.text;
    if (read) {
      EXPECT_NEAR(*read, *c.moment, kOneSecond / 10) << c.text;
    }
  }
}

TEST(RecordDateTime, NowIsTheLocalWallClock) {
  const TDateTime now = NowLocal();
  EXPECT_GT(now, EncodeDateTime(2020, 1, 1));
  EXPECT_LT(now, EncodeDateTime(2200, 1, 1));
}

} // namespace
