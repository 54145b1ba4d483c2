// The five C exports: thin wrappers that let no exception cross into the caller, and that trace
// each call with its arguments and result when tracing is on.
#include <cstring>
#include <string>

#include "api/module.h"
#include "platform/trace.h"
#include "protocol/vrn_protocol.h"
#include "vrn_interface.h"

using vrn::CDllApp;
using vrn::iCOMDriver;

namespace {

// The data of a request as a trace shows it: passwords never in clear.
std::string TraceData(uint16_t command, const char *data) {
  if (data != nullptr && platform::CommandCarriesSecret(command)) {
    return "[" + std::to_string(std::strlen(data)) + " bytes masked]";
  }
  return platform::TraceText(data);
}

}  // namespace

extern "C" {

VRN_API bool vrn_init(const char *comPort) {
  bool result = false;
  try {
    if (platform::TraceEnabled()) platform::Trace("vrn_init(%s)", platform::TraceText(comPort).c_str());
    result = CDllApp::Instance().Init(comPort);
  } catch (...) {
    result = false;
  }
  platform::Trace("vrn_init returned %s", result ? "true" : "false");
  return result;
}

VRN_API void vrn_dispose(void) {
  platform::Trace("vrn_dispose()");
  try {
    CDllApp::Instance().Dispose();
  } catch (...) {
  }
  platform::Trace("vrn_dispose returned");
}

VRN_API int vrn_test_connection(void) {
  platform::Trace("vrn_test_connection()");
  int result = 0;
  try {
    result = CDllApp::Instance().WithDriver([](iCOMDriver *driver) {
      if (driver == nullptr) return 0;
      if (driver->IsAttached()) return 1;
      const vrn::cVRNProtocol *protocol = driver->Protocol();
      return protocol != nullptr && protocol->IsComOpen() ? 1 : 0;
    });
  } catch (...) {
    result = 0;
  }
  platform::Trace("vrn_test_connection returned %d", result);
  return result;
}

VRN_API int vrn_request(uint16_t command, const char *data, char *reply, uint8_t *status) {
  int result = -1;
  try {
    if (platform::TraceEnabled()) {
      platform::Trace("vrn_request(0x%04X, %s, %p, %p)", command, TraceData(command, data).c_str(),
                      static_cast<void *>(reply), static_cast<void *>(status));
    }
    if (reply != nullptr && status != nullptr) {
      result = CDllApp::Instance().WithDriver([&](iCOMDriver *driver) {
        if (driver == nullptr) return -1;
        vrn::cVRNProtocol *protocol = driver->Protocol();
        if (protocol == nullptr) return -1;
        vrn::ReplyRecord record;
        if (protocol->Request(command, data, reinterpret_cast<uint8_t *>(&record)) != 0) return -1;
        // A bounded copy, zero-padded: exactly VRN_REPLY_SIZE bytes are written.
        const size_t length = strnlen(record.text.data(), VRN_REPLY_SIZE);
        std::memcpy(reply, record.text.data(), length);
        std::memset(reply + length, 0, VRN_REPLY_SIZE - length);
        std::memcpy(status, record.status.data(), VRN_STATUS_SIZE);
        return 0;
      });
    }
  } catch (...) {
    result = -1;
  }
  if (result != 0 && reply != nullptr) reply[0] = '\0';
  platform::Trace("vrn_request returned %d", result);
  return result;
}

VRN_API void vrn_set_serial_id(int32_t vendorId, int32_t productId) {
  platform::Trace("vrn_set_serial_id(%d, %d)", static_cast<int>(vendorId), static_cast<int>(productId));
  try {
    CDllApp::Instance().SetSerialIdentity(vendorId, productId);
    platform::Trace("VRN Serial device added %04X : %04X", static_cast<unsigned>(vendorId),
                    static_cast<unsigned>(productId));
  } catch (...) {
  }
  platform::Trace("vrn_set_serial_id returned");
}

}  // extern "C"
