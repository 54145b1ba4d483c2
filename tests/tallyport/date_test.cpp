// Date values as callers pass them, both ways.
#include <cmath>

#include <gtest/gtest.h>

#include "ole_date.h"

namespace tallyport {
namespace {

TEST(DateValues, ConvertBothWaysAroundTheEpochAndTheCalendarsEdges) {
  struct Case {
    double value;
    CalendarTime time;
  };
  const Case cases[] = {
      {0.0, {1899, 12, 30, 0, 0, 0}},
      {2.5, {1900, 1, 1, 12, 0, 0}},
      {-1.25, {1899, 12, 29, 6, 0, 0}},  // the fraction counts forward before the epoch too
      {46363.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0, {2026, 12, 7, 13, 5, 9}},
      {46082.0, {2026, 3, 1, 0, 0, 0}},
      {45351.0, {2024, 2, 29, 0, 0, 0}},
      {2958465.0 + 86399.0 / 86400.0, {9999, 12, 31, 23, 59, 59}},
      {-657434.0, {100, 1, 1, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    const auto time = FromDateValue(c.value);
    ASSERT_TRUE(time) << c.value;
    EXPECT_EQ(ClockText(*time), ClockText(c.time)) << c.value;
    EXPECT_EQ(time->year, c.time.year) << c.value;
    const auto back = ToDateValue(c.time);
    ASSERT_TRUE(back) << c.value;
    EXPECT_NEAR(*back, c.value, 1e-9);
  }
  EXPECT_EQ(DayMonthYear({2026, 12, 7, 0, 0, 0}), "071226");
  EXPECT_EQ(ClockText({2026, 12, 7, 13, 5, 9}), "07-12-26 13:05:09");
}

TEST(DateValues, RoundToTheNearestSecondAcrossMidnight) {
  const auto time = FromDateValue(46363.0 - 0.1 / 86400.0);  // a tenth of a second before midnight
  ASSERT_TRUE(time);
  EXPECT_EQ(ClockText(*time), "07-12-26 00:00:00");
}

TEST(DateValues, RefuseWhatIsNoDate) {
  for (double bad : {2958466.0, -657435.0, 1e300, double(NAN), double(INFINITY)}) EXPECT_FALSE(FromDateValue(bad)) << bad;
  for (const CalendarTime &bad : {CalendarTime{2026, 2, 29, 0, 0, 0}, CalendarTime{2026, 2, 31, 10, 0, 0},
                                  CalendarTime{2026, 13, 1, 0, 0, 0}, CalendarTime{2026, 0, 1, 0, 0, 0},
                                  CalendarTime{2026, 1, 0, 0, 0, 0}, CalendarTime{2026, 1, 1, 24, 0, 0},
                                  CalendarTime{2026, 1, 1, 0, 60, 0}, CalendarTime{2026, 1, 1, 0, 0, 60},
                                  CalendarTime{2026, 1, 1, -1, 0, 0}, CalendarTime{10000, 1, 1, 0, 0, 0}}) {
    EXPECT_FALSE(ToDateValue(bad)) << ClockText(bad);
  }
  EXPECT_TRUE(ToDateValue({2000, 2, 29, 0, 0, 0}));
  EXPECT_FALSE(ToDateValue({1900, 2, 29, 0, 0, 0}));
}

}  // namespace
}  // namespace tallyport
