// Round trip of cVRNProtocol::Request on a COM port (a pseudo-terminal to the simulator), beside
// the raw floor measured in the same run: the same frame written and its reply read directly on
// a pty to the same simulator. Then the same on a line paced at 115200 baud, against the frames'
// time on the wire. Last, the CPU the library uses while the link is idle.
//   transport_bench [rounds]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench_common.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "protocol/vrn_protocol.h"

namespace {

constexpr uint8_t kDateTime = 0x3E;  // a short request; the reply carries 17 data bytes
constexpr size_t kReplyData = 17;

double CpuMs() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

int Run(uint32_t baud, int rounds, bool measureIdle) {
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink(), fiscalsim::SimulatorOptions::PacedAt(baud));
  sim.Start();
  const fiscalsim::Bytes frame = fiscalsim::BuildRequest(0x20, kDateTime, "");
  const int warmup = rounds / 10;

  bench::Stats floor;
  {
    platform::SerialPort port;
    if (const int error = port.Open(sim.PortName()); error != 0) {
      std::fprintf(stderr, "cannot open %s: error %d\n", sim.PortName().c_str(), error);
      return 1;
    }
    port.Configure({115200, 8, 0, 0});
    bool ok = true;
    const auto samples = bench::Time(rounds, warmup, [&] { ok = bench::RawRoundTrip(port, frame) && ok; });
    if (!ok) {
      std::fprintf(stderr, "a raw round trip failed\n");
      return 1;
    }
    floor = bench::Summarise(samples);
  }

  vrn::cVRNProtocol protocol(nullptr);
  if (!protocol.Start(sim.PortName().c_str())) {
    std::fprintf(stderr, "cannot start the protocol on %s\n", sim.PortName().c_str());
    return 1;
  }
  uint8_t reply[vrn::kReplyRecordSize];
  int failures = 0;
  const auto samples = bench::Time(rounds, warmup, [&] { failures += protocol.Request(kDateTime, "", reply) != 0; });
  if (failures != 0) {
    std::fprintf(stderr, "%d requests failed\n", failures);
    return 1;
  }

  const std::string suffix = baud == 0 ? ", unpaced" : ", " + std::to_string(baud) + " baud";
  const double wireUs = bench::WireTimeUs(frame.size() + fiscalsim::kReplyOverhead + kReplyData, baud);
  bench::PrintRow("raw floor" + suffix, floor, nullptr, wireUs);
  bench::PrintRow("cVRNProtocol::Request" + suffix, bench::Summarise(samples), &floor, wireUs);

  if (measureIdle) {
    // The receiver disarms after a reply; from then on no thread of the library may wake.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double before = CpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::printf("idle link, COM port open: %.1f ms CPU in 1 s\n", CpuMs() - before);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: transport_bench [rounds]\n");
    return 2;
  }
  return Run(0, rounds, true) | Run(115200, rounds / 4, false);
}
