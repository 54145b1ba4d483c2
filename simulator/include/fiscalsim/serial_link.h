// A link over a serial port: the simulator serves `devicePort`, hosts open `hostPort`, the other
// end of a null-modem cable or of a linked pair of ports (two pseudo-terminals joined by
// fiscal-pty-pair, mapped into a Windows environment as COM ports).
#pragma once

#include <memory>
#include <string>

#include "fiscalsim/device_link.h"

namespace fiscalsim {

// Opens `devicePort` at 115200 baud, 8 data bits, no parity, one stop bit, raw, and drops what
// its input held. Name() is `hostPort`. Throws std::system_error when the port cannot be opened
// or set up. Close() closes the port: a host on a cable or a linked pair then hears nothing.
std::unique_ptr<DeviceLink> OpenSerialLink(std::string devicePort, std::string hostPort);

}  // namespace fiscalsim
