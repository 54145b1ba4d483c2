#include "wdu_double.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace wdu_double {

// One device's pipes and scripted behaviour, shared by the library side and the simulator's end.
struct LinkState {
  std::mutex mutex;
  std::condition_variable changed;
  // All guarded by mutex.
  std::deque<uint8_t> toDevice;
  std::deque<uint8_t> toHost;
  bool closed = false;     // the simulator's end went away
  bool woken = false;
  bool unplugged = true;   // until the library is told of it
  uint64_t generation = 0; // handles of older generations are gone
  uint64_t inAborts = 0;   // IN pipe resets, which end a waiting IN transfer
  int failOut = 0;
  int failIn = 0;
  int failHard = 0;
  int failCycles = 0;
  int refusedInterface = -1;
  std::vector<TransferCall> transfers;
  std::vector<uint32_t> outPieces;
  std::map<uint32_t, unsigned> pipeResets;
  std::vector<uint32_t> deviceResets;
  std::vector<std::pair<uint32_t, uint32_t>> selections;
  unsigned attaches = 0;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kOutPipe = 0x03;
constexpr uint32_t kInPipe = 0x81;

class DeviceEnd final : public fiscalsim::DeviceLink {
 public:
  explicit DeviceEnd(std::shared_ptr<LinkState> state) : state_(std::move(state)) {}
  ~DeviceEnd() override { Close(); }

  std::string Name() const override { return "kernel-mode library double"; }

  WaitResult Wait() override {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] { return state_->closed || state_->woken || !state_->toDevice.empty(); });
    if (state_->closed) return WaitResult::Closed;
    if (state_->woken) {
      state_->woken = false;
      return WaitResult::Woken;
    }
    return WaitResult::Readable;
  }

  ptrdiff_t Read(uint8_t *buffer, size_t capacity) override {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return -1;
    const size_t n = std::min(capacity, state_->toDevice.size());
    std::copy_n(state_->toDevice.begin(), n, buffer);
    state_->toDevice.erase(state_->toDevice.begin(), state_->toDevice.begin() + static_cast<ptrdiff_t>(n));
    return static_cast<ptrdiff_t>(n);
  }

  bool Write(std::span<const uint8_t> bytes) override {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->closed || state_->woken) return false;
      state_->toHost.insert(state_->toHost.end(), bytes.begin(), bytes.end());
    }
    state_->changed.notify_all();
    return true;
  }

  void Wake() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->woken = true;
    }
    state_->changed.notify_all();
  }

  void Close() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->closed = true;
    }
    state_->changed.notify_all();
  }

 private:
  std::shared_ptr<LinkState> state_;
};

bool IdMatches(uint16_t wanted, uint16_t actual) { return wanted == 0 || wanted == actual; }

}  // namespace

std::vector<Interface> CdcInterfaces(uint16_t inPacketSize, uint16_t outPacketSize) {
  Interface control;
  control.settings.push_back({0, 0, {{0x82, 0x03, 8}}});
  Interface data;
  data.settings.push_back({1, 0, {{0x03, 0x02, outPacketSize}, {0x81, 0x02, inPacketSize}}});
  return {control, data};
}

Device::Device(DeviceLayout layout)
    : layout_(std::move(layout)), link_(std::make_shared<LinkState>()), deviceEnd_(std::make_unique<DeviceEnd>(link_)) {}

Device::~Device() = default;

std::unique_ptr<fiscalsim::DeviceLink> Device::TakeLink() { return std::move(deviceEnd_); }

void Device::FailNextOut(int n) {
  std::lock_guard lock(link_->mutex);
  link_->failOut = n;
}
void Device::FailNextIn(int n) {
  std::lock_guard lock(link_->mutex);
  link_->failIn = n;
}
void Device::FailHardResets(int n) {
  std::lock_guard lock(link_->mutex);
  link_->failHard = n;
}
void Device::FailPortCycles(int n) {
  std::lock_guard lock(link_->mutex);
  link_->failCycles = n;
}
void Device::RefuseInterface(int interfaceNumber) {
  std::lock_guard lock(link_->mutex);
  link_->refusedInterface = interfaceNumber;
}
std::vector<TransferCall> Device::Transfers() const {
  std::lock_guard lock(link_->mutex);
  return link_->transfers;
}
std::vector<uint32_t> Device::OutPieces() const {
  std::lock_guard lock(link_->mutex);
  return link_->outPieces;
}
unsigned Device::PipeResets(uint32_t pipe) const {
  std::lock_guard lock(link_->mutex);
  const auto it = link_->pipeResets.find(pipe);
  return it == link_->pipeResets.end() ? 0 : it->second;
}
std::vector<uint32_t> Device::DeviceResets() const {
  std::lock_guard lock(link_->mutex);
  return link_->deviceResets;
}
std::vector<std::pair<uint32_t, uint32_t>> Device::InterfaceSelections() const {
  std::lock_guard lock(link_->mutex);
  return link_->selections;
}
unsigned Device::Attaches() const {
  std::lock_guard lock(link_->mutex);
  return link_->attaches;
}

// A handle the library gave out, with the description its attach callback saw.
struct Library::Attachment {
  std::shared_ptr<Device> device;
  uint64_t generation = 0;
  bool accepted = false;  // under the library's mutex, once its attach callback answered
  std::vector<WduAltSetting> settings;
  std::vector<WduInterface> interfaces;
  WduDeviceInfo info{};

  bool Live() const {  // under the device's link lock
    return !device->link_->unplugged && device->link_->generation == generation;
  }
};

Library &Library::Instance() {
  static Library library;
  return library;
}

void Library::Clear() {
  std::lock_guard lock(mutex_);
  for (const auto &device : plugged_) {
    std::lock_guard link(device->link_->mutex);
    device->link_->unplugged = true;
    device->link_->changed.notify_all();
  }
  plugged_.clear();
  driverPresent_ = true;
  initResult_ = kWduSuccess;
  inits_ = uninits_ = 0;
  answers_.clear();
}

void Library::SetKernelDriverPresent(bool present) {
  std::lock_guard lock(mutex_);
  driverPresent_ = present;
}

void Library::SetInitResult(uint32_t result) {
  std::lock_guard lock(mutex_);
  initResult_ = result;
}

void Library::Plug(const std::shared_ptr<Device> &device) {
  {
    std::lock_guard lock(mutex_);
    {
      std::lock_guard link(device->link_->mutex);
      device->link_->unplugged = false;
      ++device->link_->generation;
    }
    plugged_.push_back(device);
    if (running_) queue_.push_back({true, device, nullptr});
  }
  changed_.notify_all();
}

void Library::Unplug(const std::shared_ptr<Device> &device) {
  {
    std::lock_guard lock(mutex_);
    {
      std::lock_guard link(device->link_->mutex);
      device->link_->unplugged = true;
    }
    device->link_->changed.notify_all();
    std::erase(plugged_, device);
    // Whichever attachment is current when the thread comes to it.
    if (running_) queue_.push_back({false, device, nullptr});
  }
  changed_.notify_all();
}

bool Library::WaitIdle() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return queue_.empty() && !delivering_; });
}

unsigned Library::Inits() const {
  std::lock_guard lock(mutex_);
  return inits_;
}
unsigned Library::Uninits() const {
  std::lock_guard lock(mutex_);
  return uninits_;
}
bool Library::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}
WduMatch Library::LastMatch() const {
  std::lock_guard lock(mutex_);
  return match_;
}
uint32_t Library::LastMatchCount() const {
  std::lock_guard lock(mutex_);
  return matchCount_;
}
uint32_t Library::LastOptions() const {
  std::lock_guard lock(mutex_);
  return options_;
}
std::vector<bool> Library::AttachAnswers() const {
  std::lock_guard lock(mutex_);
  return answers_;
}

bool Library::DriverName(const char *name) {
  std::lock_guard lock(mutex_);
  return driverPresent_ && name != nullptr && std::strcmp(name, "vdrvUSB") == 0;
}

uint32_t Library::Init(WduLibrary **library, const WduMatch *matches, uint32_t matchCount, const WduEventTable *events,
                       uint32_t options) {
  {
    std::lock_guard lock(mutex_);
    *library = nullptr;
    if (initResult_ != kWduSuccess) return initResult_;
    if (running_ || matches == nullptr || matchCount == 0 || events == nullptr) return kFailed;
    ++inits_;
    match_ = matches[0];
    matchCount_ = matchCount;
    options_ = options;
    events_ = *events;
    running_ = true;
    stopping_ = false;
    queue_.clear();
    for (const auto &device : plugged_) queue_.push_back({true, device, nullptr});
    thread_ = std::thread(&Library::Run, this);
    *library = reinterpret_cast<WduLibrary *>(this);
  }
  changed_.notify_all();
  return kWduSuccess;
}

void Library::Uninit(WduLibrary *library) {
  if (library != reinterpret_cast<WduLibrary *>(this)) return;
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  std::lock_guard lock(mutex_);
  running_ = false;
  ++uninits_;
  queue_.clear();
  current_.clear();
  for (const auto &device : plugged_) {
    std::lock_guard link(device->link_->mutex);
    ++device->link_->generation;  // every handle of this run is gone
    device->link_->changed.notify_all();
  }
}

void Library::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) break;
    const Event event = queue_.front();
    queue_.pop_front();
    delivering_ = true;
    lock.unlock();
    Deliver(event);
    lock.lock();
    delivering_ = false;
    changed_.notify_all();
  }
  delivering_ = false;
  changed_.notify_all();
}

bool Library::Matches(const Device &device) const {
  return IdMatches(match_.vendorId, device.layout_.vendorId) && IdMatches(match_.productId, device.layout_.productId);
}

void Library::Deliver(const Event &event) {
  WduEventTable events;
  Attachment *attachment = nullptr;
  {
    std::lock_guard lock(mutex_);
    events = events_;
    if (event.attach) {
      if (!Matches(*event.device)) return;
      const auto held = current_.find(event.device.get());
      if (held != current_.end()) {
        std::lock_guard link(event.device->link_->mutex);
        if (held->second->Live()) return;
      }
      auto made = std::make_unique<Attachment>();
      attachment = made.get();
      attachment->device = event.device;
      {
        std::lock_guard link(event.device->link_->mutex);
        if (event.device->link_->unplugged) return;
        attachment->generation = event.device->link_->generation;
        ++event.device->link_->attaches;
      }
      const std::vector<Interface> &interfaces = event.device->layout_.interfaces;
      size_t count = 0;
      for (const Interface &i : interfaces) count += i.settings.size();
      attachment->settings.reserve(count);  // pointers into it are handed out below
      for (const Interface &i : interfaces) {
        WduInterface described;
        described.altSettingCount = static_cast<uint32_t>(i.settings.size());
        if (!i.settings.empty()) described.altSettings = attachment->settings.data() + attachment->settings.size();
        for (const AltSetting &s : i.settings) {
          attachment->settings.push_back(
              {s.interfaceNumber, s.alternateSetting, static_cast<uint32_t>(s.endpoints.size()), s.endpoints.data()});
        }
        if (i.active < i.settings.size()) described.active = described.altSettings + i.active;
        attachment->interfaces.push_back(described);
      }
      attachment->info = {event.device->layout_.vendorId, event.device->layout_.productId,
                          static_cast<uint32_t>(attachment->interfaces.size()), attachment->interfaces.data()};
      attachments_.push_back(std::move(made));
    } else {
      const auto it = current_.find(event.device.get());
      attachment = event.attachment;
      if (attachment == nullptr) {
        if (it == current_.end()) return;
        attachment = it->second;
      }
      if (!attachment->accepted) return;
      attachment->accepted = false;  // one detach for one attach
      if (it != current_.end() && it->second == attachment) current_.erase(it);
    }
  }
  auto *handle = reinterpret_cast<WduDevice *>(attachment);
  if (event.attach) {
    const bool accepted = events.attach != nullptr && events.attach(handle, &attachment->info, events.userData);
    std::lock_guard lock(mutex_);
    answers_.push_back(accepted);
    attachment->accepted = accepted;
    if (accepted) current_[event.device.get()] = attachment;
  } else if (events.detach != nullptr) {
    events.detach(handle, events.userData);
  }
}

Library::Attachment *Library::Live(WduDevice *handle) { return reinterpret_cast<Attachment *>(handle); }

uint32_t Library::Transfer(WduDevice *handle, uint32_t pipe, bool read, uint32_t options, void *buffer,
                           uint32_t length, uint32_t *moved, const uint8_t *setup, uint32_t timeoutMs) {
  *moved = 0;
  Attachment *attachment = Live(handle);
  if (attachment == nullptr) return kNoDevice;
  LinkState &link = *attachment->device->link_;
  std::unique_lock lock(link.mutex);
  link.transfers.push_back({pipe, read, options, length, timeoutMs, setup != nullptr});
  if (!attachment->Live()) return kNoDevice;
  if (read != (pipe == kInPipe) || (pipe != kInPipe && pipe != kOutPipe)) return kFailed;
  if (!read) {
    if (link.failOut > 0) {
      --link.failOut;
      return kFailed;
    }
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    link.toDevice.insert(link.toDevice.end(), bytes, bytes + length);
    link.outPieces.push_back(length);
    *moved = length;
    link.changed.notify_all();
    return kWduSuccess;
  }
  if (link.failIn > 0) {
    --link.failIn;
    return kFailed;
  }
  const uint64_t aborts = link.inAborts;
  link.changed.wait_until(lock, Clock::now() + std::chrono::milliseconds(timeoutMs), [&] {
    return !link.toHost.empty() || !attachment->Live() || link.closed || link.inAborts != aborts;
  });
  if (!link.toHost.empty()) {
    const size_t n = std::min<size_t>(length, link.toHost.size());
    std::copy_n(link.toHost.begin(), n, static_cast<uint8_t *>(buffer));
    link.toHost.erase(link.toHost.begin(), link.toHost.begin() + static_cast<ptrdiff_t>(n));
    *moved = static_cast<uint32_t>(n);
    return kWduSuccess;
  }
  if (!attachment->Live() || link.closed) return kNoDevice;
  return link.inAborts != aborts ? kWduAborted : kWduTimedOut;
}

uint32_t Library::ResetPipe(WduDevice *handle, uint32_t pipe) {
  Attachment *attachment = Live(handle);
  if (attachment == nullptr) return kNoDevice;
  LinkState &link = *attachment->device->link_;
  {
    std::lock_guard lock(link.mutex);
    if (!attachment->Live()) return kNoDevice;
    ++link.pipeResets[pipe];
    if (pipe == kInPipe) ++link.inAborts;
  }
  link.changed.notify_all();
  return kWduSuccess;
}

uint32_t Library::ResetDevice(WduDevice *handle, uint32_t options) {
  Attachment *attachment = Live(handle);
  if (attachment == nullptr) return kNoDevice;
  LinkState &link = *attachment->device->link_;
  {
    std::lock_guard lock(mutex_);
    std::lock_guard linkLock(link.mutex);
    link.deviceResets.push_back(options);
    if (!attachment->Live()) return kNoDevice;
    if (options == kWduResetHard) {
      if (link.failHard > 0) {
        --link.failHard;
        return kFailed;
      }
      return kWduSuccess;
    }
    if (options != kWduResetPortCycle) return kFailed;
    if (link.failCycles > 0) {
      --link.failCycles;
      return kFailed;
    }
    // Off the port and back: this handle is gone, and the device attaches anew.
    ++link.generation;
    link.changed.notify_all();
    if (running_) {
      queue_.push_back({false, attachment->device, attachment});
      queue_.push_back({true, attachment->device, nullptr});
    }
  }
  changed_.notify_all();
  return kWduSuccess;
}

uint32_t Library::SetInterface(WduDevice *handle, uint32_t interfaceNumber, uint32_t alternateSetting) {
  Attachment *attachment = Live(handle);
  if (attachment == nullptr) return kNoDevice;
  LinkState &link = *attachment->device->link_;
  std::lock_guard lock(link.mutex);
  if (!attachment->Live()) return kNoDevice;
  link.selections.emplace_back(interfaceNumber, alternateSetting);
  return static_cast<int>(interfaceNumber) == link.refusedInterface ? kFailed : kWduSuccess;
}

uint32_t Library::GetDeviceAddr(WduDevice *handle, uint32_t *address) {
  Attachment *attachment = Live(handle);
  if (attachment == nullptr) return kNoDevice;
  std::lock_guard lock(attachment->device->link_->mutex);
  if (!attachment->Live()) return kNoDevice;
  *address = 2;
  return kWduSuccess;
}

}  // namespace wdu_double

extern "C" {

bool WD_DriverName(const char *name) { return wdu_double::Library::Instance().DriverName(name); }

uint32_t WDU_Init(WduLibrary **library, const WduMatch *matches, uint32_t matchCount, const WduEventTable *events,
                  uint32_t options) {
  return wdu_double::Library::Instance().Init(library, matches, matchCount, events, options);
}

void WDU_Uninit(WduLibrary *library) { wdu_double::Library::Instance().Uninit(library); }

uint32_t WDU_Transfer(WduDevice *device, uint32_t pipe, bool read, uint32_t options, void *buffer, uint32_t length,
                      uint32_t *moved, const uint8_t *setup, uint32_t timeoutMs) {
  return wdu_double::Library::Instance().Transfer(device, pipe, read, options, buffer, length, moved, setup,
                                                  timeoutMs);
}

uint32_t WDU_ResetPipe(WduDevice *device, uint32_t pipe) {
  return wdu_double::Library::Instance().ResetPipe(device, pipe);
}

uint32_t WDU_ResetDevice(WduDevice *device, uint32_t options) {
  return wdu_double::Library::Instance().ResetDevice(device, options);
}

uint32_t WDU_SetInterface(WduDevice *device, uint32_t interfaceNumber, uint32_t alternateSetting) {
  return wdu_double::Library::Instance().SetInterface(device, interfaceNumber, alternateSetting);
}

uint32_t WDU_GetDeviceAddr(WduDevice *device, uint32_t *address) {
  return wdu_double::Library::Instance().GetDeviceAddr(device, address);
}

}  // extern "C"
