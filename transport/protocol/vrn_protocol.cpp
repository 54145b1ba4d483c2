#include "protocol/vrn_protocol.h"

#include <chrono>
#include <cstring>
#include <span>
#include <system_error>

#include "platform/thread.h"
#include "platform/tick.h"
#include "platform/trace.h"

namespace vrn {
namespace {

using Clock = std::chrono::steady_clock;

constexpr platform::Millis kStartLimit{2000};
constexpr uint32_t kRetryPauseMs = 20;  // between the two attempts of a driver write
constexpr int kMaxInARow = 5;           // transmissions per run of refusals or of time-outs

constexpr auto kEmptyPassStep = std::chrono::milliseconds(1);
constexpr auto kAbsentPassStep = std::chrono::milliseconds(10);

// Clears a flag however the scope is left.
class Raised {
 public:
  explicit Raised(std::atomic<bool> &flag) : flag_(flag) { flag_.store(true); }
  ~Raised() { flag_.store(false); }
  Raised(const Raised &) = delete;
  Raised &operator=(const Raised &) = delete;

 private:
  std::atomic<bool> &flag_;
};

}  // namespace

cVRNProtocol::cVRNProtocol(iCOMDriver *driver) : driver_(driver) {}

cVRNProtocol::~cVRNProtocol() { Stop(); }

bool cVRNProtocol::Start(const char *comPort) {
  bool started = false;
  {
    platform::MutexLock lock(requestLock_);
    if (!thread_.joinable() || !running_.load()) {
      Cancel();
      StopLocked();
      for (platform::Event *e : {&replyReady_, &busy_, &receiveArmed_, &retransmit_, &abort_, &comGone_, &threadStarted_}) {
        e->Reset();
      }
      stopping_.store(false);
      try {
        platform::KeepModuleLoaded();
        thread_ = std::thread(&cVRNProtocol::ReceiveThread, this);
      } catch (const std::system_error &) {
        platform::Trace("Cannot start the receive thread for the usb-device");
        return false;
      }
      threadStarted_.Wait(kStartLimit);
    }
    started = running_.load();
  }
  if (started && comPort != nullptr && comPort[0] != '\0') {
    com_.CloseCom();
    started = com_.OpenCom(comPort, kComLine.baudRate, kComLine.dataBits, kComLine.parity, kComLine.stopBits) == 0;
  }
  return started;
}

void cVRNProtocol::Cancel() {
  stopping_.store(true);
  abort_.Set();
}

void cVRNProtocol::Stop() {
  // Abort first: a request in flight holds the request lock and gives it up at once.
  Cancel();
  platform::MutexLock lock(requestLock_);
  StopLocked();
}

void cVRNProtocol::StopLocked() {
  running_.store(false);
  // Set under the lock: no SendFrame can disarm it again before the thread has seen it.
  receiveArmed_.Set();
  // The thread leaves within one polling step or one driver Read.
  if (thread_.joinable()) thread_.join();
  com_.CloseCom();
  com_.Forget();
}

bool cVRNProtocol::LinkAttached() { return driver_ != nullptr && driver_->IsAttached(); }

bool cVRNProtocol::ResetLink(bool full) {
  if (driver_ != nullptr) return driver_->Reset(full);
  return com_.ReopenCom();  // what a driver's Reset does for a COM port
}

void cVRNProtocol::Arm() {
  platform::MutexLock lock(recordLock_);
  ++armCount_;
  // A hang-up seen before this transmission may have been of the port it replaced; the receive
  // thread looks again on its next pass.
  comGone_.Reset();
  receiveArmed_.Set();
}

int cVRNProtocol::SendFrame(uint16_t command, const char *data, uint8_t *reply) {
  FrameBuffer frame;
  const size_t length = framecodec::BuildRequest(seq_.load(), static_cast<uint8_t>(command), data, frame);
  {
    platform::MutexLock lock(recordLock_);
    // No signal of an earlier exchange may be taken for this one.
    replyReady_.Reset();
    busy_.Reset();
    retransmit_.Reset();
    comGone_.Reset();
    receiveArmed_.Reset();
    record_.Clear();
  }
  if (length == 0) {
    platform::Trace("Not enough room for the request");
    return -1;
  }
  std::memset(reply, 0, kReplyRecordSize);
  platform::TraceFrame("VRN request", frame.data(), length);

  if (com_.IsOpen()) {
    // A short write shows up as a time-out, which re-opens the port.
    com_.Write(frame.data(), length);
    Arm();
    return 0;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool written = false;
    if (LinkAttached()) written = driver_->Write(frame.data(), length) >= static_cast<int>(length);
    if (!LinkAttached()) return written ? 0 : -1;
    if (written) {
      Arm();
      return 0;
    }
    platform::SleepMs(kRetryPauseMs);
  }
  return -1;
}

bool cVRNProtocol::RecoverComPort() {
  if (LinkAttached()) return false;
  if (com_.IsOpen() && !com_.HungUp()) return true;
  if (!com_.CanReopen()) return false;
  // One attempt: a port that is not back fails the request at once instead of after waits.
  const bool back = com_.ReopenCom();
  platform::Trace("Com %s %s", com_.PortName().c_str(), back ? "opened again" : "is gone");
  return back;
}

int cVRNProtocol::Request(uint16_t command, const char *data, uint8_t *reply) {
  if (reply == nullptr) return -1;
  if (!LinkAttached() && !com_.IsOpen() && !com_.CanReopen()) return -1;
  if (data == nullptr) data = "";
  if (std::strlen(data) > framecodec::kMaxRequestData) {
    // Longer data would wrap LEN and push the check characters out of the frame.
    platform::Trace("Not enough room for the request");
    return -1;
  }

  platform::MutexLock lock(requestLock_);
  if (!running_.load() || stopping_.load()) return -1;  // nobody would take the reply
  RecoverComPort();
  if (!LinkAttached() && !com_.IsOpen()) return -1;
  const Raised waiting(waiting_);
  return Exchange(command, data, reply);
}

// Runs under the request lock, with the receiver kept armed.
int cVRNProtocol::Exchange(uint16_t command, const char *data, uint8_t *reply) {
  const platform::Millis limit = com_.IsOpen() ? kComWaitLimit : kUsbWaitLimit;
  seq_.store(framecodec::NextSequenceThrough80(seq_.load()));
  abort_.Reset();
  if (stopping_.load()) return -1;  // a Stop whose abort the reset above took away
  if (SendFrame(command, data, reply) != 0) {
    if (LinkAttached() || com_.IsOpen()) ResetLink(true);
    return -1;
  }

  int transmissions = 1;
  const auto mayResend = [&] {
    if (transmissions < kMaxTransmissions) return true;
    platform::Trace("VRN request %02X given up after %d transmissions", command & 0xFF, transmissions);
    return false;
  };
  int timeouts = 0;
  int refusals = 0;
  int resets = 0;
  for (;;) {
    const int event = platform::WaitAny({&replyReady_, &busy_, &retransmit_, &abort_, &comGone_}, limit);
    if (stopping_.load()) return -1;
    switch (event) {
      case 0: {  // reply-ready
        platform::MutexLock recordLock(recordLock_);
        std::memcpy(reply, &record_, kReplyRecordSize);
        replyReady_.Reset();
        return 0;
      }
      case 1:  // busy: the device asks for patience
        busy_.Reset();
        timeouts = 0;
        refusals = 0;
        break;
      case 2:  // refused, or a reply with wrong check characters
        retransmit_.Reset();
        timeouts = 0;
        if (++refusals >= kMaxInARow || !mayResend()) return -1;
        ++transmissions;
        SendFrame(command, data, reply);
        break;
      case 3:  // the device was closed: worth waiting only while recovering from a time-out
        abort_.Reset();
        if (timeouts >= 1 && timeouts <= 4) break;
        return -1;
      case 4:  // the COM port hung up: what the time-out would find, found without waiting it out
      case platform::kWaitTimeout:
        refusals = 0;
        if (++timeouts >= kMaxInARow || !mayResend()) return -1;
        ++resets;
        if (!ResetLink(resets > 1) || stopping_.load()) return -1;
        ++transmissions;
        SendFrame(command, data, reply);
        break;
      default:
        return -1;
    }
  }
}

void cVRNProtocol::ReceiveThread() {
  platform::SetCurrentThreadName("vrn-receive");
  platform::Trace("VRN Thr Start");
  running_.store(true);
  threadStarted_.Set();
  const bool raised = platform::RaiseCurrentThreadPriority();

  size_t frameLen = 0;
  uint32_t seenArm = 0;
  // Quiet spells are measured as time: on USB one empty pass is a read that may block for
  // seconds, so a count of passes would keep the thread reading for half an hour.
  Clock::time_point lastInput = Clock::now();
  Clock::time_point lastPresent = lastInput;
  // Disarms unless a newer transmission armed the receiver again meanwhile.
  const auto disarm = [&] {
    platform::MutexLock lock(recordLock_);
    if (armCount_ == seenArm) receiveArmed_.Reset();
  };
  while (!stopping_.load()) {
    // Blocks while disarmed: an idle link costs nothing.
    receiveArmed_.Wait(platform::kInfinite);
    if (stopping_.load()) break;
    {
      platform::MutexLock lock(recordLock_);
      if (armCount_ != seenArm) {  // a new transmission: its silence is counted afresh
        seenArm = armCount_;
        lastInput = lastPresent = Clock::now();
      }
    }
    const Clock::time_point passStart = Clock::now();

    size_t got = 0;
    const bool com = com_.IsOpen();
    if (com) {
      // HungUp is read before the ring is taken: every byte the port delivered before it hung
      // up is then in this take or an earlier one, so a reply that came just before a hang-up
      // is scanned (and wins) before the hang-up is reported.
      const bool hungUp = com_.HungUp();
      got = com_.TakeReceived(chunk_.data());
      if (got == 0 && hungUp) {
        platform::MutexLock lock(recordLock_);
        if (armCount_ == seenArm) comGone_.Set();  // else a newer transmission: look again
      }
    } else if (!LinkAttached()) {
      frameLen = 0;
      if (passStart - lastPresent >= kAbsentDisarm && !waiting_.load()) disarm();
      std::this_thread::sleep_for(kAbsentPassStep);
      continue;
    } else {
      const int n = driver_->Read(chunk_.data(), chunk_.size());
      got = n > 0 ? static_cast<size_t>(n) : 0;
    }
    lastPresent = Clock::now();

    if (got == 0) {
      // A request still waiting keeps the receiver reading: its reply or a busy byte may come
      // at any time within its wait limit.
      if (lastPresent - lastInput >= kIdleDisarm && !waiting_.load()) {
        frameLen = 0;
        disarm();
        continue;
      }
      // The rest of the 1 ms step; bytes put into the COM ring end it early.
      if (com) {
        com_.WaitReceived(kEmptyPassStep);
      } else {
        std::this_thread::sleep_until(passStart + kEmptyPassStep);
      }
      continue;
    }
    lastInput = lastPresent;
    Scan(chunk_.data(), got, frameLen);
  }

  if (raised) platform::RestoreCurrentThreadPriority();
  platform::Trace("VRN Thr Stop");
}

void cVRNProtocol::Scan(const uint8_t *bytes, size_t count, size_t &frameLen) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (frameLen == 0) {
      if (b == framecodec::kFrameStart) {
        frame_[0] = b;
        frameLen = 1;
      } else if (b == framecodec::kNak) {
        platform::MutexLock lock(recordLock_);
        receiveArmed_.Reset();
        retransmit_.Set();
      } else if (b == framecodec::kBusy) {
        busy_.Set();
      }
      continue;
    }
    if (frameLen < frame_.size()) {
      frame_[frameLen++] = b;
    } else {
      platform::Trace("in_vrn_buffer size %d too short", static_cast<int>(frameLen));
    }
    if (b == framecodec::kFrameEnd) {
      const bool done = CompleteFrame(frameLen);
      frameLen = 0;
      if (done) return;  // whatever follows in this chunk belongs to no request
    }
  }
}

bool cVRNProtocol::CompleteFrame(size_t frameLen) {
  platform::TraceFrame("VRN reply", frame_.data(), frameLen);
  platform::MutexLock lock(recordLock_);
  const uint8_t current = seq_.load();
  const ReplyCheck check = ParseReply(std::span(frame_.data(), frameLen), current, record_);
  if (check.checkOk && !check.seqMatched) {
    // A late answer to an earlier transmission: not the reply awaited, which may still come.
    platform::Trace("VRN reply of sequence %02X dropped, awaiting %02X", frameLen > 2 ? frame_[2] : 0, current);
    return false;
  }
  receiveArmed_.Reset();
  (check.checkOk ? replyReady_ : retransmit_).Set();
  return true;
}

}  // namespace vrn
