// The device's memory in a file, so that a simulated device keeps its programming, counters,
// day totals and open receipt from one run of its program to the next, as a real one keeps
// them over a power cut.
//
//   fiscalsim::DeviceState state;
//   auto saver = fiscalsim::OpenStateFile(path, "fiscal-sim", &state, &options);
//   if (!saver) return 1;
//   fiscalsim::Simulator sim(link, options);
//   sim.WithModel([&](fiscalsim::DeviceModel &m) { m.State() = state; });
//   sim.Start();
//
// The file is JSON: {"format": "fiscal-sim-state", "version": 1, <one member per field>}. The
// device's texts are bytes of code page 1251; the file holds them as the characters they stand
// for (0x98, which has none, as U+0098), so a person can read and edit them and every byte
// comes back as it was. A member left out takes a new device's value; an unknown one is refused.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fiscalsim/device_model.h"
#include "fiscalsim/simulator.h"

namespace fiscalsim {

inline constexpr char kStateFormat[] = "fiscal-sim-state";
inline constexpr int kStateVersion = 1;

// The file's text: indented JSON ending in a newline.
std::string SerialiseState(const DeviceState &state);

// The state a text describes; nothing, with what is wrong in *error ("not a fiscal-sim state
// file", "version 7 is newer than this fiscal-sim (1)", "field taxRates: ..."), when it does not
// describe one whole.
std::optional<DeviceState> ParseState(std::string_view text, std::string *error);

enum class StateLoad {
  Loaded,   // *state holds the file's state
  Missing,  // no file in a folder that is there: *state is left as it was, a new device
  Refused,  // *state is left as it was; *error is "<path>: <what is wrong>"
};

// Reads the file at `path` (a regular file only) into *state, all or nothing.
StateLoad LoadStateFile(const std::string &path, DeviceState *state, std::string *error);

// Keeps the file up to date with the model, for SimulatorOptions::afterCommand: after each
// command it writes the state anew (atomically, mode 0600) when its text differs from what was
// last written. A write that fails is reported once until one succeeds again, and tried again
// after the next command; the simulator goes on serving either way.
class StateSaver {
 public:
  using Report = std::function<void(const std::string &line)>;

  // `program` starts every report; reports go to stderr unless `report` takes them.
  StateSaver(std::string path, std::string program, Report report = {});

  // What the file holds already (the state loaded, or a new device's when the file is missing):
  // nothing is written until the state differs from it.
  void SetBaseline(const DeviceState &state);

  // Writes the state if it changed. False when the write failed.
  bool Save(const DeviceState &state);

  // A hook that runs `previous` first (when set), then saves. The saver must outlive it.
  SimulatorOptions::AnswerHook Chain(SimulatorOptions::AnswerHook previous);

 private:
  const std::string path_;
  const std::string program_;
  const Report report_;
  std::string written_;  // the text the file holds
  bool failing_ = false;
};

// A program's --state FILE: reads the file into *state and makes the saver that keeps it up to
// date, chained onto options->afterCommand. Nothing when the file is refused. What happened
// (a new device, the state loaded, the refusal) is said on stderr after "<program>: ".
std::unique_ptr<StateSaver> OpenStateFile(const std::string &path, const std::string &program, DeviceState *state,
                                          SimulatorOptions *options);

}  // namespace fiscalsim
