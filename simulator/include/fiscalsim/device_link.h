// The device's end of whatever carries the bytes: a pseudo-terminal, an in-process pipe, later
// an emulated USB device. Only the serving thread reads, writes and closes; Wake() may come from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fiscalsim {

class DeviceLink {
 public:
  enum class WaitResult { Readable, Woken, Closed };

  virtual ~DeviceLink() = default;

  // What a host opens to reach the device (the pty's slave path), or a label.
  virtual std::string Name() const = 0;

  // Blocks, without time limit, until bytes wait, Wake() was called (and is consumed here), or
  // the link is closed.
  virtual WaitResult Wait() = 0;

  // Takes up to `capacity` waiting bytes without blocking: the count, 0 when none wait, -1 when
  // the link is closed.
  virtual ptrdiff_t Read(uint8_t *buffer, size_t capacity) = 0;

  // Sends every byte, waiting for room. False when the link is closed or a Wake() came first;
  // the wake is left for the next Wait().
  virtual bool Write(std::span<const uint8_t> bytes) = 0;

  virtual void Wake() = 0;

  // The device vanishes: the host sees its port fail. Idempotent.
  virtual void Close() = 0;

  // After Close(), the device appears again: a serial port is opened again, a pseudo-terminal
  // is made anew under another path (Name() then tells it). False when the link cannot come
  // back; it stays closed.
  virtual bool Reopen() { return false; }
};

}  // namespace fiscalsim
