#include "fiscalsim/usb_device_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>  // before linux/usbdevice_fs.h
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/thread.h"

// The emulation's libraries, and libusb and libudev, are not built for the thread sanitizer and
// synchronise in ways it cannot see (GLib's locks, the preload library's path buffer, libudev's
// random pool, a transfer's lock made in calloc'd memory): races reported inside them are not
// the suite's.
extern "C" __attribute__((visibility("default"))) const char *__tsan_default_suppressions() {
  return "race:libumockdev.so\nrace:libumockdev-preload.so\nrace:libglib-2.0.so\nrace:libudev.so\n"
         "race:libusb-1.0.so\nrace:libgobject-2.0.so\nrace:libffi.so\n"
         "called_from_lib:libumockdev-preload.so\n";
}

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

namespace {

UMockdevTestbed *Bed() { return static_cast<UMockdevTestbed *>(UsbTestbed::Instance().Raw()); }

// The data interface's endpoints, as the descriptors below give them.
constexpr unsigned kBulkOut = 0x03;
constexpr unsigned kBulkIn = 0x81;

// One URB a host submitted. Only the umockdev worker thread touches the UMockdevIoctlData
// objects (it flushes them into the host at the reap); other threads use `payload` under the
// device's mutex.
struct Urb {
  UMockdevIoctlData *urb = nullptr;
  UMockdevIoctlData *buffer = nullptr;
  unsigned long clientAddr = 0;
  unsigned generation = 0;
  bool in = false;
  size_t length = 0;
  int status = 0;
  std::vector<uint8_t> payload;  // IN: what the device sends; OUT: what the host offers
  size_t taken = 0;              // OUT: bytes the device took
  // A discarded URB waiting to be handed back: when; none while a held transfer's fault lasts.
  std::optional<std::chrono::steady_clock::time_point> due;
};

constexpr size_t kOut = 0;
constexpr size_t kIn = 1;
size_t Index(UsbDirection d) { return d == UsbDirection::In ? kIn : kOut; }
size_t Index(bool in) { return in ? kIn : kOut; }

void Release(Urb &u) {
  if (u.buffer != nullptr) g_object_unref(u.buffer);
  if (u.urb != nullptr) g_object_unref(u.urb);
  u.buffer = nullptr;
  u.urb = nullptr;
}

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

std::vector<uint8_t> Descriptors(const UsbDeviceOptions &o) {
  std::vector<uint8_t> d = {18, 1, 0x00, 0x02, 0x02, 0x00, 0x00, 64};
  Put16(d, o.vendorId);
  Put16(d, o.productId);
  d.insert(d.end(), {0x00, 0x02, 1, 2, 3, 1});
  const uint8_t type = o.interruptEndpoints ? 3 : 2;
  std::vector<uint8_t> c = {9, 2, 0, 0, 2, 1, 0, 0xC0, 50};
  // The control interface: one notification endpoint, which a driver looking for a pair skips.
  c.insert(c.end(), {9, 4, 0, 0, 1, 0x02, 0x02, 0x01, 0});
  c.insert(c.end(), {7, 5, 0x82, 3, 8, 0, 16});
  c.insert(c.end(), {9, 4, 1, 0, 2, 0x0A, 0x00, 0x00, 0});
  c.insert(c.end(), {7, 5, kBulkOut, type});
  Put16(c, o.outPacketSize);
  c.push_back(o.interruptEndpoints ? 1 : 0);
  c.insert(c.end(), {7, 5, kBulkIn, type});
  Put16(c, o.inPacketSize);
  c.push_back(o.interruptEndpoints ? 1 : 0);
  c[2] = static_cast<uint8_t>(c.size());
  d.insert(d.end(), c.begin(), c.end());
  return d;
}

}  // namespace

struct EmulatedUsbDevice::State {
  explicit State(UsbDeviceOptions o) : options(o) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "/devices/pci0000:00/0000:00:14.0/usb1/1-%u", o.port);
    devPath = buf;
    std::snprintf(buf, sizeof buf, "/dev/bus/usb/001/%03u", o.port + 1);
    devNode = buf;
    linkWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (linkWake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  }

  ~State() {
    for (Urb &u : pendingIn) Release(u);
    for (Urb &u : pendingOut) Release(u);
    for (Urb &u : discarding) Release(u);
    for (Urb &u : reapable) Release(u);
    for (auto &[gen, fd] : fifos) ::close(fd);
    if (ttySlave >= 0) ::close(ttySlave);
    ::close(linkWake);
  }

  std::string Record() const {
    const UsbDeviceOptions &o = options;
    char ids[64];
    std::snprintf(ids, sizeof ids, "E: ID_VENDOR_ID=%04x\nE: ID_MODEL_ID=%04x\n", o.vendorId, o.productId);
    std::string r;
    r += "P: " + devPath + "\nN: " + devNode.substr(5) + "\n";
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + devNode + "\n";
    r += "E: BUSNUM=001\nE: DEVNUM=" + devNode.substr(devNode.size() - 3) + "\n" + ids;
    char attrs[256];
    std::snprintf(attrs, sizeof attrs,
                  "A: idVendor=%04x\nA: idProduct=%04x\nA: busnum=1\nA: devnum=%u\nA: bConfigurationValue=1\n"
                  "A: bNumConfigurations=1\nA: speed=12\nA: authorized=1\n",
                  o.vendorId, o.productId, o.port + 1);
    r += attrs;
    r += "H: descriptors=" + Hex(Descriptors(o)) + "\n\n";
    if (!o.withTty) return r;
    const std::string iface = devPath + "/1-" + std::to_string(o.port) + ":1.1";
    r += "P: " + iface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: INTERFACE=10/0/0\n";
    r += "A: bInterfaceNumber=01\n\n";
    r += "P: " + iface + "/tty/" + ttyName + "\nN: " + ttyName + "\nE: SUBSYSTEM=tty\nE: DEVNAME=" + ttyNode + "\n";
    r += ids;
    r += "\n";
    return r;
  }

  // Keeps each generation's node writable exactly while one of its URBs waits to be reaped:
  // libusb polls the node for POLLOUT and a plain file would wake it without end.
  void UpdateFifosLocked() {
    for (auto &[gen, fd] : fifos) {
      // A copy: clang before 16 cannot capture a structured binding in a lambda.
      const auto thisGen = gen;
      const bool due =
          std::any_of(reapable.begin(), reapable.end(), [&](const Urb &u) { return u.generation == thisGen; });
      bool &full = fifoFull[gen];
      if (due && full) {
        uint8_t b;
        if (::read(fd, &b, 1) == 1) full = false;
      } else if (!due && !full) {
        const uint8_t b = 0;
        if (::write(fd, &b, 1) == 1) full = true;
      }
    }
  }

  // Ends a URB without moving bytes; the caller updates the FIFOs.
  void FinishLocked(Urb u, int status) {
    u.status = status;
    u.payload.clear();
    u.taken = 0;
    reapable.push_back(std::move(u));
  }

  // Hands what the device sent to waiting IN URBs, a short transfer each.
  void DeliverLocked() {
    while (!hold[kIn] && !pendingIn.empty() && (halted[kIn] || !toHost.empty())) {
      Urb u = std::move(pendingIn.front());
      pendingIn.pop_front();
      if (halted[kIn]) {
        FinishLocked(std::move(u), -EPIPE);
        continue;
      }
      u.status = 0;
      u.payload.clear();
      if (zeroIn > 0) {
        --zeroIn;
      } else {
        const size_t n = std::min(u.length, toHost.size());
        u.payload.assign(toHost.begin(), toHost.begin() + static_cast<ptrdiff_t>(n));
        toHost.erase(toHost.begin(), toHost.begin() + static_cast<ptrdiff_t>(n));
      }
      reapable.push_back(std::move(u));
    }
    UpdateFifosLocked();
  }

  // An OUT URB goes through: the device takes its bytes, or only the first ones when a short
  // transfer is armed.
  void TakeOutLocked(Urb u) {
    if (halted[kOut]) {
      FinishLocked(std::move(u), -EPIPE);
      return;
    }
    size_t n = u.payload.size();
    if (shortOut) {
      n = std::min(n, *shortOut);
      shortOut.reset();
    }
    if (n > 0) {
      toDevice.insert(toDevice.end(), u.payload.begin(), u.payload.begin() + static_cast<ptrdiff_t>(n));
      KickLink();
    }
    u.status = 0;
    u.payload.clear();
    u.taken = n;
    reapable.push_back(std::move(u));
  }

  bool AnyHeldLocked() const {
    return (hold[kIn] && !pendingIn.empty()) || (hold[kOut] && !pendingOut.empty()) ||
           std::any_of(discarding.begin(), discarding.end(), [](const Urb &u) { return !u.due; });
  }

  // Hands back discarded URBs whose delay ran out; the next deadline, if any.
  std::optional<std::chrono::steady_clock::time_point> CompleteDueDiscardsLocked() {
    const auto now = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> next;
    bool done = false;
    for (auto it = discarding.begin(); it != discarding.end();) {
      if (it->due && *it->due <= now) {
        FinishLocked(std::move(*it), -ENOENT);
        it = discarding.erase(it);
        done = true;
        continue;
      }
      if (it->due && (!next || *it->due < *next)) next = it->due;
      ++it;
    }
    if (done) UpdateFifosLocked();
    return next;
  }

  // Runs while delayed discards may come: nothing else wakes a host at their deadline.
  void DiscardTimer() {
    platform::SetCurrentThreadName("fiscal-usb-disc");
    std::unique_lock lock(mutex);
    while (!timerStop) {
      const auto next = CompleteDueDiscardsLocked();
      if (next) {
        timerWake.wait_until(lock, *next);
      } else {
        timerWake.wait(lock);
      }
    }
  }

  void KickLink() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = ::write(linkWake, &one, sizeof one);
  }

  bool HandleUsbIoctl(UMockdevIoctlClient *client);
  void Unplug();
  bool HandleTtyIoctl(UMockdevIoctlClient *client);

  const UsbDeviceOptions options;
  std::string devPath;  // under /sys
  std::string devNode;
  std::string ttyName;  // guarded by mutex, set by Plug
  std::string ttyNode;  // guarded by mutex, set by Plug
  std::vector<std::string> ttyNodesUsed;  // guarded by plugLock
  int linkWake = -1;  // eventfd: the link's Wait() has something to look at

  UMockdevIoctlBase *usbHandler = nullptr;
  UMockdevIoctlBase *ttyHandler = nullptr;

  // Serialises Plug and Unplug (which talk to the testbed) without holding `mutex`, which the
  // umockdev worker needs while a uevent is delivered.
  std::mutex plugLock;

  mutable std::mutex mutex;
  // All guarded by mutex.
  bool plugged = false;
  unsigned generation = 1;  // handles opened while plugged in as this generation
  std::deque<Urb> pendingIn;
  std::deque<Urb> pendingOut;  // only while OUT transfers are held
  std::deque<Urb> discarding;  // discard accepted, not yet handed back
  std::deque<Urb> reapable;
  std::map<unsigned, int> fifos;  // generation -> our descriptor of its node
  std::map<unsigned, bool> fifoFull;
  std::deque<uint8_t> toDevice;
  std::deque<uint8_t> toHost;
  unsigned resets = 0;
  bool refuseReset = false;
  unsigned claims = 0;
  std::vector<size_t> outs;
  // The faults, by direction (kOut, kIn), and what they counted.
  bool halted[2] = {false, false};
  bool hold[2] = {false, false};
  HeldDiscard heldDiscard[2] = {HeldDiscard::Refuse, HeldDiscard::Refuse};
  std::optional<size_t> shortOut;
  unsigned zeroIn = 0;
  std::chrono::milliseconds discardDelay{0};
  unsigned clearHalts[2] = {0, 0};
  unsigned discards = 0;
  unsigned resetsUnderHeld = 0;
  bool timerStop = false;
  std::condition_variable timerWake;
  int ttyMaster = -1;  // the testbed's; not ours to close
  int ttySlave = -1;   // held so the master never reports a hang-up while no host has it open
  bool linkTaken = false;
  bool linkClosed = false;
  bool woken = false;
  bool lastFromTty = false;

  std::thread timer;  // the DiscardTimer, started by the first DelayDiscards; controller only
};

namespace {

unsigned ClientGeneration(UMockdevIoctlClient *client, unsigned current, bool plugged) {
  gpointer g = g_object_get_data(G_OBJECT(client), "fiscalsim-generation");
  if (g == nullptr) {
    // First call of a handle: it belongs to the device as it is now.
    const unsigned gen = plugged ? current : 0;
    g_object_set_data(G_OBJECT(client), "fiscalsim-generation", GUINT_TO_POINTER(gen + 1));
    return gen;
  }
  return GPOINTER_TO_UINT(g) - 1;
}

gboolean OnUsbIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
  return static_cast<EmulatedUsbDevice::State *>(self)->HandleUsbIoctl(client) ? TRUE : FALSE;
}

gboolean OnTtyIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
  return static_cast<EmulatedUsbDevice::State *>(self)->HandleTtyIoctl(client) ? TRUE : FALSE;
}

}  // namespace

bool EmulatedUsbDevice::State::HandleUsbIoctl(UMockdevIoctlClient *client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
  std::unique_lock lock(mutex);
  const unsigned gen = ClientGeneration(client, generation, plugged);
  const bool live = plugged && gen == generation;

  if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
    auto it = std::find_if(reapable.begin(), reapable.end(), [&](const Urb &u) { return u.generation == gen; });
    if (it == reapable.end()) {
      lock.unlock();
      umockdev_ioctl_client_complete(client, -1, live ? EAGAIN : ENODEV);
      return true;
    }
    Urb u = std::move(*it);
    reapable.erase(it);
    UpdateFifosLocked();
    lock.unlock();
    auto *raw = reinterpret_cast<usbdevfs_urb *>(u.urb->data);
    raw->status = u.status;
    if (u.in) {
      std::copy(u.payload.begin(), u.payload.end(), u.buffer->data);
      raw->actual_length = static_cast<int>(u.payload.size());
    } else {
      raw->actual_length = static_cast<int>(u.taken);
    }
    UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr);
    if (slot != nullptr) umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    Release(u);
    return true;
  }

  if (!live) {
    lock.unlock();
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return true;
  }

  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      lock.unlock();
      UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
      if (d != nullptr) {
        const uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                              USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        std::memcpy(d->data, &caps, sizeof caps);
      }
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:  // a claim that first detaches a kernel driver
      ++claims;
      lock.unlock();
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    case USBDEVFS_CLEAR_HALT: {
      lock.unlock();
      UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
      if (d == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return true;
      }
      unsigned int endpoint = 0;
      std::memcpy(&endpoint, d->data, sizeof endpoint);
      lock.lock();
      if (endpoint == kBulkOut || endpoint == kBulkIn) {
        const size_t d2 = Index((endpoint & 0x80) != 0);
        ++clearHalts[d2];
        halted[d2] = false;
      }
      lock.unlock();
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_RESETEP:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
      lock.unlock();
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    case USBDEVFS_RESET: {
      ++resets;
      if (AnyHeldLocked()) ++resetsUnderHeld;
      const bool refuse = refuseReset;
      // A reset sets every endpoint back, halts and all.
      if (!refuse) {
        halted[kOut] = false;
        halted[kIn] = false;
      }
      lock.unlock();
      umockdev_ioctl_client_complete(client, refuse ? -1 : 0, refuse ? EPERM : 0);
      return true;
    }
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
      lock.unlock();
      umockdev_ioctl_client_complete(client, -1, ENODATA);
      return true;
    case USBDEVFS_DISCARDURB: {
      ++discards;
      const unsigned long addr = *reinterpret_cast<unsigned long *>(arg->data);
      const auto mine = [&](const Urb &u) { return u.clientAddr == addr; };
      std::deque<Urb> *queue = &pendingIn;
      auto it = std::find_if(pendingIn.begin(), pendingIn.end(), mine);
      if (it == pendingIn.end()) {
        queue = &pendingOut;
        it = std::find_if(pendingOut.begin(), pendingOut.end(), mine);
      }
      if (it == queue->end()) {
        // Done already (or never ours): the host reaps what there is.
        lock.unlock();
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
      }
      const size_t d2 = Index(it->in);
      if (hold[d2] && heldDiscard[d2] == HeldDiscard::Refuse) {
        lock.unlock();
        umockdev_ioctl_client_complete(client, -1, EBUSY);
        return true;
      }
      Urb u = std::move(*it);
      queue->erase(it);
      if (hold[d2]) {
        u.due.reset();
        discarding.push_back(std::move(u));
      } else if (discardDelay.count() > 0) {
        u.due = std::chrono::steady_clock::now() + discardDelay;
        discarding.push_back(std::move(u));
        timerWake.notify_all();
      } else {
        FinishLocked(std::move(u), -ENOENT);  // cancelled; the host still reaps it
      }
      UpdateFifosLocked();
      lock.unlock();
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_SUBMITURB: {
      lock.unlock();
      UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
      if (d == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return true;
      }
      const auto *raw = reinterpret_cast<const usbdevfs_urb *>(d->data);
      Urb u;
      u.clientAddr = d->client_addr;
      u.generation = gen;
      u.length = raw->buffer_length > 0 ? static_cast<size_t>(raw->buffer_length) : 0;
      u.in = (raw->endpoint & 0x80) != 0;
      const uint8_t type = raw->type;
      const uint8_t endpoint = raw->endpoint;
      UMockdevIoctlData *buffer = nullptr;
      if (u.length > 0) buffer = umockdev_ioctl_data_resolve(d, offsetof(usbdevfs_urb, buffer), u.length, nullptr);
      u.urb = static_cast<UMockdevIoctlData *>(g_object_ref(d));
      if (buffer != nullptr) {
        u.buffer = static_cast<UMockdevIoctlData *>(g_object_ref(buffer));
        if (!u.in) u.payload.assign(buffer->data, buffer->data + u.length);
      }
      lock.lock();
      if (type == USBDEVFS_URB_TYPE_CONTROL || (endpoint & 0x7F) == 0) {
        u.in = false;
        u.length = 0;
        FinishLocked(std::move(u), 0);  // standard requests: nothing of the device model
        UpdateFifosLocked();
      } else if (u.in) {
        pendingIn.push_back(std::move(u));
        DeliverLocked();
      } else {
        outs.push_back(u.length);
        if (hold[kOut]) {
          pendingOut.push_back(std::move(u));
        } else {
          TakeOutLocked(std::move(u));
        }
        UpdateFifosLocked();
      }
      lock.unlock();
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    default:
      lock.unlock();
      umockdev_ioctl_client_complete(client, -1, ENOTTY);
      return true;
  }
}

bool EmulatedUsbDevice::State::HandleTtyIoctl(UMockdevIoctlClient *client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
  switch (request) {
    case TIOCMGET: {
      UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), nullptr);
      if (d != nullptr) {
        const int lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        std::memcpy(d->data, &lines, sizeof lines);
      }
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
      // A pseudo-terminal has no modem lines; a USB serial adapter takes them silently.
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    default: {
      int error = 0;
      const int result = umockdev_ioctl_client_execute(client, &error, nullptr);
      umockdev_ioctl_client_complete(client, result, error);
      return true;
    }
  }
}

namespace {

class UsbLink final : public DeviceLink {
 public:
  explicit UsbLink(std::shared_ptr<EmulatedUsbDevice::State> state) : state_(std::move(state)) {}

  std::string Name() const override { return state_->devNode; }

  WaitResult Wait() override {
    auto &s = *state_;
    for (;;) {
      int tty = -1;
      {
        std::lock_guard lock(s.mutex);
        if (s.linkClosed) return WaitResult::Closed;
        if (s.woken) {
          s.woken = false;
          return WaitResult::Woken;
        }
        if (!s.toDevice.empty()) return WaitResult::Readable;
        tty = s.ttyMaster;
      }
      pollfd fds[2] = {{s.linkWake, POLLIN, 0}, {tty, POLLIN, 0}};
      if (::poll(fds, tty >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return WaitResult::Closed;
      if ((fds[0].revents & POLLIN) != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t r = ::read(s.linkWake, &count, sizeof count);
      }
      if (tty >= 0 && (fds[1].revents & POLLIN) != 0) return WaitResult::Readable;
    }
  }

  ptrdiff_t Read(uint8_t *buffer, size_t capacity) override {
    auto &s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.linkClosed) return -1;
    if (!s.toDevice.empty()) {
      const size_t n = std::min(capacity, s.toDevice.size());
      std::copy_n(s.toDevice.begin(), n, buffer);
      s.toDevice.erase(s.toDevice.begin(), s.toDevice.begin() + static_cast<ptrdiff_t>(n));
      s.lastFromTty = false;
      return static_cast<ptrdiff_t>(n);
    }
    if (s.ttyMaster < 0) return 0;
    const ssize_t n = ::read(s.ttyMaster, buffer, capacity);
    if (n <= 0) return 0;
    s.lastFromTty = true;
    return n;
  }

  // Replies go back the way their request came.
  bool Write(std::span<const uint8_t> bytes) override {
    auto &s = *state_;
    std::unique_lock lock(s.mutex);
    if (s.linkClosed) return false;
    if (s.lastFromTty && s.ttyMaster >= 0) {
      const int tty = s.ttyMaster;
      lock.unlock();
      size_t done = 0;
      while (done < bytes.size()) {
        const ssize_t n = ::write(tty, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
          done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
          pollfd fd{tty, POLLOUT, 0};
          ::poll(&fd, 1, 100);
        } else if (!(n < 0 && errno == EINTR)) {
          return false;
        }
      }
      return true;
    }
    // Sent to a device nobody has plugged in: lost, as on a real bus.
    if (!s.plugged) return true;
    s.toHost.insert(s.toHost.end(), bytes.begin(), bytes.end());
    s.DeliverLocked();
    return true;
  }

  void Wake() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->woken = true;
    }
    state_->KickLink();
  }

  void Close() override {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->linkClosed) return;
      state_->linkClosed = true;
    }
    state_->KickLink();
    state_->Unplug();
  }

 private:
  std::shared_ptr<EmulatedUsbDevice::State> state_;
};

}  // namespace

EmulatedUsbDevice::EmulatedUsbDevice(UsbDeviceOptions options) : state_(std::make_shared<State>(options)) {
  UMockdevTestbed *bed = Bed();
  // Handlers go on the node names before the nodes exist; they stay for every plug.
  state_->usbHandler = umockdev_ioctl_base_new();
  g_signal_connect(state_->usbHandler, "handle-ioctl", G_CALLBACK(OnUsbIoctl), state_.get());
  GError *error = nullptr;
  if (!umockdev_testbed_attach_ioctl(bed, state_->devNode.c_str(), state_->usbHandler, &error)) {
    const std::string what = error != nullptr ? error->message : "attach_ioctl";
    g_clear_error(&error);
    throw std::runtime_error(what);
  }
  if (options.withTty) {
    state_->ttyHandler = umockdev_ioctl_base_new();
    g_signal_connect(state_->ttyHandler, "handle-ioctl", G_CALLBACK(OnTtyIoctl), state_.get());
  }
}

EmulatedUsbDevice::~EmulatedUsbDevice() {
  Unplug();
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

std::unique_ptr<DeviceLink> EmulatedUsbDevice::TakeLink() {
  std::lock_guard lock(state_->mutex);
  if (state_->linkTaken) throw std::logic_error("the link of an emulated USB device is taken once");
  state_->linkTaken = true;
  return std::make_unique<UsbLink>(state_);
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
      const std::string what = error != nullptr ? error->message : "attach_ioctl";
      g_clear_error(&error);
      throw std::runtime_error(what);
    }
    s.ttyNodesUsed.push_back(s.ttyNode);
  }
  if (!umockdev_testbed_add_from_string(bed, s.Record().c_str(), &error)) {
    const std::string what = error != nullptr ? error->message : "add_from_string";
    g_clear_error(&error);
    std::lock_guard lock(s.mutex);
    s.plugged = false;
    throw std::runtime_error(what);
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
  if (s.options.withTty) {
    master = umockdev_testbed_get_dev_fd(bed, s.ttyNode.c_str());
    if (master >= 0) {
      ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
      char name[128];
      if (::ptsname_r(master, name, sizeof name) == 0) {
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        termios tio{};
        if (slave >= 0 && ::tcgetattr(slave, &tio) == 0) {
          ::cfmakeraw(&tio);
          ::tcsetattr(slave, TCSANOW, &tio);
        }
      }
    }
  }
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
  // Children first, and the uevents before the removal, or nobody hears of it.
  if (s.options.withTty) {
    const std::string iface = s.devPath + "/1-" + std::to_string(s.options.port) + ":1.1";
    const std::string tty = "/sys" + iface + "/tty/" + s.ttyName;
    umockdev_testbed_uevent(bed, tty.c_str(), "remove");
    umockdev_testbed_uevent(bed, ("/sys" + iface).c_str(), "remove");
  }
  umockdev_testbed_uevent(bed, ("/sys" + s.devPath).c_str(), "remove");
  if (s.options.withTty) {
    const std::string iface = s.devPath + "/1-" + std::to_string(s.options.port) + ":1.1";
    umockdev_testbed_remove_device(bed, ("/sys" + iface + "/tty/" + s.ttyName).c_str());
    umockdev_testbed_remove_device(bed, ("/sys" + iface).c_str());
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

unsigned EmulatedUsbDevice::Resets() const {
  std::lock_guard lock(state_->mutex);
  return state_->resets;
}

void EmulatedUsbDevice::RefuseReset(bool refuse) {
  std::lock_guard lock(state_->mutex);
  state_->refuseReset = refuse;
}

std::vector<size_t> EmulatedUsbDevice::OutTransfers() const {
  std::lock_guard lock(state_->mutex);
  return state_->outs;
}

unsigned EmulatedUsbDevice::Claims() const {
  std::lock_guard lock(state_->mutex);
  return state_->claims;
}

void EmulatedUsbDevice::Stall(UsbDirection direction) {
  std::lock_guard lock(state_->mutex);
  state_->halted[Index(direction)] = true;
  state_->DeliverLocked();  // fails the IN transfers waiting
}

void EmulatedUsbDevice::ShortNextOut(size_t bytes) {
  std::lock_guard lock(state_->mutex);
  state_->shortOut = bytes;
}

void EmulatedUsbDevice::ZeroLengthNextIn(unsigned transfers) {
  std::lock_guard lock(state_->mutex);
  state_->zeroIn = transfers;
  state_->DeliverLocked();  // an IN transfer may be waiting with bytes there
}

void EmulatedUsbDevice::HoldTransfers(UsbDirection direction, HeldDiscard discard) {
  std::lock_guard lock(state_->mutex);
  state_->hold[Index(direction)] = true;
  state_->heldDiscard[Index(direction)] = discard;
}

void EmulatedUsbDevice::ReleaseTransfers(UsbDirection direction) {
  State &s = *state_;
  std::lock_guard lock(s.mutex);
  const size_t d = Index(direction);
  s.hold[d] = false;
  for (auto it = s.discarding.begin(); it != s.discarding.end();) {
    if (!it->due && Index(it->in) == d) {
      s.FinishLocked(std::move(*it), -ENOENT);
      it = s.discarding.erase(it);
    } else {
      ++it;
    }
  }
  if (d == kOut) {
    for (Urb &u : s.pendingOut) s.TakeOutLocked(std::move(u));
    s.pendingOut.clear();
  }
  s.DeliverLocked();
}

void EmulatedUsbDevice::DelayDiscards(std::chrono::milliseconds delay) {
  State &s = *state_;
  {
    std::lock_guard lock(s.mutex);
    s.discardDelay = std::max(delay, std::chrono::milliseconds(0));
  }
  if (delay.count() > 0 && !s.timer.joinable()) s.timer = std::thread([&s] { s.DiscardTimer(); });
}

unsigned EmulatedUsbDevice::ClearHalts(UsbDirection direction) const {
  std::lock_guard lock(state_->mutex);
  return state_->clearHalts[Index(direction)];
}

unsigned EmulatedUsbDevice::Discards() const {
  std::lock_guard lock(state_->mutex);
  return state_->discards;
}

unsigned EmulatedUsbDevice::HeldTransfers(UsbDirection direction) const {
  const State &s = *state_;
  std::lock_guard lock(s.mutex);
  const size_t d = Index(direction);
  if (!s.hold[d]) return 0;
  const size_t pending = d == kIn ? s.pendingIn.size() : s.pendingOut.size();
  const auto deferred = std::count_if(s.discarding.begin(), s.discarding.end(),
                                      [&](const Urb &u) { return !u.due && Index(u.in) == d; });
  return static_cast<unsigned>(pending + static_cast<size_t>(deferred));
}

unsigned EmulatedUsbDevice::ResetsUnderHeldTransfers() const {
  std::lock_guard lock(state_->mutex);
  return state_->resetsUnderHeld;
}

std::string EmulatedUsbDevice::Authorized() const {
  std::ifstream in(UsbTestbed::Instance().RootDir() + "/sys" + state_->devPath + "/authorized");
  std::string value;
  std::getline(in, value);
  return value;
}

}  // namespace fiscalsim
