// Date-time values as point-of-sale programs pass them: days from 30 December 1899, the
// fraction being the time of day. Before that day the whole part counts back and the fraction
// still counts forward (-1.25 is 29 December 1899, 06:00).
#pragma once

#include <optional>
#include <string>

namespace tallyport {

struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Years 100 to 9999, as the callers' date type allows; to the nearest second. Nothing for a
// value outside that range or not a number.
std::optional<CalendarTime> FromDateValue(double value);
// Nothing when the fields do not make a real date and time in years 100 to 9999.
std::optional<double> ToDateValue(const CalendarTime &time);

// "DDMMYY", the form of report periods.
std::string DayMonthYear(const CalendarTime &time);
// "DD-MM-YY HH:MM:SS", the device clock's form.
std::string ClockText(const CalendarTime &time);

}  // namespace tallyport
