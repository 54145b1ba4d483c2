// Tells the active USB driver of devices plugged in, pulled out or changed. One per process,
// kept by the module; a thread of its own waits on the system's device events (a libudev
// monitor for the usb and tty subsystems on Linux) and hands them to the callbacks a driver
// installed, on that thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "devices/device_info.h"

namespace vrn {

using ArrivalCallback = bool (*)(const DeviceInfo &info, void *userData);
using RemovalCallback = void (*)(const char *devicePath, void *userData);
using QueryCallback = bool (*)(const char *devicePath, void *userData);

class DevNotificationManager {
 public:
  // Starts a manager with its thread and returns it once the thread has it running (at most
  // about 2 s); null when the thread cannot be started or never reports.
  static DevNotificationManager *GetInstance();
  // Stops the thread (at once: it is woken), joins it and frees the manager. Null is ignored.
  static void Release(DevNotificationManager *manager);

  DevNotificationManager(const DevNotificationManager &) = delete;
  DevNotificationManager &operator=(const DevNotificationManager &) = delete;

  // A later installation replaces an earlier one. Returns once no callback of the earlier
  // installation runs any more, so a driver that is going away may pass nulls and then free
  // its user data.
  void InstallCallbacks(ArrivalCallback arrival, RemovalCallback removal, QueryCallback query, void *userData);
  // Removes the callbacks only while they are the ones with this user data.
  void RemoveCallbacks(void *userData);
  bool HasArrivalCallback() const;
  // Calls the installed arrival callback as an arrival event would; false without one.
  bool CallArrival(const DeviceInfo &info);

  // The events handed out so far (for tests and traces): arrivals, removals, changes.
  unsigned Arrivals() const { return arrivals_.load(); }
  unsigned Removals() const { return removals_.load(); }

 private:
  DevNotificationManager();
  ~DevNotificationManager();
  void Run();
  void OnArrival(int32_t vendorId, int32_t productId, const char *path);
  void OnRemoval(const char *path);
  void OnChange(const char *path);

  std::thread thread_;
  int stopFd_ = -1;  // eventfd: the thread's close message

  // Hand-over of the running thread to GetInstance.
  std::mutex startLock_;
  std::condition_variable started_;
  bool running_ = false;  // guarded by startLock_
  bool failed_ = false;   // guarded by startLock_

  // Held while a callback runs, so that installing or removing callbacks waits for it.
  // Lock order: a driver's driver lock, then this, then the driver's record lock.
  mutable std::recursive_mutex callbackLock_;
  ArrivalCallback arrival_ = nullptr;  // guarded by callbackLock_
  RemovalCallback removal_ = nullptr;  // guarded by callbackLock_
  QueryCallback query_ = nullptr;      // guarded by callbackLock_
  void *userData_ = nullptr;           // guarded by callbackLock_

  std::atomic<unsigned> arrivals_{0};
  std::atomic<unsigned> removals_{0};
};

}  // namespace vrn
