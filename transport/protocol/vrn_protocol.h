// One command to the fiscal device: frame it, send it, wait for the framed reply, check it and
// hand back its text and six status bytes. A receive thread assembles reply frames from
// whatever the link delivers: the driver (USB) or, while it is open, the COM port of the
// contained CRSComSupp.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "drivers/com_driver.h"
#include "drivers/rs_com_supp.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "protocol/frame.h"

namespace vrn {

class CDllApp;
class cComPortDriver;
class cLIBUSBDriver;
class cVRNWDUDriver;

class cVRNProtocol {
 public:
  static constexpr platform::Millis kUsbWaitLimit{3000};
  static constexpr platform::Millis kComWaitLimit{4000};
  // Refusals and time-outs each end a request after five transmissions in a row; a device that
  // alternates them would reset both counts for ever, so a request goes out at most this often
  // in all. Busy bytes send nothing and may still keep a request waiting.
  static constexpr int kMaxTransmissions = 10;
  // Without input for this long, and with no request waiting, the receive thread stops reading
  // until the next transmission.
  static constexpr platform::Millis kIdleDisarm{600};
  static constexpr platform::Millis kAbsentDisarm{4000};
  // The line of a COM port named at Start: 115200 baud, 8 data bits, no parity, one stop bit.
  static constexpr platform::LineSettings kComLine{115200, 8, 0, 0};

  // The driver is not owned and may be null: then only the COM port can carry requests.
  explicit cVRNProtocol(iCOMDriver *driver);
  virtual ~cVRNProtocol();
  cVRNProtocol(const cVRNProtocol &) = delete;
  cVRNProtocol &operator=(const cVRNProtocol &) = delete;

  // Starts the receive thread unless it runs already; with a non-empty port name then (re)opens
  // that COM port with kComLine. True when the thread runs and, if a port was named, it opened.
  bool Start(const char *comPort) EXCLUDES(requestLock_);
  // Ends the receive thread (joined) and closes the COM port; the port is not re-opened by
  // later requests.
  void Stop() EXCLUDES(requestLock_);
  // The first, lock-free step of Stop: the request in flight ends at once with -1 and new ones
  // fail until the next Start. For a caller that cannot wait for the request lock.
  void Cancel();

  // `reply` receives kReplyRecordSize (262) bytes: the reply text zero-padded to 256 bytes,
  // then the six status bytes. Only the low byte of `command` is sent; `data` may be null.
  // 0 on success, -1 on any failure. A COM port that hung up, or that a failed recovery left
  // closed, is opened again once before the frame is sent; when it is not there the request
  // fails at once.
  int Request(uint16_t command, const char *data, uint8_t *reply) EXCLUDES(requestLock_);

  CRSComSupp &ComSupp() { return com_; }
  bool IsComOpen() const { return com_.IsOpen(); }
  bool IsRunning() const { return running_.load(); }
  // Ends the wait of a request in flight; the drivers signal it when they close the device.
  void SignalAbort() { abort_.Set(); }

 private:
  // The lock order below names these classes' locks.
  friend class CDllApp;
  friend class cComPortDriver;
  friend class cUSBDriver;
  friend class cLIBUSBDriver;
  friend class cVRNWDUDriver;

  void StopLocked() REQUIRES(requestLock_);
  int SendFrame(uint16_t command, const char *data, uint8_t *reply) REQUIRES(requestLock_) EXCLUDES(recordLock_);
  int Exchange(uint16_t command, const char *data, uint8_t *reply) REQUIRES(requestLock_) EXCLUDES(recordLock_);
  // Brings back a COM port that hung up or was left closed; false when there is none to use.
  bool RecoverComPort() REQUIRES(requestLock_);
  bool LinkAttached();
  bool ResetLink(bool full) REQUIRES(requestLock_);
  void ReceiveThread() EXCLUDES(recordLock_);
  void Scan(const uint8_t *bytes, size_t count, size_t &frameLen) EXCLUDES(recordLock_);
  // True when the frame ended the exchange (the rest of the chunk is then dropped).
  bool CompleteFrame(size_t frameLen) EXCLUDES(recordLock_);
  void Arm() EXCLUDES(recordLock_);

  CRSComSupp com_;
  iCOMDriver *const driver_;

  // Held for a whole exchange, so requests of several threads are served one after the other;
  // also guards Start's setup. Lock order of the transport library:
  //   CDllApp::lifeLock_ (shared by every export call, exclusive while drivers are made or
  //   deleted) -> requestLock_ -> a driver's driver lock -> its record lock -> its transfer
  //   locks; recordLock_ and CRSComSupp's state lock are taken under any of them and take
  //   nothing. The notification manager calls its callbacks with none of its own locks held,
  //   so a callback may take any lock of this order from the top.
  // Each lock carries its place in this order (ACQUIRED_BEFORE/AFTER) where it is declared.
  platform::Mutex requestLock_ ACQUIRED_BEFORE(CRSComSupp::stateLock_);

  // Makes "clear the record and reset the events" (SendFrame) and "parse a reply and signal it"
  // (receive thread) exclusive, so that a reply parsed against an older sequence byte can never
  // be signalled into a newer exchange.
  platform::Mutex recordLock_ ACQUIRED_AFTER(requestLock_);
  ReplyRecord record_ GUARDED_BY(recordLock_);
  uint32_t armCount_ GUARDED_BY(recordLock_) = 0;  // how often SendFrame armed the receiver

  std::array<uint8_t, ByteRing::kSize> chunk_{};  // receive thread only
  FrameBuffer frame_{};                           // receive thread only

  std::atomic<uint8_t> seq_{0};  // advanced under requestLock_, compared by the receive thread
  std::atomic<bool> running_{false};      // the receive thread is in its loop
  std::atomic<bool> stopping_{false};     // Stop or Cancel has begun: the thread leaves, requests end
  std::atomic<bool> waiting_{false};      // a request is in its exchange: the receiver stays armed
  std::thread thread_ GUARDED_BY(requestLock_);

  // All manual-reset; they live as long as the object.
  platform::Event replyReady_{platform::Event::Mode::Manual};
  platform::Event busy_{platform::Event::Mode::Manual};
  platform::Event receiveArmed_{platform::Event::Mode::Manual};  // the receive thread's gate
  platform::Event retransmit_{platform::Event::Mode::Manual};
  platform::Event abort_{platform::Event::Mode::Manual};
  // The COM port hung up and every byte it delivered before has been scanned: a request waiting
  // for a reply need not wait out its limit. Cleared by each transmission.
  platform::Event comGone_{platform::Event::Mode::Manual};
  platform::Event threadStarted_{platform::Event::Mode::Manual};
};

}  // namespace vrn
