#include "core/connection_monitor.h"

#include <chrono>

#include "core/messages.h"
#include "platform/thread.h"

namespace tillwright {

ConnectionMonitor::ConnectionMonitor(ILink &link, AppState &state, Report report)
    : link_(link), state_(state), report_(std::move(report)) {}

ConnectionMonitor::~ConnectionMonitor() { Stop(); }

void ConnectionMonitor::Start() {
  if (thread_.joinable()) return;
  running_ = true;
  stopped_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void ConnectionMonitor::Stop() {
  {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ConnectionMonitor::Loop() {
  platform::SetCurrentThreadName("tw-monitor");
  std::unique_lock lock(mutex_);
  while (running_) {
    lock.unlock();
    const bool usb = link_.TestConnection() != 0;
    state_.usbPresent = usb ? 1 : 0;
    // A COM connection made by the port scan wins over an absent USB device.
    const bool connected = usb || state_.serialConnected != 0;
    report_(connected ? msg::kConnected : msg::kDisconnected);
    ++passes_;
    lock.lock();
    wake_.wait_for(lock, kPeriod, [this] { return !running_; });
  }
  stopped_ = true;
}

}  // namespace tillwright
