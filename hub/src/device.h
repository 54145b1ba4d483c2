// One device behind the hub: its line, its queue of documents and the thread that works it.
//
// Documents go to the device one at a time, in the order they came. Before the first of them,
// and whenever a step's outcome is unknown, every document the record shows in progress for this
// device is settled with the device (see reconcile.h); nothing else is sent while one is not.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "device_port.h"
#include "device_text.h"
#include "documents.h"
#include "platform/mutex.h"
#include "store.h"

namespace hub {

struct DeviceIdentity {
  std::string serial;  // the device's serial number: its name in the hub
  std::string port;    // where it was found
  std::string firmware;
  std::string fiscalMemory;  // the fiscal memory's number
};

// What the line has done since the device was found.
struct LineCounts {
  uint64_t calls = 0;
  uint64_t refused = 0;  // the device said no
  uint64_t unknown = 0;  // no answer, a garbled one, the line lost
  uint64_t settled = 0;  // documents settled after an unknown outcome
};

// One call on the line, as the device's journal keeps it. Arguments are left out: they hold the
// operator's password.
struct JournalEntry {
  std::chrono::system_clock::time_point at;  // when the call began
  std::string op;
  int32_t code = 0;
  Effect effect = Effect::Unknown;
  std::string status;
  std::chrono::milliseconds took{0};
};

class Device {
 public:
  // Calls the journal keeps; older ones make way.
  static constexpr size_t kJournalMax = 500;

  // The thread starts at once and settles what the record holds for this serial.
  Device(DeviceIdentity identity, std::unique_ptr<DevicePort> port, Store &store, const DeviceText &text);
  // Lets the document on the line finish, then stops; queued documents stay in the record as
  // never begun and are settled at the next start.
  ~Device();
  Device(const Device &) = delete;
  // The start of that: nothing new begins, and a line offered to it is answered undecided at
  // once. Returns without waiting.
  void Stop();
  Device &operator=(const Device &) = delete;

  enum class Admitted { Queued, Existing, Conflict, StoreFailed };
  // Records the document under its key and queues it, or finds the one already under the key.
  // Never sends anything itself.
  Admitted Admit(const Document &document, DocumentRecord *existing);

  // Waits until the document under `key` is settled or `wait` passes; the record as it stands.
  std::optional<DocumentRecord> WaitSettled(const std::string &key, std::chrono::milliseconds wait);

  // Work on the line that is no document (settings): it runs on the device's thread after the
  // jobs queued before it and never while an unknown outcome is unsettled, and nothing of it is
  // recorded. `work` makes its calls through the function it is given. Work that has not begun
  // when `startWait` passes (or when the device stops) is taken back: nothing of it is sent.
  // Work that has begun is waited for; each of its calls is bounded by the line.
  using LineCall = std::function<CallResult(const std::string &op, const nlohmann::json &args)>;
  using LineWork = std::function<void(const LineCall &call)>;
  enum class Ran { Done, NotStarted };
  Ran RunOnLine(const LineWork &work, std::chrono::milliseconds startWait);

  // As found; the port changes when the device moves.
  DeviceIdentity Identity() const;
  size_t QueueLength() const;
  // "ready", "working", "reconciling" (an unknown outcome not yet settled: nothing else is sent),
  // "absent" (its port is gone: documents wait in the queue until it is back or moves).
  std::string State() const;

  // The device's port vanished (unplugged) or came back. While absent nothing is sent; what was
  // on the line is settled once it is back.
  void SetAbsent(bool absent);
  bool Absent() const;

  enum class Offer { Moved, StillServed, Undecided };
  // Offers a line on `port`, where the device's serial answered a scan. The device's thread
  // decides between documents, never in the middle of one: it keeps its own line when
  // `stillOurs` (called on the thread with that line) says the device still answers there, and
  // closes the offered one; otherwise it takes the offered line, closes its own and settles
  // through the new one whatever was in progress. No `stillOurs`: the old port is gone, so the
  // line is taken. Waits up to `wait` for the decision; an undecided offer stands, unless a
  // later one replaces it.
  Offer OfferLine(const std::string &port, std::unique_ptr<DevicePort> line,
                  std::function<bool(DevicePort &)> stillOurs, std::chrono::milliseconds wait);
  std::string LastStatus() const;
  LineCounts Counts() const;
  // The newest `limit` calls on the line, oldest first.
  std::vector<JournalEntry> Journal(size_t limit) const;

 private:
  struct Job {
    std::string key;
    DocumentKind kind;
    std::vector<Step> steps;
    // Line work instead of a document (RunOnLine), owned by its waiting caller; 0 and null
    // for a document.
    uint64_t task = 0;
    const LineWork *work = nullptr;
  };

  struct PendingLine {
    std::string port;
    std::unique_ptr<DevicePort> line;
    std::function<bool(DevicePort &)> stillOurs;
    std::shared_ptr<std::optional<Offer>> decision;  // read and written under mutex_
  };

  void Loop();
  // Takes or declines an offered line and waits while the port is gone; false when stopping.
  // Only between documents, on the device's thread.
  bool AwaitLine();
  // Settles every in-progress document of this device; false when the device did not answer.
  bool SettleUnsettled();
  void RunDocument(const Job &job);
  // Reconciles one document until it settles or the device is stopping.
  void SettleUnknown(const std::string &key, const nlohmann::json &refusal);
  CallResult Call(const std::string &op, const nlohmann::json &args);
  nlohmann::json ResultOf(const Job &job, const std::vector<CallResult> &results) const;
  void Notify();

  const DeviceIdentity identity_;  // as found; its port is portName_'s first value
  // Touched by the device's thread only, which alone replaces it (AwaitLine).
  std::unique_ptr<DevicePort> port_;
  Store &store_;
  const DeviceText &text_;

  mutable platform::Mutex mutex_;
  platform::CondVar changed_;  // a job queued, a document settled, stopping
  std::deque<Job> queue_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool working_ GUARDED_BY(mutex_) = false;
  bool reconciling_ GUARDED_BY(mutex_) = false;
  uint64_t lastTask_ GUARDED_BY(mutex_) = 0;
  uint64_t runningTask_ GUARDED_BY(mutex_) = 0;  // the line work on the line now, 0 for none
  bool absent_ GUARDED_BY(mutex_) = false;
  std::string portName_ GUARDED_BY(mutex_);
  std::optional<PendingLine> offered_ GUARDED_BY(mutex_);
  std::string lastStatus_ GUARDED_BY(mutex_);
  LineCounts counts_ GUARDED_BY(mutex_);
  std::deque<JournalEntry> journal_ GUARDED_BY(mutex_);
  std::thread thread_;
};

// The serial number and the rest of the identity from command 90's reply:
// "firmware,date,checksum,switches,serial,fiscal memory[,...]". Nothing for a reply that does not
// have them.
std::optional<DeviceIdentity> ParseIdentity(std::string_view reply);

}  // namespace hub
