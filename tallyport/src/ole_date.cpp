#include "ole_date.h"

#include <cmath>
#include <cstdio>

namespace tallyport {
namespace {

constexpr int kMinYear = 100;
constexpr int kMaxYear = 9999;

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int &year, int &month, int &day) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

const long kEpoch = DaysFromCivil(1899, 12, 30);

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::optional<CalendarTime> FromDateValue(double value) {
  // 1 January 100 and the last second of 31 December 9999.
  if (!std::isfinite(value) || value < -657434.0 || value >= 2958466.0) return std::nullopt;
  double whole = std::trunc(value);
  long seconds = std::lround(std::fabs(value - whole) * 86400.0);
  long days = static_cast<long>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  CalendarTime t;
  CivilFromDays(kEpoch + days, t.year, t.month, t.day);
  if (t.year > kMaxYear) return std::nullopt;
  t.hour = static_cast<int>(seconds / 3600);
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  return t;
}

std::optional<double> ToDateValue(const CalendarTime &t) {
  if (t.year < kMinYear || t.year > kMaxYear || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 ||
      t.second < 0 || t.second > 59) {
    return std::nullopt;
  }
  const long days = DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) - kEpoch;
  const double time = (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

std::string DayMonthYear(const CalendarTime &t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", t.day, t.month, t.year % 100);
  return text;
}

std::string ClockText(const CalendarTime &t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", t.day, t.month, t.year % 100, t.hour, t.minute,
                t.second);
  return text;
}

}  // namespace tallyport
