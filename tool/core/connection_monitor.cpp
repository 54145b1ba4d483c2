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
  {
    platform::MutexLock lock(mutex_);
    running_ = true;
  }
  stopped_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void ConnectionMonitor::Stop() {
  {
    platform::MutexLock lock(mutex_);
    running_ = false;
  }
  wake_.NotifyAll();
  if (thread_.joinable()) thread_.join();
}

void ConnectionMonitor::Loop() {
  platform::SetCurrentThreadName("tw-monitor");
  platform::MutexLock lock(mutex_);
  while (running_) {
    lock.Unlock();
    const bool usb = link_.TestConnection() != 0;
    state_.usbPresent = usb ? 1 : 0;
    // A COM connection made by the port scan wins over an absent USB device.
    const bool connected = usb || state_.serialConnected != 0;
    report_(connected ? msg::kConnected : msg::kDisconnected);
    ++passes_;
    lock.Lock();
    const auto deadline = platform::CondVar::Clock::now() + kPeriod;
    // Only Stop ends the sleep early; any other wake sleeps on to the deadline.
    while (running_ && wake_.WaitUntil(mutex_, deadline)) {
    }
  }
  stopped_ = true;
}

}  // namespace tillwright
