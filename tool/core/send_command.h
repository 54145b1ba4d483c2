// SendCommand: the tool's single way to the device. The USB link of the transport library when
// it reports a device, else the serial link engine on a COM port. Both links fail a command
// whose status byte 0 carries the device's error flag 0x20.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/link.h"
#include "platform/mutex.h"

namespace tillwright {

// What the serial engine's generic command hands back.
struct SerialCommandResult {
  int32_t code = 0;     // 0 or 10001..10006
  std::string reply;    // reply data when code is 0
  std::string status;   // twelve hex digits, two per status byte with bit 7 cleared
  std::string error;    // the engine's text for `code`
};

// The three ways out of the process, replaceable so that the decisions can be tested alone.
struct LinkBackends {
  std::function<int()> testConnection;
  // vrn_request's shape: reply of at least 256 bytes, status of 6.
  std::function<int(uint16_t code, const char *data, char *reply, uint8_t *status)> request;
  std::function<SerialCommandResult(uint16_t code, std::string_view data)> serialCommand;
};

// vrn_test_connection, vrn_request and the serial engine's tool flavour.
LinkBackends RealBackends();

// 0 success, 1 failure. On a transport failure `reply` is left as it was.
int UsbRequest(const LinkBackends &backends, uint16_t code, const std::string &data, std::string &reply);

// 0 success, 1 failure; see ILink::SendCommand. `lastStatus` is refreshed by commands that went
// over the serial link and carried a status.
int SendCommand(const LinkBackends &backends, std::string &reply, std::string &data, uint16_t code,
                std::string &lastStatus);

// The link of the running program: the transport library and the serial link engine (whose
// tool flavour it selects when constructed).
class RealLink final : public ILink {
 public:
  RealLink();
  explicit RealLink(LinkBackends backends) : backends_(std::move(backends)) {}

  int TestConnection() override;
  int SendCommand(std::string &reply, std::string &data, uint16_t code) override;
  int SerialConnect(const std::string &port, uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                    uint16_t stopBits) override;
  int SerialSetWindow(int32_t window) override;
  void SerialDisconnect() override;
  std::string LastStatus() const override;
  void ClearLastStatus() override;

 private:
  const LinkBackends backends_;
  mutable platform::Mutex mutex_;
  std::string lastStatus_ GUARDED_BY(mutex_);
};

}  // namespace tillwright
