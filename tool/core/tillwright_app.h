// The application: reads its arguments, sets the code page and runs the main dialog.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tillwright {

struct Options {
  int codePage = 1251;
  // Unattended run for demonstrations: press Connect, open the header lines and save a picture
  // of the main dialog here, then end.
  std::string demoScreenshot;
};

// Nothing when the arguments are wrong, with the reason in *error.
std::optional<Options> ParseOptions(const std::vector<std::string> &args, std::string *error);

class CTillwrightApp {
 public:
  // Returns the process exit code.
  int Run(int argc, char **argv);
};

}  // namespace tillwright
