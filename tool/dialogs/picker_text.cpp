#include "dialogs/picker_text.h"

#include <cstdio>
#include <optional>

namespace tillwright::ui {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Exactly `digits` decimal digits at `at`, followed by `then` unless it is 0.
std::optional<int> Number(std::string_view text, size_t at, size_t digits, char then) {
  if (at + digits > text.size()) return std::nullopt;
  int n = 0;
  for (size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    n = n * 10 + (text[i] - '0');
  }
  if (then != 0 && (at + digits >= text.size() || text[at + digits] != then)) return std::nullopt;
  return n;
}

bool ReadDate(std::string_view text, PickerValue &value) {
  if (text.size() != 10) return false;
  const auto year = Number(text, 0, 4, '-');
  const auto month = Number(text, 5, 2, '-');
  const auto day = Number(text, 8, 2, 0);
  if (!year || !month || !day || *year < 1 || *month < 1 || *month > 12 || *day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
  if (*day > kDays[*month - 1] + (*month == 2 && leap ? 1 : 0)) return false;
  value.year = *year;
  value.month = *month;
  value.day = *day;
  return true;
}

bool ReadTime(std::string_view text, PickerValue &value) {
  if (text.size() != 8 && text.size() != 5) return false;
  const auto hour = Number(text, 0, 2, ':');
  const auto minute = Number(text, 3, 2, text.size() == 8 ? ':' : 0);
  const auto second = text.size() == 8 ? Number(text, 6, 2, 0) : std::optional<int>(0);
  if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59) return false;
  value.hour = *hour;
  value.minute = *minute;
  value.second = *second;
  return true;
}

}  // namespace

std::string PickerText(const PickerValue &value, PickerShows shows) {
  char date[16];
  char time[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", value.year, value.month, value.day);
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", value.hour, value.minute, value.second);
  switch (shows) {
    case PickerShows::Date:
      return date;
    case PickerShows::Time:
      return time;
    case PickerShows::DateAndTime:
      break;
  }
  return std::string(date) + ' ' + time;
}

bool ReadPickerText(std::string_view text, PickerValue &value) {
  text = Trimmed(text);
  PickerValue read = value;
  // A date with a time names its seconds; a time without them is on the full minute.
  const bool ok = text.size() == 19
                      ? text[10] == ' ' && ReadDate(text.substr(0, 10), read) && ReadTime(text.substr(11), read)
                  : text.size() == 10 ? ReadDate(text, read)
                                      : ReadTime(text, read);
  if (ok) value = read;
  return ok;
}

}  // namespace tillwright::ui
