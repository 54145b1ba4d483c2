// tillwright-cli: scriptable servicing, settings backup, restore and clone. The whole program
// apart from its entry point, so that tests run it in their own process.
#pragma once

#include <string>
#include <vector>

#include "cli/console.h"

namespace tillwright::cli {

// `args` without the program's name.
int Run(const std::vector<std::string> &args, Console &console);

}  // namespace tillwright::cli
