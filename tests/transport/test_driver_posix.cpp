#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "fiscalsim/port_alias.h"
#include "test_driver.h"

namespace vrn_test {

double ProcessCpuMs() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double ProcessCpuStepMs() { return 0; }

std::string UsePrivateAliasDir() {
  static const std::string dir = [] {
    std::string templ = (std::filesystem::temp_directory_path() / "vrn-com-XXXXXX").string();
    const char *made = ::mkdtemp(templ.data());
    std::string path = made != nullptr ? made : templ;
    ::setenv("FISCAL_COM_DIR", path.c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(std::getenv("FISCAL_COM_DIR"), ignored);
    });
    return path;
  }();
  return dir;
}

std::shared_ptr<void> AliasPort(const std::string &comName, const std::string &target, std::string *error) {
  return std::shared_ptr<fiscalsim::PortAlias>(fiscalsim::PortAlias::Create(comName, target, error));
}

}  // namespace vrn_test
