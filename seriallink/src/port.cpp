#include "seriallink/port.h"

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/serial_port.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "platform/trace.h"
#include "seriallink/frame.h"
#include "seriallink/result_codes.h"

namespace seriallink {
namespace {

// The driver's queues, both ways, on the line the engine was made for; one read takes at most
// what the input queue could hold.
constexpr uint32_t kQueueSize = 4096;
constexpr size_t kReadChunk = kQueueSize;
// Reads take what is queued and never wait between bytes; a write may take 2 ms a byte + 1 s.
constexpr platform::PortTimeouts kTimeouts{platform::kNoReadInterval, 0, 1000, 2, 1000};
// ClosePort's two pauses around closing the port (the 200 ms its callers have always seen).
constexpr uint32_t kClosePauseMs = 100;

struct PortState {
  // Declared first so that it outlives the thread that uses it; the thread is always joined
  // before ClosePort returns.
  platform::SerialPort port;
  // Set by OpenPort before the thread starts, cleared by ClosePort; the thread polls it.
  std::atomic<bool> running{false};
  std::atomic<bool> readerAlive{false};
  // Lets a reader whose port failed wait for ClosePort without spinning on the dead port.
  platform::Event stop{platform::Event::Mode::Manual};
  ReceivedBlocks blocks;
  // Serialises OpenPort and ClosePort.
  platform::Mutex openClose;
  std::thread reader GUARDED_BY(openClose);
  OpenResult lastOpen GUARDED_BY(openClose);

  // Process end, or unloading of the library, closes a port still open.
  ~PortState() {
    platform::MutexLock lock(openClose);
    CloseLocked();
  }

  void CloseLocked() REQUIRES(openClose);
};

PortState &State() {
  static PortState state;
  return state;
}

// The receive thread: everything that arrives is fed to the reply assembly, byte by byte, as
// it comes. Sleeps in the port's wait while the line is quiet.
void ReceiveProc(PortState &s, Millis pause) {
  platform::SetCurrentThreadName("seriallink-rx");
  std::unique_ptr<uint8_t[]> buffer;
  try {
    buffer = std::make_unique<uint8_t[]>(kReadChunk);
  } catch (const std::bad_alloc &) {
    // The port stays open without a reader; every command then ends in 10003.
    Alert(kThreadSetupFailed, kGlobalErrorCaption);
    return;
  }
  ReplyAssembler assembler;
  s.readerAlive = true;
  while (s.running) {
    const platform::WaitResult wait = s.port.WaitReadable(platform::kInfinite);
    if (wait == platform::WaitResult::Closed) break;
    bool failed = wait == platform::WaitResult::Failed;
    if (wait == platform::WaitResult::Readable) {
      const ptrdiff_t n = s.port.Read(buffer.get(), kReadChunk);
      failed = n < 0;
      for (ptrdiff_t i = 0; i < n && s.running; ++i) {
        if (!assembler.Feed(buffer[static_cast<size_t>(i)])) continue;
        const RCVBLOCK &block = assembler.Block();
        platform::TraceFrame("seriallink rx", block.buffer, block.index + 1u);
        s.blocks.Add(block);
      }
    }
    if (failed) {
      // A vanished device hangs up for good: waiting on the port again would return at once.
      // The exchange learns of it at once; the next command opens the port again.
      platform::Trace("seriallink: port %s failed; no more input until it is closed", s.port.Path().c_str());
      s.blocks.SetPortFailed(true);
      s.stop.Wait();
      break;
    }
    if (pause.count() > 0) std::this_thread::sleep_for(pause);
  }
  s.readerAlive = false;
}

void PortState::CloseLocked() {
  if (!running) return;
  // A reader whose port failed has already left its passes and waits for nothing but `stop`:
  // the pauses that let a pass end are no use then, and a command that opens the port again
  // should not pay for them.
  const bool readerParked = blocks.PortFailed();
  running = false;
  // A pass in progress sees the flag within this time and stops feeding bytes.
  if (!readerParked) platform::SleepMs(kClosePauseMs);
  stop.Set();
  port.SetDtr(false);
  port.Purge();
  port.Close();  // ends the reader's wait at once
  if (!readerParked) platform::SleepMs(kClosePauseMs);
  if (reader.joinable()) reader.join();
  blocks.Clear();
  blocks.SetPortFailed(false);
}

// The one place where an open's outcome becomes OpenPort's number.
int ResultCode(const OpenResult &result) {
  switch (result.failure) {
    case OpenFailure::None: return 0;
    case OpenFailure::BadParameters: return kBadPortParameters;
    case OpenFailure::CannotOpen: return result.system.value();
    case OpenFailure::ThreadNotStarted: return kThreadNotStarted;
  }
  return kThreadNotStarted;
}

OpenResult OpenLocked(PortState &s, std::string_view name, uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                      uint16_t stopBits) REQUIRES(s.openClose) {
  if (s.running) return {};
  if (dataBits < 5 || dataBits > 8 || parity > 4 || stopBits > 2) return {OpenFailure::BadParameters, {}};
  if (const int error = s.port.Open(name); error != 0) {
    platform::Trace("seriallink: port %.*s cannot be opened (%d)", static_cast<int>(name.size()), name.data(), error);
    return {OpenFailure::CannotOpen, std::error_code(error, std::system_category())};
  }
  // As on the line the engine was made for, the settings' outcome is not checked: a speed the
  // system refuses shows up as no reply.
  if (const int error = s.port.Configure({baudRate, dataBits, parity, stopBits}); error != 0) {
    platform::Trace("seriallink: line settings of %s not applied (%d)", s.port.Path().c_str(), error);
  }
  s.port.SetQueueSizes(kQueueSize, kQueueSize);
  s.port.SetTimeouts(kTimeouts);
  s.port.SetRts(true);
  s.port.Purge();
  s.blocks.Clear();
  s.stop.Reset();

  s.running = true;
  try {
    platform::KeepModuleLoaded();
    s.reader = std::thread(ReceiveProc, std::ref(s), CurrentFlavour().pauseAfterPass);
  } catch (const std::system_error &e) {
    platform::Trace("seriallink: receive thread not started: %s", e.what());
    s.CloseLocked();
    return {OpenFailure::ThreadNotStarted, e.code()};
  }
  s.port.SetDtr(true);
  platform::Trace("seriallink: port %s open at %u baud", s.port.Path().c_str(), static_cast<unsigned>(baudRate));
  return {};
}

}  // namespace

int OpenPort(std::string_view name, uint32_t baudRate, uint16_t dataBits, uint16_t parity, uint16_t stopBits,
             int32_t /*window*/) {
  PortState &s = State();
  platform::MutexLock lock(s.openClose);
  s.lastOpen = OpenLocked(s, name, baudRate, dataBits, parity, stopBits);
  return ResultCode(s.lastOpen);
}

OpenResult LastOpenResult() {
  PortState &s = State();
  platform::MutexLock lock(s.openClose);
  return s.lastOpen;
}

int ClosePort() {
  PortState &s = State();
  platform::MutexLock lock(s.openClose);
  s.CloseLocked();
  return 0;
}

bool PortRunning() { return State().running; }

bool ReaderAlive() { return State().readerAlive; }

bool PortFailed() { return State().blocks.PortFailed(); }

void WritePort(const uint8_t *data, size_t size) {
  PortState &s = State();
  platform::TraceFrame("seriallink tx", data, size);
  const size_t written =
      s.port.Write(data, size, Millis(uint64_t{kTimeouts.writeTotalMultiplier} * size + kTimeouts.writeTotalConstant));
  if (written != size) platform::Trace("seriallink: %zu of %zu bytes written", written, size);
}

ReceivedBlocks &Blocks() { return State().blocks; }

}  // namespace seriallink
