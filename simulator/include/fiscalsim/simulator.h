// The running device: one serving thread that reads requests from a link, records them in the
// journal, applies the armed faults and answers from the device model.
//
//   fiscalsim::Simulator sim(fiscalsim::OpenPtyLink());
//   sim.Start();
//   platform::SerialPort port;  port.Open(sim.PortName());
//   sim.Faults().NakNext(2);
//   sim.ReceivedFrames().WaitForSize(3, 5s);
//
// The serving thread blocks on its link without a time-out while nothing is scheduled; every
// wait it makes ends at once on Stop().
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "fiscalsim/device_link.h"
#include "fiscalsim/device_model.h"
#include "fiscalsim/fault_plan.h"
#include "fiscalsim/journal.h"

namespace fiscalsim {

struct SimulatorOptions {
  // Paces every byte in both directions by its time on a line of this speed (10 bits a byte);
  // 0 sends at once.
  uint32_t baud = 0;
  DeviceModel::WallClock clock;  // the system clock when empty
  // Frames the journal holds; it counts every frame either way (see Journal).
  size_t journalCapacity = Journal::kDefaultCapacity;

  // Observers of the serving thread, for the programs' files (the device's memory, its paper,
  // a journal of the line). They run with the model kept away from other callers, so they see it
  // as the command left it; they must not call back into the simulator.
  using CommandHook = std::function<void(const DeviceModel &model, uint8_t cmd, std::string_view data)>;
  using AnswerHook =
      std::function<void(const DeviceModel &model, uint8_t cmd, std::string_view data, const Answer &answer)>;
  CommandHook beforeCommand;  // a good frame about to be executed
  AnswerHook afterCommand;    // executed; before its answer goes out
  // Every byte that crosses the line as whole frames or single control bytes: received (true)
  // or sent (false).
  std::function<void(bool received, std::span<const uint8_t> bytes)> onWire;
  // The port came back after a vanish that said when (FaultPlan::VanishOnNext(after)), under
  // this name: a pseudo-terminal's path changes. Runs on the serving thread, no lock held.
  std::function<void(const std::string &portName)> onPortBack;

  static SimulatorOptions PacedAt(uint32_t baud) {
    SimulatorOptions options;
    options.baud = baud;
    return options;
  }
};

class Simulator {
 public:
  explicit Simulator(std::unique_ptr<DeviceLink> link, SimulatorOptions options = {});
  ~Simulator();  // stops
  Simulator(const Simulator &) = delete;
  Simulator &operator=(const Simulator &) = delete;

  // Start and Stop are called from one controlling thread. A stopped simulator is not started
  // again.
  void Start();
  void Stop();

  // What hosts open; a pseudo-terminal that came back after a vanish has a new one.
  std::string PortName() const;

  FaultPlan &Faults() { return faults_; }
  Journal &ReceivedFrames() { return journal_; }

  // Runs fn(DeviceModel &) while the serving thread is kept away from the model: to look at or
  // change its state, or to register handlers. A device changed from outside its line no longer
  // takes the next frame for a repeat of the last one (see below): a query sent again then
  // reads the state as it is now, not the answer it had before.
  template <typename Fn>
  auto WithModel(Fn &&fn) {
    std::lock_guard lock(modelMutex_);
    lastExecuted_.reset();
    return fn(model_);
  }

  // A good frame with the SEQ, CMD and data of the last frame the device executed is not
  // executed again but answered with that frame's answer: hosts send a frame again, unchanged,
  // when its answer did not come in time. The faults still act on it as on any frame. A frame
  // the device did not execute (refused, swallowed, error flag) changes nothing here; the
  // device forgets when its port vanishes.
  void ForgetLastFrame() {
    std::lock_guard lock(modelMutex_);
    lastExecuted_.reset();
  }

  // The device vanishes now: its port is closed and hosts see it fail. Returns once done.
  void ClosePort();
  bool PortClosed() const;

 private:
  void Serve();
  // False when the link is gone or the simulator is stopping.
  bool Handle(const ReceivedFrame &frame);
  bool Send(std::span<const uint8_t> bytes);
  // False when cut short by Stop() or ClosePort().
  bool SleepUntil(std::chrono::steady_clock::time_point deadline);
  void Vanish();
  // After `after`, unless stopped or closed for good meanwhile.
  void ComeBack(Millis after);
  // The model's answer to a good frame, executed unless it repeats the last executed one.
  Answer ExecuteOnce(const ReceivedFrame &frame);
  // Sends the answer of a frame the device refuses to execute, with the error flag.
  bool SendErrorFlag(const ReceivedFrame &frame, const FaultPlan::Action &action);

  const SimulatorOptions options_;
  const std::unique_ptr<DeviceLink> link_;
  FaultPlan faults_;
  Journal journal_;

  struct Executed {
    uint8_t seq;
    uint8_t cmd;
    std::string data;
    Answer answer;
  };

  std::mutex modelMutex_;
  // Both guarded by modelMutex_.
  DeviceModel model_;
  std::optional<Executed> lastExecuted_;

  // Lock order: mutex_ is never held while modelMutex_ is taken, nor the other way round;
  // the link's own locks may be taken under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // All guarded by mutex_.
  bool started_ = false;
  bool stopping_ = false;
  bool serving_ = false;
  bool closeRequested_ = false;
  bool portClosed_ = false;
  std::string portName_;

  // Serving thread only: when a paced line is free again.
  std::chrono::steady_clock::time_point lineFreeAt_;

  std::thread thread_;
};

}  // namespace fiscalsim
