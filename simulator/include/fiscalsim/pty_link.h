// A pseudo-terminal link: the simulator serves the master side, hosts open the slave side (its
// path is the link's Name()) as they would a serial port.
#pragma once

#include <memory>

#include "fiscalsim/device_link.h"

namespace fiscalsim {

// Throws std::system_error when the system cannot make one.
std::unique_ptr<DeviceLink> OpenPtyLink();

}  // namespace fiscalsim
