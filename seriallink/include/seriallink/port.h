// The engine's serial port, its receive thread and the received blocks. All process-wide: one
// port is open at a time, and the single connection object uses it.
//
// Threads: the caller's thread opens, closes, writes frames and takes blocks; the receive thread
// reads bytes, assembles them and adds blocks. OpenPort and ClosePort are serialised against
// each other.
//
// Lock order of the engine: the connection's lock (link.cpp) -> the port's open/close lock ->
// the received blocks' lock; the connection's closing lock is never held with another.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>

#include "platform/event.h"
#include "platform/mutex.h"
#include "seriallink/rcv_block.h"
#include "seriallink/settings.h"

namespace seriallink {

// Opens and configures the port and starts the receive thread, which rests for the current
// flavour's pause after each pass. Returns 0 (also at once, changing nothing, when a port is
// already open), 13 for data bits outside 5..8, a parity code above 4 or a stop-bits code above
// 2 (nothing opened), the system's error code when the port cannot be opened (2 for a port that
// does not exist), or 1054 when the thread cannot be started (the port is closed again). The
// window is kept for the caller's sake and not used.
int OpenPort(std::string_view name, uint32_t baudRate, uint16_t dataBits, uint16_t parity, uint16_t stopBits,
             int32_t window = -1);

// How the last OpenPort ended. Its number alone cannot always tell its own failures from the
// system's (on Linux EACCES is 13, as kBadPortParameters); this can.
enum class OpenFailure { None, BadParameters, CannotOpen, ThreadNotStarted };
struct OpenResult {
  OpenFailure failure = OpenFailure::None;
  // What the system reported, in its own category (errno; on Windows GetLastError()), for
  // CannotOpen and ThreadNotStarted; empty otherwise.
  std::error_code system;
};
OpenResult LastOpenResult();

// Stops the receive thread and closes the port; takes about 200 ms, which callers have always
// seen, or no more than the join of the receive thread when the port had failed (that thread
// then reads no more and waits only for this). Returns 0; does nothing when no port is open.
int ClosePort();

// True from a successful OpenPort to ClosePort, also after the device vanished.
bool PortRunning();
// True once the open port has failed under the receive thread (the device vanished or hung
// up): nothing more arrives on it until it is closed and opened again.
bool PortFailed();
// True while the receive thread is inside its loop.
bool ReaderAlive();

// Writes a frame without checking the outcome: a port that is closed or gone shows up as no
// reply. Bounded like the line's write time-out, 2 ms a byte + 1 s.
void WritePort(const uint8_t *data, size_t size);

// The received blocks with their block-received event. Only the newest block ever matters to
// the exchange: taking it discards the older ones, and a full list drops its oldest block, so
// memory stays bounded even while a device talks to nobody.
//
// The exchange's wait also ends on two conditions that no reply can change: an abort (Disconnect
// ending a command that the device keeps waiting) and the port failing under the receive thread
// (the device vanished). Both stay signalled until cleared, so a wait begun after them ends too.
class ReceivedBlocks {
 public:
  static constexpr size_t kCapacity = 8;

  enum class WaitResult { Received, TimedOut, Aborted, PortFailed };

  // Adds a copy at the head and signals the event (receive thread).
  void Add(const RCVBLOCK &block) EXCLUDES(mutex_);
  // Takes the newest block into `out`; false when none is waiting (exchange).
  bool TakeNewest(RCVBLOCK &out) EXCLUDES(mutex_);
  // Forgets every block and the pending signal: done before each write of a frame, so that
  // whatever arrives after it is the answer to that write.
  void Clear() EXCLUDES(mutex_);
  // Received when a block was added since the last take or clear, within the time-out. An abort
  // wins over a block, a block over a port failure: a reply that came before the port failed
  // is still taken.
  WaitResult Wait(Millis timeout);
  size_t Size() const EXCLUDES(mutex_);

  void Abort();
  void EndAbort();
  bool Aborted() const;

  // Set by the receive thread when the port fails, cleared when the port is closed.
  void SetPortFailed(bool failed);
  bool PortFailed() const;

 private:
  // Add and Set, and Take/Clear and Reset, happen under the mutex, so the event is signalled
  // exactly while untaken blocks wait. Lock order: mutex_ before the event's own lock.
  mutable platform::Mutex mutex_;
  std::array<RCVBLOCK, kCapacity> ring_ GUARDED_BY(mutex_);
  size_t newest_ GUARDED_BY(mutex_) = 0;  // slot of the head
  size_t count_ GUARDED_BY(mutex_) = 0;
  platform::Event received_{platform::Event::Mode::Auto};
  platform::Event aborted_{platform::Event::Mode::Manual};
  platform::Event portFailed_{platform::Event::Mode::Manual};
};

ReceivedBlocks &Blocks();

}  // namespace seriallink
