// Misbehaviour a test arms on a running simulator. Thread-safe: tests arm, the serving thread
// takes one action per received frame. A frame refused or swallowed (NAK, silence) is not
// executed by the device.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fiscalsim {

using Millis = std::chrono::milliseconds;

class FaultPlan {
 public:
  // Refuse the next n frames with a NAK, good or not.
  void NakNext(unsigned frames);
  // Before answering the next good frame, send a busy byte at once and then every `every`
  // until `span` has passed.
  void BusyBeforeNext(Millis every, Millis span);
  // The next reply carries wrong check characters.
  void CorruptNextCheck();
  void DelayNext(Millis delay);
  // The next reply carries another sequence number than its request (with a right check).
  void WrongSeqNext();
  // Answer nothing, not even NAKs, until Resume().
  void GoSilent();
  // Answer nothing for the next n frames.
  void SilentFor(unsigned frames);
  void Resume();
  // Close the port when the next frame arrives instead of answering it.
  void VanishOnNext();
  void Clear();
  // Waits until every one-shot fault armed so far has been used by a received frame (the NAKs,
  // the silent frames, a vanish, the next reply's faults): a test that armed one on a device
  // already busy with other callers' frames learns which frame took it. False on time-out.
  bool WaitUntilSpent(Millis timeout) const;

  struct Action {
    bool vanish = false;
    bool silent = false;
    bool nak = false;
    Millis busyEvery{0};
    Millis busySpan{0};
    Millis delay{0};
    bool corruptCheck = false;
    bool wrongSeq = false;
  };
  // What to do with a frame just received; consumes what it uses. A bad frame takes no reply
  // faults: it is refused anyway.
  Action Take(bool goodFrame);

 private:
  mutable std::mutex mutex_;
  // All guarded by mutex_.
  unsigned naks_ = 0;
  bool silent_ = false;
  unsigned silentFrames_ = 0;
  bool vanish_ = false;
  Action reply_;  // the one-shot faults for the next reply
  mutable std::condition_variable spent_;
  bool SpentLocked() const;
};

}  // namespace fiscalsim
