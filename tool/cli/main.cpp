// tillwright-cli's entry point: the console it runs on, then the program.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/cli.h"

int main(int argc, char **argv) {
#ifdef _WIN32
  const bool interactive = _isatty(_fileno(stdin)) != 0;
#else
  const bool interactive = isatty(STDIN_FILENO) != 0;
#endif
  tillwright::cli::Console console{std::cout, std::cerr, std::cin, interactive};
  return tillwright::cli::Run(std::vector<std::string>(argv + 1, argv + argc), console);
}
