#include <windows.h>

#include "test_driver.h"

namespace vrn_test {

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto ms = [](const FILETIME &t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

double ProcessCpuStepMs() { return 16; }

std::string UsePrivateAliasDir() { return ""; }

std::shared_ptr<void> AliasPort(const std::string &, const std::string &, std::string *error) {
  if (error != nullptr) *error = "no port aliases on Windows";
  return nullptr;
}

}  // namespace vrn_test
