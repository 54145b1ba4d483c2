// The raw floor of a round trip to the simulator over a pseudo-terminal, unpaced and paced like
// a 115200 baud line: what every host-side benchmark is compared with. Then the lines of one long
// sale without and with a state file (fiscal-sim --state), which is written after every line;
// the file lies in the current folder, where such a file would, and is removed at the end.
//   simulator_bench [rounds]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_common.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/state_file.h"

namespace {

int Run(uint32_t baud, int rounds) {
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink(), fiscalsim::SimulatorOptions::PacedAt(baud));
  sim.Start();
  platform::SerialPort port;
  if (const int error = port.Open(sim.PortName()); error != 0) {
    std::fprintf(stderr, "cannot open %s: error %d\n", sim.PortName().c_str(), error);
    return 1;
  }
  port.Configure({115200, 8, 0, 0});

  // Read the date and time: a short request and a reply of 17 data bytes.
  const fiscalsim::Bytes request = fiscalsim::BuildRequest(0x20, 0x3E, "");
  const size_t replyBytes = fiscalsim::kReplyOverhead + 17;
  bool ok = true;
  const auto samples = bench::Time(rounds, rounds / 10, [&] { ok = bench::RawRoundTrip(port, request) && ok; });
  if (!ok) {
    std::fprintf(stderr, "a round trip failed\n");
    return 1;
  }
  const std::string name = baud == 0 ? "raw round trip, unpaced" : "raw round trip, " + std::to_string(baud) + " baud";
  bench::PrintRow(name, bench::Summarise(samples), nullptr, bench::WireTimeUs(request.size() + replyBytes, baud));
  return 0;
}

int RunSale(bool stateFile, int rounds) {
  const std::string path = "simulator_bench-state.json";
  fiscalsim::SimulatorOptions options;
  std::unique_ptr<fiscalsim::StateSaver> saver;
  if (stateFile) {
    saver = std::make_unique<fiscalsim::StateSaver>(path, "simulator_bench");
    saver->SetBaseline(fiscalsim::DeviceState{});
    options.afterCommand = saver->Chain({});
  }
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink(), options);
  sim.WithModel([](fiscalsim::DeviceModel &m) { m.Execute(fiscalsim::command::kOpenReceipt, "1,1,1"); });
  sim.Start();
  platform::SerialPort port;
  if (const int error = port.Open(sim.PortName()); error != 0) {
    std::fprintf(stderr, "cannot open %s: error %d\n", sim.PortName().c_str(), error);
    return 1;
  }
  const fiscalsim::Bytes request = fiscalsim::BuildRequest(0x20, fiscalsim::command::kSale, "Milk\tA1.50*1,0");
  bool ok = true;
  const auto samples = bench::Time(rounds, rounds / 10, [&] { ok = bench::RawRoundTrip(port, request) && ok; });
  sim.Stop();
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  if (!ok) {
    std::fprintf(stderr, "a sale line failed\n");
    return 1;
  }
  bench::PrintRow(stateFile ? "sale line, state file" : "sale line", bench::Summarise(samples));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: simulator_bench [rounds]\n");
    return 2;
  }
  return Run(0, rounds) | Run(115200, rounds / 4) | RunSale(false, rounds / 4) | RunSale(true, rounds / 4);
}
