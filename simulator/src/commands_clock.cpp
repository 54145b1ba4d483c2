#include <cstdio>

#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

using namespace std::chrono;

// "DD-MM-YY HH:MM:SS", two digits each, years 2000 to 2099.
std::optional<sys_seconds> ParseDeviceTime(std::string_view text) {
  if (text.size() != 17 || text[2] != '-' || text[5] != '-' || text[8] != ' ' || text[11] != ':' || text[14] != ':') {
    return std::nullopt;
  }
  unsigned v[6];
  for (size_t i = 0; i < 6; ++i) {
    const auto n = ParseDecimal(text.substr(i * 3, 2), 99);
    if (!n) return std::nullopt;
    v[i] = *n;
  }
  const year_month_day date{year(2000 + static_cast<int>(v[2])), month(v[1]), day(v[0])};
  if (!date.ok() || v[3] > 23 || v[4] > 59 || v[5] > 59) return std::nullopt;
  return sys_days(date) + hours(v[3]) + minutes(v[4]) + seconds(v[5]);
}

std::string FormatDeviceTime(sys_seconds time) {
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(time - day);
  char text[64];
  std::snprintf(text, sizeof text, "%02u-%02u-%02u %02u:%02u:%02u", static_cast<unsigned>(date.day()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(static_cast<int>(date.year()) % 100),
                static_cast<unsigned>(clock.hours().count()), static_cast<unsigned>(clock.minutes().count()),
                static_cast<unsigned>(clock.seconds().count()));
  return text;
}

}  // namespace

void RegisterClockCommands(DeviceModel &model) {
  model.Register(command::kDateTime,
                 [](DeviceModel &m, std::string_view) { return Answer::Ok(FormatDeviceTime(m.DeviceTime())); });
  model.Register(command::kSetDateTime, [](DeviceModel &m, std::string_view data) {
    const auto time = ParseDeviceTime(data);
    if (!time) return Answer::SyntaxError();
    m.SetDeviceTime(*time);
    return Answer::Ok();
  });
}

}  // namespace fiscalsim
