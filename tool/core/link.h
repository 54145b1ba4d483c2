// The device as the dialogs see it: one command at a time through SendCommand, plus the few
// serial-port operations of the main dialog's port scan. Production uses RealLink (send_command.h);
// tests pass a recording or scripted link.
#pragma once

#include <cstdint>
#include <string>

namespace tillwright {

class ILink {
 public:
  virtual ~ILink() = default;

  // 1 while a USB device is reachable, else 0. Called by the connection monitor thread, so an
  // implementation must allow it concurrently with the other calls.
  virtual int TestConnection() = 0;

  // 0 success, 1 failure. `reply` receives the device's answer, "Error" or "Connection Error";
  // on a serial link failure `data` is replaced by the engine's error text. Bytes, not text:
  // data goes to the device as it is. One thread at a time: the user-interface thread, or a
  // worker while the user-interface thread waits for it and sends nothing (the port scan); the
  // same holds for the serial calls below.
  virtual int SendCommand(std::string &reply, std::string &data, uint16_t code) = 0;

  // The serial link engine's connection: 0 on success.
  virtual int SerialConnect(const std::string &port, uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                            uint16_t stopBits) = 0;
  virtual int SerialSetWindow(int32_t window) = 0;
  virtual void SerialDisconnect() = 0;

  // The status text of the last command that went over the serial link; empty before one did.
  virtual std::string LastStatus() const = 0;
  // Forgets it (the logo transfer starts without one). A link without a status has none to
  // forget.
  virtual void ClearLastStatus() {}
};

}  // namespace tillwright
