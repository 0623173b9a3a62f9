#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// A local wall-clock moment in days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

// The order of day, month and year in the user's numeric dates.
enum class TDateOrder { doDayMonthYear, doMonthDayYear, doYearMonthDay };

TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// The local wall clock now.
TDateTime NowLocal();

// Written into record files: "YYYY-MM-DD HH:MM:SS", the same in every locale.
std::string FormatRecordDateTime(TDateTime moment);

// Reads the written form and the locale forms of older files: a numeric date ("." "/" or "-"
// between day, month and year, the order taken from the values where one is above 12, else from
// order), alone or followed by a time (h:mm or h:mm:ss, optionally AM or PM). Nothing when the text
// is no valid date.
std::optional<TDateTime> ParseRecordDateTime(std::string_view text, TDateOrder order);
// The order of the user's locale (LC_TIME).
TDateOrder LocaleDateOrder();

} // namespace velmora
