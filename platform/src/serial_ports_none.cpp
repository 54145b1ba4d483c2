#include "platform/serial_ports.h"

namespace platform {

// Windows knows its serial ports as COMn only, which the scan already tries; there is nothing
// more to find and no console port to avoid.
SerialRoots SerialRootsFromEnvironment() { return SerialRoots::None(); }

std::vector<std::string> ExtraSerialPorts(const SerialRoots &, const std::vector<std::string> &) { return {}; }

bool SkipSerialPort(const std::string &, const SerialRoots &) { return false; }

const char *SerialPortSkipReason(const std::string &, const SerialRoots &) { return nullptr; }

}  // namespace platform
