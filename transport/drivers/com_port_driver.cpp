#include "drivers/com_port_driver.h"

#include "protocol/vrn_protocol.h"

namespace vrn {

cComPortDriver::cComPortDriver() = default;

cComPortDriver::~cComPortDriver() { Shutdown(); }

bool cComPortDriver::Open(const char *comPort) {
  cVRNProtocol *protocol = nullptr;
  {
    platform::MutexLock lock(lock_);
    if (!initialised_.load()) return false;
    if (protocol_ == nullptr) protocol_ = std::make_unique<cVRNProtocol>(this);
    protocol = protocol_.get();
  }
  // Outside the lock: a request holding the protocol's request lock may call Reset.
  return protocol->Start(comPort) && protocol->IsComOpen();
}

void cComPortDriver::Shutdown() {
  std::unique_ptr<cVRNProtocol> protocol;
  {
    platform::MutexLock lock(lock_);
    initialised_.store(false);
    protocol = std::move(protocol_);
  }
  // Stopping joins the receive thread and closes the port.
  protocol.reset();
}

bool cComPortDriver::Reset(bool /*full*/) {
  cVRNProtocol *protocol = Protocol();
  return protocol != nullptr && protocol->IsComOpen() && protocol->ComSupp().ReopenCom();
}

void cComPortDriver::Cancel() {
  if (cVRNProtocol *protocol = Protocol()) protocol->Cancel();
}

cVRNProtocol *cComPortDriver::Protocol() {
  platform::MutexLock lock(lock_);
  return protocol_.get();
}

}  // namespace vrn
