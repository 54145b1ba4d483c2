// What the pieces of the emulated USB device share: the device's state, the URBs a host
// submitted, and the hooks each piece gives the others. The record and its plugging live in
// usb_device_linux.cpp, the URB emulation and its faults in usb_urbs_linux.cpp, the tty child in
// usb_tty_linux.cpp and the simulator's end in usb_link_linux.cpp.
#pragma once

#include <sys/ioctl.h>  // before linux/usbdevice_fs.h
#include <umockdev.h>

#include <linux/usb/ch9.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "fiscalsim/usb_device_linux.h"

namespace fiscalsim {

// The data interface's endpoints, as the descriptors give them.
inline constexpr uint8_t kBulkOut = 0x03;
inline constexpr uint8_t kBulkIn = USB_DIR_IN | 0x01;

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

// Drops the URB's references to the host's memory.
void Release(Urb &u);

// Faults and counters are kept per direction, at these indices.
inline constexpr size_t kOut = 0;
inline constexpr size_t kIn = 1;
inline size_t Index(UsbDirection d) { return d == UsbDirection::In ? kIn : kOut; }
inline size_t Index(bool in) { return in ? kIn : kOut; }

// The process-wide testbed that every device is plugged into.
UMockdevTestbed *Bed();

// The device and configuration descriptors, as the sysfs record gives them to libusb.
std::vector<uint8_t> Descriptors(const UsbDeviceOptions &o);

// The "handle-ioctl" handlers of the usb node and of the tty node; `self` is the State.
gboolean OnUsbIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);
gboolean OnTtyIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);

// Writes every byte to the tty's pseudo-terminal, waiting for room; false when it fails.
bool WriteTty(int fd, std::span<const uint8_t> bytes);

struct EmulatedUsbDevice::State {
  explicit State(UsbDeviceOptions o);
  ~State();

  // ---- the record (usb_device_linux.cpp)
  std::string InterfacePath() const;  // the data interface, under /sys
  std::string Record() const;
  void Unplug();

  // ---- the URBs (usb_urbs_linux.cpp)
  // Keeps each generation's node writable exactly while one of its URBs waits to be reaped.
  void UpdateFifosLocked();
  // Ends a URB without moving bytes; the caller updates the FIFOs.
  void FinishLocked(Urb u, int status);
  // Hands what the device sent to waiting IN URBs, a short transfer each.
  void DeliverLocked();
  // An OUT URB goes through: the device takes its bytes, or only the first ones when a short
  // transfer is armed.
  void TakeOutLocked(Urb u);
  bool AnyHeldLocked() const;
  // Hands back discarded URBs whose delay ran out; the next deadline, if any.
  std::optional<std::chrono::steady_clock::time_point> CompleteDueDiscardsLocked();
  // Runs while delayed discards may come: nothing else wakes a host at their deadline.
  void DiscardTimer();
  bool HandleUsbIoctl(UMockdevIoctlClient *client);

  // ---- the tty child (usb_tty_linux.cpp)
  bool HandleTtyIoctl(UMockdevIoctlClient *client);
  // The testbed's end of the tty node of this plug and our own hold of its other end (raw);
  // -1 for what could not be had.
  void OpenTtyEnds(UMockdevTestbed *bed, int &master, int &slave) const;

  // ---- the link (usb_link_linux.cpp)
  // Wakes the link's Wait(): bytes came, a wake or a close was asked for, or the tty changed.
  void KickLink();

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

}  // namespace fiscalsim
