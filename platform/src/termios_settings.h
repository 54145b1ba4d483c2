// The termios side of SerialPort::Configure, apart so that it can be checked without a UART
// (pseudo-terminals ignore most line settings).
#pragma once

#include <termios.h>

#include "platform/serial_port.h"

namespace platform {

// Raw mode plus the given line settings. Returns 0, or EINVAL (and leaves tio alone) for values
// out of range or a baud rate without a termios constant.
int ApplyLineSettings(const LineSettings &settings, termios *tio);

}  // namespace platform
