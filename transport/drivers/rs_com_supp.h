// A device that presents a COM port: the port, a receive thread that moves every received byte
// into a 1024-byte ring, and closing or re-opening the port on request. Each cVRNProtocol holds
// one; while its port is open the protocol writes to the port and reads the ring.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <thread>

#include "drivers/byte_ring.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/serial_port.h"

namespace vrn {

class cVRNProtocol;
struct UsbDeviceState;

class CRSComSupp {
 public:
  // OpenCom's own error codes; any other non-zero result is the system's error code. The two
  // can be the same number (on Linux EACCES is 13, ESRCH 3): LastOpenResult tells them apart.
  static constexpr int kBadSettings = 13;
  static constexpr int kCannotSetState = 3;
  static constexpr int kCannotStartThread = 1054;

  // The driver's queues and time-outs of an open port (read interval, read total per byte and
  // constant, write total per byte and constant, in ms).
  static constexpr uint32_t kQueueSize = 4096;
  static constexpr platform::PortTimeouts kTimeouts{1000, 1, 1000, 2, 1000};

  enum class OpenFailure { None, BadSettings, CannotOpen, CannotSetState, CannotStartThread };
  struct OpenResult {
    OpenFailure failure = OpenFailure::None;
    // What the system reported, in its own category (errno; on Windows GetLastError()), for
    // CannotOpen and CannotSetState; empty otherwise.
    std::error_code system;
  };

  CRSComSupp();
  virtual ~CRSComSupp();
  CRSComSupp(const CRSComSupp &) = delete;
  CRSComSupp &operator=(const CRSComSupp &) = delete;

  // Port name as platform::ResolvePortName takes it ("COM7", "/dev/ttyUSB0"). Parity code:
  // 0 none, 1 odd, 2 even, 3 mark, 4 space; stop-bits code: 0 one, 1 one and a half, 2 two.
  // Returns 0 (also when the port is open already: nothing changes) or an error code; every
  // failure leaves the port closed.
  int OpenCom(const char *port, uint32_t baudRate, uint16_t dataBits, uint16_t parity, uint16_t stopBits)
      EXCLUDES(stateLock_);
  void CloseCom() EXCLUDES(stateLock_);
  // Closes and opens the port with the settings of the last successful OpenCom; false without one.
  bool ReopenCom() EXCLUDES(stateLock_);
  // Whether ReopenCom has a port to open: one opened successfully and not forgotten since.
  bool CanReopen() const EXCLUDES(stateLock_);
  // Drops the remembered port: a protocol that stops is done with it.
  void Forget() EXCLUDES(stateLock_);
  // The name of the last successful open, whole (device paths such as /dev/serial/by-id/...
  // are often longer than 63 characters).
  std::string PortName() const EXCLUDES(stateLock_);
  // How the last OpenCom or ReopenCom ended.
  OpenResult LastOpenResult() const EXCLUDES(stateLock_);

  // Moves every byte waiting in the ring into `buffer` (room for 1024 bytes), oldest first.
  // Only the protocol's receive thread calls it.
  size_t TakeReceived(uint8_t *buffer);
  // Ends early when bytes are put into the ring; true when that happened.
  bool WaitReceived(platform::Millis timeout);
  size_t Pending() const { return ring_.Pending(); }

  bool IsOpen() const { return open_.load(std::memory_order_acquire); }
  // The device behind the open port went away (hang-up or read error): nothing more can come
  // from it until the port is opened again.
  bool HungUp() const { return hungUp_.load(std::memory_order_acquire); }
  // Writes the whole frame; the count written (short when the port failed or stayed full).
  size_t Write(const uint8_t *data, size_t size);

 private:
  // The locks of the transport library's order name stateLock_ in their annotations.
  friend class cVRNProtocol;
  friend struct UsbDeviceState;

  OpenResult OpenComLocked(const char *port, uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                           uint16_t stopBits) REQUIRES(stateLock_);
  // The one place where an open's outcome becomes OpenCom's number.
  static int ResultCode(const OpenResult &result);
  void CloseComLocked() REQUIRES(stateLock_);
  void ReceiveThread(std::string name);

  // Serialises OpenCom, CloseCom and ReopenCom, which the protocol, the drivers' reset and the
  // device removal may call from different threads. Last in the transport library's lock order
  // (see cVRNProtocol::requestLock_): it is taken under the others and takes none of them.
  mutable platform::Mutex stateLock_;
  std::atomic<bool> open_{false};           // the port is open and the receive thread should run
  std::atomic<bool> hungUp_{false};         // set by the receive thread, cleared by OpenCom
  std::thread thread_ GUARDED_BY(stateLock_);
  platform::SerialPort port_;  // safe to use from several threads; Close() ends waits at once
  platform::Event received_{platform::Event::Mode::Auto};
  ByteRing ring_;
  std::string name_ GUARDED_BY(stateLock_);  // of the last successful open; empty: none to re-open
  platform::LineSettings settings_ GUARDED_BY(stateLock_);
  OpenResult lastOpen_ GUARDED_BY(stateLock_);
};

}  // namespace vrn
