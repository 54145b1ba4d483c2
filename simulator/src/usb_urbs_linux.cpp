// The URB emulation of the usb node: the ioctls a host's libusb sends, submit, reap and discard,
// and the faults of the bulk endpoints that tests arm.
#include <poll.h>
#include <unistd.h>

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/thread.h"
#include "usb_device_state_linux.h"

namespace fiscalsim {

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

}  // namespace

gboolean OnUsbIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
  return static_cast<EmulatedUsbDevice::State *>(self)->HandleUsbIoctl(client) ? TRUE : FALSE;
}

void Release(Urb &u) {
  if (u.buffer != nullptr) g_object_unref(u.buffer);
  if (u.urb != nullptr) g_object_unref(u.urb);
  u.buffer = nullptr;
  u.urb = nullptr;
}

// libusb polls the node for POLLOUT, and a plain file would wake it without end.
void EmulatedUsbDevice::State::UpdateFifosLocked() {
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

void EmulatedUsbDevice::State::FinishLocked(Urb u, int status) {
  u.status = status;
  u.payload.clear();
  u.taken = 0;
  reapable.push_back(std::move(u));
}

void EmulatedUsbDevice::State::DeliverLocked() {
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

void EmulatedUsbDevice::State::TakeOutLocked(Urb u) {
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

bool EmulatedUsbDevice::State::AnyHeldLocked() const {
  return (hold[kIn] && !pendingIn.empty()) || (hold[kOut] && !pendingOut.empty()) ||
         std::any_of(discarding.begin(), discarding.end(), [](const Urb &u) { return !u.due; });
}

std::optional<std::chrono::steady_clock::time_point> EmulatedUsbDevice::State::CompleteDueDiscardsLocked() {
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

void EmulatedUsbDevice::State::DiscardTimer() {
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
        const size_t d2 = Index((endpoint & USB_ENDPOINT_DIR_MASK) == USB_DIR_IN);
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
      u.in = (raw->endpoint & USB_ENDPOINT_DIR_MASK) == USB_DIR_IN;
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
      // The lock was let go above: an unplug in between ended every transfer in flight, and a
      // URB queued now would wait for ever, its discard refused as of a gone device. The
      // kernel refuses such a submit.
      if (!plugged || gen != generation) {
        lock.unlock();
        Release(u);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
      }
      if (type == USBDEVFS_URB_TYPE_CONTROL || (endpoint & ~USB_ENDPOINT_DIR_MASK) == 0) {
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
}  // namespace fiscalsim
