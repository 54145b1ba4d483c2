// The five C exports: thin wrappers that let no exception cross into the caller.
#include <cstring>

#include "api/module.h"
#include "platform/trace.h"
#include "protocol/vrn_protocol.h"
#include "vrn_interface.h"

using vrn::CDllApp;
using vrn::iCOMDriver;

extern "C" {

VRN_API bool vrn_init(const char *comPort) {
  try {
    return CDllApp::Instance().Init(comPort);
  } catch (...) {
    return false;
  }
}

VRN_API void vrn_dispose(void) {
  try {
    CDllApp::Instance().Dispose();
  } catch (...) {
  }
}

VRN_API int vrn_test_connection(void) {
  try {
    return CDllApp::Instance().WithDriver([](iCOMDriver *driver) {
      if (driver == nullptr) return 0;
      if (driver->IsAttached()) return 1;
      const vrn::cVRNProtocol *protocol = driver->Protocol();
      return protocol != nullptr && protocol->IsComOpen() ? 1 : 0;
    });
  } catch (...) {
    return 0;
  }
}

VRN_API int vrn_request(uint16_t command, const char *data, char *reply, uint8_t *status) {
  int result = -1;
  try {
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
  return result;
}

VRN_API void vrn_set_serial_id(int32_t vendorId, int32_t productId) {
  try {
    CDllApp::Instance().SetSerialIdentity(vendorId, productId);
    platform::Trace("VRN Serial device added %04X : %04X", static_cast<unsigned>(vendorId),
                    static_cast<unsigned>(productId));
  } catch (...) {
  }
}

}  // extern "C"
