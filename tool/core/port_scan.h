// The ports the Connect scan tries, in the order it tries them: COM1..COM20 (aliases, then the
// built-in ports, as the port names say), then on Linux the serial devices that exist (USB serial
// adapters by id, then ttyUSB<n> and ttyACM<n> not yet reached; see platform/serial_ports.h).
// Ports that must never be opened (the system console, a built-in port without its UART) are
// left out, and so is every COMn while its alias directory is not private. The main dialog's scan and the command-line tool share this list.
#pragma once

#include <string>
#include <vector>

#include "platform/serial_ports.h"

namespace tillwright {

// The COM part of the list: COM1 to COM20.
inline constexpr int kLastComPort = 20;

// Names as the serial link takes them: "COM7", or a device path for the extra devices.
std::vector<std::string> ScanPortNames(const platform::SerialRoots &roots);
// The same with the machine's devices, or only COM1..COM20 while FISCAL_COM_DIR is set.
std::vector<std::string> ScanPortNames();

// The list with the ports left out for SkipSerialPort kept in their places, so that a report can
// say why each of them was never opened.
std::vector<std::string> ScanPortNamesWithSkipped(const platform::SerialRoots &roots);

}  // namespace tillwright
