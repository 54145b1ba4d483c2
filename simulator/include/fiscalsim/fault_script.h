// Fault scripts: the faults a host must survive, written one rule a line, for
// fiscal-sim --faults.
//
//   after 3 frames: refuse 2        # the 4th and 5th frames get a NAK
//   on command 0x35: busy 500       # busy bytes for 500 ms before answering
//   on command 48 once: silence     # the first one is swallowed
//
//   rule    = trigger ":" action
//   trigger = "after" N ("frame" | "frames")  |  "on" "command" C ["once"]
//   action  = "refuse" [N] | "busy" T | "delay" T | "bad-check" | "wrong-seq"
//           | "silence" [N | "forever"] | "error-flag" | "vanish" [T]
//
// Words are separated by blanks; "#" starts a comment to the end of the line; blank lines are
// allowed. N is a count in decimal, C a command code (decimal or 0xHH), T milliseconds. Frames
// are counted from the time the rules are loaded, good or bad alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fiscalsim/fault_plan.h"

namespace fiscalsim {

// The rules of a script, in its order. Nothing at the first bad line, with a message in *error
// that `name` and the line number lead: "faults.txt:3: unknown action 'refuze'". Does no I/O.
std::optional<std::vector<FaultRule>> ParseFaultScript(std::string_view text, std::string_view name,
                                                       std::string *error);

// Reads the regular file at `path` (UTF-8) and parses it, messages led by the path.
std::optional<std::vector<FaultRule>> LoadFaultScript(const std::string &path, std::string *error);

// The grammar and one line on each action: what fiscal-sim --faults-help shows.
extern const char kFaultScriptHelp[];

}  // namespace fiscalsim
