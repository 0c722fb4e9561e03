// Text forms shared by the whole plug-in and the application server: calendar
// days and their texts, date-time values counted in days, and names compared
// without regard to case.
//
// A date-time value is a number of days since 1899-12-30, its fraction the
// time of day (the unit of the date-time fields of the document sets).
#ifndef SKJK_TEXT_FORMS_H_
#define SKJK_TEXT_FORMS_H_

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace skjk::text {

using Day = std::chrono::year_month_day;

// Day 0 of the date-time values.
inline constexpr std::chrono::sys_days kDayZero{std::chrono::year{1899} /
                                                std::chrono::December / 30};

// The day a date-time value falls on (its time of day dropped); nullopt for a
// value that is not finite or lies outside the years 1 to 9999.
std::optional<Day> DayOf(double date_time);
// The date-time value of the start of `day`.
double DateTimeOf(Day day);

// "YYYY-MM-DD", the form of dates on the wire and in the grids
// (23 August 2002 gives 2002-08-23).
std::string IsoDate(Day day);
// "YYYYMMDD", the form of dates in the exchanged files.
std::string CompactDate(Day day);

// A "YYYY-MM-DD" text of exactly ten characters naming a real day in the
// years 1 to 9999; nullopt for anything else.
std::optional<Day> ParseIsoDate(std::string_view text);

// Equality of two GBK names ignoring the case of ASCII letters only: the
// trail byte of a two-byte character may itself look like a letter and is
// compared as it is.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace skjk::text

#endif  // SKJK_TEXT_FORMS_H_
