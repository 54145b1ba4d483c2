// What the tests over the emulated USB device share (Linux, umockdev): the program run under
// umockdev-wrapper with its testbed made before any libudev or libusb context, a device with the
// simulator behind it, and the process's CPU time for the tests that prove a wait sleeps.
#pragma once

#include <sys/resource.h>

#include <memory>

#include "fiscalsim/simulator.h"
#include "fiscalsim/usb_device_linux.h"

namespace fiscal_test {

// Runs the test program again under umockdev-wrapper when it was started without it, and makes
// the testbed. Each USB test program calls it from a namespace-scope initialiser, so that it
// happens before main and before any context exists; later calls do nothing.
inline bool EnterUsbTestbed() {
  static const bool entered = [] {
    fiscalsim::ReexecUnderUmockdev();
    fiscalsim::UsbTestbed::Instance();
    return true;
  }();
  return entered;
}

// One emulated device with the simulator behind it, started, and plugged in unless told not to.
struct EmulatedDevice {
  explicit EmulatedDevice(fiscalsim::UsbDeviceOptions options, bool plug = true)
      : usb(std::make_unique<fiscalsim::EmulatedUsbDevice>(options)),
        sim(std::make_unique<fiscalsim::Simulator>(usb->TakeLink())) {
    sim->Start();
    if (plug) usb->Plug();
  }
  // The simulator ends before the device whose link it serves.
  ~EmulatedDevice() {
    sim.reset();
    usb.reset();
  }
  EmulatedDevice(const EmulatedDevice &) = delete;
  EmulatedDevice &operator=(const EmulatedDevice &) = delete;

  std::unique_ptr<fiscalsim::EmulatedUsbDevice> usb;
  std::unique_ptr<fiscalsim::Simulator> sim;
};

// CPU time this process has used, user and system, in milliseconds.
inline double CpuMs() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace fiscal_test
