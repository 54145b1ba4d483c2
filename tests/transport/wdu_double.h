// A scripted kernel-mode USB driver library in place of wdu_api_absent.cpp, linked only into
// tests. Devices are plugged and unplugged by the test; the library attaches and detaches them
// on a thread of its own, as a real one does, and moves the bytes of their pipes to and from a
// simulator. Faults of transfers, resets and interface selection are scripted per device.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "drivers/wdu_api.h"
#include "fiscalsim/device_link.h"

namespace wdu_double {

// A failure the double gives where a device is gone, and one for a scripted fault.
inline constexpr uint32_t kNoDevice = 0x201;
inline constexpr uint32_t kFailed = 0x202;

struct AltSetting {
  uint8_t interfaceNumber = 0;
  uint8_t alternateSetting = 0;
  std::vector<WduEndpoint> endpoints;
};

struct Interface {
  std::vector<AltSetting> settings;
  size_t active = 0;  // index into settings
};

// The fiscal device as a CDC device: interface 0 with its interrupt IN endpoint, interface 1
// with bulk OUT 0x03 and bulk IN 0x81.
std::vector<Interface> CdcInterfaces(uint16_t inPacketSize = 64, uint16_t outPacketSize = 64);

struct DeviceLayout {
  uint16_t vendorId = 0x0483;
  uint16_t productId = 0x5740;
  std::vector<Interface> interfaces = CdcInterfaces();
};

struct TransferCall {
  uint32_t pipe = 0;
  bool read = false;
  uint32_t options = 0;
  uint32_t length = 0;
  uint32_t timeoutMs = 0;
  bool withSetup = false;
};

struct LinkState;

class Device {
 public:
  explicit Device(DeviceLayout layout = {});
  ~Device();
  Device(const Device &) = delete;
  Device &operator=(const Device &) = delete;

  // The device's end of its pipes, for a fiscalsim::Simulator; taken once.
  std::unique_ptr<fiscalsim::DeviceLink> TakeLink();
  const DeviceLayout &Layout() const { return layout_; }

  // The next n transfers of that direction fail (a stalled pipe).
  void FailNextOut(int n);
  void FailNextIn(int n);
  void FailHardResets(int n);
  void FailPortCycles(int n);
  // WDU_SetInterface refuses this interface number.
  void RefuseInterface(int interfaceNumber);

  std::vector<TransferCall> Transfers() const;
  // Lengths of the OUT transfers that the device took.
  std::vector<uint32_t> OutPieces() const;
  unsigned PipeResets(uint32_t pipe) const;
  // The options of every WDU_ResetDevice, in order.
  std::vector<uint32_t> DeviceResets() const;
  std::vector<std::pair<uint32_t, uint32_t>> InterfaceSelections() const;
  unsigned Attaches() const;  // attach callbacks made for this device

 private:
  friend class Library;
  const DeviceLayout layout_;
  std::shared_ptr<LinkState> link_;
  std::unique_ptr<fiscalsim::DeviceLink> deviceEnd_;
};

class Library {
 public:
  static Library &Instance();

  // Back to a present kernel driver, a successful WDU_Init and no devices; no library may run.
  void Clear();
  void SetKernelDriverPresent(bool present);
  void SetInitResult(uint32_t result);

  // Present from now on: attached by a running library on its thread, and by every later
  // WDU_Init.
  void Plug(const std::shared_ptr<Device> &device);
  // Gone now: its transfers fail at once, and its detach follows on the library's thread.
  void Unplug(const std::shared_ptr<Device> &device);
  // Waits (at most 5 s) until the library's thread has delivered every event so far.
  bool WaitIdle();

  unsigned Inits() const;
  unsigned Uninits() const;
  bool Running() const;
  WduMatch LastMatch() const;
  uint32_t LastMatchCount() const;
  uint32_t LastOptions() const;
  // What the attach callbacks answered, in order.
  std::vector<bool> AttachAnswers() const;

  // The functions of wdu_api.h.
  bool DriverName(const char *name);
  uint32_t Init(WduLibrary **library, const WduMatch *matches, uint32_t matchCount, const WduEventTable *events,
                uint32_t options);
  void Uninit(WduLibrary *library);
  uint32_t Transfer(WduDevice *handle, uint32_t pipe, bool read, uint32_t options, void *buffer, uint32_t length,
                    uint32_t *moved, const uint8_t *setup, uint32_t timeoutMs);
  uint32_t ResetPipe(WduDevice *handle, uint32_t pipe);
  uint32_t ResetDevice(WduDevice *handle, uint32_t options);
  uint32_t SetInterface(WduDevice *handle, uint32_t interfaceNumber, uint32_t alternateSetting);
  uint32_t GetDeviceAddr(WduDevice *handle, uint32_t *address);

 private:
  struct Attachment;
  struct Event {
    bool attach = true;
    std::shared_ptr<Device> device;
    Attachment *attachment = nullptr;  // of a detach; null: the device's current one
  };
  void Run();
  bool Matches(const Device &device) const;  // under mutex_
  void Deliver(const Event &event);
  Attachment *Live(WduDevice *handle);

  // Lock order: mutex_, then a device's link lock.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool driverPresent_ = true;
  uint32_t initResult_ = kWduSuccess;
  unsigned inits_ = 0;
  unsigned uninits_ = 0;
  WduMatch match_{};
  uint32_t matchCount_ = 0;
  uint32_t options_ = 0;
  WduEventTable events_{};
  bool running_ = false;
  bool stopping_ = false;
  bool delivering_ = false;
  std::thread thread_;
  std::deque<Event> queue_;
  std::vector<std::shared_ptr<Device>> plugged_;
  // Handles stay valid for the whole run: a driver may still hold one it was told is gone.
  std::vector<std::unique_ptr<Attachment>> attachments_;
  std::map<const Device *, Attachment *> current_;  // the accepted attachment of a device
  std::vector<bool> answers_;
};

}  // namespace wdu_double
