// The period of a report by dates: a begin and an end date, both today when the dialog is made.
// The dialog sends nothing; its caller reads the dates after OK.
#pragma once

#include <string>

#include "dialogs/dialog.h"

namespace tillwright {

struct CalendarDate {
  int year = 2000;
  int month = 1;
  int day = 1;
  bool operator==(const CalendarDate &) const = default;
};

class CDatePeriod : public ui::Dialog {
 public:
  static constexpr ui::ControlId kBeginDate = 1041;
  static constexpr ui::ControlId kEndDate = 1042;
  // The device counts years from 2000 in two digits.
  static constexpr int kFirstYear = 2000;
  static constexpr int kLastYear = 2099;

  CDatePeriod();

  CalendarDate begin;
  CalendarDate end;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;
};

// The report request's data for the period: "DDMMYY,DDMMYY".
std::string ReportPeriodData(const CalendarDate &begin, const CalendarDate &end);

}  // namespace tillwright
