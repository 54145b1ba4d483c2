#include <fcntl.h>
#include <libudev.h>
#include <sys/ioctl.h>  // before linux/usbdevice_fs.h
#include <unistd.h>

#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "devices/device_tree.h"
#include "platform/trace.h"

namespace vrn {
namespace {

// The device list has always kept one character less of a port name than a lookup.
constexpr size_t kListedPortNameChars = sizeof(DeviceInfo::portName) - 2;

class Udev {
 public:
  Udev() : context_(udev_new()) {}
  ~Udev() {
    if (context_ != nullptr) udev_unref(context_);
  }
  Udev(const Udev &) = delete;
  Udev &operator=(const Udev &) = delete;
  udev *get() const { return context_; }

 private:
  udev *context_;
};

int32_t HexValue(const char *text) {
  if (text == nullptr || *text == '\0') return -1;
  char *end = nullptr;
  const long value = std::strtol(text, &end, 16);
  if (end == text || value < 0 || value > 0xFFFF) return -1;
  return static_cast<int32_t>(value);
}

bool UsbIds(udev_device *usb, int32_t &vendorId, int32_t &productId) {
  vendorId = HexValue(udev_device_get_sysattr_value(usb, "idVendor"));
  productId = HexValue(udev_device_get_sysattr_value(usb, "idProduct"));
  if (vendorId < 0 || productId < 0) {
    vendorId = HexValue(udev_device_get_property_value(usb, "ID_VENDOR_ID"));
    productId = HexValue(udev_device_get_property_value(usb, "ID_MODEL_ID"));
  }
  return vendorId >= 0 && productId >= 0;
}

uint32_t Instance(udev_device *usb) {
  const char *bus = udev_device_get_sysattr_value(usb, "busnum");
  const char *dev = udev_device_get_sysattr_value(usb, "devnum");
  const unsigned long b = bus != nullptr ? std::strtoul(bus, nullptr, 10) : 0;
  const unsigned long d = dev != nullptr ? std::strtoul(dev, nullptr, 10) : 0;
  return static_cast<uint32_t>((b << 8) | (d & 0xFF));
}

// The node of the first tty below the USB device, or "".
std::string TtyOf(udev *context, udev_device *usb) {
  std::string node;
  udev_enumerate *e = udev_enumerate_new(context);
  if (e == nullptr) return node;
  udev_enumerate_add_match_subsystem(e, "tty");
  udev_enumerate_add_match_parent(e, usb);
  udev_enumerate_scan_devices(e);
  udev_list_entry *entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    udev_device *tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    if (tty == nullptr) continue;
    const char *devnode = udev_device_get_devnode(tty);
    if (devnode != nullptr) node = devnode;
    udev_device_unref(tty);
    if (!node.empty()) break;
  }
  udev_enumerate_unref(e);
  return node;
}

void Fill(DeviceInfo &info, udev_device *usb, int32_t vendorId, int32_t productId) {
  info.vendorId = vendorId;
  info.productId = productId;
  info.deviceInstance = Instance(usb);
  CopyText(info.devicePath, udev_device_get_syspath(usb));
}

// Calls fn(usb_device, vendorId, productId) for every present USB device until it returns true.
template <typename Fn>
void ForEachUsbDevice(udev *context, Fn &&fn) {
  udev_enumerate *e = udev_enumerate_new(context);
  if (e == nullptr) return;
  udev_enumerate_add_match_subsystem(e, "usb");
  udev_enumerate_add_match_property(e, "DEVTYPE", "usb_device");
  udev_enumerate_scan_devices(e);
  udev_list_entry *entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    udev_device *usb = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    if (usb == nullptr) continue;
    int32_t vid = -1;
    int32_t pid = -1;
    const bool done = UsbIds(usb, vid, pid) && fn(usb, vid, pid);
    udev_device_unref(usb);
    if (done) break;
  }
  udev_enumerate_unref(e);
}

bool FindPort(udev *context, int32_t vendorId, int32_t productId, DeviceInfo &info) {
  bool found = false;
  udev_enumerate *e = udev_enumerate_new(context);
  if (e == nullptr) return false;
  udev_enumerate_add_match_subsystem(e, "tty");
  udev_enumerate_scan_devices(e);
  udev_list_entry *entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    udev_device *tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    if (tty == nullptr) continue;
    udev_device *usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    int32_t vid = -1;
    int32_t pid = -1;
    const char *devnode = udev_device_get_devnode(tty);
    if (usb != nullptr && devnode != nullptr && UsbIds(usb, vid, pid) && vid == vendorId && pid == productId) {
      // The USB device's path, not the tty's: its removal is the one that ends the device.
      Fill(info, usb, vid, pid);
      CopyText(info.portName, devnode);
      info.serial = 1;
      found = true;
    }
    udev_device_unref(tty);
    if (found) break;
  }
  udev_enumerate_unref(e);
  return found;
}

bool WriteAttribute(const std::string &path, const char *value) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = ::write(fd, value, std::strlen(value));
  const int error = errno;
  ::close(fd);
  errno = error;
  return n == static_cast<ssize_t>(std::strlen(value));
}

}  // namespace

bool FindDevice(InterfaceClass cls, int32_t vendorId, int32_t productId, DeviceInfo &info) {
  info.serial = 0;
  info.portName[0] = '\0';
  Udev context;
  if (context.get() == nullptr) return false;
  if (cls == InterfaceClass::ComPort) return FindPort(context.get(), vendorId, productId, info);
  ForEachUsbDevice(context.get(), [&](udev_device *usb, int32_t vid, int32_t pid) {
    if (vid != vendorId || pid != productId) return false;
    Fill(info, usb, vid, pid);
    const std::string tty = TtyOf(context.get(), usb);
    if (!tty.empty()) {
      CopyText(info.portName, tty);
      info.serial = 1;
    }
    return true;
  });
  return info.serial != 0;
}

std::vector<DeviceInfo> ListUsbDevices() {
  std::vector<DeviceInfo> list;
  Udev context;
  if (context.get() == nullptr) return list;
  ForEachUsbDevice(context.get(), [&](udev_device *usb, int32_t vid, int32_t pid) {
    DeviceInfo info;
    Fill(info, usb, vid, pid);
    const std::string tty = TtyOf(context.get(), usb);
    if (!tty.empty()) {
      CopyText(info.portName, tty, kListedPortNameChars);
      info.serial = 1;
    }
    list.push_back(info);
    return false;
  });
  return list;
}

bool RestartDeviceNode(uint32_t /*deviceInstance: the path names the device on Linux*/, const char *devicePath) {
  if (devicePath == nullptr || devicePath[0] == '\0') return false;
  Udev context;
  std::string node;
  if (context.get() != nullptr) {
    udev_device *usb = udev_device_new_from_syspath(context.get(), devicePath);
    if (usb != nullptr) {
      if (const char *devnode = udev_device_get_devnode(usb)) node = devnode;
      udev_device_unref(usb);
    }
  }
  int error = ENOENT;
  if (!node.empty()) {
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      const int r = ::ioctl(fd, USBDEVFS_RESET, 0);
      error = r == 0 ? 0 : errno;
      ::close(fd);
      if (r == 0) return true;
    } else {
      error = errno;
    }
  }
  platform::Trace(" USBDEVFS_RESET fail %d", error);
  // The port reset was refused: de-authorising drops the device's drivers and interfaces and
  // authorising it again sets it up anew, as a replug would.
  const std::string authorized = std::string(devicePath) + "/authorized";
  if (!WriteAttribute(authorized, "0") || !WriteAttribute(authorized, "1")) {
    platform::Trace(" authorized switch fail %d", errno);
    return false;
  }
  return true;
}

bool DevicePathsMatch(const char *stored, const char *given) {
  if (stored == nullptr || given == nullptr || stored[0] == '\0') return false;
  return std::strncmp(stored, given, sizeof(DeviceInfo::devicePath)) == 0;
}

}  // namespace vrn
