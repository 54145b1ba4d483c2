// The diagnosis's facts on Windows: the device tree through SetupAPI; access rights, udev and
// ModemManager do not exist there, and a COM port in use is refused to a second opener.
#include <windows.h>

#include <string>

#include "core/diagnosis_probes.h"
#include "core/port_scan.h"
#include "devices/device_tree.h"
#include "drivers/device_identity.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "vrn_interface.h"

namespace tillwright::diagnosis {
namespace {

class WindowsProbes final : public Probes {
 public:
  System Kind() const override { return System::Windows; }
  std::string SystemDescription() override { return "Windows"; }

  std::vector<UsbDevice> UsbDevices() override {
    std::vector<UsbDevice> found;
    for (const vrn::DeviceInfo &info : vrn::ListUsbDevices()) {
      if (info.vendorId != vrn::kDeviceVendorId || info.productId != vrn::kDeviceProductId) continue;
      UsbDevice d;
      d.busPath = info.devicePath;
      if (info.serial != 0) d.port = info.portName;
      found.push_back(std::move(d));
    }
    devices_ = found;
    return found;
  }

  NodeAccess Access(const std::string &) override { return {}; }
  InstalledRule Rule() override { return {}; }
  bool ModemManagerRunning() override { return false; }
  bool ModemManagerIgnores(const std::string &) override { return true; }
  std::vector<Holder> Holders(const std::string &) override { return {}; }
  std::vector<std::string> ScanPorts() override { return ScanPortNames(); }
  std::string SkipReason(const std::string &) override { return {}; }

  OpenResult TryOpen(const std::string &port) override {
    std::string refusal;
    if (platform::ResolvePortName(port, &refusal).empty()) return OpenResult::Missing;
    platform::SerialPort probe;
    switch (probe.Open(port)) {
      case 0:
        return OpenResult::Opens;
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
        return OpenResult::Missing;
      // Windows refuses a second opener of a COM port with "access denied".
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
        return OpenResult::Busy;
      default:
        return OpenResult::Failed;
    }
  }

  bool UsbReachable() override { return vrn_test_connection() != 0; }

  // The transport's order: the kernel-mode driver library (none in this build), then libusb over
  // WinUSB, then the device's COM port.
  std::string UsbDriverChoice() override {
    if (devices_.empty()) return "none: the device tree reports no device 0483:5740";
    if (vrn_test_connection() != 0) return "libusb over WinUSB (the kernel-mode driver library is absent)";
    for (const UsbDevice &d : devices_)
      if (!d.port.empty()) return "the COM port " + d.port + " (the kernel-mode driver library is absent)";
    return "none answers: the kernel-mode driver library is absent and libusb reaches no device";
  }

  seriallink::Statistics LinkStatistics() override { return seriallink::GetStatistics(); }

 private:
  std::vector<UsbDevice> devices_;
};

}  // namespace

std::unique_ptr<Probes> SystemProbes() { return std::make_unique<WindowsProbes>(); }

// Windows has no serial device roots: the COM names are the whole list.
std::unique_ptr<Probes> SystemProbes(const platform::SerialRoots &) { return SystemProbes(); }

}  // namespace tillwright::diagnosis
