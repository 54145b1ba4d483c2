// The local time of a moment, with the thread-safe call each C library offers.
#pragma once

#include <ctime>

namespace tillwright {

inline std::tm LocalTime(std::time_t moment) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &moment);
#else
  localtime_r(&moment, &local);
#endif
  return local;
}

}  // namespace tillwright
