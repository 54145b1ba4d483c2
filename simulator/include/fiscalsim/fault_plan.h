// Misbehaviour a test arms on a running simulator. Thread-safe: tests arm, the serving thread
// takes one action per received frame. A frame refused or swallowed (NAK, silence) is not
// executed by the device. Rules (from a fault script) arm these same faults themselves, on the
// frame that fires them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace fiscalsim {

using Millis = std::chrono::milliseconds;

// When it fires, a rule arms its fault as the matching FaultPlan call would (Refuse: NakNext,
// Busy: BusyBeforeNext every kRuleBusyEvery, Silence: SilentFor or GoSilent, ...), just before
// the frame that fired it is taken: that frame is the first the fault acts on.
struct FaultRule {
  enum class Trigger { AfterFrames, OnCommand };
  enum class Fault { Refuse, Busy, Delay, BadCheck, WrongSeq, Silence, ErrorFlag, Vanish };

  Trigger trigger = Trigger::AfterFrames;
  uint64_t frames = 0;  // AfterFrames: fires once, on the frame that follows this many
  uint8_t command = 0;  // OnCommand: fires on each good frame of this command...
  bool once = false;    // ...or only on the first
  Fault fault = Fault::Refuse;
  unsigned count = 1;    // Refuse, Silence: how many frames
  bool forever = false;  // Silence: until Resume()
  Millis time{0};        // Busy, Delay: how long; Vanish: back after this (0: never)
  unsigned line = 0;     // where the rule was written, for messages
};

class FaultPlan {
 public:
  // How often a rule's busy bytes come: well inside the shortest reply time-out a host waits
  // (500 ms), so each one restarts that wait.
  static constexpr Millis kRuleBusyEvery{60};

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
  // As VanishOnNext(), and the port comes back `after` later (a pty link under a new path).
  void VanishOnNext(Millis after);
  // The next good frame is not executed; its answer carries the error flag and no data, as from
  // a device that refuses it.
  void ErrorFlagNext();
  // Replaces the rules; frames are counted for them from here on. Clear() leaves them.
  void SetRules(std::vector<FaultRule> rules);
  void Clear();
  // Waits until every one-shot fault armed so far has been used by a received frame (the NAKs,
  // the silent frames, a vanish, the next reply's faults): a test that armed one on a device
  // already busy with other callers' frames learns which frame took it. False on time-out.
  bool WaitUntilSpent(Millis timeout) const;

  struct Action {
    bool vanish = false;
    Millis vanishFor{0};  // back after this; 0: gone for good
    bool silent = false;
    bool nak = false;
    Millis busyEvery{0};
    Millis busySpan{0};
    Millis delay{0};
    bool corruptCheck = false;
    bool wrongSeq = false;
    bool errorFlag = false;
  };
  // What to do with a frame just received; consumes what it uses. A bad frame takes no reply
  // faults: it is refused anyway. `command` is the good frame's code, for the rules; a bad frame
  // only counts.
  Action Take(bool goodFrame, std::optional<uint8_t> command = std::nullopt);

 private:
  mutable std::mutex mutex_;
  // All guarded by mutex_.
  unsigned naks_ = 0;
  bool silent_ = false;
  unsigned silentFrames_ = 0;
  bool vanish_ = false;
  Millis vanishFor_{0};
  Action reply_;  // the one-shot faults for the next reply
  std::vector<FaultRule> rules_;
  std::vector<bool> fired_;  // one per rule
  uint64_t framesSeen_ = 0;  // since SetRules()
  mutable std::condition_variable spent_;
  bool SpentLocked() const;
  void ArmLocked(const FaultRule &rule);
};

}  // namespace fiscalsim
