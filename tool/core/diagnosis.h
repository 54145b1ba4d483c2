// Why the device does not answer: a run of checks over USB, access rights, programs in the way,
// the ports the Connect scan tries, and the device itself, each ending in one line that says what
// was seen and what mends it. The command line's `doctor` and the main dialog's "Diagnose
// connection" both run it, and both can pack its evidence into a support bundle.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tillwright::diagnosis {

enum class Verdict { Ok, Warn, Fail };

// "ok", "warn", "fail".
const char *VerdictWord(Verdict verdict);

struct Finding {
  Verdict verdict = Verdict::Ok;
  std::string check;   // which check said it: "usb", "access", "interference", "ports", "device", "windows"
  std::string seen;    // what was seen
  std::string remedy;  // what to do about it, with the exact command where there is one; empty for an ok
  // "<verdict>: <seen> — <remedy>", the remedy only when there is one.
  std::string Line() const;
};

struct Report {
  std::vector<Finding> findings;    // in the order the checks ran
  std::string answeringPort;        // the port of the device that answered; empty when none did
  std::vector<std::string> ports;   // the Connect scan's list as it was tried, one line each
  std::string udevRule;             // the rule in force, as read; empty when none is installed
  std::vector<std::string> traces;  // of the probes, passwords and unlock keys masked
  // The operating system, as the bundle names it.
  std::string system;

  bool DeviceAnswered() const { return !answeringPort.empty(); }
  // Every finding's line, one per line.
  std::string Text() const;
};

// Told before each step; returns false when the person stopped the run (what ran is kept).
using Progress = std::function<bool(int step, int steps, const std::string &text)>;

// Runs every check on this machine. Blocks for as long as the ports take to answer (seconds);
// run it off the user-interface thread.
Report Diagnose(const Progress &progress = {});

// One file of a support bundle.
struct BundleEntry {
  std::string name;  // a plain name, no folders
  std::string bytes;
};

// What a bundle holds for `report`: the report, the versions of every component, the traces,
// the port list and the udev rule in force. The caller adds its own (a settings backup).
std::vector<BundleEntry> BundleEntries(const Report &report);

// Writes the entries as a .zip or a .tar.gz, chosen by the name's ending, mode 0600, created
// exclusively and renamed into place. False with the reason in *error.
bool WriteBundle(const std::string &path, const std::vector<BundleEntry> &entries, std::string *error);

}  // namespace tillwright::diagnosis
