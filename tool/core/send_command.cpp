#include "core/send_command.h"

#include <cstring>

#include "core/messages.h"
#include "seriallink/link.h"
#include "seriallink/settings.h"
#include "vrn_interface.h"

namespace tillwright {

namespace {

// The device's error flag, in status byte 0.
constexpr uint8_t kErrorFlag = 0x20;

// Status byte 0 is the first two digits of the status text; the flag lies in the first.
bool StatusTextHasErrorFlag(const std::string &status) {
  if (status.empty()) return false;
  const char c = status[0];
  int nibble = 0;
  if (c >= '0' && c <= '9') nibble = c - '0';
  else if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
  else if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
  return ((nibble << 4) & kErrorFlag) != 0;
}

}  // namespace

LinkBackends RealBackends() {
  LinkBackends b;
  b.testConnection = [] { return vrn_test_connection(); };
  b.request = [](uint16_t code, const char *data, char *reply, uint8_t *status) {
    return vrn_request(code, data, reply, status);
  };
  b.serialCommand = [](uint16_t code, std::string_view data) {
    seriallink::CommandResult r = seriallink::Command(code, data);
    return SerialCommandResult{r.code, std::move(r.reply), std::move(r.status), std::move(r.error)};
  };
  return b;
}

int UsbRequest(const LinkBackends &backends, uint16_t code, const std::string &data, std::string &reply) {
  char buffer[VRN_REPLY_SIZE] = {};
  uint8_t status[VRN_STATUS_SIZE] = {};
  if (backends.request(code, data.c_str(), buffer, status) != 0) return 1;
  // A full 256-byte reply carries no terminator: never read past the buffer.
  reply.assign(buffer, strnlen(buffer, sizeof buffer));
  return (status[0] & kErrorFlag) != 0 ? 1 : 0;
}

int SendCommand(const LinkBackends &backends, std::string &reply, std::string &data, uint16_t code,
                std::string &lastStatus) {
  if (backends.testConnection() != 0) {
    if (UsbRequest(backends, code, data, reply) != 0) {
      reply = msg::kError;
      return 1;
    }
    return 0;
  }
  SerialCommandResult r = backends.serialCommand(code, data);
  if (r.code != 0) {
    reply = msg::kConnectionError;
    data = r.error;
    return 1;
  }
  reply = std::move(r.reply);
  lastStatus = r.status;
  if (StatusTextHasErrorFlag(r.status)) {
    reply = msg::kError;
    return 1;
  }
  return 0;
}

RealLink::RealLink() : backends_(RealBackends()) { seriallink::SetFlavour(seriallink::Flavour::Tool()); }

int RealLink::TestConnection() { return backends_.testConnection(); }

int RealLink::SendCommand(std::string &reply, std::string &data, uint16_t code) {
  std::string status;
  {
    platform::MutexLock lock(mutex_);
    status = lastStatus_;
  }
  const int result = tillwright::SendCommand(backends_, reply, data, code, status);
  platform::MutexLock lock(mutex_);
  lastStatus_ = std::move(status);
  return result;
}

int RealLink::SerialConnect(const std::string &port, uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                            uint16_t stopBits) {
  return seriallink::Connect(port, baudRate, dataBits, parity, stopBits);
}

int RealLink::SerialSetWindow(int32_t window) { return seriallink::SetHwnd4Message(window); }

void RealLink::SerialDisconnect() { seriallink::Disconnect(); }

std::string RealLink::LastStatus() const {
  platform::MutexLock lock(mutex_);
  return lastStatus_;
}

void RealLink::ClearLastStatus() {
  platform::MutexLock lock(mutex_);
  lastStatus_.clear();
}

}  // namespace tillwright
