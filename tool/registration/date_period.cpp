#include "registration/date_period.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>

#include "core/local_time.h"
#include "dialogs/data_exchange.h"

namespace tillwright {

namespace {

constexpr const char *kDateOutOfRange = "Please choose a date from 2000 to 2099.";

// A picker's text, "2014-03-01".
std::optional<CalendarDate> ParseDate(const std::string &text) {
  CalendarDate date;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const char *p = text.data();
  if (std::from_chars(p, p + 4, date.year).ptr != p + 4 || std::from_chars(p + 5, p + 7, date.month).ptr != p + 7 ||
      std::from_chars(p + 8, p + 10, date.day).ptr != p + 10)
    return std::nullopt;
  if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31) return std::nullopt;
  return date;
}

std::string FormatDate(const CalendarDate &date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

void BindDate(ui::DataExchange &dx, ui::IDialogView &view, ui::ControlId id, CalendarDate &date) {
  if (dx.Failed()) return;
  if (!dx.FromControls()) {
    view.SetText(id, FormatDate(date));
    return;
  }
  const auto picked = ParseDate(view.Text(id));
  // Outside these years the two-digit year of the request would be wrong.
  if (!picked || picked->year < CDatePeriod::kFirstYear || picked->year > CDatePeriod::kLastYear) {
    dx.Refuse(id, kDateOutOfRange);
    return;
  }
  date = *picked;
}

}  // namespace

CDatePeriod::CDatePeriod() : Dialog("date_period") {
  const std::tm now = LocalTime(std::time(nullptr));
  begin = {now.tm_year + 1900, now.tm_mon + 1, now.tm_mday};
  end = begin;
  Uses({kBeginDate, kEndDate, ui::kIdOk, ui::kIdCancel});
}

void CDatePeriod::DoDataExchange(ui::DataExchange &dx) {
  BindDate(dx, View(), kBeginDate, begin);
  BindDate(dx, View(), kEndDate, end);
}

std::string ReportPeriodData(const CalendarDate &begin, const CalendarDate &end) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2d%.2d%.2d,%.2d%.2d%.2d", begin.day, begin.month, begin.year - 2000, end.day,
                end.month, end.year - 2000);
  return text;
}

}  // namespace tillwright
