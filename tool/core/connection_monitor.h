// The connection monitor: once a second asks the link whether a USB device is reachable and
// reports what the status label should say. It never touches a widget: `report` must post to the
// user-interface thread.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string_view>
#include <thread>

#include "core/app_state.h"
#include "core/link.h"
#include "platform/mutex.h"

namespace tillwright {

class ConnectionMonitor {
 public:
  using Report = std::function<void(std::string_view label)>;
  // From the end of one check to the start of the next.
  static constexpr std::chrono::seconds kPeriod{1};

  ConnectionMonitor(ILink &link, AppState &state, Report report);
  ~ConnectionMonitor();  // stops
  ConnectionMonitor(const ConnectionMonitor &) = delete;
  ConnectionMonitor &operator=(const ConnectionMonitor &) = delete;

  void Start();
  // Ends the wait at once and joins the thread; a check in progress is finished first.
  void Stop();

  bool Running() const {
    platform::MutexLock lock(mutex_);
    return running_;
  }
  bool Stopped() const { return stopped_; }
  // Checks made since Start (for tests).
  unsigned Passes() const { return passes_; }

 private:
  void Loop();

  ILink &link_;
  AppState &state_;
  const Report report_;
  // running_ is what the sleep waits on: Stop sets it under the lock, then wakes the sleep.
  mutable platform::Mutex mutex_;
  platform::CondVar wake_;
  bool running_ GUARDED_BY(mutex_) = false;
  std::atomic<bool> stopped_{true};
  std::atomic<unsigned> passes_{0};
  std::thread thread_;           // controlling (user-interface) thread only
};

}  // namespace tillwright
