#include "drivers/rs_com_supp.h"

#include <cerrno>
#include <system_error>

#include "platform/thread.h"
#include "platform/trace.h"

namespace vrn {

CRSComSupp::CRSComSupp() = default;

CRSComSupp::~CRSComSupp() { CloseCom(); }

int CRSComSupp::OpenCom(const char *port, uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                        uint16_t stopBits) {
  platform::MutexLock lock(stateLock_);
  lastOpen_ = OpenComLocked(port, baudRate, dataBits, parity, stopBits);
  return ResultCode(lastOpen_);
}

int CRSComSupp::ResultCode(const OpenResult &result) {
  switch (result.failure) {
    case OpenFailure::None: return 0;
    case OpenFailure::BadSettings: return kBadSettings;
    case OpenFailure::CannotOpen: return result.system.value();
    case OpenFailure::CannotSetState: return kCannotSetState;
    case OpenFailure::CannotStartThread: return kCannotStartThread;
  }
  return kCannotSetState;
}

CRSComSupp::OpenResult CRSComSupp::LastOpenResult() const {
  platform::MutexLock lock(stateLock_);
  return lastOpen_;
}

CRSComSupp::OpenResult CRSComSupp::OpenComLocked(const char *port, uint32_t baudRate, uint16_t dataBits,
                                                 uint16_t parity, uint16_t stopBits) {
  if (IsOpen()) return {};
  if (dataBits < 5 || dataBits > 8 || stopBits > 2 || parity > 4) return {OpenFailure::BadSettings, {}};

  const std::string name = port != nullptr ? port : "";
  // The name goes through ResolvePortName, the counterpart of opening "\\.\COMn".
  if (const int error = port_.Open(name); error != 0) {
    platform::Trace("Com %s cannot be opened", name.c_str());
    return {OpenFailure::CannotOpen, std::error_code(error, std::system_category())};
  }
  port_.Purge();
  const platform::LineSettings settings{baudRate, dataBits, parity, stopBits};
  if (const int error = port_.Configure(settings); error != 0) {
    port_.Close();
    platform::Trace("On Com %s cannot SetCommState", name.c_str());
    return {OpenFailure::CannotSetState, std::error_code(error, std::system_category())};
  }
  // Their outcome is not checked: a driver that keeps its own queue sizes still carries frames.
  // (No-ops on POSIX, where the kernel sizes its queues and Write() carries its own time-out.)
  port_.SetQueueSizes(kQueueSize, kQueueSize);
  port_.SetTimeouts(kTimeouts);

  if (thread_.joinable()) thread_.join();  // one that ended on a failed port
  hungUp_.store(false, std::memory_order_release);
  open_.store(true, std::memory_order_release);
  try {
    platform::KeepModuleLoaded();
    thread_ = std::thread(&CRSComSupp::ReceiveThread, this, name);
  } catch (const std::system_error &) {
    open_.store(false, std::memory_order_release);
    port_.Close();
    platform::Trace("On Com %s cannot start receive thread", name.c_str());
    return {OpenFailure::CannotStartThread, {}};
  }
  name_ = name;
  settings_ = settings;
  platform::Trace("Com %s opened", name.c_str());
  return {};
}

void CRSComSupp::CloseCom() {
  platform::MutexLock lock(stateLock_);
  CloseComLocked();
}

void CRSComSupp::CloseComLocked() {
  open_.store(false, std::memory_order_release);
  if (port_.IsOpen()) {
    port_.SetDtr(false);
    port_.Purge();
    port_.Close();  // ends the receive thread's wait at once
    platform::Trace("Com %s closed", name_.c_str());
  }
  if (thread_.joinable()) thread_.join();
}

bool CRSComSupp::ReopenCom() {
  platform::MutexLock lock(stateLock_);
  if (name_.empty()) return false;
  const std::string name = name_;
  const platform::LineSettings s = settings_;
  CloseComLocked();
  lastOpen_ = OpenComLocked(name.c_str(), s.baudRate, s.dataBits, s.parity, s.stopBits);
  return lastOpen_.failure == OpenFailure::None;
}

bool CRSComSupp::CanReopen() const {
  platform::MutexLock lock(stateLock_);
  return !name_.empty();
}

void CRSComSupp::Forget() {
  platform::MutexLock lock(stateLock_);
  name_.clear();
}

std::string CRSComSupp::PortName() const {
  platform::MutexLock lock(stateLock_);
  return name_;
}

size_t CRSComSupp::TakeReceived(uint8_t *buffer) { return ring_.Take(buffer); }

bool CRSComSupp::WaitReceived(platform::Millis timeout) { return received_.Wait(timeout); }

size_t CRSComSupp::Write(const uint8_t *data, size_t size) {
  // The same bound the port's write time-outs give.
  return port_.Write(data, size,
                     platform::Millis(kTimeouts.writeTotalConstant + uint64_t{kTimeouts.writeTotalMultiplier} * size));
}

void CRSComSupp::ReceiveThread(std::string name) {
  platform::SetCurrentThreadName("vrn-com-rx");
  uint8_t chunk[ByteRing::kSize];
  while (open_.load(std::memory_order_acquire)) {
    const platform::WaitResult wait = port_.WaitReadable(platform::kInfinite);
    if (wait == platform::WaitResult::TimedOut) continue;
    if (wait == platform::WaitResult::Closed) break;
    if (wait == platform::WaitResult::Failed) {
      // The device is gone (hang-up): the port stays dead until it is re-opened, so waiting on
      // it again would only spin.
      hungUp_.store(true, std::memory_order_release);
      platform::Trace("Com %s WaitCommEvent error %d", name.c_str(), EIO);
      break;
    }
    const ptrdiff_t n = port_.Read(chunk, sizeof chunk);
    if (n < 0) {
      hungUp_.store(true, std::memory_order_release);
      platform::Trace("Com %s read error %d", name.c_str(), EIO);
      break;
    }
    if (n == 0) continue;
    for (ptrdiff_t i = 0; i < n; ++i) ring_.Put(chunk[i]);  // a full ring drops the byte
    received_.Set();
  }
}

}  // namespace vrn
