// tillwright-cli's full backup and full restore against the simulator paced like a 115200 baud
// line, beside the sum of the wire times of the frames each one exchanged.
//   cli_bench [rounds]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench_common.h"
#include "cli/cli.h"
#include "fiscalsim/device_model.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "seriallink/link.h"
#include "seriallink/settings.h"

namespace {

constexpr uint32_t kBaud = 115200;

int RunCli(const std::vector<std::string> &args) {
  std::ostringstream out, err;
  std::istringstream in;
  tillwright::cli::Console console{out, err, in, false};
  const int status = tillwright::cli::Run(args, console);
  if (status != 0) std::fprintf(stderr, "tillwright-cli failed (%d): %s\n", status, err.str().c_str());
  return status;
}

// Every frame of the journal again on a model that starts where the simulator started: the
// request's bytes as received and the reply's as the device builds it.
double WireTimeUs(const fiscalsim::DeviceState &start, const std::vector<fiscalsim::JournalEntry> &frames) {
  fiscalsim::DeviceModel model;
  model.State() = start;
  size_t bytes = 0;
  for (const auto &frame : frames) {
    bytes += frame.raw.size();
    bytes += fiscalsim::kReplyOverhead + model.Execute(frame.cmd, frame.data).data.size();
  }
  return bench::WireTimeUs(bytes, kBaud);
}

// Every restorable group away from what the backup holds.
void ChangeEverything(fiscalsim::Simulator &sim, int round) {
  sim.WithModel([round](fiscalsim::DeviceModel &m) {
    auto &s = m.State();
    for (size_t i = 0; i < s.headerLines.size(); ++i) s.headerLines[i] = "CHANGED LINE " + std::to_string(round);
    s.taxRates = {100, 200, 300, 400, 500};
    s.tcpIp[3] = static_cast<uint8_t>(round);
    s.gprsApn = "apn" + std::to_string(round);
    s.gprsUser = "user" + std::to_string(round);
  });
}

// Opening and closing the serial link engine's port with nothing sent: its close rests twice
// 100 ms by design, so that a pass in progress ends, and every run of the program pays it once.
bench::Stats OpenCloseUs(const std::string &port, int rounds) {
  seriallink::SetFlavour(seriallink::Flavour::Tool());
  return bench::Summarise(bench::Time(rounds, 1, [&] {
    if (seriallink::Connect(port, kBaud, 8, 0, 0) != 0) std::fprintf(stderr, "cannot open %s\n", port.c_str());
    seriallink::Disconnect();
  }));
}

void Goal(const char *what, bool met, double value) {
  std::printf("  goal %-44s %s (%.2f x)\n", what, met ? "met" : "MISSED", value);
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: cli_bench [rounds]\n");
    return 2;
  }
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink(), fiscalsim::SimulatorOptions::PacedAt(kBaud));
  sim.Start();
  const std::string file = (std::filesystem::temp_directory_path() / "cli_bench_backup.json").string();
  sim.WithModel([](fiscalsim::DeviceModel &m) {
    for (size_t i = 0; i < m.State().headerLines.size(); ++i) m.State().headerLines[i] = "HEADER LINE " + std::to_string(i);
  });

  std::vector<double> backupUs, backupWireUs, restoreUs, restoreWireUs;
  for (int round = 0; round < rounds; ++round) {
    fiscalsim::DeviceState start = sim.WithModel([](fiscalsim::DeviceModel &m) { return m.State(); });
    sim.ReceivedFrames().Clear();
    bool ok = true;
    backupUs.push_back(bench::Time(1, 0, [&] { ok = RunCli({"--port", sim.PortName(), "backup", file}) == 0; })[0]);
    if (!ok) return 1;
    backupWireUs.push_back(WireTimeUs(start, sim.ReceivedFrames().Entries()));

    ChangeEverything(sim, round);
    start = sim.WithModel([](fiscalsim::DeviceModel &m) { return m.State(); });
    sim.ReceivedFrames().Clear();
    restoreUs.push_back(bench::Time(1, 0, [&] {
      ok = RunCli({"--port", sim.PortName(), "--yes", "--reports", "restore", file}) == 0;
    })[0]);
    if (!ok) return 1;
    restoreWireUs.push_back(WireTimeUs(start, sim.ReceivedFrames().Entries()));
  }
  std::filesystem::remove(file);
  const bench::Stats openClose = OpenCloseUs(sim.PortName(), rounds);

  const bench::Stats backup = bench::Summarise(backupUs);
  const bench::Stats restore = bench::Summarise(restoreUs);
  const double backupWire = bench::Summarise(backupWireUs).median;
  const double restoreWire = bench::Summarise(restoreWireUs).median;
  std::printf("tillwright-cli against the simulator at %u baud, %d rounds\n", kBaud, rounds);
  bench::PrintRow("full backup", backup, nullptr, backupWire);
  bench::PrintRow("full restore (every group differs)", restore, nullptr, restoreWire);
  bench::PrintRow("the port opened and closed, nothing sent", openClose);
  std::printf("  wire time of the frames: backup %.0f us, restore %.0f us\n", backupWire, restoreWire);
  const double backupWork = backup.median - openClose.median;
  const double restoreWork = restore.median - openClose.median;
  std::printf("  beside the port's open and close: backup %.0f us (%.2f x wire), restore %.0f us (%.2f x wire)\n",
              backupWork, backupWork / backupWire, restoreWork, restoreWork / restoreWire);
  Goal("backup within 1.5 x wire (open and close apart)", backupWork <= 1.5 * backupWire, backupWork / backupWire);
  Goal("restore within 1.5 x wire (open and close apart)", restoreWork <= 1.5 * restoreWire, restoreWork / restoreWire);
  std::printf("  whole runs: backup %.2f x, restore %.2f x the wire time\n", backup.median / backupWire,
              restore.median / restoreWire);
  return 0;
}
