// A device that presents a COM port: the port, a receive thread that moves every received byte
// into a 1024-byte ring, and closing or re-opening the port on request. Each cVRNProtocol holds
// one; while its port is open the protocol writes to the port and reads the ring.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "drivers/byte_ring.h"
#include "platform/event.h"
#include "platform/serial_port.h"

namespace vrn {

class CRSComSupp {
 public:
  // OpenCom's own error codes; any other non-zero result is the system's error code.
  static constexpr int kBadSettings = 13;
  static constexpr int kCannotGetState = 2;
  static constexpr int kCannotSetState = 3;
  static constexpr int kCannotStartThread = 1054;

  CRSComSupp();
  virtual ~CRSComSupp();
  CRSComSupp(const CRSComSupp &) = delete;
  CRSComSupp &operator=(const CRSComSupp &) = delete;

  // Port name as platform::ResolvePortName takes it ("COM7", "/dev/ttyUSB0"). Parity code:
  // 0 none, 1 odd, 2 even, 3 mark, 4 space; stop-bits code: 0 one, 1 one and a half, 2 two.
  // Returns 0 (also when the port is open already: nothing changes) or an error code; every
  // failure leaves the port closed.
  int OpenCom(const char *port, uint32_t baudRate, uint16_t dataBits, uint16_t parity, uint16_t stopBits);
  void CloseCom();
  // Closes and opens the port with the settings of the last successful OpenCom; false without one.
  bool ReopenCom();

  // Moves every byte waiting in the ring into `buffer` (room for 1024 bytes), oldest first.
  // Only the protocol's receive thread calls it.
  size_t TakeReceived(uint8_t *buffer);
  // Ends early when bytes are put into the ring; true when that happened.
  bool WaitReceived(platform::Millis timeout);
  size_t Pending() const { return ring_.Pending(); }

  bool IsOpen() const { return open_.load(std::memory_order_acquire); }
  // Writes the whole frame; the count written (short when the port failed or stayed full).
  size_t Write(const uint8_t *data, size_t size);

  int LastReadError() const { return lastReadError_.load(); }

 private:
  void ReceiveThread(std::string name);

  // Serialises OpenCom, CloseCom and ReopenCom, which the protocol, the drivers' reset and the
  // device removal may call from different threads; guards thread_, name_ and settings_.
  mutable std::recursive_mutex stateLock_;
  std::atomic<bool> open_{false};           // the port is open and the receive thread should run
  std::thread thread_;
  platform::SerialPort port_;  // safe to use from several threads; Close() ends waits at once
  std::atomic<int> lastReadError_{0};
  platform::Event received_{platform::Event::Mode::Auto};
  ByteRing ring_;
  std::string name_;  // of the last successful open, at most 63 characters
  platform::LineSettings settings_;
};

}  // namespace vrn
