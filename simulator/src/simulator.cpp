#include "fiscalsim/simulator.h"

#include <algorithm>
#include <vector>

#include "platform/thread.h"
#include "platform/trace.h"

namespace fiscalsim {
namespace {

using Clock = std::chrono::steady_clock;

// Time on the wire of the first `bytes` bytes, from a common start so that rounding never
// accumulates.
Clock::duration WireTime(size_t bytes, uint32_t baud) {
  return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 10'000'000'000LL / baud);
}

uint8_t OtherSeq(uint8_t seq) { return seq == kLastSeq ? kFirstSeq : static_cast<uint8_t>(seq + 1); }

}  // namespace

Simulator::Simulator(std::unique_ptr<DeviceLink> link, SimulatorOptions options)
    : options_(std::move(options)),
      link_(std::move(link)),
      journal_(options_.journalCapacity),
      model_(options_.clock),
      portName_(link_->Name()) {}

Simulator::~Simulator() { Stop(); }

void Simulator::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  serving_ = true;
  thread_ = std::thread([this] { Serve(); });
}

void Simulator::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  link_->Wake();
  if (thread_.joinable()) thread_.join();
}

void Simulator::ClosePort() {
  std::unique_lock lock(mutex_);
  if (!serving_) {
    if (!portClosed_) link_->Close();
    portClosed_ = true;
    return;
  }
  closeRequested_ = true;
  changed_.notify_all();
  link_->Wake();
  changed_.wait(lock, [&] { return portClosed_ || !serving_; });
}

std::string Simulator::PortName() const {
  std::lock_guard lock(mutex_);
  return portName_;
}

bool Simulator::PortClosed() const {
  std::lock_guard lock(mutex_);
  return portClosed_;
}

void Simulator::Vanish() {
  std::string name;
  {
    // Under the lock, so that a host that saw the port fail also sees PortClosed().
    std::lock_guard lock(mutex_);
    link_->Close();
    portClosed_ = true;
    name = portName_;
  }
  changed_.notify_all();
  // Unplugged or restarted, as hosts see it: what it comes back with is a fresh exchange.
  ForgetLastFrame();
  platform::Trace("fiscal-sim: port %s closed", name.c_str());
}

void Simulator::ComeBack(Millis after) {
  if (!SleepUntil(Clock::now() + after)) return;  // a ClosePort() meanwhile makes it for good
  std::string name;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || !portClosed_) return;
    if (!link_->Reopen()) {
      platform::Trace("fiscal-sim: port %s cannot come back", portName_.c_str());
      return;
    }
    portClosed_ = false;
    portName_ = link_->Name();
    name = portName_;
  }
  changed_.notify_all();
  platform::Trace("fiscal-sim: port %s back", name.c_str());
  if (options_.onPortBack) options_.onPortBack(name);
}

void Simulator::Serve() {
  platform::SetCurrentThreadName("fiscal-sim");
  RequestParser parser;
  std::vector<ReceivedFrame> frames;
  uint8_t buffer[1024];
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      // A closed link has nothing to wait on but the controller.
      changed_.wait(lock, [&] { return stopping_ || closeRequested_ || !portClosed_; });
      if (stopping_) break;
      if (closeRequested_) {
        closeRequested_ = false;
        if (!portClosed_) {
          lock.unlock();
          Vanish();
        }
        continue;
      }
    }
    const DeviceLink::WaitResult wait = link_->Wait();
    if (wait == DeviceLink::WaitResult::Woken) continue;
    const ptrdiff_t n = wait == DeviceLink::WaitResult::Closed ? -1 : link_->Read(buffer, sizeof buffer);
    if (n < 0) {
      Vanish();
      continue;
    }
    frames.clear();
    parser.Feed(std::span(buffer, static_cast<size_t>(n)), Clock::now(), frames);
    for (const ReceivedFrame &frame : frames) {
      if (!Handle(frame)) {
        // What the old port left half-sent is no part of what comes through it next.
        parser = RequestParser();
        break;
      }
    }
  }
  std::lock_guard lock(mutex_);
  serving_ = false;
  changed_.notify_all();
}

bool Simulator::Handle(const ReceivedFrame &frame) {
  platform::TraceFrame(frame.good ? "fiscal-sim rx" : "fiscal-sim rx (bad frame)", frame.raw.data(), frame.raw.size());
  journal_.Add({frame.seq, frame.cmd, frame.data, frame.raw, frame.good});
  if (options_.onWire) options_.onWire(true, frame.raw);
  if (options_.baud != 0 && !SleepUntil(frame.startedAt + WireTime(frame.raw.size(), options_.baud))) return false;

  const FaultPlan::Action action = faults_.Take(frame.good, frame.cmd);
  if (action.vanish) {
    Vanish();
    if (action.vanishFor.count() > 0) ComeBack(action.vanishFor);
    return false;
  }
  if (action.silent) {
    platform::Trace("fiscal-sim: silent");
    return true;
  }
  if (action.nak) {
    platform::Trace("fiscal-sim tx NAK");
    return Send(std::span(&kNak, 1));
  }
  if (action.busySpan.count() > 0) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + action.busySpan;
    for (int k = 1; start + (k - 1) * action.busyEvery < end; ++k) {
      platform::Trace("fiscal-sim tx busy");
      if (!Send(std::span(&kBusy, 1))) return false;
      if (!SleepUntil(std::min(start + k * action.busyEvery, end))) return false;
    }
  }
  if (action.delay.count() > 0 && !SleepUntil(Clock::now() + action.delay)) return false;
  if (action.errorFlag) return SendErrorFlag(frame, action);

  const Answer answer = ExecuteOnce(frame);
  if (answer.silent) {
    platform::Trace("fiscal-sim: silent");
    return true;
  }
  Bytes reply = BuildReply(action.wrongSeq ? OtherSeq(frame.seq) : frame.seq, frame.cmd, answer.data, answer.status);
  if (action.corruptCheck) reply[reply.size() - 2] ^= 0x01;
  platform::TraceFrame("fiscal-sim tx", reply.data(), reply.size());
  return Send(reply);
}

Answer Simulator::ExecuteOnce(const ReceivedFrame &frame) {
  std::lock_guard lock(modelMutex_);
  // A host that heard no answer in time sends the very same frame again: the device answers it
  // as it answered the first time instead of booking it twice.
  if (lastExecuted_ && lastExecuted_->seq == frame.seq && lastExecuted_->cmd == frame.cmd &&
      lastExecuted_->data == frame.data) {
    platform::Trace("fiscal-sim: 0x%02X/0x%02X repeats the last frame, answered again", frame.seq, frame.cmd);
    return lastExecuted_->answer;
  }
  if (options_.beforeCommand) options_.beforeCommand(model_, frame.cmd, frame.data);
  Answer answer = model_.Execute(frame.cmd, frame.data);
  if (options_.afterCommand) options_.afterCommand(model_, frame.cmd, frame.data, answer);
  lastExecuted_ = Executed{frame.seq, frame.cmd, frame.data, answer};
  return answer;
}

bool Simulator::SendErrorFlag(const ReceivedFrame &frame, const FaultPlan::Action &action) {
  StatusBytes status = WithModel([](DeviceModel &model) { return model.State().standingStatus; });
  for (uint8_t &s : status) s |= status::kAlwaysSet;
  status[0] |= status::kError;
  Bytes reply = BuildReply(action.wrongSeq ? OtherSeq(frame.seq) : frame.seq, frame.cmd, {}, status);
  if (action.corruptCheck) reply[reply.size() - 2] ^= 0x01;
  platform::TraceFrame("fiscal-sim tx (error flag)", reply.data(), reply.size());
  return Send(reply);
}

bool Simulator::Send(std::span<const uint8_t> bytes) {
  if (options_.onWire) options_.onWire(false, bytes);
  if (options_.baud == 0) return link_->Write(bytes);
  const Clock::time_point start = std::max(Clock::now(), lineFreeAt_);
  lineFreeAt_ = start + WireTime(bytes.size(), options_.baud);
  // A byte is handed over once it would have crossed the line.
  size_t sent = 0;
  while (sent < bytes.size()) {
    const Clock::time_point now = Clock::now();
    size_t due = sent;
    while (due < bytes.size() && start + WireTime(due + 1, options_.baud) <= now) ++due;
    if (due > sent && !link_->Write(bytes.subspan(sent, due - sent))) return false;
    sent = due;
    if (sent < bytes.size() && !SleepUntil(start + WireTime(sent + 1, options_.baud))) return false;
  }
  return true;
}

bool Simulator::SleepUntil(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_until(lock, deadline, [&] { return stopping_ || closeRequested_; });
}

}  // namespace fiscalsim
