// An in-process link: two byte queues under one mutex. The host end is what a test driver (a
// stand-in for a USB driver) talks to; the device end goes to the simulator.
#pragma once

#include <chrono>
#include <memory>
#include <span>

#include "fiscalsim/device_link.h"

namespace fiscalsim {

struct PipeState;

// A handle: copies share the one pipe. Closing either end closes the pipe.
class BytePipeHost {
 public:
  explicit BytePipeHost(std::shared_ptr<PipeState> state);

  // False when the pipe is closed.
  bool Write(std::span<const uint8_t> bytes);

  // Takes up to `capacity` bytes, waiting up to `timeout` for the first (Millis::max() waits
  // without limit): the count, 0 when the time-out ran out, -1 once the pipe is closed.
  ptrdiff_t Read(uint8_t *buffer, size_t capacity, std::chrono::milliseconds timeout);

  void Close();

 private:
  std::shared_ptr<PipeState> state_;
};

struct BytePipe {
  BytePipeHost host;
  std::unique_ptr<DeviceLink> device;
};

BytePipe MakeBytePipe();

}  // namespace fiscalsim
