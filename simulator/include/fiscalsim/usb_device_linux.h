// The fiscal device as an emulated USB device, for processes that run under umockdev-wrapper:
// a umockdev testbed holds its sysfs record and /dev node, the real libusb and libudev of the
// process see it, and its bulk transfers reach a DeviceLink that a Simulator serves, the same
// device model as on the other links. Optionally the device also has a tty child (a USB serial
// device) whose pseudo-terminal feeds the same link.
//
//   fiscalsim::EmulatedUsbDevice usb;             // 0483:5740, not plugged in yet
//   fiscalsim::Simulator sim(usb.TakeLink());
//   sim.Start();
//   usb.Plug();                                    // "add" uevents, node appears
//   ... libusb talks to it ...
//   usb.Unplug();                                  // transfers fail, "remove" uevents
//
// Linux only; the testbed must exist before the process makes its first libudev or libusb
// context (UsbTestbed::Instance() does that and every device uses it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fiscalsim/device_link.h"

namespace fiscalsim {

// When the running executable is not under umockdev-wrapper, executes it again under the
// wrapper with the same arguments (read from /proc, so it may run before main()) (and, for AddressSanitizer builds, the option that lets the
// preload library come first). Returns only when the process already runs under it.
void ReexecUnderUmockdev();

// True when libumockdev-preload is in LD_PRELOAD.
bool UnderUmockdev();

class UsbTestbed {
 public:
  // The process-wide testbed, created on first use.
  static UsbTestbed &Instance();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed &) = delete;
  UsbTestbed &operator=(const UsbTestbed &) = delete;

  // Where the emulated /sys and /dev live.
  std::string RootDir() const;
  void *Raw() const { return testbed_; }  // the UMockdevTestbed

 private:
  UsbTestbed();
  void *testbed_ = nullptr;
};

struct UsbDeviceOptions {
  uint16_t vendorId = 0x0483;
  uint16_t productId = 0x5740;
  // Each emulated device needs its own place on the bus: port 1 is 1-1, bus 1 device 2, and so on.
  unsigned port = 1;
  uint16_t inPacketSize = 64;
  uint16_t outPacketSize = 64;
  bool interruptEndpoints = false;  // the data interface has interrupt endpoints instead of bulk
  bool withTty = false;             // a tty child: the device is a USB serial device
};

class EmulatedUsbDevice {
 public:
  explicit EmulatedUsbDevice(UsbDeviceOptions options = {});
  // Unplugs the device.
  ~EmulatedUsbDevice();
  EmulatedUsbDevice(const EmulatedUsbDevice &) = delete;
  EmulatedUsbDevice &operator=(const EmulatedUsbDevice &) = delete;

  // The device's end of the link, for a Simulator; once. Closing it (a simulator that vanishes)
  // unplugs the device.
  std::unique_ptr<DeviceLink> TakeLink();

  // Both idempotent. Unplugging fails the transfers in flight and every later call on handles
  // opened before, as a real removal does; plugging in again makes a fresh device node.
  void Plug();
  void Unplug();
  bool IsPlugged() const;

  std::string SysPath() const;  // as libudev reports it, under the testbed's /sys
  std::string DevNode() const;  // /dev/bus/usb/001/00N
  std::string TtyNode() const;  // /dev/ttyACMn, empty without a tty child

  // USBDEVFS_RESET calls seen; when refused they fail with EPERM (as for a device whose hub
  // port cannot be reset) and are still counted.
  unsigned Resets() const;
  void RefuseReset(bool refuse);
  // The byte counts of every OUT transfer, in order.
  std::vector<size_t> OutTransfers() const;
  // Interface claims seen: each open of the device by a driver claims once.
  unsigned Claims() const;
  // The sysfs "authorized" value as last written by the host ("1" after a plug).
  std::string Authorized() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace fiscalsim
