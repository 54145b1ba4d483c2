// The printer library's exports against the simulator over a pseudo-terminal, beside the raw
// floor measured on the same simulator in the same run: one query export, and a whole sale.
//   tallyport_bench [rounds]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_common.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "tallyport.h"

namespace {

constexpr uint8_t kDateTime = 0x3E;
constexpr int kSaleCommands = 6;

bench::Stats Floor(const std::string &path, int rounds, bool &ok) {
  platform::SerialPort port;
  if (port.Open(path) != 0 || port.Configure({115200, 8, 0, 0}) != 0) {
    ok = false;
    return {};
  }
  const fiscalsim::Bytes request = fiscalsim::BuildRequest(0x20, kDateTime, "");
  return bench::Summarise(bench::Time(rounds, rounds / 10, [&] { ok = bench::RawRoundTrip(port, request) && ok; }));
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: tallyport_bench [rounds]\n");
    return 2;
  }
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink());
  sim.Start();
  bool ok = true;
  // The port is exclusive: the floor takes it first, then the library.
  const bench::Stats floor = Floor(sim.PortName(), rounds, ok);
  if (!ok || Connect(sim.PortName().c_str(), 115200, 8, 0, 0) != 0) {
    std::fprintf(stderr, "no round trip with the simulator\n");
    return 1;
  }
  TpDateTime now{};
  const bench::Stats query =
      bench::Summarise(bench::Time(rounds, rounds / 10, [&] { ok = GetDateTime(&now) == 0 && ok; }));
  const bench::Stats sale = bench::Summarise(bench::Time(rounds / kSaleCommands, 10, [&] {
    int16_t a = 0, b = 0, code = 0;
    double change = 0;
    char subtotal[TALLYPORT_TEXT_SIZE];
    ok = BeginFiscalBon(1, "0000", 1, 0, &a, &b) == 0 && Sale("Bread", "B", 1.2, 2, 0) == 0 &&
         Sale("Milk", "A", 2.5, 1, 0) == 0 && SubTotal(1, 0, 0, subtotal) == 0 && Total("", "", 0, &code, &change) == 0 &&
         EndFiscalBon(&a, &b) == 0 && ok;
  }));
  Disconnect();
  if (!ok) {
    std::fprintf(stderr, "an export failed\n");
    return 1;
  }
  bench::PrintRow("raw floor (0x3E), unpaced", floor);
  bench::PrintRow("GetDateTime export, unpaced", query, &floor);
  bench::PrintRow("whole sale (6 exports), unpaced", sale);
  const double over = query.median - floor.median;
  std::printf("  goal %-44s %s (%.2f us)\n", "export median within 300 us of the floor", over <= 300 ? "met" : "MISSED",
              over);
  std::printf("  sale per command %.1f us median\n", sale.median / kSaleCommands);
  return 0;
}
