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
// Faults of the bulk endpoints (halts, short and zero-length transfers, transfers that cannot
// be cancelled) are armed on the device and drive a host's error paths; see Stall() and below.
//
// Linux only; the testbed must exist before the process makes its first libudev or libusb
// context (UsbTestbed::Instance() does that and every device uses it).
#pragma once

#include <chrono>
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

// The two bulk endpoints of the data interface: OUT 0x03 (host to device) and IN 0x81.
enum class UsbDirection { Out, In };

// What a host's DISCARDURB of a held transfer gets (see HoldTransfers).
enum class HeldDiscard {
  Refuse,  // fails with EBUSY; the transfer stays as it was, and goes on once released
  Defer,   // accepted, but the cancelled transfer is handed back only once the fault ends
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
  // The byte counts of every OUT transfer as submitted (what the host offered), in order.
  std::vector<size_t> OutTransfers() const;
  // Interface claims seen: each open of the device by a driver claims once.
  unsigned Claims() const;
  // The sysfs "authorized" value as last written by the host ("1" after a plug).
  std::string Authorized() const;

  // Faults of the bulk endpoints, armed by a test while a host talks to the device; each is
  // thread-safe and takes effect at once. Unplug() ends every one of them. Nothing a fault
  // holds back is lost: bytes the device did not take stay with the host, bytes it did not
  // send stay for the next IN transfer.
  //
  // The endpoint halts, as after a STALL handshake: transfers waiting on it, and every one
  // submitted to it, complete with -EPIPE (LIBUSB_ERROR_PIPE) and move no bytes, until the
  // host clears the halt (USBDEVFS_CLEAR_HALT of that endpoint) or resets the device.
  void Stall(UsbDirection direction);
  // The next OUT transfer completes without error after the device took only its first
  // `bytes` bytes (0 for none); the host must send the rest again.
  void ShortNextOut(size_t bytes);
  // The next `transfers` times an IN transfer would take bytes, it completes with none
  // instead; the bytes stay for the transfer after.
  void ZeroLengthNextIn(unsigned transfers = 1);
  // A transfer that cannot be cancelled: from now on transfers of `direction` stay pending (an
  // OUT transfer's bytes are not taken, an IN transfer gets none) and a host's discard of them
  // is answered as `discard` says, until ReleaseTransfers(direction) or Unplug() (which ends
  // them with -ESHUTDOWN). Once released they go on as if nothing had happened, and those
  // whose discard was deferred complete cancelled (-ENOENT). A libusb transfer caught here
  // outlives its time-out and libusb_cancel_transfer, so its caller blocks until the release;
  // a host that resets the device meanwhile is counted in ResetsUnderHeldTransfers() (a real
  // kernel would wait in that reset for the transfer to end).
  void HoldTransfers(UsbDirection direction, HeldDiscard discard = HeldDiscard::Refuse);
  void ReleaseTransfers(UsbDirection direction);
  // A discard the device accepts from now on hands its transfer back cancelled only `delay`
  // later, as a controller that is slow to unlink it; 0 (the default) hands it back at once.
  void DelayDiscards(std::chrono::milliseconds delay);

  // USBDEVFS_CLEAR_HALT calls seen for the endpoint of `direction`, whether it was halted or not.
  unsigned ClearHalts(UsbDirection direction) const;
  // USBDEVFS_DISCARDURB calls seen, accepted, refused or for transfers already done.
  unsigned Discards() const;
  // Transfers of `direction` held by HoldTransfers now, their discard deferred or not.
  unsigned HeldTransfers(UsbDirection direction) const;
  // USBDEVFS_RESET calls that came while a transfer was held.
  unsigned ResetsUnderHeldTransfers() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace fiscalsim
