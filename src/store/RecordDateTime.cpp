#include "store/RecordDateTime.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <langinfo.h>
#include <vector>

namespace velmora {

namespace {

constexpr int kSecondsPerDay = 86400;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

void CivilFromDays(long long days, int &year, int &month, int &day) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  year = static_cast<int>(static_cast<long long>(yearOfEra) + era * 400 + (month <= 2));
}

const long long kEpochDays = DaysFromCivil(1899, 12, 30);

bool ValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
    return false;
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
}

// A small reader over the text: numbers, separators and words, blanks skipped where allowed.
class Reader {
public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return position_ >= text_.size(); }
  void SkipBlanks() {
    while (!AtEnd() && text_[position_] == ' ')
      ++position_;
  }
  // Reads 1 to maxDigits decimal digits; digits gets their count.
  std::optional<int> Number(size_t maxDigits, size_t &digits) {
    digits = 0;
    int value = 0;
    while (!AtEnd() && std::isdigit(static_cast<unsigned char>(text_[position_])) != 0) {
      if (++digits > maxDigits)
        return std::nullopt;
      value = value * 10 + (text_[position_++] - '0');
    }
    return digits == 0 ? std::nullopt : std::optional<int>(value);
  }
  bool Take(char c) {
    if (AtEnd() || text_[position_] != c)
      return false;
    ++position_;
    return true;
  }
  std::optional<char> TakeAnyOf(std::string_view characters) {
    if (AtEnd() || characters.find(text_[position_]) == std::string_view::npos)
      return std::nullopt;
    return text_[position_++];
  }
  std::string Rest() const {
    std::string rest(text_.substr(std::min(position_, text_.size())));
    for (char &c : rest)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return rest;
  }

private:
  std::string_view text_;
  size_t position_ = 0;
};

int FullYear(int year, size_t digits) {
  if (digits > 2)
    return year;
  return year < 50 ? 2000 + year : 1900 + year;
}

std::optional<TDateTime> ReadDate(Reader &reader, TDateOrder order, int &year, int &month, int &day) {
  size_t digits[3] = {};
  int values[3] = {};
  char separator = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      const std::optional<char> found = reader.TakeAnyOf("./-");
      if (!found || (i == 2 && *found != separator))
        return std::nullopt;
      separator = *found;
    }
    const std::optional<int> value = reader.Number(4, digits[i]);
    if (!value)
      return std::nullopt;
    values[i] = *value;
  }
  // A four-digit first number is a year; a number above 12 cannot be a month.
  // A two-digit first number under a year-first locale is read day first.
  if (digits[0] > 2)
    order = TDateOrder::doYearMonthDay;
  else if (values[1] > 12)
    order = TDateOrder::doMonthDayYear;
  else if (values[0] > 12 || order == TDateOrder::doYearMonthDay)
    order = TDateOrder::doDayMonthYear;
  switch (order) {
  case TDateOrder::doYearMonthDay:
    year = values[0], month = values[1], day = values[2];
    break;
  case TDateOrder::doDayMonthYear:
    year = FullYear(values[2], digits[2]), month = values[1], day = values[0];
    break;
  case TDateOrder::doMonthDayYear:
    year = FullYear(values[2], digits[2]), month = values[0], day = values[1];
    break;
  }
  if (!ValidDate(year, month, day))
    return std::nullopt;
  return EncodeDateTime(year, month, day);
}

// h:mm[:ss] with an optional AM or PM; false when the text is no time.
bool ReadTime(Reader &reader, int &seconds) {
  size_t digits = 0;
  const std::optional<int> hour = reader.Number(2, digits);
  if (!hour || !reader.Take(':'))
    return false;
  const std::optional<int> minute = reader.Number(2, digits);
  if (!minute || digits != 2)
    return false;
  int second = 0;
  if (reader.Take(':')) {
    const std::optional<int> value = reader.Number(2, digits);
    if (!value || digits != 2)
      return false;
    second = *value;
  }
  reader.SkipBlanks();
  int hours = *hour;
  const std::string suffix = reader.Rest();
  if (suffix == "AM" || suffix == "PM") {
    if (hours < 1 || hours > 12)
      return false;
    hours = hours % 12 + (suffix == "PM" ? 12 : 0);
  } else if (!suffix.empty()) {
    return false;
  }
  if (hours > 23 || *minute > 59 || second > 59)
    return false;
  seconds = hours * 3600 + *minute * 60 + second;
  return true;
}

} // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const long long days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochDays;
  return static_cast<double>(days) +
         (hour * 3600 + minute * 60 + second) / static_cast<double>(kSecondsPerDay);
}

TDateTime NowLocal() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec) +
         static_cast<double>(now.tv_nsec) / 1e9 / kSecondsPerDay;
}

std::string FormatRecordDateTime(TDateTime moment) {
  long long days = static_cast<long long>(std::floor(moment));
  long long seconds = std::llround((moment - static_cast<double>(days)) * kSecondsPerDay);
  if (seconds >= kSecondsPerDay) {
    ++days;
    seconds -= kSecondsPerDay;
  }
  int year = 0, month = 0, day = 0;
  CivilFromDays(days + kEpochDays, year, month, day);
  const int clock = static_cast<int>(seconds);
  char text[64];
  (void)std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, clock / 3600,
                      clock / 60 % 60, clock % 60);
  return text;
}

std::optional<TDateTime> ParseRecordDateTime(std::string_view text, TDateOrder order) {
  Reader reader(text);
  reader.SkipBlanks();
  int year = 0, month = 0, day = 0;
  const std::optional<TDateTime> date = ReadDate(reader, order, year, month, day);
  if (!date)
    return std::nullopt;
  if (!reader.Take('T'))
    reader.SkipBlanks();
  if (reader.AtEnd())
    return date;
  int seconds = 0;
  if (!ReadTime(reader, seconds))
    return std::nullopt;
  return *date + seconds / static_cast<double>(kSecondsPerDay);
}

TDateOrder LocaleDateOrder() {
  const std::string format = nl_langinfo(D_FMT);
  const size_t dayAt = format.find_first_of("de");
  const size_t monthAt = format.find_first_of("mbB");
  const size_t yearAt = format.find_first_of("yYCG");
  if (yearAt < monthAt && yearAt < dayAt)
    return TDateOrder::doYearMonthDay;
  return dayAt < monthAt ? TDateOrder::doDayMonthYear : TDateOrder::doMonthDayYear;
}

} // namespace velmora
