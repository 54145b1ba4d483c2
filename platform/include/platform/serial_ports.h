// The serial devices a port scan may try beyond COM1..COM20, and the ports it must leave alone.
// Linux only: elsewhere there is nothing extra and nothing is skipped.
//
// Extra devices, in this order:
//  1. the links of the by-id directory (USB serial adapters), sorted by name, each resolved to
//     the device it names;
//  2. the ttyUSB<n> and ttyACM<n> of the device directory in natural order (ttyUSB2 before
//     ttyUSB10), except those already reached through a by-id link or given in `reached`.
// Only character devices count, and a device that some program holds locked (the suite's
// exclusive open, e.g. the transport library's own USB serial link) is left out: opening it
// would be refused anyway.
//
// Left alone (SkipSerialPort): the system console, and a built-in port whose UART is absent
// (the sysfs `type` of its tty is 0, or, where sysfs has none, TIOCGSERIAL says PORT_UNKNOWN).
#pragma once

#include <string>
#include <vector>

namespace platform {

// Where devices are looked for. Every root can be moved (tests use a tree of pseudo-terminal
// stand-ins); an empty root is not looked at.
struct SerialRoots {
  std::string dev = "/dev";
  std::string byId = "/dev/serial/by-id";
  std::string sysTty = "/sys/class/tty";
  std::string locks = "/proc/locks";

  // The machine's own.
  static SerialRoots System() { return {}; }
  // Nothing looked at: no extra devices, nothing skipped.
  static SerialRoots None() { return {"", "", "", ""}; }
};

// System(), or None() while FISCAL_COM_DIR is set: that directory is then the whole map of
// ports, and neither the machine's devices nor its sysfs are touched.
SerialRoots SerialRootsFromEnvironment();

// The extra devices' paths, as described above. `reached` are paths already in the scan (the
// COM ports' resolved paths); a device they lead to is not listed again.
std::vector<std::string> ExtraSerialPorts(const SerialRoots &roots, const std::vector<std::string> &reached = {});

// True for the system console and for a built-in port without its UART. A path that does not
// exist or is no character device is not skipped: opening it reports what is wrong.
bool SkipSerialPort(const std::string &path, const SerialRoots &roots);
// Why SkipSerialPort leaves the path alone ("the system console", "a built-in port without its
// UART"); nullptr when it does not.
const char *SerialPortSkipReason(const std::string &path, const SerialRoots &roots);

// "ttyUSB2" before "ttyUSB10": runs of digits compare by their value.
bool NaturalLess(const std::string &a, const std::string &b);

}  // namespace platform
