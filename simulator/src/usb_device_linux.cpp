// The testbed, the device's sysfs record and descriptors, and plugging it in and out.
#include "fiscalsim/usb_device_linux.h"

#include <fcntl.h>
#include <linux/usb/cdc.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "usb_device_state_linux.h"

namespace fiscalsim {

bool UnderUmockdev() {
  const char *preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

void ReexecUnderUmockdev() {
  if (UnderUmockdev()) return;
  // The preload library comes first, which the sanitizer runtime would otherwise refuse.
  const char *asan = std::getenv("ASAN_OPTIONS");
  std::string options = asan != nullptr ? std::string(asan) + ":" : std::string();
  options += "verify_asan_link_order=0";
  ::setenv("ASAN_OPTIONS", options.c_str(), 1);
  // The arguments as the process got them, from before main() if need be.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> words;
  for (std::string word; std::getline(in, word, '\0');) words.push_back(word);
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0 || words.empty()) {
    std::fprintf(stderr, "cannot find this program to run it under umockdev-wrapper\n");
    std::_Exit(127);
  }
  self[n] = '\0';
  std::vector<char *> args;
  char wrapper[] = "umockdev-wrapper";
  args.push_back(wrapper);
  args.push_back(self);
  for (size_t i = 1; i < words.size(); ++i) args.push_back(words[i].data());
  args.push_back(nullptr);
  ::execvp(wrapper, args.data());
  std::perror("cannot run umockdev-wrapper");
  std::_Exit(127);
}

UsbTestbed &UsbTestbed::Instance() {
  static UsbTestbed testbed;
  return testbed;
}

UsbTestbed::UsbTestbed() {
  if (!UnderUmockdev()) throw std::runtime_error("the USB emulation needs umockdev-wrapper");
  testbed_ = umockdev_testbed_new();
}

UsbTestbed::~UsbTestbed() {
  if (testbed_ != nullptr) g_object_unref(static_cast<UMockdevTestbed *>(testbed_));
}

std::string UsbTestbed::RootDir() const {
  gchar *dir = umockdev_testbed_get_root_dir(static_cast<UMockdevTestbed *>(testbed_));
  std::string result = dir != nullptr ? dir : "";
  g_free(dir);
  return result;
}

UMockdevTestbed *Bed() { return static_cast<UMockdevTestbed *>(UsbTestbed::Instance().Raw()); }

namespace {

// What the descriptors say besides the options: a full-speed CDC device, one configuration
// with a control interface (a notification endpoint only) and a data interface.
constexpr uint16_t kUsbRelease = 0x0200;
constexpr uint16_t kDeviceRelease = 0x0200;
constexpr uint8_t kControlPacketSize = 64;
constexpr uint8_t kManufacturerString = 1;
constexpr uint8_t kProductString = 2;
constexpr uint8_t kSerialString = 3;
constexpr uint8_t kConfigurations = 1;
constexpr uint8_t kConfigurationValue = 1;
constexpr uint8_t kInterfaces = 2;
constexpr uint8_t kMaxPower = 50;  // 100 mA, in units of 2 mA
constexpr uint8_t kControlInterface = 0;
constexpr uint8_t kDataInterface = 1;
constexpr uint8_t kNotifyEndpoint = USB_DIR_IN | 0x02;
constexpr uint16_t kNotifyPacketSize = 8;
constexpr uint8_t kNotifyInterval = 16;

std::string Hex(const std::vector<uint8_t> &bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02x", v);
    s += b;
  }
  return s;
}

void Put16(std::vector<uint8_t> &v, unsigned x) {
  v.push_back(static_cast<uint8_t>(x & 0xFF));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

void PutEndpoint(std::vector<uint8_t> &v, uint8_t address, uint8_t type, uint16_t packetSize, uint8_t interval) {
  v.insert(v.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, type});
  Put16(v, packetSize);
  v.push_back(interval);
}

[[noreturn]] void ThrowGError(GError *&error, const char *call) {
  const std::string what = error != nullptr ? error->message : call;
  g_clear_error(&error);
  throw std::runtime_error(what);
}

}  // namespace

std::vector<uint8_t> Descriptors(const UsbDeviceOptions &o) {
  std::vector<uint8_t> d = {USB_DT_DEVICE_SIZE, USB_DT_DEVICE};
  Put16(d, kUsbRelease);
  d.insert(d.end(), {USB_CLASS_COMM, 0, 0, kControlPacketSize});
  Put16(d, o.vendorId);
  Put16(d, o.productId);
  Put16(d, kDeviceRelease);
  d.insert(d.end(), {kManufacturerString, kProductString, kSerialString, kConfigurations});

  const uint8_t type = o.interruptEndpoints ? USB_ENDPOINT_XFER_INT : USB_ENDPOINT_XFER_BULK;
  const uint8_t interval = o.interruptEndpoints ? 1 : 0;
  std::vector<uint8_t> c = {USB_DT_CONFIG_SIZE, USB_DT_CONFIG, 0, 0, kInterfaces, kConfigurationValue, 0,
                            USB_CONFIG_ATT_ONE | USB_CONFIG_ATT_SELFPOWER, kMaxPower};
  // The control interface: one notification endpoint, which a driver looking for a pair skips.
  c.insert(c.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, kControlInterface, 0, 1, USB_CLASS_COMM,
                     USB_CDC_SUBCLASS_ACM, USB_CDC_ACM_PROTO_AT_V25TER, 0});
  PutEndpoint(c, kNotifyEndpoint, USB_ENDPOINT_XFER_INT, kNotifyPacketSize, kNotifyInterval);
  c.insert(c.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, kDataInterface, 0, 2, USB_CLASS_CDC_DATA, 0, 0, 0});
  PutEndpoint(c, kBulkOut, type, o.outPacketSize, interval);
  PutEndpoint(c, kBulkIn, type, o.inPacketSize, interval);
  c[2] = static_cast<uint8_t>(c.size());  // wTotalLength
  d.insert(d.end(), c.begin(), c.end());
  return d;
}

EmulatedUsbDevice::State::State(UsbDeviceOptions o) : options(o) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "/devices/pci0000:00/0000:00:14.0/usb1/1-%u", o.port);
  devPath = buf;
  std::snprintf(buf, sizeof buf, "/dev/bus/usb/001/%03u", o.port + 1);
  devNode = buf;
  linkWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (linkWake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

EmulatedUsbDevice::State::~State() {
  for (Urb &u : pendingIn) Release(u);
  for (Urb &u : pendingOut) Release(u);
  for (Urb &u : discarding) Release(u);
  for (Urb &u : reapable) Release(u);
  for (auto &[gen, fd] : fifos) ::close(fd);
  if (ttySlave >= 0) ::close(ttySlave);
  ::close(linkWake);
}

std::string EmulatedUsbDevice::State::InterfacePath() const {
  return devPath + "/1-" + std::to_string(options.port) + ":1." + std::to_string(kDataInterface);
}

std::string EmulatedUsbDevice::State::Record() const {
  const UsbDeviceOptions &o = options;
  char ids[64];
  std::snprintf(ids, sizeof ids, "E: ID_VENDOR_ID=%04x\nE: ID_MODEL_ID=%04x\n", o.vendorId, o.productId);
  std::string r;
  r += "P: " + devPath + "\nN: " + devNode.substr(5) + "\n";
  r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + devNode + "\n";
  r += "E: BUSNUM=001\nE: DEVNUM=" + devNode.substr(devNode.size() - 3) + "\n" + ids;
  char attrs[256];
  std::snprintf(attrs, sizeof attrs,
                "A: idVendor=%04x\nA: idProduct=%04x\nA: busnum=1\nA: devnum=%u\nA: bConfigurationValue=%u\n"
                "A: bNumConfigurations=%u\nA: speed=12\nA: authorized=1\n",
                o.vendorId, o.productId, o.port + 1, unsigned{kConfigurationValue}, unsigned{kConfigurations});
  r += attrs;
  r += "H: descriptors=" + Hex(Descriptors(o)) + "\n\n";
  if (!o.withTty) return r;
  const std::string iface = InterfacePath();
  r += "P: " + iface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: INTERFACE=" +
       std::to_string(USB_CLASS_CDC_DATA) + "/0/0\n";
  char number[32];
  std::snprintf(number, sizeof number, "A: bInterfaceNumber=%02u\n\n", unsigned{kDataInterface});
  r += number;
  r += "P: " + iface + "/tty/" + ttyName + "\nN: " + ttyName + "\nE: SUBSYSTEM=tty\nE: DEVNAME=" + ttyNode + "\n";
  r += ids;
  r += "\n";
  return r;
}

EmulatedUsbDevice::EmulatedUsbDevice(UsbDeviceOptions options) : state_(std::make_shared<State>(options)) {
  UMockdevTestbed *bed = Bed();
  // Handlers go on the node names before the nodes exist; they stay for every plug.
  state_->usbHandler = umockdev_ioctl_base_new();
  g_signal_connect(state_->usbHandler, "handle-ioctl", G_CALLBACK(OnUsbIoctl), state_.get());
  GError *error = nullptr;
  if (!umockdev_testbed_attach_ioctl(bed, state_->devNode.c_str(), state_->usbHandler, &error)) {
    ThrowGError(error, "attach_ioctl");
  }
  if (options.withTty) {
    state_->ttyHandler = umockdev_ioctl_base_new();
    g_signal_connect(state_->ttyHandler, "handle-ioctl", G_CALLBACK(OnTtyIoctl), state_.get());
  }
}

EmulatedUsbDevice::~EmulatedUsbDevice() {
  Unplug();
  {
    // A real node never loses a transfer an unplug ended: the host reaps it. The handler stays
    // until the host has, or a short while has passed (a host that closed its handle never will).
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::unique_lock lock(state_->mutex);
    while (!state_->reapable.empty() && std::chrono::steady_clock::now() < limit) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      lock.lock();
    }
  }
  {
    std::lock_guard lock(state_->mutex);
    state_->timerStop = true;
  }
  state_->timerWake.notify_all();
  if (state_->timer.joinable()) state_->timer.join();
  UMockdevTestbed *bed = Bed();
  umockdev_testbed_detach_ioctl(bed, state_->devNode.c_str(), nullptr);
  g_signal_handlers_disconnect_by_data(state_->usbHandler, state_.get());
  g_object_unref(state_->usbHandler);
  if (state_->ttyHandler != nullptr) {
    for (const std::string &node : state_->ttyNodesUsed) umockdev_testbed_detach_ioctl(bed, node.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(state_->ttyHandler, state_.get());
    g_object_unref(state_->ttyHandler);
  }
}

void EmulatedUsbDevice::Plug() {
  State &s = *state_;
  std::lock_guard plug(s.plugLock);
  {
    std::lock_guard lock(s.mutex);
    if (s.plugged) return;
    ++s.generation;
    s.toHost.clear();
    s.toDevice.clear();
    s.plugged = true;
    // The testbed keeps a tty's pseudo-terminal for good, so every plug in the process gets a
    // tty name of its own, as the kernel may give one too.
    if (s.options.withTty) {
      static std::atomic<unsigned> nextTty{0};
      s.ttyName = "ttyACM" + std::to_string(nextTty.fetch_add(1));
      s.ttyNode = "/dev/" + s.ttyName;
    }
  }
  UMockdevTestbed *bed = Bed();
  GError *error = nullptr;
  if (s.options.withTty) {
    if (!umockdev_testbed_attach_ioctl(bed, s.ttyNode.c_str(), s.ttyHandler, &error)) {
      ThrowGError(error, "attach_ioctl");
    }
    s.ttyNodesUsed.push_back(s.ttyNode);
  }
  if (!umockdev_testbed_add_from_string(bed, s.Record().c_str(), &error)) {
    {
      std::lock_guard lock(s.mutex);
      s.plugged = false;
    }
    ThrowGError(error, "add_from_string");
  }
  // The node as a FIFO that is full (not writable) while nothing waits to be reaped.
  const std::string node = UsbTestbed::Instance().RootDir() + s.devNode;
  ::unlink(node.c_str());
  if (::mkfifo(node.c_str(), 0666) != 0) throw std::system_error(errno, std::generic_category(), "mkfifo");
  const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "open fifo");
  ::fcntl(fd, F_SETPIPE_SZ, 4096);  // one page: a single byte fills it
  int master = -1;
  int slave = -1;
  if (s.options.withTty) s.OpenTtyEnds(bed, master, slave);
  {
    std::lock_guard lock(s.mutex);
    s.fifos[s.generation] = fd;
    s.fifoFull[s.generation] = false;
    s.UpdateFifosLocked();
    s.ttyMaster = master;
    if (s.ttySlave >= 0) ::close(s.ttySlave);
    s.ttySlave = slave;
    s.lastFromTty = false;
  }
  s.KickLink();
}

void EmulatedUsbDevice::Unplug() { state_->Unplug(); }

void EmulatedUsbDevice::State::Unplug() {
  State &s = *this;
  std::lock_guard plug(s.plugLock);
  {
    std::lock_guard lock(s.mutex);
    if (!s.plugged) return;
    s.plugged = false;
    // Transfers in flight end as on a real removal; the host still reaps them.
    for (std::deque<Urb> *queue : {&s.pendingIn, &s.pendingOut, &s.discarding}) {
      for (Urb &u : *queue) s.FinishLocked(std::move(u), -ESHUTDOWN);
      queue->clear();
    }
    // A new device comes without faults.
    for (size_t d : {kOut, kIn}) {
      s.halted[d] = false;
      s.hold[d] = false;
    }
    s.shortOut.reset();
    s.zeroIn = 0;
    s.discardDelay = std::chrono::milliseconds(0);
    s.UpdateFifosLocked();
    s.ttyMaster = -1;
    s.lastFromTty = false;
  }
  s.KickLink();
  UMockdevTestbed *bed = Bed();
  const std::string iface = "/sys" + s.InterfacePath();
  const std::string tty = iface + "/tty/" + s.ttyName;
  // Children first, and the uevents before the removal, or nobody hears of it.
  if (s.options.withTty) {
    umockdev_testbed_uevent(bed, tty.c_str(), "remove");
    umockdev_testbed_uevent(bed, iface.c_str(), "remove");
  }
  umockdev_testbed_uevent(bed, ("/sys" + s.devPath).c_str(), "remove");
  if (s.options.withTty) {
    umockdev_testbed_remove_device(bed, tty.c_str());
    umockdev_testbed_remove_device(bed, iface.c_str());
  }
  umockdev_testbed_remove_device(bed, ("/sys" + s.devPath).c_str());
  // The testbed leaves a tty's link to its pseudo-terminal behind, which a replug would trip on.
  if (s.options.withTty) ::unlink((UsbTestbed::Instance().RootDir() + s.ttyNode).c_str());
  std::lock_guard lock(s.mutex);
  if (s.ttySlave >= 0) ::close(s.ttySlave);
  s.ttySlave = -1;
}

bool EmulatedUsbDevice::IsPlugged() const {
  std::lock_guard lock(state_->mutex);
  return state_->plugged;
}

std::string EmulatedUsbDevice::SysPath() const { return "/sys" + state_->devPath; }
std::string EmulatedUsbDevice::DevNode() const { return state_->devNode; }
std::string EmulatedUsbDevice::TtyNode() const {
  std::lock_guard lock(state_->mutex);
  return state_->ttyNode;
}

std::string EmulatedUsbDevice::Authorized() const {
  std::ifstream in(UsbTestbed::Instance().RootDir() + "/sys" + state_->devPath + "/authorized");
  std::string value;
  std::getline(in, value);
  return value;
}

}  // namespace fiscalsim
