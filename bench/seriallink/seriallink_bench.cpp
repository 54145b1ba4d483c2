// One Transact round trip of the serial link engine against the simulator over a
// pseudo-terminal, in both flavours, beside the raw floor measured on the same simulator in the
// same run; unpaced, and paced like a 115200 baud line.
//   seriallink_bench [rounds]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_common.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "seriallink/comm_dlg.h"
#include "seriallink/frame.h"
#include "seriallink/result_codes.h"

namespace {

using namespace std::chrono_literals;

constexpr uint8_t kDateTime = 0x3E;  // empty request, 17 bytes of reply data
constexpr size_t kReplyBytes = fiscalsim::kReplyOverhead + 17;

struct Row {
  bench::Stats stats;
  bool ok = true;
};

Row MeasureEngine(const std::string &port, const seriallink::Flavour &flavour, int rounds) {
  seriallink::SetFlavour(flavour);
  seriallink::CCommDlg dlg(port, 115200, 8, 0, 0);
  Row row;
  if (dlg.Open() != 0) {
    row.ok = false;
    return row;
  }
  uint8_t frame[seriallink::kMaxFrame];
  seriallink::RCVBLOCK reply;
  const auto samples = bench::Time(rounds, rounds / 10, [&] {
    dlg.MakeHeader(frame, kDateTime, 4);
    const size_t length = 4 + seriallink::CCommDlg::AddTrailer(frame, 4);
    row.ok = dlg.Transact(frame, length, 5000ms, reply) == seriallink::kSuccess && row.ok;
  });
  row.ok = row.ok && reply.index + 1u == kReplyBytes;
  row.stats = bench::Summarise(samples);
  return row;
}

Row MeasureFloor(const std::string &path, int rounds) {
  platform::SerialPort port;
  Row row;
  if (port.Open(path) != 0) {
    row.ok = false;
    return row;
  }
  port.Configure({115200, 8, 0, 0});
  const fiscalsim::Bytes request = fiscalsim::BuildRequest(0x20, kDateTime, "");
  const auto samples = bench::Time(rounds, rounds / 10, [&] { row.ok = bench::RawRoundTrip(port, request) && row.ok; });
  row.stats = bench::Summarise(samples);
  return row;
}

void Goal(const char *what, bool met, double value, const char *unit) {
  std::printf("  goal %-44s %s (%.2f %s)\n", what, met ? "met" : "MISSED", value, unit);
}

bool Run(uint32_t baud, int rounds) {
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink(), fiscalsim::SimulatorOptions::PacedAt(baud));
  sim.Start();
  const double wireUs = bench::WireTimeUs(seriallink::kFrameOverhead + kReplyBytes, baud);
  // The port is exclusive: the floor and each flavour take it in turn.
  const Row floor = MeasureFloor(sim.PortName(), rounds);
  const Row pos = MeasureEngine(sim.PortName(), seriallink::Flavour::Pos(), rounds);
  const Row tool = MeasureEngine(sim.PortName(), seriallink::Flavour::Tool(), rounds);
  if (!floor.ok || !pos.ok || !tool.ok) {
    std::fprintf(stderr, "a round trip failed (floor %d, pos %d, tool %d)\n", floor.ok, pos.ok, tool.ok);
    return false;
  }
  const std::string line = baud == 0 ? "unpaced" : std::to_string(baud) + " baud";
  bench::PrintRow("raw floor, " + line, floor.stats, nullptr, wireUs);
  bench::PrintRow("Transact POS flavour, " + line, pos.stats, &floor.stats, wireUs);
  bench::PrintRow("Transact tool flavour, " + line, tool.stats, &floor.stats, wireUs);
  if (baud == 0) {
    const double posOver = pos.stats.median - floor.stats.median;
    const double toolOver = tool.stats.median - floor.stats.median;
    Goal("POS median within 300 us of the floor", posOver <= 300, posOver, "us");
    Goal("tool median within 1300 us of the floor", toolOver <= 1300, toolOver, "us");
  } else {
    Goal("POS median within 1.10 x wire time", pos.stats.median <= 1.10 * wireUs, pos.stats.median / wireUs, "x");
    // The tool's rest after each pass lands inside a paced reply; its ratio is shown, not judged.
    std::printf("  tool median / wire time (1 ms rest after each pass)   %.2f x\n", tool.stats.median / wireUs);
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: seriallink_bench [rounds]\n");
    return 2;
  }
  const bool ok = Run(0, rounds) && Run(115200, rounds / 4);
  return ok ? 0 : 1;
}
