// A serial port opened exclusively and used in raw mode: no echo, no line editing, no flow
// control, bytes passed through unchanged. Reads never block; WaitReadable blocks until input
// arrives, the time-out runs out, or Close() is called from another thread, which ends every
// wait and write in progress at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event.h"

namespace platform {

struct LineSettings {
  uint32_t baudRate = 115200;
  uint16_t dataBits = 8;  // 5..8
  uint16_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint16_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
};

// Driver time-outs in milliseconds, with the meaning Windows gives them: a read ends when
// `readInterval` passes between two bytes or `readTotalMultiplier` * count + `readTotalConstant`
// has passed in all (readInterval = kNoReadInterval with both others 0: return at once); a write
// ends after `writeTotalMultiplier` * count + `writeTotalConstant`. 0 turns a time-out off.
struct PortTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
};
inline constexpr uint32_t kNoReadInterval = 0xFFFFFFFFu;

enum class WaitResult {
  Readable,  // bytes are waiting
  TimedOut,
  Closed,  // the port is not open, or Close() was called during the wait
  Failed,  // the device is gone (hang-up) or the system reported an error
};

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();  // closes
  SerialPort(const SerialPort &) = delete;
  SerialPort &operator=(const SerialPort &) = delete;

  // Opens the port named as ResolvePortName() describes, for reading and writing, exclusively:
  // a second open of the same device, from this process or another, is refused (EBUSY; on
  // Windows ERROR_ACCESS_DENIED). Puts the line into raw mode at once. Returns 0 or the system's
  // error code (ENOENT, on Windows ERROR_FILE_NOT_FOUND, for a port that does not exist). Fails
  // with EISCONN (ERROR_ALREADY_INITIALIZED) when this object is already open, and with EACCES,
  // traced with the reason, for a COMn whose alias directory is not private (nothing is opened).
  int Open(std::string_view name);

  // Applies baud rate, data bits, parity (with input parity checking) and stop bits; raw mode,
  // receiver on, modem lines ignored, no hardware or software flow control. Returns 0, EINVAL
  // (ERROR_INVALID_PARAMETER) for values out of range or a baud rate the system cannot set, or
  // the system's error code.
  // Linux has no 1.5 stop bits: code 1 sets two, as the UARTs do for 6 to 8 data bits.
  int Configure(const LineSettings &settings);

  // The driver's time-outs for reads and writes, and the sizes of its input and output queues.
  // Both matter on Windows only; on Linux they return 0 and do nothing, because the kernel sizes
  // its tty queues itself, Read never blocks there and Write carries its own time-out.
  int SetTimeouts(const PortTimeouts &timeouts);
  int SetQueueSizes(uint32_t input, uint32_t output);

  bool IsOpen() const;
  // The resolved path of the open port ("" when closed).
  std::string Path() const;

  // Modem control lines. Pseudo-terminals have none: the call then fails harmlessly.
  int SetDtr(bool on);
  int SetRts(bool on);

  // Discards both the received bytes not yet read and the bytes not yet sent.
  int Purge();

  // Writes all bytes, waiting for room while the driver's queue is full. Returns the count
  // written: less than `size` when the time-out ran out, the port failed or was closed.
  size_t Write(const void *data, size_t size, Millis timeout = kInfinite);

  // Takes up to `capacity` waiting bytes without blocking: the count, 0 when none are waiting,
  // -1 when the port is closed or the device is gone.
  ptrdiff_t Read(void *buffer, size_t capacity);

  // Bytes waiting to be read.
  size_t Available() const;

  WaitResult WaitReadable(Millis timeout);

  // Closes the port; safe while other threads wait, read or write on it: they return at once
  // and the descriptor is released after they have left. Idempotent.
  void Close();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
