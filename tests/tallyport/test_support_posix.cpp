#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.h"

namespace tallyport::testing {

PrivateComDir::PrivateComDir() {
  char pattern[] = "/tmp/tallyport-com-XXXXXX";
  const char *dir = ::mkdtemp(pattern);
  EXPECT_NE(dir, nullptr);
  path_ = dir ? dir : "";
  ::setenv("FISCAL_COM_DIR", path_.c_str(), 1);
}

PrivateComDir::~PrivateComDir() {
  ::unsetenv("FISCAL_COM_DIR");
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace tallyport::testing
