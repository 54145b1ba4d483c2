// The text of a date or time picker (see IDialogView::Text), the same in every host: a date as
// "2014-03-01", a time as "08:00:00", a picker that shows both as the two with a blank between.
#pragma once

#include <string>
#include <string_view>

namespace tillwright::ui {

struct PickerValue {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

enum class PickerShows { Date, Time, DateAndTime };

std::string PickerText(const PickerValue &value, PickerShows shows);

// Takes a text set on a picker into `value`: "2014-03-01 08:00:00", "2014-03-01", "08:00:00" or
// "08:00" (blanks around it allowed). What the text does not name stays as it was. A text of no
// such form, or naming a day or time that does not exist, leaves `value` alone and gives false.
bool ReadPickerText(std::string_view text, PickerValue &value);

}  // namespace tillwright::ui
