// Tells the active USB driver of devices plugged in, pulled out or changed. One per process,
// kept by the module. On Linux one thread waits on a libudev monitor for the usb and tty
// subsystems and queues what it hears; a second thread of the manager's own delivers the queue
// to the callbacks a driver installed, so that a callback waiting for a request that restarts a
// device never stops the events from being read. On Windows the hidden window's thread
// receives the device-change broadcasts and delivers them itself.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <thread>

#include "devices/device_info.h"
#include "devices/device_tree.h"
#include "platform/mutex.h"

namespace vrn {

using ArrivalCallback = bool (*)(const DeviceInfo &info, void *userData);
using RemovalCallback = void (*)(const char *devicePath, void *userData);
using QueryCallback = bool (*)(const char *devicePath, void *userData);

// How an arrival looks the device up: FindDevice, unless a test put a scripted lookup in place.
using DeviceLookup = bool (*)(InterfaceClass cls, int32_t vendorId, int32_t productId, DeviceInfo &info);
// Returns the lookup it replaces; null puts FindDevice back.
DeviceLookup SetDeviceLookup(DeviceLookup lookup);

class DevNotificationManager {
 public:
  // Starts a manager with its thread and returns it once the thread has it running (at most
  // about 2 s); null when the thread cannot be started or never reports.
  static DevNotificationManager *GetInstance();
  // Stops the thread (at once: it is woken), joins it and frees the manager. Null is ignored.
  static void Release(DevNotificationManager *manager);

  DevNotificationManager(const DevNotificationManager &) = delete;
  DevNotificationManager &operator=(const DevNotificationManager &) = delete;

  // A later installation replaces an earlier one.
  void InstallCallbacks(ArrivalCallback arrival, RemovalCallback removal, QueryCallback query, void *userData)
      EXCLUDES(callbackLock_);
  // Removes the callbacks only while they are the ones with this user data, and returns once no
  // callback runs any more, so that a driver that is going away may then free its user data.
  // Never called from inside a callback.
  void RemoveCallbacks(void *userData) EXCLUDES(callbackLock_);
  bool HasArrivalCallback() const EXCLUDES(callbackLock_);
  // Calls the installed arrival callback on this thread, as an arrival event would; false
  // without one.
  bool CallArrival(const DeviceInfo &info) EXCLUDES(callbackLock_);
  // Calls the installed removal callback on this thread, as a removal event would.
  void CallRemoval(const char *devicePath) EXCLUDES(callbackLock_) { OnRemoval(devicePath); }
  // Hands an arrival to the delivering thread, which delivers it in turn with device events:
  // for a caller that holds locks an arrival callback may take.
  void PostArrival(const DeviceInfo &info) EXCLUDES(postLock_);

  // The events delivered so far (for tests and traces): arrivals, removals.
  unsigned Arrivals() const { return arrivals_.load(); }
  unsigned Removals() const { return removals_.load(); }

 private:
  // Made by GetInstance and ended by Release only, which hold it in a unique_ptr meanwhile.
  friend struct std::default_delete<DevNotificationManager>;
  DevNotificationManager();
  ~DevNotificationManager();
  struct Installed {
    ArrivalCallback arrival = nullptr;
    RemovalCallback removal = nullptr;
    QueryCallback query = nullptr;
    void *userData = nullptr;
  };
  // One delivery: the callbacks as installed now, called with no lock held; RemoveCallbacks
  // waits for every delivery begun to end.
  Installed BeginDelivery() EXCLUDES(callbackLock_);
  void EndDelivery() EXCLUDES(callbackLock_);
  class Delivery;

  // A device event waiting for delivery, or an arrival posted by a driver.
  struct Event {
    enum class Kind { Arrival, Posted, Removal, Change };
    Kind kind = Kind::Arrival;
    int32_t vendorId = -1;  // Arrival
    int32_t productId = -1;
    std::string path;  // Arrival, Removal, Change
    DeviceInfo info;   // Posted
  };
  // Both queue in the order of the events, which are delivered in that order.
  void Enqueue(Event event) EXCLUDES(postLock_);
  void DeliverQueued() EXCLUDES(postLock_, callbackLock_);
  void Deliver(const Event &event) EXCLUDES(postLock_, callbackLock_);

  void Run();
  // The device with these ids as the device tree knows it, else the ids and path of the event.
  void OnArrival(int32_t vendorId, int32_t productId, const char *path) EXCLUDES(callbackLock_);
  void OnRemoval(const char *path) EXCLUDES(callbackLock_);
  void OnChange(const char *path) EXCLUDES(callbackLock_);

  std::thread thread_;
#ifdef _WIN32
  // The window procedure and the thread's loop, which reach the members below.
  struct HiddenWindow;
  // Handles kept untyped so that no system header is needed here. The window and its
  // registration are touched only on the manager thread.
  void *window_ = nullptr;        // HWND
  void *notification_ = nullptr;  // HDEVNOTIFY
  void *stopEvent_ = nullptr;     // the thread closes its window and ends
  void *postEvent_ = nullptr;     // arrivals were posted
#else
  int stopFd_ = -1;  // eventfd: the monitor thread's close message
  std::thread deliveryThread_;
  void DeliveryLoop() EXCLUDES(postLock_, callbackLock_);
#endif

  // The manager's locks come last in the transport library's lock order and take nothing.
  platform::Mutex postLock_;
  std::deque<Event> queued_ GUARDED_BY(postLock_);
  platform::CondVar queuedOrStopping_;           // Linux: wakes the delivering thread
  bool stopping_ GUARDED_BY(postLock_) = false;  // Linux: the delivering thread ends

  // Hand-over of the running thread to GetInstance: the thread says it runs, GetInstance waits a
  // bounded while for that (and traces when it did not come).
  void SayRunning() EXCLUDES(startLock_);
  bool AwaitRunning() EXCLUDES(startLock_);
  platform::Mutex startLock_;
  platform::CondVar started_;
  bool running_ GUARDED_BY(startLock_) = false;

  // Never held while a callback runs: callbacks start protocols and open devices, under locks
  // that a request holds while it recovers the device and posts an arrival.
  mutable platform::Mutex callbackLock_;
  platform::CondVar deliveriesEnded_;
  Installed installed_ GUARDED_BY(callbackLock_);
  unsigned deliveries_ GUARDED_BY(callbackLock_) = 0;  // callbacks running now

  std::atomic<unsigned> arrivals_{0};
  std::atomic<unsigned> removals_{0};
};

}  // namespace vrn
