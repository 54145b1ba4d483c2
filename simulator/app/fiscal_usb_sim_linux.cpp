// The simulator as an emulated USB device for other processes: it makes a umockdev testbed,
// plugs the device in and prints "UMOCKDEV_DIR=<dir>"; a program run under umockdev-wrapper
// with that UMOCKDEV_DIR sees the device through its own libusb and libudev. It unplugs the
// device and ends when its standard input closes.
//   fiscal-usb-sim [--ids VVVV:PPPP] [--tty] [--state FILE]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fiscal_version.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/state_file.h"
#include "fiscalsim/usb_device_linux.h"

namespace {

// The same options as the OPTIONS of fiscal-usb-sim(1).
constexpr char kUsage[] =
    "usage: fiscal-usb-sim [--ids VVVV:PPPP] [--tty] [--state FILE]\n"
    "The simulated fiscal device on an emulated USB bus (umockdev): prints UMOCKDEV_DIR=<dir>;\n"
    "programs run under umockdev-wrapper with that UMOCKDEV_DIR see the device. Unplugs it and\n"
    "ends when its standard input closes.\n"
    "  --ids VVVV:PPPP  vendor and product id in hex (default 0483:5740)\n"
    "  --tty            a USB serial device: the device also gets a tty node\n"
    "  --state FILE     keep the device's memory in FILE: loaded at the start (a new device\n"
    "                   when there is none), saved after every command that changed it\n"
    "  --help           show this text and end\n"
    "  --version        show the version and end\n";

}  // namespace

int main(int argc, char **argv) {
  // Answered before the program runs itself again under umockdev-wrapper, which may be missing.
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("fiscal-usb-sim %s\n", FISCAL_SUITE_VERSION);
    return 0;
  }
  fiscalsim::ReexecUnderUmockdev();
  fiscalsim::UsbDeviceOptions options;
  std::string statePath;
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
    } else if (std::strcmp(argv[i], "--state") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
      statePath = argv[++i];
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  // A bad file ends the program before the device is plugged in.
  fiscalsim::DeviceState state;
  fiscalsim::SimulatorOptions simOptions;
  std::unique_ptr<fiscalsim::StateSaver> saver;
  if (!statePath.empty()) {
    saver = fiscalsim::OpenStateFile(statePath, "fiscal-usb-sim", &state, &simOptions);
    if (!saver) return 1;
  }
  try {
    fiscalsim::UsbTestbed &testbed = fiscalsim::UsbTestbed::Instance();
    fiscalsim::EmulatedUsbDevice usb(options);
    fiscalsim::Simulator sim(usb.TakeLink(), std::move(simOptions));
    if (saver) sim.WithModel([&](fiscalsim::DeviceModel &m) { m.State() = std::move(state); });
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
