// The simulator as an emulated USB device for other processes: it makes a umockdev testbed,
// plugs the device in and prints "UMOCKDEV_DIR=<dir>"; a program run under umockdev-wrapper
// with that UMOCKDEV_DIR sees the device through its own libusb and libudev. It unplugs the
// device and ends when its standard input closes.
//   fiscal-usb-sim [--ids VVVV:PPPP] [--tty]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fiscalsim/simulator.h"
#include "fiscalsim/usb_device_linux.h"

int main(int argc, char **argv) {
  fiscalsim::ReexecUnderUmockdev();
  fiscalsim::UsbDeviceOptions options;
  for (int i = 1; i < argc; ++i) {
    unsigned vid = 0;
    unsigned pid = 0;
    if (std::strcmp(argv[i], "--ids") == 0 && i + 1 < argc && std::sscanf(argv[i + 1], "%x:%x", &vid, &pid) == 2 &&
        vid <= 0xFFFF && pid <= 0xFFFF) {
      options.vendorId = static_cast<uint16_t>(vid);
      options.productId = static_cast<uint16_t>(pid);
      ++i;
    } else if (std::strcmp(argv[i], "--tty") == 0) {
      options.withTty = true;
    } else {
      std::fprintf(stderr, "usage: fiscal-usb-sim [--ids VVVV:PPPP] [--tty]\n");
      return 2;
    }
  }
  try {
    fiscalsim::UsbTestbed &testbed = fiscalsim::UsbTestbed::Instance();
    fiscalsim::EmulatedUsbDevice usb(options);
    fiscalsim::Simulator sim(usb.TakeLink());
    sim.Start();
    usb.Plug();
    std::printf("UMOCKDEV_DIR=%s\n", testbed.RootDir().c_str());
    std::fflush(stdout);
    // Serves until whoever started it closes our input.
    while (std::fgetc(stdin) != EOF) {
    }
    usb.Unplug();
    sim.Stop();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "fiscal-usb-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
