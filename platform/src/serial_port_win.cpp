#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/mutex.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "platform/trace.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Completions of the comm-event wait in a row that find no byte and no error before this port
// gives up on comm events. Wine completes the wait with an empty mask every few milliseconds on
// a pseudo-terminal; a loop on it would spin.
constexpr int kSpuriousLimit = 3;
// The fallback wait is a 1-byte read; when the caller's time-outs would end it sooner than this
// it gets this total time-out instead, so that an idle port wakes about once a second.
constexpr DWORD kFallbackReadTimeout = 1000;
// A read of bytes already queued completes at once; this only bounds a driver that misbehaves.
constexpr DWORD kQueuedReadWait = 1000;
// How long Close() and Purge() wait for a cancelled operation to come back.
constexpr DWORD kCancelWait = 2000;

// Wine serves comm-event waits by polling, and on a pseudo-terminal it completes them empty every
// few milliseconds; finding that out costs each port a burst of CPU. So under wine every port
// waits with reads from the start, and elsewhere a port that has found it out tells the ports
// opened after it in this process.
std::atomic<bool> g_commEventsUnreliable{false};

bool CommEventsUnreliable() {
  static const bool underWine = [] {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return underWine || g_commEventsUnreliable.load(std::memory_order_relaxed);
}

// Until the caller sets its own: reads take what is queued and return, writes do not time out
// in the driver (Write keeps its own time-out).
constexpr PortTimeouts kDefaultTimeouts{kNoReadInterval, 0, 0, 0, 0};

DWORD WaitMs(bool forever, Clock::time_point deadline) {
  if (forever) return INFINITE;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(left);
}

// Bytes in the driver's input queue; also clears the error state that stops a port after a line
// error. False when the driver no longer answers (the device is gone).
bool InputQueued(HANDLE h, DWORD *queued) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(h, &errors, &stat)) return false;
  *queued = stat.cbInQue;
  return true;
}

// Whether a 1-byte read under these time-outs could end, without its byte, in less than about
// a second (the interval time-out starts only with a first byte, so it has no say).
bool WaitReadEndsSoon(const PortTimeouts &t) {
  if (t.readInterval == kNoReadInterval && t.readTotalConstant == 0) return true;  // returns at once
  const uint64_t total = uint64_t{t.readTotalMultiplier} + t.readTotalConstant;
  return total != 0 && total < kFallbackReadTimeout;
}

int ApplyTimeouts(HANDLE h, const PortTimeouts &t, bool fallback) {
  COMMTIMEOUTS ct{};
  ct.ReadIntervalTimeout = t.readInterval;
  ct.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
  ct.ReadTotalTimeoutConstant = t.readTotalConstant;
  ct.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
  ct.WriteTotalTimeoutConstant = t.writeTotalConstant;
  if (fallback && WaitReadEndsSoon(t)) {
    // Reads of queued bytes still return at once; the 1-byte wait read now blocks.
    ct.ReadIntervalTimeout = MAXDWORD;
    ct.ReadTotalTimeoutMultiplier = 0;
    ct.ReadTotalTimeoutConstant = kFallbackReadTimeout;
  }
  return ::SetCommTimeouts(h, &ct) ? 0 : static_cast<int>(::GetLastError());
}

// Raw line: binary, no flow control of any kind, no character replacement, errors do not stop
// the port, DTR and RTS raised.
void MakeRaw(DCB *dcb) {
  dcb->fBinary = 1;
  dcb->fOutxCtsFlow = 0;
  dcb->fOutxDsrFlow = 0;
  dcb->fDtrControl = DTR_CONTROL_ENABLE;
  dcb->fDsrSensitivity = 0;
  dcb->fTXContinueOnXoff = 0;
  dcb->fOutX = 0;
  dcb->fInX = 0;
  dcb->fErrorChar = 0;
  dcb->fNull = 0;
  dcb->fRtsControl = RTS_CONTROL_ENABLE;
  dcb->fAbortOnError = 0;
  dcb->XonLim = 100;
  dcb->XoffLim = 100;
  dcb->XonChar = 0x17;
  dcb->XoffChar = 0x19;
  dcb->ErrorChar = 0;
  dcb->EofChar = 0;
  dcb->EvtChar = 0;
}

}  // namespace

struct SerialPort::Impl {
  mutable Mutex mutex;
  CondVar idle;
  HANDLE handle GUARDED_BY(mutex) = INVALID_HANDLE_VALUE;  // stays valid while users > 0
  HANDLE closeEvent GUARDED_BY(mutex) = nullptr;  // manual reset, set once Close() begins
  int users GUARDED_BY(mutex) = 0;  // calls working with handle right now
  bool closing GUARDED_BY(mutex) = false;
  std::string path GUARDED_BY(mutex);

  // The receive side. At most one wait operation is outstanding: a comm-event wait, or in
  // fallback mode a 1-byte read whose byte is held back for Read(). It outlives the
  // WaitReadable call that started it (a wait that times out leaves it pending for the next).
  // No call takes mutex while it holds ioMutex.
  enum class Pending { None, CommEvent, Read };
  mutable Mutex ioMutex ACQUIRED_AFTER(mutex);
  HANDLE waitEvent GUARDED_BY(ioMutex) = nullptr;  // manual reset, the event of waitOv
  HANDLE readEvent GUARDED_BY(ioMutex) = nullptr;  // manual reset, for Read's own reads
  OVERLAPPED waitOv GUARDED_BY(ioMutex){};  // owned by the driver while pending != None
  DWORD waitMask GUARDED_BY(ioMutex) = 0;  // filled by the comm-event wait
  unsigned char waitByte GUARDED_BY(ioMutex) = 0;  // filled by the fallback read
  Pending pending GUARDED_BY(ioMutex) = Pending::None;
  bool discardPending GUARDED_BY(ioMutex) = false;  // Purge dropped what the wait brings
  bool fallback GUARDED_BY(ioMutex) = false;
  int spurious GUARDED_BY(ioMutex) = 0;
  bool held GUARDED_BY(ioMutex) = false;
  unsigned char heldByte GUARDED_BY(ioMutex) = 0;
  PortTimeouts timeouts GUARDED_BY(ioMutex) = kDefaultTimeouts;  // the caller's
  std::string tracePath GUARDED_BY(ioMutex);  // path, for traces under ioMutex
  DWORD lastError GUARDED_BY(ioMutex) = 0;  // why the wait operation failed

  // Pins the handles for one call so that Close() cannot release them underneath.
  class Use {
   public:
    explicit Use(const Impl &impl) : impl_(const_cast<Impl &>(impl)) {
      MutexLock lock(impl_.mutex);
      if (impl_.handle == INVALID_HANDLE_VALUE || impl_.closing) return;
      ++impl_.users;
      handle_ = impl_.handle;
      closeEvent_ = impl_.closeEvent;
    }
    ~Use() {
      if (handle_ == INVALID_HANDLE_VALUE) return;
      MutexLock lock(impl_.mutex);
      if (--impl_.users == 0) impl_.idle.NotifyAll();
    }
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;

    bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return handle_; }
    HANDLE closeEvent() const { return closeEvent_; }
    bool closed() const { return ::WaitForSingleObject(closeEvent_, 0) == WAIT_OBJECT_0; }

   private:
    Impl &impl_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE closeEvent_ = nullptr;
  };

  enum class Outcome { StillPending, Done, Failed };

  // Takes the result of the wait operation once it has completed (after up to waitMs, ending
  // early when the port closes). A completed read leaves its byte held.
  Outcome Collect(const Use &use, DWORD waitMs) REQUIRES(ioMutex) {
    if (waitMs != 0) {
      HANDLE events[2] = {use.closeEvent(), waitEvent};
      ::WaitForMultipleObjects(2, events, FALSE, waitMs);
    }
    DWORD n = 0;
    if (!::GetOverlappedResult(use.handle(), &waitOv, &n, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_INCOMPLETE) return Outcome::StillPending;
      // Not failures: Purge aborts the wait read on purpose; wine now and then ends a comm-event
      // wait on a pseudo-terminal as aborted (seen as an empty completion; a port truly gone
      // fails at its next look at the queue), and ends a read whose time-out ran out with
      // ERROR_TIMEOUT where Windows reports success with fewer bytes.
      const bool ours = (error == ERROR_OPERATION_ABORTED && (discardPending || pending == Pending::CommEvent)) ||
                        (error == ERROR_TIMEOUT && pending == Pending::Read);
      if (pending == Pending::CommEvent) waitMask = 0;
      lastError = error;
      pending = Pending::None;
      discardPending = false;
      return ours ? Outcome::Done : Outcome::Failed;
    }
    if (pending == Pending::Read && n == 1 && !discardPending) {
      held = true;
      heldByte = waitByte;
    }
    pending = Pending::None;
    discardPending = false;
    return Outcome::Done;
  }

  // Starts the wait operation; false when the driver refuses it.
  bool Start(HANDLE h) REQUIRES(ioMutex) {
    waitOv = OVERLAPPED{};
    waitOv.hEvent = waitEvent;
    BOOL started;
    if (fallback) {
      started = ::ReadFile(h, &waitByte, 1, nullptr, &waitOv);
    } else {
      waitMask = 0;
      started = ::WaitCommEvent(h, &waitMask, &waitOv);
    }
    if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
    // Completed at once or not, the result is taken the same way, through the event.
    pending = fallback ? Pending::Read : Pending::CommEvent;
    return true;
  }
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { Close(); }

int SerialPort::Open(std::string_view name) {
  const std::string path = ResolvePortName(name);
  const std::string device = path.rfind("\\\\", 0) == 0 ? path : "\\\\.\\" + path;
  MutexLock lock(impl_->mutex);
  if (impl_->handle != INVALID_HANDLE_VALUE) return ERROR_ALREADY_INITIALIZED;

  HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  HANDLE events[3] = {};
  auto fail = [&](DWORD error) {
    for (HANDLE e : events) {
      if (e != nullptr) ::CloseHandle(e);
    }
    ::CloseHandle(h);
    return static_cast<int>(error);
  };
  // A file or a device that is no serial port fails here.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h, &dcb)) return fail(::GetLastError());
  // Raw at once, keeping the line settings; a driver that refuses the settings it reported
  // itself still gets a full set from Configure.
  MakeRaw(&dcb);
  ::SetCommState(h, &dcb);
  if (!::SetCommMask(h, EV_RXCHAR | EV_ERR)) return fail(::GetLastError());
  const bool fallback = CommEventsUnreliable();
  if (const int error = ApplyTimeouts(h, kDefaultTimeouts, fallback); error != 0) return fail(static_cast<DWORD>(error));
  ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
  for (HANDLE &e : events) {
    e = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (e == nullptr) return fail(::GetLastError());
  }

  MutexLock io(impl_->ioMutex);
  impl_->handle = h;
  impl_->closeEvent = events[0];
  impl_->waitEvent = events[1];
  impl_->readEvent = events[2];
  impl_->path = path;
  impl_->pending = Impl::Pending::None;
  impl_->discardPending = false;
  impl_->fallback = fallback;
  impl_->spurious = 0;
  impl_->held = false;
  impl_->timeouts = kDefaultTimeouts;
  impl_->tracePath = path;
  return 0;
}

int SerialPort::Configure(const LineSettings &s) {
  if (s.baudRate == 0 || s.dataBits < 5 || s.dataBits > 8 || s.parity > 4 || s.stopBits > 2) {
    return ERROR_INVALID_PARAMETER;
  }
  Impl::Use use(*impl_);
  if (!use.ok()) return ERROR_INVALID_HANDLE;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(use.handle(), &dcb)) return static_cast<int>(::GetLastError());
  MakeRaw(&dcb);
  static const BYTE kParity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
  static const BYTE kStopBits[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
  dcb.BaudRate = s.baudRate;
  dcb.ByteSize = static_cast<BYTE>(s.dataBits);
  dcb.Parity = kParity[s.parity];
  dcb.StopBits = kStopBits[s.stopBits];
  dcb.fParity = s.parity != 0 ? 1 : 0;
  if (!::SetCommState(use.handle(), &dcb)) return static_cast<int>(::GetLastError());
  return 0;
}

int SerialPort::SetTimeouts(const PortTimeouts &timeouts) {
  Impl::Use use(*impl_);
  if (!use.ok()) return ERROR_INVALID_HANDLE;
  MutexLock io(impl_->ioMutex);
  if (const int error = ApplyTimeouts(use.handle(), timeouts, impl_->fallback); error != 0) return error;
  impl_->timeouts = timeouts;
  return 0;
}

int SerialPort::SetQueueSizes(uint32_t input, uint32_t output) {
  Impl::Use use(*impl_);
  if (!use.ok()) return ERROR_INVALID_HANDLE;
  return ::SetupComm(use.handle(), input, output) ? 0 : static_cast<int>(::GetLastError());
}

bool SerialPort::IsOpen() const {
  MutexLock lock(impl_->mutex);
  return impl_->handle != INVALID_HANDLE_VALUE && !impl_->closing;
}

std::string SerialPort::Path() const {
  MutexLock lock(impl_->mutex);
  return impl_->path;
}

static int ModemLine(const SerialPort::Impl &impl, DWORD function) {
  SerialPort::Impl::Use use(impl);
  if (!use.ok()) return ERROR_INVALID_HANDLE;
  return ::EscapeCommFunction(use.handle(), function) ? 0 : static_cast<int>(::GetLastError());
}

int SerialPort::SetDtr(bool on) { return ModemLine(*impl_, on ? SETDTR : CLRDTR); }

int SerialPort::SetRts(bool on) { return ModemLine(*impl_, on ? SETRTS : CLRRTS); }

int SerialPort::Purge() {
  Impl::Use use(*impl_);
  if (!use.ok()) return ERROR_INVALID_HANDLE;
  MutexLock io(impl_->ioMutex);
  impl_->held = false;
  if (impl_->pending == Impl::Pending::Read) {
    // The byte the wait read takes was received before the purge, or is the first one after it;
    // either way end the read so that nothing received afterwards is dropped.
    impl_->discardPending = true;
    ::CancelIoEx(use.handle(), &impl_->waitOv);
    impl_->Collect(use, kCancelWait);
  }
  if (!::PurgeComm(use.handle(), PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT)) {
    return static_cast<int>(::GetLastError());
  }
  return 0;
}

size_t SerialPort::Write(const void *data, size_t size, Millis timeout) {
  Impl::Use use(*impl_);
  if (!use.ok() || size == 0) return 0;
  const bool forever = timeout == kInfinite;
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  // Each call has its own event: writes from several threads must not take each other's completion.
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return 0;
  const auto *p = static_cast<const unsigned char *>(data);
  size_t done = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    OVERLAPPED ov{};
    ov.hEvent = event;
    bool stop = false;
    if (!::WriteFile(use.handle(), p + done, chunk, nullptr, &ov)) {
      if (::GetLastError() != ERROR_IO_PENDING) break;
      HANDLE events[2] = {event, use.closeEvent()};
      if (::WaitForMultipleObjects(2, events, FALSE, WaitMs(forever, deadline)) != WAIT_OBJECT_0) {
        ::CancelIoEx(use.handle(), &ov);
        stop = true;
      }
    }
    DWORD n = 0;
    // After a cancel this waits for the driver to give the request back, with the bytes it sent.
    if (!::GetOverlappedResult(use.handle(), &ov, &n, TRUE)) stop = true;
    done += n;
    // Fewer bytes than asked: the driver's write time-out, which the caller set, ran out.
    if (stop || n < chunk) break;
  }
  ::CloseHandle(event);
  return done;
}

ptrdiff_t SerialPort::Read(void *buffer, size_t capacity) {
  Impl::Use use(*impl_);
  if (!use.ok()) return -1;
  if (capacity == 0) return 0;
  auto *out = static_cast<unsigned char *>(buffer);
  Impl &s = *impl_;
  MutexLock io(s.ioMutex);

  DWORD queued = 0;
  bool alive = InputQueued(use.handle(), &queued);
  if (alive && s.pending == Impl::Pending::Read) {
    // The wait read is first in line for the next byte: a read started now would overtake it.
    const Impl::Outcome outcome = s.Collect(use, queued > 0 ? kQueuedReadWait : 0);
    if (outcome == Impl::Outcome::Failed) alive = false;
    if (outcome == Impl::Outcome::StillPending) queued = 0;
    else if (alive) alive = InputQueued(use.handle(), &queued);
  }

  size_t got = 0;
  if (s.held) {
    out[got++] = s.heldByte;
    s.held = false;
  }
  if (!alive) return got > 0 ? static_cast<ptrdiff_t>(got) : -1;
  if (got == capacity || queued == 0) return static_cast<ptrdiff_t>(got);

  OVERLAPPED ov{};
  ov.hEvent = s.readEvent;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(capacity - got, queued));
  if (!::ReadFile(use.handle(), out + got, want, nullptr, &ov)) {
    if (::GetLastError() != ERROR_IO_PENDING) return got > 0 ? static_cast<ptrdiff_t>(got) : -1;
    HANDLE events[2] = {s.readEvent, use.closeEvent()};
    if (::WaitForMultipleObjects(2, events, FALSE, kQueuedReadWait) != WAIT_OBJECT_0) {
      ::CancelIoEx(use.handle(), &ov);
    }
  }
  DWORD n = 0;
  const bool ok = ::GetOverlappedResult(use.handle(), &ov, &n, TRUE);
  got += n;
  if (!ok && got == 0 && ::GetLastError() != ERROR_OPERATION_ABORTED && ::GetLastError() != ERROR_TIMEOUT) return -1;
  if (got == 0 && use.closed()) return -1;
  return static_cast<ptrdiff_t>(got);
}

size_t SerialPort::Available() const {
  Impl::Use use(*impl_);
  if (!use.ok()) return 0;
  MutexLock io(impl_->ioMutex);
  DWORD queued = 0;
  if (!InputQueued(use.handle(), &queued)) queued = 0;
  return queued + (impl_->held ? 1 : 0);
}

WaitResult SerialPort::WaitReadable(Millis timeout) {
  Impl::Use use(*impl_);
  if (!use.ok()) return WaitResult::Closed;
  const bool forever = timeout == kInfinite;
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  Impl &s = *impl_;
  MutexLock io(s.ioMutex);
  auto fail = [&](const char *what, DWORD error) REQUIRES(s.ioMutex) {
    if (use.closed()) return WaitResult::Closed;
    Trace("serial port %s: %s failed (%lu)", s.tracePath.c_str(), what, static_cast<unsigned long>(error));
    return WaitResult::Failed;
  };
  for (;;) {
    if (use.closed()) return WaitResult::Closed;
    if (s.held) return WaitResult::Readable;
    if (s.pending == Impl::Pending::None) {
      DWORD queued = 0;
      if (!InputQueued(use.handle(), &queued)) return fail("ClearCommError", ::GetLastError());
      if (queued > 0) return WaitResult::Readable;
      if (!s.Start(use.handle())) return fail(s.fallback ? "ReadFile" : "WaitCommEvent", ::GetLastError());
    }
    // A byte that came in just before the comm-event wait started may not signal it; a pending
    // read instead takes such a byte itself.
    if (s.pending == Impl::Pending::CommEvent) {
      DWORD queued = 0;
      if (!InputQueued(use.handle(), &queued)) return fail("ClearCommError", ::GetLastError());
      if (queued > 0) return WaitResult::Readable;
    }

    const DWORD waitMs = WaitMs(forever, deadline);
    HANDLE events[2] = {use.closeEvent(), s.waitEvent};
    io.Unlock();
    const DWORD r = ::WaitForMultipleObjects(2, events, FALSE, waitMs);
    io.Lock();
    if (r == WAIT_OBJECT_0) return WaitResult::Closed;
    if (r == WAIT_TIMEOUT) return WaitResult::TimedOut;
    if (r != WAIT_OBJECT_0 + 1) return fail("WaitForMultipleObjects", ::GetLastError());
    if (s.pending == Impl::Pending::None) continue;  // another caller took the completion

    const Impl::Pending kind = s.pending;
    const Impl::Outcome outcome = s.Collect(use, 0);
    if (outcome == Impl::Outcome::StillPending) continue;
    if (outcome == Impl::Outcome::Failed) {
      return fail(kind == Impl::Pending::Read ? "ReadFile" : "WaitCommEvent", s.lastError);
    }
    if (kind == Impl::Pending::Read) continue;  // a held byte, or the read timed out: look again

    DWORD queued = 0;
    if (!InputQueued(use.handle(), &queued)) return fail("ClearCommError", ::GetLastError());  // clears EV_ERR's cause
    if (queued > 0) {
      s.spurious = 0;
      return WaitResult::Readable;
    }
    if ((s.waitMask & EV_ERR) != 0) continue;
    if (++s.spurious >= kSpuriousLimit) {
      s.fallback = true;
      g_commEventsUnreliable = true;
      ApplyTimeouts(use.handle(), s.timeouts, true);
      Trace("serial port %s: comm events complete without input; waiting with reads instead",
            s.tracePath.c_str());
    }
  }
}

void SerialPort::Close() {
  MutexLock lock(impl_->mutex);
  if (impl_->closing) {  // another thread is closing: return once it is done
    while (impl_->closing) impl_->idle.Wait(impl_->mutex);
    return;
  }
  if (impl_->handle == INVALID_HANDLE_VALUE) return;
  impl_->closing = true;
  const HANDLE h = impl_->handle;
  ::SetEvent(impl_->closeEvent);
  // Ends a pending comm-event wait at once; the cancel ends every read and write of the handle.
  ::SetCommMask(h, 0);
  ::CancelIoEx(h, nullptr);
  while (impl_->users != 0) impl_->idle.Wait(impl_->mutex);
  {
    MutexLock io(impl_->ioMutex);
    if (impl_->pending != Impl::Pending::None) {
      // The driver owns waitOv until the operation comes back; it must not outlive the handle.
      ::CancelIoEx(h, &impl_->waitOv);
      ::WaitForSingleObject(impl_->waitEvent, kCancelWait);
    }
    ::CloseHandle(h);
    if (impl_->pending != Impl::Pending::None) ::WaitForSingleObject(impl_->waitEvent, kCancelWait);
    impl_->pending = Impl::Pending::None;
    impl_->held = false;
    ::CloseHandle(impl_->waitEvent);
    ::CloseHandle(impl_->readEvent);
    impl_->waitEvent = nullptr;
    impl_->readEvent = nullptr;
  }
  ::CloseHandle(impl_->closeEvent);
  impl_->handle = INVALID_HANDLE_VALUE;
  impl_->closeEvent = nullptr;
  impl_->path.clear();
  impl_->closing = false;
  impl_->idle.NotifyAll();
}

}  // namespace platform
