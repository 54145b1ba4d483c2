// Round trip of vrn_request over the emulated USB device beside the same request over a
// pseudo-terminal to the same kind of simulator, in one run, and the CPU an idle library with
// the device attached uses. Runs itself under umockdev-wrapper.
//   transport_usb_bench [rounds]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench_common.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/usb_device_linux.h"
#include "vrn_interface.h"

namespace {

constexpr uint16_t kDateTime = 0x3E;  // a short request with a short reply

double CpuMs() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Times `rounds` requests; false when one failed.
bool Measure(int rounds, bench::Stats &stats) {
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE];
  int failures = 0;
  const auto samples = bench::Time(rounds, rounds / 10, [&] { failures += vrn_request(kDateTime, "", reply, status) != 0; });
  stats = bench::Summarise(samples);
  if (failures != 0) std::fprintf(stderr, "%d requests failed\n", failures);
  return failures == 0;
}

}  // namespace

int main(int argc, char **argv) {
  fiscalsim::ReexecUnderUmockdev();
  fiscalsim::UsbTestbed::Instance();
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: transport_usb_bench [rounds]\n");
    return 2;
  }

  bench::Stats pty;
  {
    fiscalsim::Simulator sim(fiscalsim::OpenPtyLink());
    sim.Start();
    if (!vrn_init(sim.PortName().c_str()) || vrn_test_connection() != 1) {
      std::fprintf(stderr, "cannot reach the simulator on %s\n", sim.PortName().c_str());
      return 1;
    }
    if (!Measure(rounds, pty)) return 1;
    vrn_dispose();
  }

  fiscalsim::EmulatedUsbDevice usb;
  fiscalsim::Simulator sim(usb.TakeLink());
  sim.Start();
  usb.Plug();
  if (!vrn_init(nullptr) || vrn_test_connection() != 1) {
    std::fprintf(stderr, "cannot reach the emulated USB device\n");
    return 1;
  }
  bench::Stats overUsb;
  if (!Measure(rounds, overUsb)) return 1;
  bench::PrintRow("vrn_request, pty (COM port)", pty);
  bench::PrintRow("vrn_request, emulated USB", overUsb);
  // The emulation's every ioctl is a round trip to umockdev's worker thread: the USB figure is
  // an upper bound of the library's own cost, not a real bus's timing.
  std::printf("emulated USB / pty median: x%.2f\n", pty.median > 0 ? overUsb.median / pty.median : 0.0);

  // The receiver disarms after its empty passes; from then on no thread may wake.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double before = CpuMs();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::printf("idle library, USB device attached: %.1f ms CPU in 1 s\n", CpuMs() - before);
  vrn_dispose();
  return 0;
}
