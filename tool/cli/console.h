// What every part of tillwright-cli shares: its exit statuses and its console.
#pragma once

#include <iosfwd>

namespace tillwright::cli {

// The exit statuses, stable for scripts.
enum Exit : int {
  kExitOk = 0,
  kExitUsage = 1,     // bad arguments, or a group that cannot be read
  kExitNoDevice = 2,  // no device answers (on the port named, or anywhere)
  kExitRefused = 3,   // the device refused a command
  kExitBadFile = 4,   // a file that cannot be read or written, or is no sound backup
  kExitPartial = 5,   // a restore that wrote some groups and not others
  kExitDeclined = 6,  // the person (or the lack of --yes) declined
};

struct Console {
  std::ostream &out;
  std::ostream &err;
  std::istream &in;
  bool interactive = false;  // whether `in` is a person at a terminal
};

}  // namespace tillwright::cli
