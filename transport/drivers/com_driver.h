// The link a cVRNProtocol talks through when it does not use its own COM port: a USB driver.
#pragma once

#include <cstddef>

namespace vrn {

class cVRNProtocol;

// Slot order is kept as the drivers' callers know it.
class iCOMDriver {
 public:
  // Shuts the driver down (Shutdown) in the implementations.
  virtual ~iCOMDriver();

  // The underlying library was initialised and the device notifications are installed.
  virtual bool IsInitialised() = 0;
  // A device is open.
  virtual bool IsAttached() = 0;
  // Creates the protocol object if there is none and starts it with the COM port (may be null
  // or empty), then attaches a device already present. True when the protocol started and a
  // USB device or the protocol's COM port is open.
  virtual bool Open(const char *comPort) = 0;
  virtual void Close() = 0;
  virtual void Shutdown() = 0;
  // Bytes written to the device.
  virtual int Write(const void *buffer, size_t length) = 0;
  // Bytes read from the device, 0 when nothing came. May wait briefly for the first byte.
  virtual int Read(void *buffer, size_t maximum) = 0;
  virtual int LastWriteResult() = 0;
  virtual int LastReadResult() = 0;
  // Recovers the link: re-opens the protocol's COM port when it uses one, else resets the
  // device, restarting it fully when `full` is set or the plain reset fails. True when a device
  // is open again.
  virtual bool Reset(bool full) = 0;
  // Null before the first Open.
  virtual cVRNProtocol *Protocol() = 0;
  // Ends what is in flight at once, without waiting for any lock: the protocol's request
  // (Cancel), transfers and recoveries. The driver is about to be shut down.
  virtual void Cancel() = 0;
};

}  // namespace vrn
