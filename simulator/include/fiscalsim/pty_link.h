// A pseudo-terminal link: the simulator serves the master side, hosts open the slave side (its
// path is the link's Name()) as they would a serial port.
#pragma once

#include <memory>
#include <string>

#include "fiscalsim/device_link.h"

namespace fiscalsim {

// Throws std::system_error when the system cannot make one.
std::unique_ptr<DeviceLink> OpenPtyLink();

// A pseudo-terminal with both sides open (non-blocking, close-on-exec) and the slave raw,
// ignoring modem lines. Whoever holds the slave keeps the master from hanging up when hosts
// close their ends. Throws std::system_error, having closed what it opened.
struct RawPty {
  int master = -1;
  int slave = -1;
  std::string slavePath;
};
RawPty OpenRawPty();

}  // namespace fiscalsim
